#include "norvale/core/config/ConfigLoad.h"
#include "norvale/core/config/Configuration.h"
#include "norvale/gui/about/Fabout.h"
#include "norvale/core/lookup/LookupInput.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/FdomainTools.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/core/platform/WebAddress.h"
#include "norvale/gui/platform/FontSubstitutes.h"
#include "norvale/gui/tools/Fip.h"
#include "norvale/gui/tools/Fwhois.h"
#include "norvale/gui/tools/fback.h"

#include "tests/support/MainWindowFixture.h"
#include "tests/support/ServicesFixture.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TestConfig.h"
#include "tests/support/TestSql.h"

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace norvale;
using namespace Qt::StringLiterals;

class MainToolsTest final : public QObject {
    Q_OBJECT

    // A main window with two result rows: example.com with its address and
    // filing number, and free.test without either.
    struct Main {
        Main(const std::shared_ptr<test::DatabaseStack> &stack, test::RecordingPlatform &platform)
            : window(test::DatabaseStack::shared(stack), platform)
        {
            window.Load();
            test::writeRows(test::control<ResultGridView>(window, "grid1")->grid(),
                            {{u"example.com"_s, {}, {}, u"example.com"_s, u"已注册"_s, {}, u"京ICP备123号"_s, u"10.50.0.1"_s},
                             {u"free.test"_s, {}, {}, u"free.test"_s, u"未注册"_s, u"60"_s, {}, {}}});
            window.show();
        }
        FdomainTools &tools() { return window.tools(); }
        // Makes (row, col) the active cell without a click; row 0 leaves none.
        void activate(int row, int col)
        {
            ResultGridView *grid = test::control<ResultGridView>(window, "grid1");
            grid->setCurrentIndex(row > 0 ? grid->model()->index(row - 1, col) : QModelIndex());
        }
        Fdomain window;
    };

    test::ServicesFixture m_world;
    std::unique_ptr<Configuration> m_config;

    QString config(const QString &key) const { return test::valueOf(m_config->record(), key); }

private slots:
    void initTestCase()
    {
        installFontSubstitutes();
        if (!m_world.start() || !m_world.resolverReady())
            return;
        m_world.dns().addRecord(u"example.com"_s, {u"10.50.0.1"_s});
        QVERIFY(test::fillDatabase(m_world.services.databasePath(), [](QSqlDatabase &db) {
            return test::execSql(db, u"insert into svc_whois (ldomain) values ('example.com')"_s)
                   && test::execSql(db, u"insert into ldomainlist (lname, lextend, lallname, lback) "
                                        "values ('example', '.com', 'example.com', '京ICP备123号')"_s);
        }));
        ConfigLoadResult loaded = loadConfigRecord(m_world.stack->database);
        QCOMPARE(loaded.outcome, ConfigLoadResult::Outcome::Loaded);
        m_config = std::make_unique<Configuration>(std::move(loaded.record));
        QVERIFY(config(u"lbuyurl"_s).startsWith(m_world.services.baseUrl()));
    }

    // A grid click ("row,col") or a menu entry or button (its objectName) with
    // the given row active.
    void init()
    {
        REQUIRE_TEST_RESOLVER(m_world);
    }

    void entries_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("row");          // active row; 0: none
        QTest::addColumn<QString>("window");   // the lookup window that opens, if any
        QTest::addColumn<QString>("ltext");    // its input
        QTest::addColumn<QStringList>("opened");  // configuration keys; "+": the row's domain appended
        QTest::addColumn<bool>("message");     // the domain copied, with a message

