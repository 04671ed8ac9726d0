#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/lookup/FilingLookup.h"
#include "norvale/core/lookup/IpLookup.h"
#include "norvale/core/lookup/LookupInput.h"
#include "norvale/gui/platform/FontSubstitutes.h"
#include "norvale/gui/tools/Fip.h"
#include "norvale/gui/tools/Fwhois.h"
#include "norvale/gui/tools/fback.h"

#include "tests/support/ServicesFixture.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TestSql.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <memory>

using namespace norvale;
using namespace std::chrono_literals;

namespace {

const QString Address = QStringLiteral("10.40.0.1");
const QString Crowded = QStringLiteral("10.40.0.2");
constexpr int CrowdSize = 30;
// More names on one address than one lookup lists.
const QString Thronged = QStringLiteral("10.40.0.3");
constexpr int ThrongSize = IpLookup::listLimit + 50;


// Every caption whole inside its control, and every control inside the window.
void verifyNothingClipped(const QWidget &window)
{
    for (const QWidget *widget : window.findChildren<QWidget *>()) {
        const QRect inWindow(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        QVERIFY2(window.rect().contains(inWindow), qPrintable(widget->objectName()));
        if (!qobject_cast<const QLabel *>(widget) && !qobject_cast<const QPushButton *>(widget))
            continue;
        const QString text = widget->property("text").toString();
        const int room = widget->contentsRect().width() - (qobject_cast<const QPushButton *>(widget) ? 8 : 0);
        QVERIFY2(widget->fontMetrics().horizontalAdvance(text) <= room,
                 qPrintable(widget->objectName() + u' ' + text));
        QVERIFY2(widget->fontMetrics().height() <= widget->height(), qPrintable(widget->objectName()));
    }
}

} // namespace

// The IP window resolves every name it shows; whois and the filing record
// need no name server of the test's own.
class ToolsTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<Fip> makeIpWindow() const
    {
        auto window = std::make_unique<Fip>(m_world.lookups());
        window->setPages(m_world.page("/query/ip.asp?ip="), m_world.page("/query/ipmess.asp?ip="));
        return window;
    }

    test::ServicesFixture m_world;

private slots:
    void initTestCase()
    {
        installFontSubstitutes();
        if (!m_world.start())
            return;

        if (m_world.resolverReady()) {
            test::TestDnsServer &dns = m_world.dns();
            for (const char *name : {"shared.test", "one.test", "two.test"})
                dns.addRecord(QLatin1StringView(name), {Address});
            dns.addRecord(QStringLiteral("filed.test"), {QStringLiteral("10.40.0.9")});
            for (int i = 0; i < CrowdSize; ++i)
                dns.addRecord(QStringLiteral("crowd%1.test").arg(i), {Crowded});
        }

        QVERIFY(test::fillDatabase(m_world.services.databasePath(), [](QSqlDatabase &db) {
            bool ok = true;
            for (const char *name : {"one.test", "nodot", "two.test", "one.test", "else.test"})
                ok = ok && test::execSql(db, QStringLiteral("insert into svc_hosts values (?, ?)"),
                                         {QLatin1StringView(name), Address});
            for (int i = 0; i < CrowdSize; ++i) {
                ok = ok && test::execSql(db, QStringLiteral("insert into svc_hosts values (?, ?)"),
                                         {QStringLiteral("crowd%1.test").arg(i), Crowded});
            }
            for (int i = 0; i < ThrongSize && ok; ++i)
                ok = test::execSql(db, QStringLiteral("insert into svc_hosts values (?, ?)"),
                                   {QStringLiteral("n%1.throng").arg(i), Thronged});
            ok = ok && test::execSql(db, QStringLiteral("insert into svc_geo values (?, '<b>中国</b>', '广东省', "
                                                        "'深圳', '22.5431', '114.0579', '518000', "
                                                        "'Asia/Shanghai', '星河数据中心', '86')"), {Address});
            ok = ok && test::execSql(db, QStringLiteral("insert into svc_whois values ('example.com', "
                                                        "'<b>Registrar</b>', '张三', 'a@example.com', "
                                                        "'2001-02-03', '2031-02-03', 'ok hold', "
                                                        "'ns1.example.com', 'ns2.example.com')"));
            ok = ok && test::execSql(db, QStringLiteral("insert into ldomainlist values ('filed', '.test', "
                                                        "'filed.test', '粤ICP备1号-1', '粤ICP备1号', '2020-01-02', "
                                                        "'深圳市某某科技有限公司', '企业', '某某科技')"));
            return ok;
        }));
    }

