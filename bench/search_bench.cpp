// The domain search against the real stack, once one candidate at a time and
// once in parallel. Run it under tests/support/with-test-resolver; README.md
// in this folder explains the figures.
#include "norvale/data/ServerDatabase.h"
#include "norvale/search/DomainSearch.h"
#include "norvale/search/SearchRules.h"

#include "bench/StallProbe.h"
#include "tests/support/DatabaseStack.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TestSql.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

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

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}


QString extensionOf(const QString &kind, int j)
{
    if (j == 0)
        return kind;
    if (j <= 8)
        return kind + QStringLiteral("x") + QString::number(j);   // one dot: fetched when unresolved
    return QStringLiteral(".s") + QString::number(j) + kind;       // two dots: never fetched
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    test::TestResolver resolver;
    if (!resolver.start()) {
        say(QStringLiteral("search_bench: ") + resolver.reason()
            + QStringLiteral(" (run it under tests/support/with-test-resolver)"));
        return 2;
    }
    test::ServicesProcess::Options options;
    options.delayMs = StatusDelayMs;
    options.delayPath = QStringLiteral("/query/domain.asp");
    test::ServicesProcess services(options);
    QString error;
    if (!services.start(&error)) {
        say(QStringLiteral("search_bench: norvale-services: ") + error);
        return 2;
    }

    test::TestDnsServer &dns = resolver.server();
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
            lookups.emplace_back([&backend, name] { backend.resolve(name, nullptr); });
        for (std::thread &lookup : lookups)
            lookup.join();
    });
    const double candidate = secondsOf([&] {
        backend.resolve(probe, nullptr);
        backend.fetchStatusPage(backend.statusPageBase() + probe, nullptr);
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
    const Outcome parallel = search(engine, true);

    int status = 0;
    if (serial.events != parallel.events || serial.rows != candidates) {
        say(QStringLiteral("search_bench: the two searches differ (%1 and %2 rows of %3)")
                .arg(serial.rows).arg(parallel.rows).arg(candidates));
        for (qsizetype i = 0; i < std::max(serial.events.size(), parallel.events.size()); ++i) {
            if (serial.events.value(i) != parallel.events.value(i)) {
                say(QStringLiteral("  first difference at event %1:\n    serial:   %2\n    parallel: %3")
                        .arg(i).arg(serial.events.value(i), parallel.events.value(i)));
                break;
            }
        }
        status = 1;
    }

    std::printf("candidates=%d serial_s=%.3f parallel_s=%.3f speedup=%.1f critical_s=%.3f "
                "parallel_over_critical=%.2f max_stall_ms=%.1f\n",
                candidates, serial.seconds, parallel.seconds, serial.seconds / parallel.seconds,
                critical, parallel.seconds / critical, parallel.maxStallMs);
    std::fflush(stdout);
    return status;
}