        QTest::newRow("price cell") << u"1,5"_s << 1 << QString() << QString() << QStringList{u"lbuyurl+"_s} << true;
        QTest::newRow("domain cell") << u"2,3"_s << 2 << QString() << QString() << QStringList{u"lbuyurl+"_s} << true;
        QTest::newRow("status cell") << u"1,4"_s << 1 << u"whois"_s << u"example.com"_s << QStringList() << false;
        QTest::newRow("filing cell") << u"1,6"_s << 1 << u"filing"_s << u"example.com"_s << QStringList() << false;
        QTest::newRow("address cell") << u"1,7"_s << 1 << u"ip"_s << u"10.50.0.1"_s << QStringList() << false;
        QTest::newRow("empty address cell") << u"2,7"_s << 2 << u"ip"_s << QString() << QStringList() << false;
        QTest::newRow("mwhois, no row") << u"mwhois"_s << 0 << u"whois"_s << QString() << QStringList() << false;
        QTest::newRow("lwhois") << u"lwhois"_s << 1 << u"whois"_s << u"example.com"_s << QStringList() << false;
        QTest::newRow("mip, no address") << u"mip"_s << 2 << u"ip"_s << QString() << QStringList() << false;
        QTest::newRow("lip") << u"lip"_s << 1 << u"ip"_s << u"10.50.0.1"_s << QStringList() << false;
        QTest::newRow("mbak") << u"mbak"_s << 1 << u"filing"_s << u"example.com"_s << QStringList() << false;
        QTest::newRow("lbak, no row") << u"lbak"_s << 0 << u"filing"_s << QString() << QStringList() << false;
        QTest::newRow("mregist, no row") << u"mregist"_s << 0 << QString() << QString() << QStringList{u"lbuyurl"_s}
                                         << false;
        QTest::newRow("lregist") << u"lregist"_s << 1 << QString() << QString() << QStringList{u"lbuyurl+"_s} << true;
        for (const char *key : {"home", "bbs", "gbook", "chat"})
            QTest::newRow(key) << u"m"_s + QLatin1StringView(key) << 0 << QString() << QString()
                               << QStringList{u"l"_s + QLatin1StringView(key) + u"url"_s} << false;
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

        test::RecordingPlatform platform;
        Main main(m_world.stack, platform);
        main.window.setConfiguration(*m_config);
        const QString domain = test::control<ResultGridView>(main.window, "grid1")->grid().cellText(row, 3);
        if (entry.contains(u',')) {
            QVERIFY(QTest::qWaitForWindowExposed(&main.window));
            ResultGridView *grid = test::control<ResultGridView>(main.window, "grid1");
            const QPoint at = grid->visualRect(grid->model()->index(row - 1, entry.section(u',', 1).toInt())).center();
            QTest::mouseMove(grid->viewport(), at);
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
        } else {
            main.activate(row, 4);
            if (auto *action = main.window.findChild<QAction *>(entry))
                action->trigger();
            else
                main.window.findChild<QPushButton *>(entry)->click();
        }

        QStringList expected;
        for (const QString &key : opened)
            expected << (key.endsWith(u'+') ? config(key.chopped(1)) + domain : config(key));
        QCOMPARE(platform.openedUrls(), expected);
        QCOMPARE(platform.messages(), message ? QStringList{u"Norvale|选中域名  " % domain % u"  已加入剪贴板"} : QStringList());
        if (message)
            QCOMPARE(platform.clipboardText(), domain);

        // Only the named window was made; it shows the input and looks it up.
        FdomainTools &tools = main.tools();
        QCOMPARE(tools.whoisWindow() != nullptr, window == u"whois");
        QCOMPARE(tools.ipWindow() != nullptr, window == u"ip");
        QCOMPARE(tools.filingWindow() != nullptr, window == u"filing");
        ToolWindow *shown = tools.whoisWindow() ? static_cast<ToolWindow *>(tools.whoisWindow())
                            : tools.ipWindow()  ? static_cast<ToolWindow *>(tools.ipWindow())
                                                : tools.filingWindow();
        if (shown) {
            QVERIFY(shown->isVisible());
            QCOMPARE(shown->ltext()->text(), ltext);
        }
        if (window == u"whois" && !ltext.isEmpty())
            QTRY_VERIFY(tools.whoisWindow()->lwhois()->toPlainText().startsWith(u"Domain Name: EXAMPLE.COM"));
        if (window == u"filing" && !ltext.isEmpty())
            QTRY_COMPARE(tools.filingWindow()->lwith(7)->text(), u"10.50.0.1"_s);

