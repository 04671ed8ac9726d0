#include "norvale/about/ConfigLoad.h"
#include "norvale/about/Fabout.h"
#include "norvale/data/ServerDatabase.h"
#include "norvale/lookup/LookupInput.h"
#include "norvale/main/Fdomain.h"
#include "norvale/main/FdomainTools.h"
#include "norvale/main/ResultGridView.h"
#include "norvale/startup/FontSubstitutes.h"
#include "norvale/tools/Fip.h"
#include "norvale/tools/Fwhois.h"
#include "norvale/tools/fback.h"

#include "tests/support/DatabaseStack.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"
#include "tests/support/TestSql.h"

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace norvale;
using namespace Qt::StringLiterals;

namespace {

const QString Message = QStringLiteral("Norvale|选中域名  example.com  已加入剪贴板");


// The configuration as loaded, with some values replaced.
ConfigRecord changed(const ConfigRecord &record, const QHash<QString, QString> &values)
{
    QStringList all;
    for (const QLatin1StringView key : kConfigKeys)
        all << values.value(QString(key), record.value(key));
    return ConfigRecord(all);
}

} // namespace

#define REQUIRE_RESOLVER()   \
    if (!m_resolver.ready()) \
    QSKIP(qPrintable(m_resolver.reason()))

class MainToolsTest final : public QObject {
    Q_OBJECT

    // A main window with two result rows: example.com with its address and
    // filing number, and free.test without either.
    struct Main {
        Main(const std::shared_ptr<test::DatabaseStack> &stack, test::RecordingPlatform &platform)
            : window(test::DatabaseStack::shared(stack), platform)
        {
            window.Load();
            ResultGridModel &grid = window.grid1()->grid();
            grid.setRows(3);
            const QStringList rows[] = {
                {QStringLiteral("example.com"), QString(), QString(), QStringLiteral("example.com"),
                 QStringLiteral("已注册"), QString(), QStringLiteral("京ICP备123号"), QStringLiteral("10.50.0.1")},
                {QStringLiteral("free.test"), QString(), QString(), QStringLiteral("free.test"),
                 QStringLiteral("未注册"), QStringLiteral("60"), QString(), QString()},
            };
            for (int r = 0; r < 2; ++r) {
                for (int c = 0; c < rows[r].size(); ++c)
                    grid.setCellText(r + 1, c, rows[r][c]);
            }
            window.show();
        }
        FdomainTools &tools() { return window.tools(); }
        // Makes (row, col) the active cell without a click; row 0 leaves none.
        void activate(int row, int col)
        {
            ResultGridView *grid = window.grid1();
            grid->setCurrentIndex(row > 0 ? grid->model()->index(row - 1, col) : QModelIndex());
        }
        void click(int row, int col)
        {
            ResultGridView *grid = window.grid1();
            const QRect cell = grid->visualRect(grid->model()->index(row - 1, col));
            QTest::mouseMove(grid->viewport(), cell.center());
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        }
        Fdomain window;
    };

    test::TestResolver m_resolver;
    test::ServicesProcess m_services;
    std::shared_ptr<test::DatabaseStack> m_stack;
    std::unique_ptr<Fabout> m_about;

    QString config(const char *key) const { return m_about->value(QLatin1StringView(key)); }

    // Only the named window ("whois", "ip", "filing" or none) was made; it is
    // shown with the given input.
    static void verifyWindow(FdomainTools &tools, const QString &name, const QString &ltext)
    {
        QCOMPARE(tools.whoisWindow() != nullptr, name == u"whois");
        QCOMPARE(tools.ipWindow() != nullptr, name == u"ip");
        QCOMPARE(tools.filingWindow() != nullptr, name == u"filing");
        ToolWindow *shown = tools.whoisWindow();
        if (!shown)
            shown = tools.ipWindow();
        if (!shown)
            shown = tools.filingWindow();
        if (!shown)
            return;
        QVERIFY(shown->isVisible());
        QCOMPARE(shown->ltext()->text(), ltext);
    }

private slots:
    void initTestCase()
    {
        installFontSubstitutes();
        QVERIFY2(m_resolver.start() || !m_resolver.broken(), qPrintable(m_resolver.reason()));
        if (!m_resolver.ready())
            return;
        QString error;
        QVERIFY2(m_services.start(&error), qPrintable(error));
        m_resolver.server().addRecord(QStringLiteral("example.com"), {QStringLiteral("10.50.0.1")});
        QVERIFY(test::fillDatabase(m_services.databasePath(), [](QSqlDatabase &db) {
            return test::execSql(db, QStringLiteral("insert into svc_whois (ldomain) values ('example.com')"))
                   && test::execSql(db, QStringLiteral("insert into ldomainlist (lname, lextend, lallname, lback) "
                                                       "values ('example', '.com', 'example.com', '京ICP备123号')"));
        }));
        m_stack = std::make_shared<test::DatabaseStack>(m_services.dataServiceUrl());
        ConfigLoadResult loaded = loadConfigRecord(m_stack->database);
        QCOMPARE(loaded.outcome, ConfigLoadResult::Outcome::Loaded);
        m_about = std::make_unique<Fabout>(std::move(loaded.record), m_stack->platform);
        QVERIFY(config("lbuyurl").startsWith(m_services.baseUrl()));
    }

