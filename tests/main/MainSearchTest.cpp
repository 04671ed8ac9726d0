#include "norvale/core/config/ConfigLoad.h"
#include "norvale/core/config/Configuration.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/FdomainSearch.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/SearchBoxes.h"
#include "norvale/gui/platform/FontSubstitutes.h"

#include "tests/support/Controls.h"
#include "tests/support/ServicesFixture.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/SearchToEnd.h"
#include "tests/support/SearchWorld.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QAbstractItemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <memory>

using namespace norvale;
using namespace std::chrono_literals;

namespace {

QStringList shownDomains(const Fdomain &w)
{
    const ResultGridModel &grid = test::control<ResultGridView>(w, "grid1")->grid();
    QStringList out;
    for (int r = 1; r < grid.rows(); ++r)
        out << grid.cellText(r, 3);
    return out;
}

} // namespace

class MainSearchTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        installFontSubstitutes();
        if (!m_world.start())
            return;
        REQUIRE_TEST_RESOLVER(m_world);
        QVERIFY(test::seedSearchWorld(m_world));
        QVERIFY(m_world.stack->database.getconnstr());
        // The configuration as the start-up sequence loads it: its ldomainurl is
        // the local service's status page.
        ConfigLoadResult config = loadConfigRecord(m_world.stack->database);
        QCOMPARE(config.outcome, ConfigLoadResult::Outcome::Loaded);
        m_config = std::make_unique<Configuration>(std::move(config.record));
        QVERIFY(m_config->text(ConfigKey::StatusPage).startsWith(m_world.services.baseUrl()));
    }

    void cleanup() { m_world.dns().setDelay(0ms); }

    void oneComRow_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("byEnter");
        QTest::addColumn<bool>("comTicked");  // else no box at all
        QTest::newRow("plain, 搜索") << QStringLiteral("example") << false << true;
        QTest::newRow("spaces and dots, Enter") << QStringLiteral("  example.def.com ") << true << true;
        QTest::newRow("no box") << QStringLiteral("example") << false << false;
    }

    void oneComRow()
    {
        QFETCH(QString, typed);
        QFETCH(bool, byEnter);
        QFETCH(bool, comTicked);

        auto w = openWindow();
        (comTicked ? test::kindBox(*w, 0) : test::control<QCheckBox>(*w, "lextendnum1"))->click();
        QVERIFY(!test::control<QCheckBox>(*w, "lextendnum1")->isChecked());
        search(*w, typed, byEnter);
        verifyIdle(*w);
        const ResultGridModel &grid = test::control<ResultGridView>(*w, "grid1")->grid();
        if (!comTicked) {
            QCOMPARE(grid.rows(), 1);
            QCOMPARE(test::control<QLabel>(*w, "lallnum")->text(), QStringLiteral("找到记录 0 条"));
            return;
        }
        QCOMPARE(grid.rows(), 2);
        QCOMPARE(test::control<QLabel>(*w, "lallnum")->text(), QStringLiteral("找到相关记录  1  条"));
        const QStringList expected{QStringLiteral("example.com"), {}, {}, QStringLiteral("example.com"),
                                   QStringLiteral("已注册"), {}, QStringLiteral("京ICP备123号"),
                                   QStringLiteral("93.184.216.34")};
        for (int c = 0; c < 8; ++c)
            QCOMPARE(grid.cellText(1, c), expected[c]);
        QCOMPARE(grid.cellColor(1, 6), std::optional<quint32>(255));
        QCOMPARE(grid.cellColor(1, 4), std::nullopt);

        // No keyword left: no query, the grid and the counter stay as they were.
        for (const QString &empty : {QStringLiteral("   "), QStringLiteral(".com")}) {
            search(*w, empty);
            verifyIdle(*w);
            QCOMPARE(shownDomains(*w), QStringList{QStringLiteral("example.com")});
            QCOMPARE(test::control<QLabel>(*w, "lallnum")->text(), QStringLiteral("找到相关记录  1  条"));
        }
    }

    void pastedKeywordList()
    {
        auto w = openWindow();
        test::kindBox(*w, 0)->click();  // .com
        ResultGridModel &grid = test::control<ResultGridView>(*w, "grid1")->grid();
        // The bar covers the whole list: at the second keyword's row a third is done.
        QString barAtSecondRow;
        connect(&grid, &QAbstractItemModel::rowsInserted, this, [&] {
            if (grid.rows() == 3)
                barAtSecondRow = test::control<QLabel>(*w, "lslidetext3")->text();
        });
        search(*w, QStringLiteral("example\nmyexample\nexampleshop\n"));
        QCOMPARE(test::control<QLabel>(*w, "lkeycount")->text(), QStringLiteral("共 3 个关键词"));
        verifyIdle(*w);
        QCOMPARE(shownDomains(*w), QStringList({QStringLiteral("example.com"), QStringLiteral("myexample.com"),
                                                 QStringLiteral("exampleshop.com")}));
        QCOMPARE(test::control<QLabel>(*w, "lallnum")->text(), QStringLiteral("找到相关记录  3  条"));
        QCOMPARE(barAtSecondRow, QStringLiteral("35%"));  // 17 of 48 steps
    }

    void boxRules()
    {
        auto w = openWindow();
        const SearchBoxes &seen = w->search().boxes();
        QVERIFY(seen.all());

        // Ticking a kind unticks "全部", and the search sees both at once.
        test::control<QCheckBox>(*w, "lshowbak")->setFocus();
        test::kindBox(*w, 1)->click();
        QVERIFY(!test::control<QCheckBox>(*w, "lextendnum1")->isChecked());
        QVERIFY(seen.kind(1) && !seen.all());
        QTRY_VERIFY(test::control<KeywordBox>(*w, "lfind")->hasFocus());
        test::kindBox(*w, 16)->click();
        QVERIFY(seen.chosen(16) && !seen.chosen(0));

        // Unticking a kind leaves "全部" alone.
        test::kindBox(*w, 16)->click();
        QVERIFY(!seen.kind(16));
        QVERIFY(!test::control<QCheckBox>(*w, "lextendnum1")->isChecked());

        // "全部" unticks every kind.
        test::control<QCheckBox>(*w, "lshowbak")->setFocus();
        test::control<QCheckBox>(*w, "lextendnum1")->click();
        QVERIFY(seen.all());
        for (int i = 0; i < Fdomain::ExtensionCount; ++i)
            QVERIFY(!test::kindBox(*w, i)->isChecked() && !seen.kind(i));
        QTRY_VERIFY(test::control<KeywordBox>(*w, "lfind")->hasFocus());

        test::control<QCheckBox>(*w, "lshowbak")->click();
        QVERIFY(seen.showRelated());
    }

    void relatedRowsAfterPhaseOne()
    {
        auto w = openWindow();
        test::control<QCheckBox>(*w, "lshowbak")->click();
        search(*w, QStringLiteral("example"));
        verifyIdle(*w);

        const QStringList phaseOne = test::phaseOneDomains(QStringLiteral("example"));
        const QStringList related{QStringLiteral("myexample.com"), QStringLiteral("exampleshop.cn"),
                                  QStringLiteral("examplebiz.com.cn")};
        QCOMPARE(shownDomains(*w), phaseOne + related);
        const int rows = int(phaseOne.size() + related.size());
        QCOMPARE(test::control<QLabel>(*w, "lallnum")->text(), QStringLiteral("找到相关记录  %1  条").arg(rows));

        const ResultGridModel &grid = test::control<ResultGridView>(*w, "grid1")->grid();
        for (int r = 1; r <= rows; ++r) {
            QVERIFY2(!grid.cellText(r, 4).isEmpty(), qPrintable(grid.cellText(r, 3)));
            QCOMPARE(grid.cellText(r, 0), grid.cellText(r, 3));
        }
        // Unconfirmed: status in red, with its price; confirmed by the status page: not red.
        const int biz = int(phaseOne.indexOf(QStringLiteral("example.biz"))) + 1;
        QCOMPARE(grid.cellColor(biz, 4), std::optional<quint32>(255));
        QCOMPARE(grid.cellText(biz, 5), QStringLiteral("14"));
        QCOMPARE(grid.cellColor(int(phaseOne.indexOf(QStringLiteral("example.net"))) + 1, 4), std::nullopt);
        // Phase 2: the filing cell is red, the empty one too.
        const int myexample = rows - 2, exampleshop = rows - 1;
        QCOMPARE(grid.cellText(myexample, 6), QStringLiteral("沪ICP备1号"));
        QCOMPARE(grid.cellColor(myexample, 6), std::optional<quint32>(255));
        QCOMPARE(grid.cellText(exampleshop, 6), QString());
        QCOMPARE(grid.cellColor(exampleshop, 6), std::optional<quint32>(255));
        QCOMPARE(grid.cellText(exampleshop, 7), QStringLiteral("10.0.0.7"));
    }

    void stopDuringSearch()
    {
        // Every lookup is slow, so the search is still running at its first row.
        m_world.dns().setDelay(300ms);
        auto w = openWindow();
        test::control<QCheckBox>(*w, "lshowbak")->click();
        ResultGridModel &grid = test::control<ResultGridView>(*w, "grid1")->grid();

        bool barShown = false;
        bool stopFlagged = false;
        int rowsAtStop = 0;
        QMetaObject::Connection atFirstRow = connect(&grid, &QAbstractItemModel::rowsInserted, this, [&] {
            QObject::disconnect(atFirstRow);
            // A late activation leaves the search's progress bar alone.
            w->Activate();
            barShown = test::control<QGroupBox>(*w, "fslide3")->isVisible() && test::control<QLabel>(*w, "lslidetext3")->text() != QStringLiteral("0%");
            test::control<QPushButton>(*w, "lstop")->click();
            stopFlagged = w->stopflag();
            rowsAtStop = grid.rows();
        });
        test::control<KeywordBox>(*w, "lfind")->setText(QStringLiteral("example"));
        test::control<QPushButton>(*w, "lsearch")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->search().isRunning(), 60000);
        QVERIFY(barShown);
        QVERIFY(stopFlagged);
        // The rows that came in the first frame, then nothing.
        QVERIFY(rowsAtStop >= 2);
        verifyIdle(*w);

        // Nothing the workers still had in hand is written: let them all
        // finish, deliver whatever they posted, and look again.
        test::drainWorkers();
        QTest::qWait(50);  // past the next frame
        QCOMPARE(grid.rows(), rowsAtStop);
        QCOMPARE(test::control<QLabel>(*w, "lallnum")->text(), QStringLiteral("找到相关记录  %1  条").arg(rowsAtStop - 1));
        for (int r = 1; r < rowsAtStop; ++r)  // the rows before the stop are whole
            QVERIFY(!grid.cellText(r, 4).isEmpty());

        // 停止 before anything of the next search has arrived still clears the grid.
        test::control<QPushButton>(*w, "lsearch")->click();
        test::control<QPushButton>(*w, "lstop")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->search().isRunning(), 60000);
        QCOMPARE(grid.rows(), 1);
        QCOMPARE(test::control<QLabel>(*w, "lallnum")->text(), QStringLiteral("找到记录 0 条"));
    }

    void secondSearchDuringFirst_data()
    {
        QTest::addColumn<int>("superseded");   // searches started at the first row
        QTest::newRow("once") << 1;
        QTest::newRow("a hundred times in a row, at once") << 100;
    }

    void secondSearchDuringFirst()
    {
        QFETCH(int, superseded);
        m_world.dns().setDelay(200ms);
        auto w = openWindow();
        ResultGridModel &grid = test::control<ResultGridView>(*w, "grid1")->grid();
        QMetaObject::Connection atFirstRow = connect(&grid, &QAbstractItemModel::rowsInserted, this, [&] {
            QObject::disconnect(atFirstRow);
            for (int i = superseded; i > 0; --i) {
                test::control<KeywordBox>(*w, "lfind")->setText(i == 1 ? QStringLiteral("myexample") : QStringLiteral("example%1").arg(i));
                test::control<QPushButton>(*w, "lsearch")->click();
            }
        });
        search(*w, QStringLiteral("example"));
        verifyIdle(*w);
        const QStringList second = test::phaseOneDomains(QStringLiteral("myexample"));
        QCOMPARE(shownDomains(*w), second);
        QCOMPARE(test::control<QLabel>(*w, "lallnum")->text(), QStringLiteral("找到相关记录  %1  条").arg(second.size()));
        for (int r = 1; r < grid.rows(); ++r)
            QVERIFY2(!grid.cellText(r, 4).isEmpty(), qPrintable(grid.cellText(r, 3)));
        // Whatever the superseded searches still had in hand never shows up.
        test::drainWorkers();
        QCOMPARE(shownDomains(*w), second);
    }

    void searchWaitsForConfiguration_data()
    {
        QTest::addColumn<bool>("stopped");
        QTest::newRow("starts once loaded") << false;
        QTest::newRow("停止 before that") << true;
    }

    void searchWaitsForConfiguration()
    {
        // Asked for while the configuration is still loading, the search has
        // no status page yet; it starts once the configuration is in.
        QFETCH(bool, stopped);
        auto w = openWindow(false);
        test::kindBox(*w, 5)->click();  // .biz: example.biz does not resolve
        test::control<KeywordBox>(*w, "lfind")->setText(QStringLiteral("example"));
        test::control<QPushButton>(*w, "lsearch")->click();
        QVERIFY(!w->search().isRunning());
        if (stopped)
            test::control<QPushButton>(*w, "lstop")->click();
        w->setConfiguration(*m_config);
        QCOMPARE(w->search().isRunning(), !stopped);
        QTRY_VERIFY_WITH_TIMEOUT(!w->search().isRunning(), 60000);
        if (stopped) {
            QCOMPARE(test::control<ResultGridView>(*w, "grid1")->grid().rows(), 1);
            return;
        }
        verifyIdle(*w);
        const ResultGridModel &grid = test::control<ResultGridView>(*w, "grid1")->grid();
        QCOMPARE(shownDomains(*w), QStringList{QStringLiteral("example.biz")});
        QCOMPARE(grid.cellText(1, 4), QStringLiteral("未注册"));
        QCOMPARE(grid.cellText(1, 5), QStringLiteral("14"));
    }

    void closeDuringSearch()
    {
        m_world.dns().setDelay(300ms);
        const int exitsBefore = m_world.stack->platform.exitRequests();
        auto w = openWindow();
        QSignalSpy reset(&w->search().engine(), &DomainSearch::searchReset);
        test::control<KeywordBox>(*w, "lfind")->setText(QStringLiteral("example"));
        test::control<QPushButton>(*w, "lsearch")->click();
        QVERIFY(reset.wait(60000));

        // The program ends at once; nothing waits for the workers.
        QVERIFY(!w->close());
        QCOMPARE(m_world.stack->platform.exitRequests(), exitsBefore + 1);
        QVERIFY(w->stopflag());
        // Where the platform returns, the window can go while workers still run.
        w.reset();

        m_world.dns().setDelay(0ms);
        auto next = openWindow();
        test::kindBox(*next, 0)->click();
        search(*next, QStringLiteral("example"));
        QCOMPARE(shownDomains(*next), QStringList{QStringLiteral("example.com")});
    }


