// The domain search against the real stack: one candidate at a time, in
// parallel, in parallel with a lossy resolver, and a hundred thousand
// candidates through the main window. Run it under
// tests/support/with-test-resolver; README.md in this folder explains the
// figures.
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/ResultExport.h"
#include "norvale/core/search/SearchRules.h"
#include "norvale/core/work/WorkerPools.h"

#include "bench/BulkSearch.h"
#include "bench/GridSearch.h"
#include "bench/SearchBenchCli.h"
#include "bench/StallProbe.h"
#include "tests/support/DatabaseStack.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TestSql.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThreadPool>

#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace norvale;

namespace {

const QString Keyword = QStringLiteral("benchkey");
constexpr int ExtensionsPerKind = 12;
constexpr int RelatedRows = 16;
constexpr int StatusDelayMs = 50;
constexpr int DnsDelayMs = 30;
const QString StatusPath = QStringLiteral("/query/domain.asp");
// The share of DNS queries the lossy run drops, and the seed that picks them.
constexpr double DnsLoss = 0.05;
constexpr quint32 LossSeed = 8;
constexpr int BulkCandidates = 100000;

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}


QString extensionOf(const QString &kind, int j)
{
    if (j == 0)
        return kind;
    if (j <= 8)
        return kind + QStringLiteral("x") + QString::number(j);   // one dot
    return QStringLiteral(".s") + QString::number(j) + kind;       // two dots: asked as well
}

// Price table, filing numbers, registered names and DNS records. Returns the
// number of candidates the search will check.
int seed(const QString &databasePath, test::TestDnsServer &dns, QString *unresolvedProbe)
{
    int candidates = 0;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
    db.setDatabaseName(databasePath);
    if (!db.open())
        return -1;
    bool ok = test::execSql(db, QStringLiteral("begin"));
    ok = ok && test::execSql(db, QStringLiteral("delete from ldomainprice"));
    ok = ok && test::execSql(db, QStringLiteral("delete from ldomainlist"));
    ok = ok && test::execSql(db, QStringLiteral("delete from svc_registered"));
    const auto &kinds = extensionKinds();
    for (int k = 0; ok && k < kindCount; ++k) {
        for (int j = 0; ok && j < ExtensionsPerKind; ++j) {
            const QString extension = extensionOf(kinds[k], j);
            const QString name = Keyword + extension;
            ok = test::execSql(db, QStringLiteral("insert into ldomainprice values (?, ?, ?)"),
                      {kinds[k], extension, QString::number(10 + k * 5 + j)});
            ++candidates;
            // About half resolve; the .tk wildcard zone answers benchkey.tk.
            if (j % 2 == 0 && name != Keyword + QStringLiteral(".tk"))
                dns.addRecord(name, {QStringLiteral("10.1.%1.%2").arg(k).arg(j + 1)});
            if (j % 4 == 1)
                ok = ok && test::execSql(db, QStringLiteral("insert into svc_registered values (?)"), {name});
            if (j % 4 == 3 && unresolvedProbe->isEmpty())
                *unresolvedProbe = name;
            if (j == 2 || j == 3) {
                ok = ok && test::execSql(db, QStringLiteral("insert into ldomainlist (lname, lextend, lallname, lbackweb) "
                                                   "values (?, ?, ?, ?)"),
                                {Keyword, extension, name, QStringLiteral("京ICP备%1号").arg(k * 100 + j)});
            }
        }
    }
    for (int i = 0; ok && i < RelatedRows; ++i) {
        const QString lname = Keyword + QStringLiteral("shop") + QString::number(i);
        const QString extension = kinds[i % kindCount];
        ok = test::execSql(db, QStringLiteral("insert into ldomainlist (lname, lextend, lallname, lbackweb) "
                                     "values (?, ?, ?, ?)"),
                  {lname, extension, QString(lname + extension),
                   i % 3 == 0 ? QStringLiteral("") : QStringLiteral("沪ICP备%1号").arg(i)});
        if (i % 2 == 0)
            dns.addRecord(lname + extension, {QStringLiteral("10.2.0.%1").arg(i + 1)});
        ++candidates;
    }
    ok = ok && test::execSql(db, QStringLiteral("commit"));
    db.close();
    return ok ? candidates : -1;
}

struct Outcome {
    QStringList events;
    QList<ResultRecord> records;
    int rows = 0;
    double seconds = 0;
    double maxStallMs = 0;
};

QString describe(const SearchRow &row)
{
    QString red;
    for (int c = 0; c < column::Count; ++c) {
        if (row.isRed(c))
            red += QString::number(c);
    }
    return QStringLiteral("row %1 [%2] red:%3").arg(row.row).arg(row.cells.join(u'|'), red);
}

