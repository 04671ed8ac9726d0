#include "norvale/about/ConfigLoad.h"
#include "norvale/about/Fabout.h"
#include "norvale/data/ServerDatabase.h"
#include "norvale/main/Fdomain.h"
#include "norvale/main/FdomainSearch.h"
#include "norvale/main/ResultGridView.h"
#include "norvale/main/search/DomainSearch.h"
#include "norvale/main/search/SearchBoxes.h"
#include "norvale/startup/FontSubstitutes.h"

#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>

using namespace norvale;
using norvale::test::RecordingPlatform;
using norvale::test::ServicesProcess;
using norvale::test::TestResolver;
using namespace std::chrono_literals;

namespace {

// The price table, kind by kind in box order.
const QList<std::pair<QString, QString>> PriceRows = {
    {QStringLiteral(".com"), QStringLiteral(".com")},   {QStringLiteral(".net"), QStringLiteral(".net")},
    {QStringLiteral(".org"), QStringLiteral(".org")},   {QStringLiteral(".info"), QStringLiteral(".info")},
    {QStringLiteral(".name"), QStringLiteral(".name")}, {QStringLiteral(".biz"), QStringLiteral(".biz")},
    {QStringLiteral(".us"), QStringLiteral(".us")},     {QStringLiteral(".uk"), QStringLiteral(".uk")},
    {QStringLiteral(".uk"), QStringLiteral(".co.uk")},  {QStringLiteral(".eu"), QStringLiteral(".eu")},
    {QStringLiteral(".de"), QStringLiteral(".de")},     {QStringLiteral(".es"), QStringLiteral(".es")},
    {QStringLiteral(".in"), QStringLiteral(".in")},     {QStringLiteral(".co"), QStringLiteral(".co")},
    {QStringLiteral(".asia"), QStringLiteral(".asia")}, {QStringLiteral(".tk"), QStringLiteral(".tk")},
    {QStringLiteral(".cn"), QStringLiteral(".cn")},     {QStringLiteral(".cn"), QStringLiteral(".com.cn")},
    {QStringLiteral(".other"), QStringLiteral(".top")},
};

QStringList phaseOneDomains(const QString &keyword)
{
    QStringList out;
    for (const auto &[kind, extension] : PriceRows)
        out << keyword + extension;
    return out;
}

bool exec(QSqlDatabase &db, const QString &statement, const QVariantList &values = {})
{
    QSqlQuery query(db);
    query.prepare(statement);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        qWarning() << statement << query.lastError().text();
        return false;
    }
    return true;
}

// The database and the platform it reports to, kept alive for as long as any
// search worker still holds the database.
struct DatabaseStack {
    explicit DatabaseStack(const QString &serviceUrl) : database(platform, serviceUrl) {}
    RecordingPlatform platform;
    ServerDatabase database;
};

QString counterOf(const Fdomain &w)
{
    return w.lallnum()->text();
}

QStringList shownDomains(const Fdomain &w)
{
    const ResultGridModel &grid = w.grid1()->grid();
    QStringList out;
    for (int r = 1; r < grid.rows(); ++r)
        out << grid.cellText(r, 3);
    return out;
}

} // namespace

class MainSearchTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void oneComRow_data();
    void oneComRow();
    void boxRules();
    void noBoxTicked();
    void emptyKeywordKeepsGrid();
    void relatedRowsAfterPhaseOne();
    void stopDuringSearch();
    void secondSearchDuringFirst();
    void closeDuringSearch();

private:
    std::unique_ptr<Fdomain> openWindow();
    // Starts a search the way the user does and waits for its end.
    void search(Fdomain &w, const QString &text);
    // What every search leaves behind, stopped or not.
    void verifyIdle(Fdomain &w);
    void tickOnly(Fdomain &w, int box);

    TestResolver m_resolver;
    ServicesProcess m_services;
    std::shared_ptr<DatabaseStack> m_stack;
    std::unique_ptr<Fabout> m_about;
    bool m_haveResolver = false;
};

#define REQUIRE_RESOLVER()                                                                         \
    do {                                                                                           \
        if (!m_haveResolver)                                                                       \
            QSKIP(qPrintable(m_resolver.reason()));                                                \
    } while (false)