    void cleanup()
    {
        if (m_world.resolverReady())
            m_world.dns().setDelay(0ms);
    }

    void whoisWindow()
    {
        QPointer<Fwhois> window = new Fwhois(m_world.lookups());
        window->setPageBase(m_world.page("/query/whois.asp?domain="));
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(QApplication::focusWidget(), window->ltext());

        const QString typed = QStringLiteral("  WWW.Example.COM ");
        window->ltext()->setText(typed);
        QTest::keyClick(window->ltext(), Qt::Key_Return);
        QCOMPARE(window->lwhois()->toPlainText(), QString::fromUtf16(lookuptext::whoisSearching));
        QTRY_VERIFY(window->lwhois()->toPlainText().startsWith(u"Domain Name: EXAMPLE.COM"));
        // Line by line, and the page's markup shown as text.
        QVERIFY(window->lwhois()->document()->blockCount() > 6);
        QVERIFY(window->lwhois()->toPlainText().contains(u"Registrar: <b>Registrar</b>"));
        QCOMPARE(window->ltext()->text(), typed);
        verifyNothingClipped(*window);

        // Escape only hides; the result stays for the next opening.
        QTest::keyClick(window->lwhois(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        window->show();
        QVERIFY(window->lwhois()->toPlainText().startsWith(u"Domain Name: EXAMPLE.COM"));
        QTest::keyClick(window->ltext(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());

        // The title bar's close destroys it.
        window->show();
        QVERIFY(window->close());
        QTRY_VERIFY(window.isNull());
    }

    void ipWindow()
    {
        REQUIRE_TEST_RESOLVER(m_world);
        std::unique_ptr<Fip> window = makeIpWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));

        window->ltext()->setText(QStringLiteral(" Shared.Test"));
        window->lfind()->click();
        QCOMPARE(window->box(Fip::Ip)->text(), QStringLiteral("shared.test"));
        QTRY_COMPARE(window->box(Fip::Country)->text(), QStringLiteral("<b>中国</b>"));
        QCOMPARE(window->box(Fip::Ip)->text(), Address);
        QListWidget *list = window->llist();
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("one.test"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("two.test"));
        QCOMPARE(window->lcount()->text(), QStringLiteral("合计查到 2 条共享域名"));
        QCOMPARE(window->box(Fip::Timezone)->text(), QStringLiteral("Asia/Shanghai"));
        QCOMPARE(window->box(Fip::Iddcode)->text(), QStringLiteral("86"));

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
        QCOMPARE(window->box(Fip::Domain)->text(), QStringLiteral("two.test"));
        verifyNothingClipped(*window);

        // A new lookup starts from empty boxes and an empty list.
        window->ltext()->setText(QStringLiteral("nodot"));
        QTest::keyClick(window->ltext(), Qt::Key_Return);
        QCOMPARE(list->count(), 0);
        QCOMPARE(window->box(Fip::Country)->text(), QString());
        QCOMPARE(window->box(Fip::Ip)->text(), QStringLiteral("nodot"));
        QCOMPARE(window->lcount()->text(), QStringLiteral("合计查到 2 条共享域名"));
    }

    // A page naming more shared names than a lookup lists: the list stops
    // full, in page order, and the count line says so.
    void ipWindowListIsBounded()
    {
        REQUIRE_TEST_RESOLVER(m_world);
        m_world.dns().addWildcard(QStringLiteral(".throng"), Thronged);
        std::unique_ptr<Fip> window = makeIpWindow();
        window->ltext()->setText(Thronged);
        window->lfind_Click();
        QTRY_VERIFY_WITH_TIMEOUT(window->lcount()->text().contains(u"只列出"), 60000);
        QTRY_COMPARE(window->llist()->count(), IpLookup::listLimit);
        QCOMPARE(window->llist()->item(0)->text(), QStringLiteral("n0.throng"));
        QCOMPARE(window->llist()->item(IpLookup::listLimit - 1)->text(), QStringLiteral("n%1.throng").arg(IpLookup::listLimit - 1));
        QCOMPARE(window->lcount()->text(), QStringLiteral("合计查到 10000 条共享域名（只列出前 10000 条）"));
        verifyNothingClipped(*window);
    }

    void ipWindowStopsAndHides_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("stops");
        QTest::addColumn<bool>("hides");
        QTest::newRow("lstop") << QStringLiteral("lstop") << true << false;
        QTest::newRow("lclose") << QStringLiteral("lclose") << true << true;
        QTest::newRow("title bar") << QStringLiteral("close") << true << true;
        QTest::newRow("Escape") << QStringLiteral("escape") << false << true;
    }

