#include "norvale/gui/about/DownloadPanel.h"
#include "norvale/gui/about/Fabout.h"
#include "norvale/gui/about/Fhelp.h"
#include "norvale/core/help/ReadmeText.h"
#include "norvale/core/web/GetBody.h"
#include "tests/support/Controls.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestConfig.h"
#include "tests/support/TestText.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace norvale;

namespace {

ConfigRecord recordWithVersion(const QString &lver)
{
    QStringList values;
    for (const QLatin1StringView key : kConfigKeys)
        values.append(QStringLiteral("value of ") + QString(key));
    values[0] = lver;
    return ConfigRecord(values);
}

} // namespace

class FaboutTest final : public QObject {
    Q_OBJECT

    test::RecordingPlatform m_platform;
    test::ServicesProcess m_services;
    ConfigRecord m_served;   // the services' own configuration

private slots:
    void initTestCase()
    {
        VERIFY_STARTED(m_services);
        m_served = test::servedConfiguration(m_services);
        QVERIFY(!m_served.isEmpty());
    }

    void holdsEveryValueOutOfSight_data()
    {
        QTest::addColumn<QString>("lver");
        QTest::addColumn<bool>("offered");
        QTest::newRow("newer") << QStringLiteral("1.05") << true;
        QTest::newRow("same") << QStringLiteral("1.0") << false;
    }

    void holdsEveryValueOutOfSight()
    {
        QFETCH(QString, lver);
        QFETCH(bool, offered);
        const QString markup = QStringLiteral("<b>link</b>");
        Configuration config(test::withValues(recordWithVersion(lver), {{"lmail", markup}}));
        Fabout about(config, m_platform);
        auto *button = about.findChild<QPushButton *>(QStringLiteral("ldownact"));
        QVERIFY(button && !about.isVisible());
        QCOMPARE(!button->isHidden(), offered);

        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        auto *hidden = about.findChild<QGroupBox *>(QStringLiteral("hidden"));
        QVERIFY(hidden && !hidden->isVisible());
        for (const QLatin1StringView key : kConfigKeys) {
            auto *holder = hidden->findChild<QLabel *>(QString(key));
            QVERIFY2(holder, key.data());
            QCOMPARE(holder->text(), key == QLatin1StringView("lver")    ? lver
                                     : key == QLatin1StringView("lmail") ? markup
                                                                         : QStringLiteral("value of ") + QString(key));
        }
        // Shown as it is, never as markup.
        for (const QLabel *label : about.findChildren<QLabel *>(QStringLiteral("lmail"))) {
            QCOMPARE(label->text(), markup);
            QCOMPARE(label->textFormat(), Qt::PlainText);
        }
    }

    // An operator's long address stays left of the download panel's edge,
    // shortened, and whole in its tooltip.
    void longLinkIsShortened()
    {
        const QString address = QStringLiteral("http://www.a-very-long-operator-domain.example/home/index.asp");
        Configuration config(test::withValues(recordWithVersion(QStringLiteral("1.1")), {{"lhomeurl", address}}));
        Fabout about(config, m_platform);
        QLabel *home = test::control<QLabel>(about, "lhomeurl");
        QVERIFY(home->text().endsWith(QChar(0x2026)));
        QCOMPARE(home->toolTip(), address);
        QVERIFY(home->geometry().right() <= about.fdownload()->geometry().right());
        QVERIFY(home->width() >= home->sizeHint().width());
    }