void MainSearchTest::initTestCase()
{
    installFontSubstitutes();
    m_haveResolver = m_resolver.start();
    QVERIFY2(!m_resolver.broken(), qPrintable(m_resolver.reason()));
    if (!m_haveResolver)
        return;

    QString error;
    QVERIFY2(m_services.start(&error), qPrintable(error));

    test::TestDnsServer &dns = m_resolver.server();
    dns.addRecord(QStringLiteral("example.com"), {QStringLiteral("93.184.216.34")});
    dns.addRecord(QStringLiteral("example.de"), {QStringLiteral("10.0.0.6")});
    dns.addRecord(QStringLiteral("exampleshop.cn"), {QStringLiteral("10.0.0.7")});
    dns.addWildcard(QStringLiteral(".tk"), QStringLiteral("5.6.7.8"));

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(m_services.databasePath());
        QVERIFY(db.open());
        QVERIFY(exec(db, QStringLiteral("delete from ldomainprice")));
        QVERIFY(exec(db, QStringLiteral("delete from ldomainlist")));
        QVERIFY(exec(db, QStringLiteral("delete from svc_registered")));
        for (const auto &[kind, extension] : PriceRows) {
            QVERIFY(exec(db, QStringLiteral("insert into ldomainprice values (?, ?, ?)"),
                         {kind, extension, QString::number(10 + extension.size())}));
        }
        const QList<QStringList> listed = {
            {QStringLiteral("example"), QStringLiteral(".com"), QStringLiteral("example.com"), QStringLiteral("京ICP备123号")},
            {QStringLiteral("myexample"), QStringLiteral(".com"), QStringLiteral("myexample.com"), QStringLiteral("沪ICP备1号")},
            {QStringLiteral("exampleshop"), QStringLiteral(".cn"), QStringLiteral("exampleshop.cn"), QStringLiteral("")},
        };
        for (const QStringList &row : listed) {
            QVERIFY(exec(db, QStringLiteral("insert into ldomainlist (lname, lextend, lallname, lbackweb) "
                                            "values (?, ?, ?, ?)"),
                         {row[0], row[1], row[2], row[3]}));
        }
        QVERIFY(exec(db, QStringLiteral("insert into svc_registered values ('example.net')")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));

    m_stack = std::make_shared<DatabaseStack>(m_services.dataServiceUrl());
    QVERIFY(m_stack->database.getconnstr());
    // The configuration as the start-up sequence loads it: its ldomainurl is
    // the local service's status page.
    ConfigLoadResult config = loadConfigRecord(m_stack->database);
    QCOMPARE(config.outcome, ConfigLoadResult::Outcome::Loaded);
    m_about = std::make_unique<Fabout>(std::move(config.record), m_stack->platform);
    QVERIFY(m_about->value(QLatin1StringView("ldomainurl")).startsWith(m_services.baseUrl()));
}

void MainSearchTest::cleanup()
{
    if (m_haveResolver)
        m_resolver.server().setDelay(0ms);
}

std::unique_ptr<Fdomain> MainSearchTest::openWindow()
{
    auto w = std::make_unique<Fdomain>(std::shared_ptr<ServerDatabase>(m_stack, &m_stack->database),
                                       m_stack->platform);
    w->Load();
    w->setAbout(m_about.get());
    w->lload()->hide();
    w->show();
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w.get()))
        qWarning("the window did not become active");
    return w;
}

void MainSearchTest::search(Fdomain &w, const QString &text)
{
    w.lfind()->setText(text);
    w.lsearch()->click();
    QVERIFY(w.search().isRunning());
    QVERIFY(!w.stopflag());
    QTRY_VERIFY_WITH_TIMEOUT(!w.search().isRunning(), 60000);
}

void MainSearchTest::verifyIdle(Fdomain &w)
{
    QVERIFY(!w.search().isRunning());
    QVERIFY(w.stopflag());
    QVERIFY(w.fslide3()->isHidden());
    QCOMPARE(w.lslidetext3()->text(), QStringLiteral("0%"));
    QCOMPARE(w.lslideback3()->width(), 0);
    QTRY_VERIFY(w.lfind()->hasFocus());
}

void MainSearchTest::tickOnly(Fdomain &w, int box)
{
    w.lextendnum(box)->click();
    QVERIFY(!w.lextendnum1()->isChecked());
}

void MainSearchTest::oneComRow_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("plain, 搜索") << QStringLiteral("example") << false;
    QTest::newRow("spaces and dots, Enter") << QStringLiteral("  example.def.com ") << true;
}

void MainSearchTest::oneComRow()
{
    REQUIRE_RESOLVER();
    QFETCH(QString, typed);
    QFETCH(bool, byEnter);

    auto w = openWindow();
    tickOnly(*w, 0);
    w->lfind()->setText(typed);
    if (byEnter) {
        w->lfind()->setFocus();
        QTest::keyClick(w->lfind(), Qt::Key_Return);
    } else {
        w->lsearch()->click();
    }
    QVERIFY(w->search().isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!w->search().isRunning(), 60000);
    verifyIdle(*w);

    const ResultGridModel &grid = w->grid1()->grid();
    QCOMPARE(grid.rows(), 2);
    QCOMPARE(counterOf(*w), QStringLiteral("找到相关记录  1  条"));
    const QStringList expected{QStringLiteral("example.com"), {}, {}, QStringLiteral("example.com"),
                               QStringLiteral("已注册"), {}, QStringLiteral("京ICP备123号"),
                               QStringLiteral("93.184.216.34")};
    for (int c = 0; c < 8; ++c)
        QCOMPARE(grid.cellText(1, c), expected[c]);
    QCOMPARE(grid.cellColor(1, 6), std::optional<quint32>(255));
    QCOMPARE(grid.cellColor(1, 4), std::nullopt);
}

