// What the verdict additions buy: a made-up world of 1,000 candidates judged
// by the reference names alone and with the additions, against the world's
// truth. Run it under tests/support/with-test-resolver; README.md in this
// folder describes the world.
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/SearchBackend.h"
#include "norvale/core/search/SearchBoxes.h"
#include "norvale/core/search/SearchRules.h"

#include "tests/support/DatabaseStack.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestRegistries.h"
#include "tests/support/TestResolver.h"
#include "tests/support/TestSql.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QRandomGenerator>

#include <cstdio>

using namespace norvale;

namespace {

constexpr int Keywords = 50;  // the first half through a plain resolver, the second through the ISP's

// Twenty extensions under their kinds. .ws has a wildcard zone; .xyz is a
// new extension whose registry answers every free name with the
// name-collision signal.
const std::pair<const char *, const char *> Extensions[] = {
    {".com", ".com"}, {".net", ".net"},   {".org", ".org"},   {".info", ".info"}, {".name", ".name"},
    {".biz", ".biz"}, {".us", ".us"},     {".uk", ".co.uk"},  {".eu", ".eu"},     {".de", ".de"},
    {".in", ".in"},   {".co", ".co"},     {".asia", ".asia"}, {".tk", ".tk"},     {".cn", ".cn"},
    {".cn", ".com.cn"}, {".other", ".ws"}, {".other", ".xyz"}, {".other", ".top"}, {".other", ".cc"},
};

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

QString keywordOf(int k)
{
    return QStringLiteral("vb%1shop").arg(k, 2, 10, QLatin1Char('0'));
}

// Empties the operator's tables but for one price per extension.
bool pricesOnly(QSqlDatabase &db)
{
    bool ok = test::execSql(db, QStringLiteral("delete from ldomainprice"))
              && test::execSql(db, QStringLiteral("delete from ldomainlist"))
              && test::execSql(db, QStringLiteral("delete from svc_registered"));
    for (const auto &[kind, extension] : Extensions) {
        ok = ok && test::execSql(db, QStringLiteral("insert into ldomainprice values (?, ?, '50')"),
                                 {QString::fromUtf8(kind), QString::fromUtf8(extension)});
    }
    return ok;
}

// The world: which names are registered, and what the DNS knows. Returns
// the truth per candidate, or an empty map when the database refused.
QHash<QString, bool> makeWorld(const QString &databasePath, test::TestDnsServer &dns)
{
    QHash<QString, bool> registered;
    QRandomGenerator random(20240613);  // the same world every run
    const bool filled = test::fillDatabase(databasePath, [&](QSqlDatabase &db) {
        bool ok = pricesOnly(db);
        for (int k = 0; ok && k < Keywords; ++k) {
            for (int e = 0; ok && e < int(std::size(Extensions)); ++e) {
                const QString name = keywordOf(k) + QString::fromUtf8(Extensions[e].second);
                const bool taken = random.bounded(100) < 45;
                registered.insert(name, taken);
                if (!taken)
                    continue;  // no record: NXDOMAIN, or the zone's wildcard
                ok = test::execSql(db, QStringLiteral("insert into svc_registered values (?)"), {name});
                // Most registered names have a host; the rest are parked
                // without one (NOERROR, no address).
                if (random.bounded(100) < 80)
                    dns.addRecord(name, {QStringLiteral("10.%1.%2.1").arg(k).arg(e + 1)});
                else
                    dns.addRecord(name, {});
            }
        }
        return ok;
    });
    if (!filled)
        return {};
    dns.addWildcard(QStringLiteral(".ws"), QStringLiteral("203.0.113.80"));
    dns.addWildcard(QStringLiteral(".xyz"), QStringLiteral("127.0.53.53"));
    return registered;
}

// An ISP's resolver: every unknown name under a top-level domain gets that
// domain's redirect host, one of the ISP's own addresses.
void answerEveryUnknownName(test::TestDnsServer &dns)
{
    QStringList tlds;
    for (const auto &[kind, extension] : Extensions) {
        const QString tld = QString::fromUtf8(extension).section(u'.', -1);
        if (!tlds.contains(tld))
            tlds << tld;
    }
    for (int i = 0; i < tlds.size(); ++i)
        dns.addWildcard(u'.' + tlds[i], QStringLiteral("198.51.100.%1").arg(101 + i));
}

struct Errors {
    int candidates = 0;
    int falseRegistered = 0;
    int falseFree = 0;
    int failed = 0;   // "查询失败": no verdict
};

// One search of the keywords [from, to) under "全部", judged against the truth.
Errors judge(const SearchBackend &backend, bool sharper, int from, int to,
             const QHash<QString, bool> &registered)
{
    auto boxes = std::make_shared<SearchBoxes>();
    DomainSearch engine(backend, boxes);
    engine.setSharperVerdicts(sharper);
    Errors errors;
    QEventLoop loop;
    QObject::connect(&engine, &DomainSearch::rowReady, &loop, [&](quint64, const SearchRow &row) {
        ++errors.candidates;
        const QString &status = row.cells[column::Status];
        const bool taken = registered.value(row.cells[column::Domain]);
        if (status == QStringLiteral("已注册") && !taken)
            ++errors.falseRegistered;
        else if (status == QStringLiteral("未注册") && taken)
            ++errors.falseFree;
        else if (status == QStringLiteral("查询失败"))
            ++errors.failed;
    });
    QObject::connect(&engine, &DomainSearch::finished, &loop, &QEventLoop::quit);
    QStringList keywords;
    for (int k = from; k < to; ++k)
        keywords << keywordOf(k);
    engine.startList(keywords);
    loop.exec();
    return errors;
}

Errors operator+(Errors a, const Errors &b)
{
    a.candidates += b.candidates;
    a.falseRegistered += b.falseRegistered;
    a.falseFree += b.falseFree;
    a.failed += b.failed;
    return a;
}

// The same world with nothing in the operator's tables: services that ask
// registries of their own, RDAP for most top-level domains and port-43 whois
// for .cn (and .com.cn on the same server), .de, .eu and .tk, which know the
// world's truth. Every keyword through the resolver as it stands.
Errors judgeWithRegistries(const QHash<QString, bool> &registered, QString *error)
{
    test::TestRegistries registries;
    const QStringList byWhois{QStringLiteral("cn"), QStringLiteral("com.cn"), QStringLiteral("de"),
                              QStringLiteral("eu"), QStringLiteral("tk")};
    QStringList zones;
    for (const auto &[kind, extension] : Extensions) {
        QString zone = QString::fromUtf8(extension).mid(1);
        if (zone == QLatin1StringView("co.uk"))
            zone = QStringLiteral("uk");   // asked of the .uk registry, as Nominet's RDAP serves it
        if (zones.contains(zone))
            continue;
        zones << zone;
        const bool whois = byWhois.contains(zone);
        registries.addZone(zone, whois ? test::TestRegistries::Protocol::Whois : test::TestRegistries::Protocol::Rdap,
                           {}, zone == QLatin1StringView("com.cn") ? QStringLiteral("cn") : QString());
    }
    for (auto it = registered.cbegin(); it != registered.cend(); ++it) {
        if (it.value())
            registries.setAnswer(it.key(), test::RegistryAnswer::Registered);
    }
    if (!registries.start(error))
        return {};
    test::ServicesProcess::Options options;
    options.extraArguments = registries.servicesArguments();
    test::ServicesProcess services(options);
    if (!services.start(error))
        return {};
    const bool filled = test::fillDatabase(services.databasePath(), pricesOnly);
    if (!filled) {
        *error = QStringLiteral("could not fill the registries' services database");
        return {};
    }
    auto stack = std::make_shared<test::DatabaseStack>(services.dataServiceUrl());
    const QString statusBase = services.baseUrl() + QStringLiteral("/query/domain.asp?domain=");
    const SearchBackend backend =
        makeServerBackend(test::DatabaseStack::shared(stack), [statusBase] { return statusBase; });
    const Errors errors = judge(backend, true, 0, Keywords, registered);
    say(QStringLiteral("registries:     %1 queries answered").arg(registries.queries()));
    return errors;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    test::TestResolver resolver;
    if (!resolver.start()) {
        say(QStringLiteral("verdict_bench: ") + resolver.reason()
            + QStringLiteral(" (run it under tests/support/with-test-resolver)"));
        return 2;
    }
    test::ServicesProcess services;
    QString error;
    if (!services.start(&error)) {
        say(QStringLiteral("verdict_bench: norvale-services: ") + error);
        return 2;
    }
    test::TestDnsServer &dns = resolver.server();
    const QHash<QString, bool> registered = makeWorld(services.databasePath(), dns);
    if (registered.size() != Keywords * int(std::size(Extensions))) {
        say(QStringLiteral("verdict_bench: could not fill the database"));
        return 2;
    }

    auto stack = std::make_shared<test::DatabaseStack>(services.dataServiceUrl());
    const QString statusBase = services.baseUrl() + QStringLiteral("/query/domain.asp?domain=");
    const SearchBackend backend =
        makeServerBackend(test::DatabaseStack::shared(stack), [statusBase] { return statusBase; });

    const int half = Keywords / 2;
    const Errors partPlain = judge(backend, false, 0, half, registered);
    const Errors addedPlain = judge(backend, true, 0, half, registered);
    answerEveryUnknownName(dns);
    const Errors partIsp = judge(backend, false, half, Keywords, registered);
    const Errors addedIsp = judge(backend, true, half, Keywords, registered);
    say(QStringLiteral("plain resolver: reference names %1/%2 false registered/free, with the additions %3/%4")
            .arg(partPlain.falseRegistered).arg(partPlain.falseFree)
            .arg(addedPlain.falseRegistered).arg(addedPlain.falseFree));
    say(QStringLiteral("ISP resolver:   reference names %1/%2 false registered/free, with the additions %3/%4")
            .arg(partIsp.falseRegistered).arg(partIsp.falseFree)
            .arg(addedIsp.falseRegistered).arg(addedIsp.falseFree));

    const Errors part = partPlain + partIsp;
    const Errors added = addedPlain + addedIsp;
    if (part.candidates != registered.size() || added.candidates != registered.size()) {
        say(QStringLiteral("verdict_bench: the searches judged %1 and %2 of %3 candidates")
                .arg(part.candidates).arg(added.candidates).arg(registered.size()));
        return 2;
    }

    QString registryError;
    const Errors withRegistries = judgeWithRegistries(registered, &registryError);
    if (withRegistries.candidates != registered.size()) {
        say(QStringLiteral("verdict_bench: with registries, %1 of %2 candidates judged %3")
                .arg(withRegistries.candidates).arg(registered.size()).arg(registryError));
        return 2;
    }
    say(QStringLiteral("registries:     %1/%2 false registered/free, %3 without a verdict")
            .arg(withRegistries.falseRegistered).arg(withRegistries.falseFree).arg(withRegistries.failed));

    std::printf("candidates=%d part_false_registered=%d part_false_free=%d added_false_registered=%d "
                "added_false_free=%d registry_false_free=%d registry_false_registered=%d\n",
                int(registered.size()), part.falseRegistered, part.falseFree, added.falseRegistered,
                added.falseFree, withRegistries.falseFree, withRegistries.falseRegistered);
    std::fflush(stdout);
    return added.falseRegistered == 0 && added.falseFree <= part.falseFree && withRegistries.falseFree == 0
                   && withRegistries.falseRegistered == 0
               ? 0
               : 1;
}