Outcome search(DomainSearch &engine, bool probeStalls)
{
    Outcome outcome;
    QEventLoop loop;
    QObject scope;
    QObject::connect(&engine, &DomainSearch::searchReset, &scope,
                     [&](quint64) { outcome.events << QStringLiteral("reset"); });
    QObject::connect(&engine, &DomainSearch::progressStep, &scope,
                     [&](quint64, int done, int total, int percent) {
                         outcome.events << QStringLiteral("step %1/%2 %3%").arg(done).arg(total).arg(percent);
                     });
    QObject::connect(&engine, &DomainSearch::rowReady, &scope, [&](quint64, const SearchRow &row) {
        outcome.events << describe(row);
        outcome.records << resultRecord(row);
        ++outcome.rows;
    });
    QObject::connect(&engine, &DomainSearch::finished, &scope, [&](quint64) { loop.quit(); });

    bench::StallProbe stalls;

    QElapsedTimer clock;
    clock.start();
    if (probeStalls)
        stalls.start();
    engine.start(Keyword);
    loop.exec();
    outcome.seconds = double(clock.nsecsElapsed()) / 1e9;
    outcome.maxStallMs = stalls.maxStallMs();
    return outcome;
}

double secondsOf(const std::function<void()> &work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e9;
}

// The first event where two runs differ, said on stderr; true when none.
bool sameEvents(const QString &what, const Outcome &a, const Outcome &b)
{
    for (qsizetype i = 0; i < std::max(a.events.size(), b.events.size()); ++i) {
        if (a.events.value(i) != b.events.value(i)) {
            say(QStringLiteral("search_bench: %1 differ (%2 and %3 rows); first at event %4:\n    %5\n    %6")
                    .arg(what).arg(a.rows).arg(b.rows).arg(i).arg(a.events.value(i), b.events.value(i)));
            return false;
        }
    }
    return true;
}

// --grid: a million rows through the window, first, so that its resident
// size is the window's and not what the other searches left behind; its
// figures end the last line.
QString gridFigures(const QStringList &arguments, test::TestDnsServer &dns, int *status)
{
    if (!arguments.contains(QStringLiteral("--grid")))
        return {};
    const bench::GridOutcome grid = bench::runGridSearch(dns);
    if (!grid.ok) {
        say(QStringLiteral("search_bench: grid: ") + grid.error);
        *status = 1;
    }
    say(QStringLiteral("search_bench: grid: the longest stall ended %1 s into the %2 s search; %3 stalls over 16 ms")
            .arg(grid.worstStallAtS, 0, 'f', 1).arg(grid.searchS, 0, 'f', 1).arg(grid.framesMissed));
    say(QStringLiteral("search_bench: grid: the slower sort took %1 ms of the processor, the filter %2 ms")
            .arg(grid.sortCpuMs, 0, 'f', 0).arg(grid.filterCpuMs, 0, 'f', 0));
    return QStringLiteral(" grid_rows=%1 grid_rss_mb=%2 grid_max_stall_ms=%3 grid_sort_ms=%4 grid_filter_ms=%5")
        .arg(grid.rows)
        .arg(grid.rssMb, 0, 'f', 0)
        .arg(grid.maxStallMs, 0, 'f', 1)
        .arg(grid.sortMs, 0, 'f', 0)
        .arg(grid.filterMs, 0, 'f', 0);
}

} // namespace