        // A click on the header row does nothing.
        QTest::mouseClick(test::control<ResultGridView>(main.window, "grid1")->horizontalHeader()->viewport(), Qt::LeftButton);
        tools.cellClicked();
        QCOMPARE(platform.openedUrls().size(), opened.size());
    }

    // Entries that need the configuration wait for it; then they run in order.
    void waitsForConfiguration()
    {
        test::RecordingPlatform platform;
        Main main(m_world.stack, platform);
        Configuration config;
        Fabout about(config, platform);
        main.window.setConfiguration(config);
        main.window.setAbout(&about);
        main.activate(1, 4);
        test::control<QAction>(main.window, "mhome")->trigger();
        test::control<QPushButton>(main.window, "lwhois")->click();
        test::control<QAction>(main.window, "mregist")->trigger();
        test::control<QAction>(main.window, "mabout")->trigger();
        QVERIFY(!about.isVisible());
        Fwhois *whois = main.tools().whoisWindow();
        QCOMPARE(whois->lwhois()->toPlainText(), QString::fromUtf16(lookuptext::whoisSearching));
        QCOMPARE(platform.messages(), QStringList{u"Norvale|选中域名  example.com  已加入剪贴板"_s});
        QCOMPARE(platform.openedUrls(), QStringList());

        config.load(m_config->record());
        QCOMPARE(platform.openedUrls(), (QStringList{this->config(u"lhomeurl"_s), this->config(u"lbuyurl"_s) + u"example.com"_s}));
        QVERIFY(about.isVisible());
        QTRY_VERIFY(whois->lwhois()->toPlainText().startsWith(u"Domain Name: EXAMPLE.COM"));
    }

    // The same whois window for a second row; after its title-bar close, a new
    // one with the active row's domain.
    void whoisWindowLifetime()
    {
        test::RecordingPlatform platform;
        Main main(m_world.stack, platform);
        main.window.setConfiguration(*m_config);
        main.activate(1, 4);
        test::control<QAction>(main.window, "mwhois")->trigger();
        QPointer<Fwhois> first = main.tools().whoisWindow();
        main.activate(2, 4);
        test::control<QPushButton>(main.window, "lwhois")->click();
        QCOMPARE(main.tools().whoisWindow(), first.data());
        QCOMPARE(first->ltext()->text(), u"free.test"_s);
        QTRY_COMPARE(first->lwhois()->toPlainText(), QString::fromUtf16(lookuptext::whoisNotFound));

        first->close();
        QTRY_VERIFY(first.isNull());
        test::control<QAction>(main.window, "mwhois")->trigger();
        QVERIFY(main.tools().whoisWindow());
        QCOMPARE(main.tools().whoisWindow()->ltext()->text(), u"free.test"_s);
    }

    // Addresses from the configuration reach the desktop only when they are
    // web or mail addresses; each refusal is said once, over the main window.
    void refusesOtherAddresses()
    {
        test::RecordingPlatform platform;
        Main main(m_world.stack, platform);
        Configuration refusing{test::withValues(m_config->record(), {{"lhomeurl", u"file:///etc/passwd"_s},
                                                                     {"lbbsurl", u"/usr/bin/xterm"_s},
                                                                     {"lchaturl", u"mailto:chat@example.com"_s},
                                                                     {"lbuyurl", QString()}})};
        main.window.setConfiguration(refusing);
        test::control<QAction>(main.window, "mhome")->trigger();
        test::control<QAction>(main.window, "mbbs")->trigger();
        test::control<QAction>(main.window, "mchat")->trigger();
        main.activate(1, 4);
        test::control<QPushButton>(main.window, "lregist")->click();
        QCOMPARE(platform.openedUrls(), QStringList{u"mailto:chat@example.com"_s});
        QCOMPARE(platform.clipboardText(), u"example.com"_s);
        const QString refused = u"Norvale|"_s + QString::fromUtf16(webaddresstext::refused);
        QCOMPARE(platform.messages(),
                 (QStringList{refused, refused, u"Norvale|选中域名  example.com  已加入剪贴板"_s, refused}));
        QCOMPARE(platform.owners(), QList<const QObject *>(4, &main.window));
    }
};

QTEST_MAIN(MainToolsTest)
#include "MainToolsTest.moc"
