// What the registries behind the status page cost and give: a world of
// names across many zones, served by local RDAP and port-43 registries that
// limit each server to 10 queries a second and take a while per answer, one
// of them down, asked through norvale-services once cold and once warm.
// README.md in this folder describes the world.
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestRegistries.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QUrl>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <numeric>
#include <thread>
#include <vector>

using namespace norvale;
using test::RegistryAnswer;
using test::TestRegistries;

namespace {

constexpr double kRate = 10;          // queries per second per registry server
constexpr int kDelayMs = 30;          // per answer
constexpr int kNamesPerServer = 330;
constexpr int kClients = 64;          // asks at once, as many traders would

struct Registry {
    TestRegistries::Protocol protocol;
    QStringList zones;   // the first is the one the bootstrap or the table lists first
};

// Seven registry servers for twenty zones, second-level ones among them.
const QList<Registry> &world()
{
    using P = TestRegistries::Protocol;
    static const QList<Registry> registries{
        {P::Rdap, {QStringLiteral("alpha"), QStringLiteral("bravo"), QStringLiteral("co.bravo")}},
        {P::Rdap, {QStringLiteral("charlie"), QStringLiteral("delta"), QStringLiteral("echo")}},
        {P::Rdap, {QStringLiteral("foxtrot"), QStringLiteral("golf"), QStringLiteral("co.golf")}},
        {P::Rdap, {QStringLiteral("hotel"), QStringLiteral("india"), QStringLiteral("juliet")}},
        {P::Whois, {QStringLiteral("lima"), QStringLiteral("com.lima"), QStringLiteral("net.lima"), QStringLiteral("bj.lima")}},
        {P::Whois, {QStringLiteral("mike"), QStringLiteral("november"), QStringLiteral("oscar")}},
        {P::Down, {QStringLiteral("papa")}},
    };
    return registries;
}

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

enum class Seen { Registered, Free, Unknown, Failed };

// Asks the status page for every name, kClients at a time.
std::vector<Seen> askAll(const QString &base, const QStringList &names)
{
    std::vector<Seen> seen(size_t(names.size()), Seen::Failed);
    std::atomic<qsizetype> next{0};
    const QUrl url(base);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            httplib::Client client(url.host().toStdString(), url.port());
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_read_timeout(60, 0);
            for (qsizetype i = next++; i < names.size(); i = next++) {
                const auto result = client.Get("/query/domain.asp?domain=" + names[i].toStdString());
                if (!result)
                    continue;
                if (result->status == 503)
                    seen[size_t(i)] = Seen::Unknown;
                else if (result->status == 200)
                    seen[size_t(i)] = result->body.find("|domain|") != std::string::npos ? Seen::Registered : Seen::Free;
            }
        });
    }
    for (std::thread &client : clients)
        client.join();
    return seen;
}