    void ipWindowStopsAndHides()
    {
        QFETCH(QString, how);
        QFETCH(bool, stops);
        QFETCH(bool, hides);
        REQUIRE_TEST_RESOLVER(m_world);
        m_world.dns().setDelay(20ms);
        std::unique_ptr<Fip> window = makeIpWindow();
        window->engine().setParallelism(2);
        window->show();
        window->ltext()->setText(Crowded);
        window->lfind_Click();
        QTRY_VERIFY(window->llist()->count() > 0);

        if (how == u"lstop")
            window->lstop()->click();
        else if (how == u"lclose")
            window->lclose()->click();
        else if (how == u"close")
            QVERIFY(!window->close());
        else
            QTest::keyClick(window->ltext(), Qt::Key_Escape);
        QCOMPARE(window->isVisible(), !hides);

        QSignalSpy finished(&window->engine(), &IpLookup::finished);
        QVERIFY(finished.wait(20000));
        const int listed = window->llist()->count();
        QCOMPARE(listed < CrowdSize, stops);
        QCOMPARE(window->lcount()->text(), QStringLiteral("合计查到 %1 条共享域名").arg(listed));

        // The window lives on and looks up again as before.
        window->show();
        m_world.dns().setDelay(0ms);
        window->ltext()->setText(QStringLiteral("shared.test"));
        window->lfind_Click();
        QTRY_COMPARE(window->lcount()->text(), QStringLiteral("合计查到 2 条共享域名"));
    }

    void filingWindow()
    {
        QPointer<fback> window = new fback(m_world.lookups());
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(QApplication::focusWidget(), window->ltext());

        QSignalSpy finished(&window->engine(), &FilingLookup::finished);
        window->ltext()->setText(QStringLiteral("HTTP://WWW.Filed.test  "));
        QTest::keyClick(window->ltext(), Qt::Key_Return);
        QVERIFY(finished.wait(20000));
        QCOMPARE(window->lwith(2)->text(), QStringLiteral("深圳市某某科技有限公司"));
        QCOMPARE(window->lwith(6)->text(), QStringLiteral("filed.test"));
        // The address comes from the test's own name server.
        if (m_world.resolverReady())
            QCOMPARE(window->lwith(7)->text(), QStringLiteral("10.40.0.9"));
        verifyNothingClipped(*window);

        // A name without a record: every box empty once the lookup has answered.
        window->ltext()->setText(QStringLiteral("unknown.test"));
        window->lfind()->click();
        QVERIFY(finished.wait(20000));
        for (int i = 0; i < fback::BoxCount; ++i)
            QVERIFY2(window->lwith(i)->text().isEmpty(), qPrintable(window->lwith(i)->objectName()));
        QTest::keyClick(window->ltext(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QVERIFY(window->close());
        QTRY_VERIFY(window.isNull());
    }
};

QTEST_MAIN(ToolsTest)
#include "ToolsTest.moc"