void MainSearchTest::boxRules()
{
    REQUIRE_RESOLVER();
    auto w = openWindow();
    const SearchBoxes &seen = w->search().boxes();
    QVERIFY(seen.all());

    // Ticking a kind unticks "全部", and the search sees both at once.
    w->lshowbak()->setFocus();
    w->lextendnum(1)->click();
    QVERIFY(!w->lextendnum1()->isChecked());
    QVERIFY(seen.kind(1) && !seen.all());
    QTRY_VERIFY(w->lfind()->hasFocus());
    w->lextendnum(16)->click();
    QVERIFY(seen.chosen(16) && !seen.chosen(0));

    // Unticking a kind leaves "全部" alone.
    w->lextendnum(16)->click();
    QVERIFY(!seen.kind(16));
    QVERIFY(!w->lextendnum1()->isChecked());

    // "全部" unticks every kind.
    w->lshowbak()->setFocus();
    w->lextendnum1()->click();
    QVERIFY(seen.all());
    for (int i = 0; i < Fdomain::ExtensionCount; ++i) {
        QVERIFY(!w->lextendnum(i)->isChecked());
        QVERIFY(!seen.kind(i));
    }
    QTRY_VERIFY(w->lfind()->hasFocus());

    w->lshowbak()->click();
    QVERIFY(seen.showRelated());
}

void MainSearchTest::noBoxTicked()
{
    REQUIRE_RESOLVER();
    auto w = openWindow();
    w->lextendnum1()->click();
    QVERIFY(!w->lextendnum1()->isChecked());
    search(*w, QStringLiteral("example"));
    verifyIdle(*w);
    QCOMPARE(w->grid1()->grid().rows(), 1);
    QCOMPARE(counterOf(*w), QStringLiteral("找到记录 0 条"));
}

void MainSearchTest::emptyKeywordKeepsGrid()
{
    REQUIRE_RESOLVER();
    auto w = openWindow();
    tickOnly(*w, 0);
    search(*w, QStringLiteral("example"));
    QCOMPARE(shownDomains(*w), QStringList{QStringLiteral("example.com")});

    // No keyword: no query, the grid and the counter stay as they were.
    for (const QString &typed : {QStringLiteral("   "), QStringLiteral(".com")}) {
        search(*w, typed);
        verifyIdle(*w);
        QCOMPARE(shownDomains(*w), QStringList{QStringLiteral("example.com")});
        QCOMPARE(counterOf(*w), QStringLiteral("找到相关记录  1  条"));
    }
}

void MainSearchTest::relatedRowsAfterPhaseOne()
{
    REQUIRE_RESOLVER();
    auto w = openWindow();
    w->lshowbak()->click();
    search(*w, QStringLiteral("example"));
    verifyIdle(*w);

    const QStringList related{QStringLiteral("myexample.com"), QStringLiteral("exampleshop.cn")};
    const QStringList phaseOne = phaseOneDomains(QStringLiteral("example"));
    QCOMPARE(shownDomains(*w), phaseOne + related);
    const int rows = int(phaseOne.size() + related.size());
    QCOMPARE(counterOf(*w), QStringLiteral("找到相关记录  %1  条").arg(rows));

    const ResultGridModel &grid = w->grid1()->grid();
    for (int r = 1; r <= rows; ++r) {
        QVERIFY2(!grid.cellText(r, 4).isEmpty(), qPrintable(grid.cellText(r, 3)));
        QCOMPARE(grid.cellText(r, 0), grid.cellText(r, 3));
    }
    // Status page confirmed, not red; unconfirmed: red with its price.
    const int net = int(phaseOne.indexOf(QStringLiteral("example.net"))) + 1;
    QCOMPARE(grid.cellText(net, 4), QStringLiteral("已注册"));
    QCOMPARE(grid.cellColor(net, 4), std::nullopt);
    const int biz = int(phaseOne.indexOf(QStringLiteral("example.biz"))) + 1;
    QCOMPARE(grid.cellText(biz, 4), QStringLiteral("未注册"));
    QCOMPARE(grid.cellColor(biz, 4), std::optional<quint32>(255));
    QCOMPARE(grid.cellText(biz, 5), QStringLiteral("14"));
    // Phase 2: the filing cell is red, the empty one too.
    const int shop = rows;
    QCOMPARE(grid.cellText(shop, 6), QString());
    QCOMPARE(grid.cellColor(shop, 6), std::optional<quint32>(255));
    QCOMPARE(grid.cellText(shop, 7), QStringLiteral("10.0.0.7"));
    QCOMPARE(grid.cellText(rows - 1, 6), QStringLiteral("沪ICP备1号"));
    QCOMPARE(grid.cellColor(rows - 1, 6), std::optional<quint32>(255));

    const QString folder = QStringLiteral("/tmp/norvale-shots");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(w->grab().save(folder + QStringLiteral("/fdomain-search.png")));
}