long long statsValue(const QString &base, const char *key)
{
    const QUrl url(base);
    httplib::Client client(url.host().toStdString(), url.port());
    const auto result = client.Get("/stats");
    if (!result)
        return -1;
    const std::string prefix = std::string("registry ") + key + ' ';
    const size_t at = result->body.find(prefix);
    return at == std::string::npos ? -1 : std::atoll(result->body.c_str() + at + prefix.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QRandomGenerator random(20240917);   // the same world every run

    TestRegistries registries;
    const TestRegistries::Behaviour behaviour{kRate, kDelayMs};
    for (const Registry &registry : world()) {
        for (const QString &zone : registry.zones)
            registries.addZone(zone, registry.protocol, behaviour, registry.zones.first());
    }

    // The truth, the registries' fixtures and the operator's reservations.
    QStringList names;
    QHash<QString, bool> taken;
    QStringList reserved;
    QHash<QString, int> queried;   // names that need a query, per server
    int downNames = 0;
    for (const Registry &registry : world()) {
        for (int i = 0; i < kNamesPerServer; ++i) {
            const QString &zone = registry.zones.at(i % registry.zones.size());
            const QString name = QStringLiteral("n%1w%2.").arg(i).arg(random.bounded(100000)) + zone;
            names << name;
            const int roll = int(random.bounded(100));
            if (registry.protocol == TestRegistries::Protocol::Down) {
                ++downNames;
                taken.insert(name, roll < 50);
                continue;
            }
            if (roll < 5) {
                reserved << name;   // the registry calls it free; the operator holds it
                taken.insert(name, true);
                continue;
            }
            const RegistryAnswer answer = roll < 40   ? RegistryAnswer::Registered
                                          : roll < 45 ? RegistryAnswer::ClientHold
                                          : roll < 50 ? RegistryAnswer::PendingDelete
                                                      : RegistryAnswer::Free;
            registries.setAnswer(name, answer);
            taken.insert(name, answer != RegistryAnswer::Free);
            ++queried[registry.zones.first()];
        }
    }
    QString error;
    if (!registries.start(&error)) {
        say(QStringLiteral("registry_bench: ") + error);
        return 2;
    }
    test::ServicesProcess::Options options;
    options.extraArguments = registries.servicesArguments()
                             << QStringLiteral("--registry-rate") << QString::number(kRate)
                             << QStringLiteral("--registry-in-flight") << QStringLiteral("4");
    test::ServicesProcess services(options);
    if (!services.start(&error)) {
        say(QStringLiteral("registry_bench: norvale-services: ") + error);
        return 2;
    }
    for (const QString &name : std::as_const(reserved)) {
        if (!services.execSql(QStringLiteral("INSERT INTO svc_registered VALUES ('%1')").arg(name))) {
            say(QStringLiteral("registry_bench: could not reserve ") + name);
            return 2;
        }
    }

    // Traders ask in no particular order.
    QStringList order = names;
    std::shuffle(order.begin(), order.end(), random);
    QElapsedTimer timer;
    timer.start();
    const std::vector<Seen> cold = askAll(services.baseUrl(), order);
    const double coldSeconds = double(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    const std::vector<Seen> warm = askAll(services.baseUrl(), order);
    const double warmSeconds = double(timer.nsecsElapsed()) / 1e9;

    int falseFree = 0;
    int falseRegistered = 0;
    int unknown = 0;
    int warmUnknown = 0;
    int failed = 0;
    for (const std::vector<Seen> *pass : {&cold, &warm}) {
        for (qsizetype i = 0; i < order.size(); ++i) {
            const bool truth = taken.value(order[i]);
            switch ((*pass)[size_t(i)]) {
            case Seen::Registered:
                falseRegistered += truth ? 0 : 1;
                break;
            case Seen::Free:
                falseFree += truth ? 1 : 0;
                break;
            case Seen::Unknown:
                ++(pass == &cold ? unknown : warmUnknown);
                if (!order[i].endsWith(world().last().zones.first()))
                    say(QStringLiteral("registry_bench: no answer for ") + order[i]);
                break;
            case Seen::Failed:
                ++failed;
                break;
            }
        }
    }
    double bound = 0;
    for (const int count : std::as_const(queried))
        bound = std::max(bound, count / kRate);
    say(QStringLiteral("registry_bench: %1 names in %2 zones on %3 servers, %4 of them on the server that is down, "
                       "%5 reserved by the operator; %6 pages without an answer")
            .arg(names.size()).arg(std::accumulate(world().cbegin(), world().cend(), 0,
                                                   [](int n, const Registry &r) { return n + int(r.zones.size()); }))
            .arg(world().size()).arg(downNames).arg(reserved.size()).arg(failed));

    const double overBound = coldSeconds / bound;
    std::printf("names=%d false_free=%d false_registered=%d unknown=%d registry_queries=%lld cache_hits=%lld "
                "cold_s=%.2f bound_s=%.2f cold_over_bound=%.2f warm_s=%.2f\n",
                int(names.size()), falseFree, falseRegistered, unknown, statsValue(services.baseUrl(), "queries"),
                statsValue(services.baseUrl(), "cache_hits"), coldSeconds, bound, overBound, warmSeconds);
    std::fflush(stdout);
    const bool met = falseFree == 0 && falseRegistered == 0 && unknown == downNames && warmUnknown == downNames && failed == 0 && overBound <= 1.2
                     && warmSeconds * 20 <= coldSeconds;
    return met ? 0 : 1;
}