private:
    std::unique_ptr<Fdomain> openWindow(bool configured = true)
    {
        auto w = std::make_unique<Fdomain>(m_world.database(),
                                           m_world.stack->platform);
        w->Load();
        if (configured)
            w->setConfiguration(*m_config);
        test::control<QLabel>(*w, "lload")->hide();
        w->show();
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w.get()))
            qWarning("the window did not become active");
        return w;
    }

    // Starts a search the way the user does and waits for its end.
    void search(Fdomain &w, const QString &text, bool byEnter = false)
    {
        test::control<KeywordBox>(w, "lfind")->setText(text);
        if (byEnter) {
            test::control<KeywordBox>(w, "lfind")->setFocus();
            QTest::keyClick(test::control<KeywordBox>(w, "lfind"), Qt::Key_Return);
        } else {
            test::control<QPushButton>(w, "lsearch")->click();
        }
        QVERIFY(w.search().isRunning());
        QVERIFY(!w.stopflag());
        QTRY_VERIFY_WITH_TIMEOUT(!w.search().isRunning(), 60000);
    }

    // What every search leaves behind, stopped or not.
    void verifyIdle(Fdomain &w)
    {
        QVERIFY(!w.search().isRunning());
        QVERIFY(w.stopflag());
        QVERIFY(test::control<QGroupBox>(w, "fslide3")->isHidden());
        QCOMPARE(test::control<QLabel>(w, "lslidetext3")->text(), QStringLiteral("0%"));
        QCOMPARE(test::control<QFrame>(w, "lslideback3")->width(), 0);
        QTRY_VERIFY(test::control<KeywordBox>(w, "lfind")->hasFocus());
    }


    test::ServicesFixture m_world;
    std::unique_ptr<Configuration> m_config;
};

QTEST_MAIN(MainSearchTest)
#include "MainSearchTest.moc"