void MainSearchTest::stopDuringSearch()
{
    REQUIRE_RESOLVER();
    // Every lookup is slow, so the search is still running at its first row.
    m_resolver.server().setDelay(300ms);
    auto w = openWindow();
    w->lshowbak()->click();
    ResultGridModel &grid = w->grid1()->grid();

    bool barShown = false;
    bool timerRan = false;
    int rowsAtStop = 0;
    QMetaObject::Connection atFirstRow = connect(&grid, &QAbstractItemModel::rowsInserted, this, [&] {
        QObject::disconnect(atFirstRow);
        // A late activation leaves the search's progress bar alone.
        w->Activate();
        barShown = w->fslide3()->isVisible() && w->lslidetext3()->text() != QStringLiteral("0%");
        w->lstop()->click();
        QVERIFY(w->stopflag());
        rowsAtStop = grid.rows();
    });
    w->lfind()->setText(QStringLiteral("example"));
    w->lsearch()->click();
    // The interface thread keeps serving its event loop while the workers wait.
    QTimer::singleShot(0, this, [&] { timerRan = w->search().isRunning(); });
    QTRY_VERIFY_WITH_TIMEOUT(!w->search().isRunning(), 60000);
    QVERIFY(timerRan);
    QVERIFY(barShown);
    QCOMPARE(rowsAtStop, 2);
    verifyIdle(*w);

    // Nothing the workers still had in hand is written.
    QSignalSpy late(&grid, &QAbstractItemModel::rowsInserted);
    QVERIFY(!late.wait(1500));
    QCOMPARE(grid.rows(), rowsAtStop);
    QCOMPARE(counterOf(*w), QStringLiteral("找到相关记录  1  条"));
    QCOMPARE(grid.cellText(1, 3), QStringLiteral("example.com"));
    QCOMPARE(grid.cellText(1, 4), QStringLiteral("已注册"));
    QCOMPARE(grid.cellText(1, 6), QStringLiteral("京ICP备123号"));
}

void MainSearchTest::secondSearchDuringFirst()
{
    REQUIRE_RESOLVER();
    m_resolver.server().setDelay(200ms);
    auto w = openWindow();
    ResultGridModel &grid = w->grid1()->grid();
    QMetaObject::Connection atFirstRow = connect(&grid, &QAbstractItemModel::rowsInserted, this, [&] {
        QObject::disconnect(atFirstRow);
        w->lfind()->setText(QStringLiteral("myexample"));
        w->lsearch()->click();
    });
    search(*w, QStringLiteral("example"));
    verifyIdle(*w);
    const QStringList second = phaseOneDomains(QStringLiteral("myexample"));
    QCOMPARE(shownDomains(*w), second);
    QCOMPARE(counterOf(*w), QStringLiteral("找到相关记录  %1  条").arg(second.size()));
    for (int r = 1; r < grid.rows(); ++r)
        QVERIFY2(!grid.cellText(r, 4).isEmpty(), qPrintable(grid.cellText(r, 3)));
}

void MainSearchTest::closeDuringSearch()
{
    REQUIRE_RESOLVER();
    m_resolver.server().setDelay(300ms);
    const int exitsBefore = m_stack->platform.exitRequests();
    auto w = openWindow();
    QSignalSpy reset(&w->search().engine(), &DomainSearch::searchReset);
    w->lfind()->setText(QStringLiteral("example"));
    w->lsearch()->click();
    QVERIFY(reset.wait(60000));

    // The program ends at once; nothing waits for the workers.
    QVERIFY(!w->close());
    QCOMPARE(m_stack->platform.exitRequests(), exitsBefore + 1);
    QVERIFY(w->stopflag());
    // Where the platform returns, the window can go while workers still run.
    w.reset();

    m_resolver.server().setDelay(0ms);
    auto next = openWindow();
    tickOnly(*next, 0);
    search(*next, QStringLiteral("example"));
    QCOMPARE(shownDomains(*next), QStringList{QStringLiteral("example.com")});
}

QTEST_MAIN(MainSearchTest)
#include "MainSearchTest.moc"