    void linksOpenTheirAddresses_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("opened");
        QTest::newRow("mail") << QStringLiteral("lmail") << QStringLiteral("mailto:me@home.test");
        QTest::newRow("qq") << QStringLiteral("lqq") << QStringLiteral("http://qq.test/");
        QTest::newRow("home") << QStringLiteral("lhomeurl") << QStringLiteral("http://home.test/");
        QTest::newRow("shop picture") << QStringLiteral("ltaobao") << QStringLiteral("http://shop.test/");
        QTest::newRow("qq picture") << QStringLiteral("limgqq") << QString();
        QTest::newRow("not a web address") << QStringLiteral("lqq") << QString();
    }

    void linksOpenTheirAddresses()
    {
        QFETCH(QString, link);
        QFETCH(QString, opened);
        const bool refused = QByteArray(QTest::currentDataTag()) == "not a web address";
        Configuration config(test::withValues(m_served, {{"lmailurl", QStringLiteral("mailto:me@home.test")},
                                                {"lqqurl", refused ? QStringLiteral("/bin/sh") : QStringLiteral("http://qq.test/")},
                                                {"lhomeurl", QStringLiteral("http://home.test/")},
                                                {"ltaobaourl", QStringLiteral("http://shop.test/")}}));
        Fabout about(config, m_platform);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QStringList before = m_platform.openedUrls();
        QTest::mouseClick(test::control<QLabel>(about, link), Qt::LeftButton);
        QCOMPARE(m_platform.openedUrls().mid(before.size()), opened.isEmpty() ? QStringList() : QStringList{opened});
    }

    // Blue under the pointer; only the window's own background brings back
    // the caption's black, another control does not.
    void hoverColours()
    {
        Configuration config(recordWithVersion(QStringLiteral("1.1")));
        Fabout about(config, m_platform);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QLabel *mail = test::control<QLabel>(about, "lmail");
        QLabel *feature = test::control<QLabel>(about, "Label1");
        auto colour = [mail] { return mail->palette().color(QPalette::WindowText); };
        QCOMPARE(colour(), QPalette().color(QPalette::WindowText));

        QTest::mouseMove(mail, QPoint(5, 5));
        QTRY_COMPARE(colour(), QColor(0, 0, 255));
        QTest::mouseMove(feature, QPoint(5, 5));
        QTest::mouseMove(&about, QPoint(5, about.height() - 60));   // the background left of the line
        QTRY_COMPARE(colour(), QColor(Qt::black));
        QTest::mouseMove(mail, QPoint(5, 5));
        QTRY_COMPARE(colour(), QColor(0, 0, 255));
        QTest::mouseMove(feature, QPoint(5, 5));
        QTest::qWait(50);
        QCOMPARE(colour(), QColor(0, 0, 255));
    }

    // Pictures come off the interface thread, once while the QQ picture is
    // there; a QQ "picture" that is no picture (a served page) makes the next
    // opening try both again.
    void picturesLoadOnce_data()
    {
        QTest::addColumn<bool>("qqLoads");
        QTest::newRow("both load") << true;
        QTest::newRow("qq picture is a page") << false;
    }

    void picturesLoadOnce()
    {
        QFETCH(bool, qqLoads);
        const QString shopPath = QStringLiteral("/images/shop.png");
        const QString qqPath = qqLoads ? QStringLiteral("/images/qq.png") : QStringLiteral("/link/qq.asp");
        const int shopBefore = m_services.requestCount(shopPath);
        const int qqBefore = m_services.requestCount(qqPath);
        Configuration config(test::withValues(m_served, {{"lqqimg", m_services.baseUrl() + qqPath}}));
        Fabout about(config, m_platform);
        QLabel *qq = test::control<QLabel>(about, "limgqq");
        QLabel *shop = test::control<QLabel>(about, "ltaobao");
        about.show();
        about.checkimg();
        QTRY_VERIFY(!shop->pixmap().isNull());
        QCOMPARE(shop->pixmap().size(), QSize(161, 25));
        QTRY_COMPARE(m_services.requestCount(qqPath), qqBefore + 1);
        QTRY_VERIFY(!about.picturesOnTheirWay());   // a reopening while they load asks nothing
        QCOMPARE(qq->pixmap().isNull(), !qqLoads);

        QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("Cmd_OK")), Qt::LeftButton);
        QVERIFY(!about.isVisible());
        about.show();
        about.checkimg();
        QTest::qWait(300);   // time for a load that should not happen
        QTRY_COMPARE(m_services.requestCount(shopPath), shopBefore + (qqLoads ? 1 : 2));
        QTRY_COMPARE(m_services.requestCount(qqPath), qqBefore + (qqLoads ? 1 : 2));
        QCOMPARE(test::control<QLabel>(about, "lmail")->text(), m_served.value(ConfigKey::Mail));
    }

    void closingOnlyHides()
    {
        Configuration config(recordWithVersion(QStringLiteral("2")));
        Fabout about(config, m_platform);
        about.setAttribute(Qt::WA_DeleteOnClose);  // must not matter: it never really closes
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(!about.close());
        QVERIFY(!about.isVisible());
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(test::control<QLabel>(about, "lver")->text(), QStringLiteral("2"));
    }

    void readmeLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("no break at the end") << QStringLiteral("a\r\nb") << QStringLiteral("a\r\nb\r\n");
        QTest::newRow("cr alone") << QStringLiteral("a\rb\r") << QStringLiteral("a\r\nb\r\n");
        QTest::newRow("lf alone") << QStringLiteral("a\nb\n") << QStringLiteral("a\r\nb\r\n");
        QTest::newRow("empty lines kept") << QStringLiteral("\r\n\r\nx\r\n\r\n") << QStringLiteral("\r\n\r\nx\r\n\r\n");
        QTest::newRow("cr cr lf") << QStringLiteral("a\r\r\n") << QStringLiteral("a\r\n\r\n");
    }

    void readmeLines()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(joinReadmeLines(text), shown);
    }

    void readmeViewer_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        const QString chinese = QStringLiteral("域名查询\n第二行\n");
        QTest::newRow("utf-8") << QStringLiteral("readme.txt") << chinese.toUtf8() << chinese;
        QTest::newRow("utf-8 with mark") << QStringLiteral("readme.txt") << QByteArray("\xEF\xBB\xBF") + chinese.toUtf8() << chinese;
        QTest::newRow("gbk") << QStringLiteral("readme.txt") << QByteArray("\xD3\xF2\xC3\xFB\xB2\xE9\xD1\xAF\r\n\xB5\xDA\xB6\xFE\xD0\xD0")
                             << chinese;
        QTest::newRow("gbk cut short") << QStringLiteral("readme.txt") << QByteArray("\xD3\xF2\xC3")
                                       << QString::fromUtf16(u"域\uFFFD\n");
        QTest::newRow("name in capitals") << QStringLiteral("README.TXT") << chinese.toUtf8() << readmeMissingText();
        QTest::newRow("no file") << QStringLiteral("other.txt") << chinese.toUtf8() << readmeMissingText();
    }

    void readmeViewer()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QTemporaryDir folder;
        QVERIFY(test::writeFile(folder.filePath(fileName), bytes));
        QPointer<Fhelp> help = new Fhelp(folder.path());
        QCOMPARE(help->ltext()->toPlainText(), shown);

        // Closing destroys the viewer, so the next one reads the file anew.
        help->show();
        QTest::mouseClick(help->command1(), Qt::LeftButton);
        QTRY_VERIFY(help.isNull());
    }
};

QTEST_MAIN(FaboutTest)
#include "FaboutTest.moc"