int main(int argc, char **argv)
{
    // The bulk run shows the main window; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // --lookups N: the size of the name-lookup pool, to measure its bound.
    const QStringList arguments = QCoreApplication::arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--lookups")); at > 0)
        workpools::lookups().setMaxThreadCount(std::max(1, arguments.value(at + 1).toInt()));

    test::TestResolver resolver;
    if (!resolver.start()) {
        say(QStringLiteral("search_bench: ") + resolver.reason()
            + QStringLiteral(" (run it under tests/support/with-test-resolver)"));
        return 2;
    }
    test::ServicesProcess::Options options;
    options.delayMs = StatusDelayMs;
    options.delayPath = StatusPath;
    test::ServicesProcess services(options);
    QString error;
    if (!services.start(&error)) {
        say(QStringLiteral("search_bench: norvale-services: ") + error);
        return 2;
    }

    test::TestDnsServer &dns = resolver.server();
    int status = 0;
    const QString grid = gridFigures(arguments, dns, &status);
    dns.addWildcard(QStringLiteral(".tk"), QStringLiteral("5.6.7.8"));
    QString probe;
    const int candidates = seed(services.databasePath(), dns, &probe);
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
    if (candidates < 200) {
        say(QStringLiteral("search_bench: could not fill the database"));
        return 2;
    }
    dns.setDelay(std::chrono::milliseconds(DnsDelayMs));

    auto stack = std::make_shared<test::DatabaseStack>(services.dataServiceUrl());
    const QString statusBase = services.baseUrl() + QStringLiteral("/query/domain.asp?domain=");
    const SearchBackend backend = makeServerBackend(
        test::DatabaseStack::shared(stack), [statusBase] { return statusBase; });

    // Discovery and the first connection are paid once, before anything is timed.
    backend.queryFirst(QLatin1StringView(searchsql::filing), {probe});

    // The critical path: nothing can finish sooner than the wildcard
    // reference (its three names at once), then one candidate's checks one
    // after the other, plus the query that produced it.
    const double wildcard = secondsOf([&] {
        std::vector<std::thread> lookups;
        for (const QString &name : wildcardReferenceNames())
            lookups.emplace_back([&backend, name] { resolveOne(backend, name, nullptr); });
        for (std::thread &lookup : lookups)
            lookup.join();
    });
    const double lookup = secondsOf([&] { resolveOne(backend, probe, nullptr); });
    const double fetch = secondsOf([&] { backend.fetchStatusPage(backend.statusPageBase() + probe, nullptr); });
    const double candidate = lookup + fetch + secondsOf([&] {
        backend.queryFirst(QLatin1StringView(searchsql::filing), {probe});
    });
    const double kindQuery = secondsOf([&] {
        backend.queryRows(QLatin1StringView(searchsql::kindRows), {QStringLiteral(".com")},
                          {QStringLiteral("lextend"), QStringLiteral("lprice")});
    });
    const double critical = wildcard + candidate + kindQuery;

    auto boxes = std::make_shared<SearchBoxes>();   // "全部"
    boxes->setShowRelated(true);
    DomainSearch engine(backend, boxes);

    engine.setParallelism(1);
    const Outcome serial = search(engine, false);
    engine.setParallelism(DomainSearch::defaultParallelism);
    const int connectionsBefore = services.connectionCount(StatusPath);
    const int fetchesBefore = services.requestCount(StatusPath);
    const Outcome parallel = search(engine, true);
    const int connections = services.connectionCount(StatusPath) - connectionsBefore;
    const int fetches = services.requestCount(StatusPath) - fetchesBefore;
    // The fetches share the fetch pool's connections: the rest of the
    // critical path, then the fetches in waves of one per connection.
    const double bound = critical - fetch + fetch * fetches / workpools::fetches().maxThreadCount();

    dns.setLoss(DnsLoss, LossSeed);
    const Outcome lossy = search(engine, false);
    const int dropped = dns.droppedCount();
    dns.setLoss(0);
    dns.setDelay(std::chrono::milliseconds(0));

    if (serial.rows != candidates || !sameEvents(QStringLiteral("serial and parallel"), serial, parallel)
        || !sameEvents(QStringLiteral("clean and lossy"), parallel, lossy))
        status = 1;
    say(QStringLiteral("search_bench: the lossy run's resolver dropped %1 queries; the name-lookup pool has %2 threads")
            .arg(dropped).arg(workpools::lookups().maxThreadCount()));

    const bench::BulkOutcome bulk =
        bench::runBulkSearch(services.databasePath(), stack, dns, Keyword, BulkCandidates);
    if (!bulk.ok) {
        say(QStringLiteral("search_bench: bulk search: ") + bulk.error);
        return 2;
    }
    if (bulk.rows != BulkCandidates) {
        say(QStringLiteral("search_bench: the bulk search showed %1 rows of %2").arg(bulk.rows).arg(BulkCandidates));
        status = 1;
    }
    say(QStringLiteral("search_bench: the bulk search took %1 s").arg(bulk.seconds, 0, 'f', 3));

    // --cli: norvale-cli runs the same search as a process of its own.
    if (app.arguments().contains(QStringLiteral("--cli"))) {
        const bench::CliSearch cli = bench::runCliSearch(services.baseUrl(), Keyword, true);
        const bool same = cli.ok
                          && cli.rows == QJsonDocument::fromJson(
                                             ResultWriter::write(ResultFormat::Json, parallel.records)).array();
        if (!cli.ok)
            say(QStringLiteral("search_bench: ") + cli.problem);
        else if (!same)
            say(QStringLiteral("search_bench: norvale-cli's rows differ from the window engine's"));
        std::printf("cli_s=%.3f window_s=%.3f cli_rows=%d same_rows=%s\n", cli.seconds, parallel.seconds,
                    int(cli.rows.size()), same ? "yes" : "no");
        if (!same)
            status = 1;
    }

    std::printf("candidates=%d serial_s=%.3f parallel_s=%.3f speedup=%.1f critical_s=%.3f "
                "parallel_over_critical=%.2f max_stall_ms=%.1f lossy_s=%.3f lossy_over_parallel=%.2f "
                "status_connections=%d status_fetches=%d bound_s=%.3f parallel_over_bound=%.2f bulk_rows=%d "
                "bulk_max_stall_ms=%.1f%s\n",
                candidates, serial.seconds, parallel.seconds, serial.seconds / parallel.seconds,
                critical, parallel.seconds / critical, parallel.maxStallMs, lossy.seconds,
                lossy.seconds / parallel.seconds, connections, fetches, bound, parallel.seconds / bound, bulk.rows,
                bulk.maxStallMs, qPrintable(grid));
    std::fflush(stdout);
    return status;
}
