// A thousand searches with their lookups in one process against the local
// services, watching resident memory, open descriptors and threads. Run it
// under tests/support/with-test-resolver; README.md in this folder explains it.
#include "norvale/core/lookup/FilingLookup.h"
#include "norvale/core/lookup/IpLookup.h"
#include "norvale/core/lookup/WhoisLookup.h"
#include "norvale/core/search/DomainSearch.h"

#include "tests/support/DatabaseStack.h"
#include "tests/support/SearchToEnd.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <memory>

using namespace norvale;

namespace {

// Seeded names, each with filed domains, whois records and shared hosts.
const QStringList Keywords{QStringLiteral("chenglan"), QStringLiteral("ruiji"), QStringLiteral("hengfeng"),
                           QStringLiteral("kangxin")};

struct Sample {
    double rssMb = 0;
    int fds = 0;
    int threads = 0;
};

// From /proc: resident memory, open descriptors and threads of this process.
Sample sample()
{
    Sample now;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                now.rssMb = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
            else if (line.startsWith("Threads:"))
                now.threads = line.mid(8).trimmed().toInt();
        }
    }
    now.fds = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
    return now;
}

// Lets every worker end and every report arrive, and gives threads that end
// on their own (a worker's database connection) a moment to be gone, so
// samples see a resting program.
void settle()
{
    test::drainWorkers();
    int steady = 0;
    for (int last = -1, tries = 0; steady < 5 && tries < 100; ++tries) {
        QThread::msleep(20);
        const int now = sample().threads;
        steady = now == last ? steady + 1 : 0;
        last = now;
    }
}

class Soak final {
public:
    Soak(std::shared_ptr<test::DatabaseStack> stack, const QString &base)
        : m_stack(std::move(stack)), m_base(base), m_boxes(std::make_shared<SearchBoxes>())
    {
        m_boxes->setShowRelated(true);
        const QString status = base + QStringLiteral("/query/domain.asp?domain=");
        m_search = std::make_unique<DomainSearch>(
            makeServerBackend(test::DatabaseStack::shared(m_stack), [status] { return status; }), m_boxes);
        const LookupBackend lookups = makeServerLookupBackend(test::DatabaseStack::shared(m_stack));
        m_whois = std::make_unique<WhoisLookup>(lookups);
        m_whois->setPageBase(base + QStringLiteral("/query/whois.asp?domain="));
        m_ip = std::make_unique<IpLookup>(lookups);
        m_ip->setPages(base + QStringLiteral("/query/ip.asp?ip="), base + QStringLiteral("/query/ipmess.asp?ip="));
        m_filing = std::make_unique<FilingLookup>(lookups);
        QObject::connect(m_search.get(), &DomainSearch::finished, &m_loop, &QEventLoop::quit);
        QObject::connect(m_whois.get(), &WhoisLookup::finished, &m_loop, &QEventLoop::quit);
        QObject::connect(m_ip.get(), &IpLookup::finished, &m_loop, &QEventLoop::quit);
        QObject::connect(m_filing.get(), &FilingLookup::finished, &m_loop, &QEventLoop::quit);
    }

    // One search, then the three lookups of its first filed domain, each to its end.
    int round(int n)
    {
        const QString keyword = Keywords.at(n % Keywords.size());
        int rows = 0;
        const QMetaObject::Connection counting =
            QObject::connect(m_search.get(), &DomainSearch::rowReady, &m_loop, [&rows] { ++rows; });
        m_search->start(keyword);
        m_loop.exec();
        QObject::disconnect(counting);
        const QString name = keyword + QStringLiteral(".cn");
        m_whois->start(name);
        m_loop.exec();
        m_ip->start(name);
        m_loop.exec();
        m_filing->start(name);
        m_loop.exec();
        return rows;
    }

private:
    std::shared_ptr<test::DatabaseStack> m_stack;
    QString m_base;
    std::shared_ptr<SearchBoxes> m_boxes;
    QEventLoop m_loop;
    std::unique_ptr<DomainSearch> m_search;
    std::unique_ptr<WhoisLookup> m_whois;
    std::unique_ptr<IpLookup> m_ip;
    std::unique_ptr<FilingLookup> m_filing;
};

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int searches = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    test::TestResolver resolver;
    if (!resolver.start()) {
        say(QStringLiteral("soak: no test resolver: ") + resolver.reason());
        return 2;
    }
    // About half the candidates resolve; the rest are judged by the status page.
    const QStringList resolving{QStringLiteral(".com"), QStringLiteral(".net"), QStringLiteral(".cn"),
                                QStringLiteral(".de"), QStringLiteral(".info")};
    for (const QString &keyword : Keywords) {
        for (const QString &extension : resolving)
            resolver.server().addRecord(keyword + extension, {QStringLiteral("192.0.2.21")});
    }
    test::ServicesProcess services;
    QString error;
    if (!services.start(&error)) {
        say(QStringLiteral("soak: ") + error);
        return 2;
    }
    auto stack = std::make_shared<test::DatabaseStack>(services.dataServiceUrl());
    Soak soak(stack, services.baseUrl());

    // The first hundred bring the pools, connections and the allocator's
    // per-thread arenas to their working size; the start figures follow them.
    Sample start;
    Sample end;
    for (int n = 1; n <= searches; ++n) {
        if (soak.round(n) == 0) {
            say(QStringLiteral("soak: search %1 gave no rows").arg(n));
            return 2;
        }
        resolver.server().forgetQueriedNames();   // the test server's record, not the program's
        if (n % 100 == 0 || n == searches) {
            settle();
            end = sample();
            if (start.threads == 0)
                start = end;
            say(QStringLiteral("after %1: rss_mb=%2 fds=%3 threads=%4")
                    .arg(n)
                    .arg(end.rssMb, 0, 'f', 1)
                    .arg(end.fds)
                    .arg(end.threads));
        }
    }
    std::printf("searches=%d rss_start_mb=%.1f rss_end_mb=%.1f fds_start=%d fds_end=%d threads_start=%d "
                "threads_end=%d\n",
                searches, start.rssMb, end.rssMb, start.fds, end.fds, start.threads, end.threads);
    const bool met = end.rssMb < start.rssMb * 1.10 && end.fds <= start.fds && end.threads <= start.threads;
    return met ? 0 : 1;
}