    void gridClick_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("window");   // the window that opens, if any
        QTest::addColumn<QString>("ltext");    // its input afterwards
        QTest::addColumn<bool>("registers");   // clipboard, message, registrar page

        QTest::newRow("price") << 1 << 5 << QString() << QString() << true;
        QTest::newRow("domain") << 2 << 3 << QString() << QString() << true;
        QTest::newRow("status") << 1 << 4 << QStringLiteral("whois") << QStringLiteral("example.com") << false;
        QTest::newRow("filing") << 1 << 6 << QStringLiteral("filing") << QStringLiteral("example.com") << false;
        QTest::newRow("address") << 1 << 7 << QStringLiteral("ip") << QStringLiteral("10.50.0.1") << false;
        QTest::newRow("no address") << 2 << 7 << QStringLiteral("ip") << QString() << false;
    }

    void gridClick()
    {
        QFETCH(int, row);
        QFETCH(int, col);
        QFETCH(QString, window);
        QFETCH(QString, ltext);
        QFETCH(bool, registers);
        REQUIRE_RESOLVER();

        test::RecordingPlatform platform;
        Main main(m_stack, platform);
        main.window.setAbout(m_about.get());
        QVERIFY(QTest::qWaitForWindowExposed(&main.window));
        main.click(row, col);

        const QString domain = main.window.grid1()->grid().cellText(row, 3);
        QCOMPARE(platform.clipboardText(), registers ? domain : QString());
        QCOMPARE(platform.messages(),
                 registers ? QStringList{u"Norvale|选中域名  " % domain % u"  已加入剪贴板"} : QStringList());
        QCOMPARE(platform.openedUrls(), registers ? QStringList{config("lbuyurl") + domain} : QStringList());

        verifyWindow(main.tools(), window, ltext);
        // The window's own lookup has run on the row's text.
        if (window == u"whois")
            QTRY_VERIFY(main.tools().whoisWindow()->lwhois()->toPlainText().startsWith(u"Domain Name: EXAMPLE.COM"));
        else if (window == u"filing")
            QTRY_COMPARE(main.tools().filingWindow()->lwith(7)->text(), QStringLiteral("10.50.0.1"));
        else if (window == u"ip")
            QCOMPARE(main.tools().ipWindow()->box(Fip::Ip)->text(), ltext);

        // A click on the header row does nothing.
        QTest::mouseClick(main.window.grid1()->horizontalHeader()->viewport(), Qt::LeftButton);
        main.tools().cellClicked();
        QCOMPARE(platform.openedUrls().size(), registers ? 1 : 0);
    }

    void entries_data()
    {
        QTest::addColumn<QString>("entry");    // objectName of the action or button
        QTest::addColumn<int>("row");          // active row; 0: none
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("ltext");
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<bool>("message");

        QTest::newRow("mwhois, no row") << u"mwhois"_s << 0 << u"whois"_s << QString() << QStringList() << false;
        QTest::newRow("lwhois") << u"lwhois"_s << 1 << u"whois"_s << u"example.com"_s << QStringList() << false;
        QTest::newRow("mip, no address") << u"mip"_s << 2 << u"ip"_s << QString() << QStringList() << false;
        QTest::newRow("lip") << u"lip"_s << 1 << u"ip"_s << u"10.50.0.1"_s << QStringList() << false;
        QTest::newRow("mbak") << u"mbak"_s << 1 << u"filing"_s << u"example.com"_s << QStringList() << false;
        QTest::newRow("lbak, no row") << u"lbak"_s << 0 << u"filing"_s << QString() << QStringList() << false;
        QTest::newRow("mregist, no row") << u"mregist"_s << 0 << QString() << QString() << QStringList{u"lbuyurl"_s}
                                         << false;
        QTest::newRow("lregist") << u"lregist"_s << 1 << QString() << QString() << QStringList{u"lbuyurl+"_s} << true;
        QTest::newRow("mhome") << u"mhome"_s << 0 << QString() << QString() << QStringList{u"lhomeurl"_s} << false;
        QTest::newRow("mbbs") << u"mbbs"_s << 0 << QString() << QString() << QStringList{u"lbbsurl"_s} << false;
        QTest::newRow("mgbook") << u"mgbook"_s << 0 << QString() << QString() << QStringList{u"lgbookurl"_s} << false;
        QTest::newRow("mchat") << u"mchat"_s << 0 << QString() << QString() << QStringList{u"lchaturl"_s} << false;
        QTest::newRow("mweb") << u"mweb"_s << 1 << QString() << QString() << QStringList{u"lweburl"_s} << false;
    }

    void entries()
    {
        QFETCH(QString, entry);
        QFETCH(int, row);
        QFETCH(QString, window);
        QFETCH(QString, ltext);
        QFETCH(QStringList, opened);
        QFETCH(bool, message);
        REQUIRE_RESOLVER();

        test::RecordingPlatform platform;
        Main main(m_stack, platform);
        main.window.setAbout(m_about.get());
        main.activate(row, 4);
        if (auto *action = main.window.findChild<QAction *>(entry))
            action->trigger();
        else
            main.window.findChild<QPushButton *>(entry)->click();

        QStringList expected;
        for (const QString &key : opened) {
            expected << (key.endsWith(u'+') ? config(qPrintable(key.chopped(1))) + QStringLiteral("example.com")
                                            : config(qPrintable(key)));
        }
        QCOMPARE(platform.openedUrls(), expected);
        QCOMPARE(platform.messages(), message ? QStringList{Message} : QStringList());

        verifyWindow(main.tools(), window, ltext);
    }

    // Entries that need the configuration wait for it; then they run in order.
    void waitsForConfiguration()
    {
        REQUIRE_RESOLVER();
        test::RecordingPlatform platform;
        Main main(m_stack, platform);
        main.activate(1, 4);
        main.window.mhome()->trigger();
        main.window.lwhois()->click();
        main.window.mregist()->trigger();
        Fwhois *whois = main.tools().whoisWindow();
        QCOMPARE(whois->lwhois()->toPlainText(), QString::fromUtf16(lookuptext::whoisSearching));
        QCOMPARE(platform.messages(), QStringList{Message});
        QCOMPARE(platform.openedUrls(), QStringList());

        main.window.setAbout(m_about.get());
        QCOMPARE(platform.openedUrls(),
                 (QStringList{config("lhomeurl"), config("lbuyurl") + QStringLiteral("example.com")}));
        QTRY_VERIFY(whois->lwhois()->toPlainText().startsWith(u"Domain Name: EXAMPLE.COM"));
    }

    // The same whois window for a second row; after its title-bar close, a new
    // one with the active row's domain.
    void whoisWindowLifetime()
    {
        REQUIRE_RESOLVER();
        test::RecordingPlatform platform;
        Main main(m_stack, platform);
        main.window.setAbout(m_about.get());
        main.activate(1, 4);
        main.window.mwhois()->trigger();
        QPointer<Fwhois> first = main.tools().whoisWindow();
        main.activate(2, 4);
        main.window.lwhois()->click();
        QCOMPARE(main.tools().whoisWindow(), first.data());
        QCOMPARE(first->ltext()->text(), QStringLiteral("free.test"));
        QTRY_COMPARE(first->lwhois()->toPlainText(), QString::fromUtf16(lookuptext::whoisNotFound));

        first->close();
        QTRY_VERIFY(first.isNull());
        main.window.mwhois()->trigger();
        QVERIFY(main.tools().whoisWindow());
        QCOMPARE(main.tools().whoisWindow()->ltext()->text(), QStringLiteral("free.test"));
    }

    // Addresses from the configuration reach the desktop only when they are
    // web or mail addresses.
    void refusesOtherAddresses()
    {
        REQUIRE_RESOLVER();
        test::RecordingPlatform platform;
        Main main(m_stack, platform);
        Fabout about(changed(m_about->record(), {{QStringLiteral("lhomeurl"), QStringLiteral("file:///etc/passwd")},
                                                 {QStringLiteral("lbbsurl"), QStringLiteral("/usr/bin/xterm")},
                                                 {QStringLiteral("lchaturl"), QStringLiteral("mailto:chat@example.com")},
                                                 {QStringLiteral("lbuyurl"), QString()}}),
                     platform);
        main.window.setAbout(&about);
        main.window.mhome()->trigger();
        main.window.mbbs()->trigger();
        main.window.mchat()->trigger();
        main.activate(1, 4);
        main.window.lregist()->click();
        QCOMPARE(platform.openedUrls(), QStringList{QStringLiteral("mailto:chat@example.com")});
        QCOMPARE(platform.clipboardText(), QStringLiteral("example.com"));
    }
};

QTEST_MAIN(MainToolsTest)
#include "MainToolsTest.moc"
