// The IP reverse lookup against the real stack, once one candidate at a time
// and once in parallel. Run it under tests/support/with-test-resolver;
// README.md in this folder explains the figures.
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/lookup/IpLookup.h"

#include "bench/StallProbe.h"
#include "tests/support/DatabaseStack.h"
#include "tests/support/IpLookupRecord.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"
#include "tests/support/TestSql.h"

#include "norvale/gui/tools/Fip.h"
#include "tests/support/TestHttpServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace norvale;

namespace {

const QString Queried = QStringLiteral("10.60.0.1");
constexpr int Candidates = 200;
constexpr int DnsDelayMs = 30;


void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The first page's list: every third entry repeats an earlier name; of the
// distinct names every other one lives on the queried address, the rest
// elsewhere. Returns the number of distinct names.
int seed(const QString &databasePath, test::TestDnsServer &dns)
{
    QStringList names;
    int distinct = 0;
    for (int i = 0; i < Candidates; ++i) {
        if (i % 3 == 2) {
            names << names[i / 3];
            continue;
        }
        const QString name = QStringLiteral("bench%1.test").arg(distinct);
        dns.addRecord(name, {distinct % 2 == 0 ? Queried : QStringLiteral("10.60.1.%1").arg(distinct % 250)});
        names << name;
        ++distinct;
    }
    const bool ok = test::fillDatabase(databasePath, [&](QSqlDatabase &db) {
        for (const QString &name : std::as_const(names)) {
            if (!test::execSql(db, QStringLiteral("insert into svc_hosts values (?, ?)"), {name, Queried}))
                return false;
        }
        return test::execSql(db, QStringLiteral("insert into svc_geo (lip, lcountry, lcity) values (?, ?, ?)"),
                             {Queried, QStringLiteral("中国"), QStringLiteral("深圳")});
    });
    return ok ? distinct : -1;
}

struct Outcome {
    QStringList events;
    int listed = 0;
    qsizetype queries = 0;
    double seconds = 0;
    double maxStallMs = 0;
};

Outcome lookUp(IpLookup &engine, test::TestDnsServer &dns, bool probeStalls)
{
    Outcome outcome;
    QEventLoop loop;
    test::IpLookupRecord record(engine);
    QObject::connect(&engine, &IpLookup::finished, &record.scope(), [&] { loop.quit(); });

    bench::StallProbe stalls;

    const qsizetype asked = dns.queriedNames().size();
    QElapsedTimer clock;
    clock.start();
    if (probeStalls)
        stalls.start();
    const quint64 generation = engine.start(Queried);
    loop.exec();
    outcome.seconds = double(clock.nsecsElapsed()) / 1e9;
    outcome.events = record.of(generation);
    outcome.listed = int(outcome.events.filter(QStringLiteral("list ")).size());
    outcome.maxStallMs = stalls.maxStallMs();
    outcome.queries = dns.queriedNames().size() - asked;
    return outcome;
}

// A reverse-lookup page naming BigPageNames names that all resolve to the
// address, looked up in the IP window: the longest stall of the window.
constexpr int BigPageNames = 1000000;
const QString BigAddress = QStringLiteral("10.61.0.1");

struct BigPage {
    double seconds = 0;
    double maxStallMs = 0;
    int listed = 0;
    QString countLine;
};

BigPage lookUpBigPage(const std::shared_ptr<test::DatabaseStack> &stack, const test::ServicesProcess &services,
                      test::TestDnsServer &dns)
{
    std::string page;
    page.reserve(std::size_t(BigPageNames) * 26);
    for (int i = 0; i < BigPageNames; ++i)
        page += "|cite|n" + std::to_string(i) + ".big|/cite|\n";
    dns.addWildcard(QStringLiteral(".big"), BigAddress);
    test::TestHttpServer server;
    server.get("/ip", [&page](const httplib::Request &, httplib::Response &res) { res.set_content(page, "text/html"); });
    BigPage outcome;
    if (!server.start())
        return outcome;

    Fip window(makeServerLookupBackend(test::DatabaseStack::shared(stack)));
    window.setPages(server.url(QStringLiteral("/ip?ip=")), services.baseUrl() + QStringLiteral("/query/ipmess.asp?ip="));
    window.show();
    window.ltext()->setText(BigAddress);
    QEventLoop loop;
    QObject::connect(&window.engine(), &IpLookup::finished, &loop, &QEventLoop::quit);
    bench::StallProbe stalls;
    QElapsedTimer clock;
    clock.start();
    stalls.start();
    window.lfind_Click();
    loop.exec();
    // The list fills a batch a frame after the count has come.
    QTimer drained;
    QObject::connect(&drained, &QTimer::timeout, &loop, [&] {
        if (window.llist()->count() >= IpLookup::listLimit || clock.elapsed() > 600000)
            loop.quit();
    });
    drained.start(5);
    loop.exec();
    outcome.seconds = double(clock.nsecsElapsed()) / 1e9;
    outcome.maxStallMs = stalls.maxStallMs();
    outcome.listed = window.llist()->count();
    outcome.countLine = window.lcount()->text();
    return outcome;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    test::TestResolver resolver;
    if (!resolver.start()) {
        say(QStringLiteral("ip_bench: ") + resolver.reason()
            + QStringLiteral(" (run it under tests/support/with-test-resolver)"));
        return 2;
    }
    test::ServicesProcess services;
    QString error;
    if (!services.start(&error)) {
        say(QStringLiteral("ip_bench: norvale-services: ") + error);
        return 2;
    }
    test::TestDnsServer &dns = resolver.server();
    const int distinct = seed(services.databasePath(), dns);
    if (distinct <= 0) {
        say(QStringLiteral("ip_bench: could not fill the database"));
        return 2;
    }
    dns.setDelay(std::chrono::milliseconds(DnsDelayMs));

    auto stack = std::make_shared<test::DatabaseStack>(services.dataServiceUrl());
    IpLookup engine(makeServerLookupBackend(test::DatabaseStack::shared(stack)));
    engine.setPages(services.baseUrl() + QStringLiteral("/query/ip.asp?ip="),
                    services.baseUrl() + QStringLiteral("/query/ipmess.asp?ip="));

    engine.setParallelism(1);
    const Outcome serial = lookUp(engine, dns, false);
    engine.setParallelism(IpLookup::defaultParallelism);
    const Outcome parallel = lookUp(engine, dns, true);

    int status = 0;
    if (serial.events != parallel.events || serial.listed != (distinct + 1) / 2) {
        say(QStringLiteral("ip_bench: the two lookups differ (%1 and %2 names listed of %3 expected)")
                .arg(serial.listed).arg(parallel.listed).arg((distinct + 1) / 2));
        status = 1;
    }
    for (const Outcome *run : {&serial, &parallel}) {
        if (run->queries != distinct) {
            say(QStringLiteral("ip_bench: %1 DNS queries for %2 distinct candidates").arg(run->queries).arg(distinct));
            status = 1;
        }
    }

    dns.setDelay(std::chrono::milliseconds(0));
    const BigPage big = lookUpBigPage(stack, services, dns);
    say(QStringLiteral("ip_bench: big page: %1 listed in %2 s, \"%3\"").arg(big.listed).arg(big.seconds).arg(big.countLine));
    if (big.listed != IpLookup::listLimit) {
        say(QStringLiteral("ip_bench: the big page listed %1 names, not %2").arg(big.listed).arg(IpLookup::listLimit));
        status = 1;
    }

    std::printf("candidates=%d distinct=%d serial_s=%.3f parallel_s=%.3f speedup=%.1f max_stall_ms=%.1f "
                "big_page_names=%d big_page_max_stall_ms=%.1f\n",
                Candidates, distinct, serial.seconds, parallel.seconds, serial.seconds / parallel.seconds,
                parallel.maxStallMs, BigPageNames, big.maxStallMs);
    std::fflush(stdout);
    return status;
}
