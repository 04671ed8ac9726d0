// A million candidates through norvale-cli against the local services and
// the test DNS server, beside the two capacities that bound such a search.
// Run it under tests/support/with-test-resolver; README.md in this folder
// explains the figures.
#include "norvale/core/search/KeywordPattern.h"
#include "norvale/core/search/SearchRules.h"

#include "bench/BulkCapacity.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"
#include "tests/support/TestSql.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <optional>

#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace norvale;

namespace {

// --pattern P searches another pattern's keywords: a shorter trial run.
QString Pattern = QStringLiteral("{声母}{声母}{声母}{声母}");
constexpr int Kinds = 7;                // .com .net .org .info .name .biz .us
constexpr int SmallCandidates = 10000;  // the size per_candidate_growth compares with
constexpr int CapacitySeconds = 5;
constexpr int StatusConnections = 16;
const QString StatusPath = QStringLiteral("/query/domain.asp?domain=");

void say(const QString &text)
{
    std::fprintf(stderr, "bulk_bench: %s\n", qPrintable(text));
}

QString kindList()
{
    QStringList kinds;
    for (int k = 0; k < Kinds; ++k)
        kinds << extensionKinds()[std::size_t(k)];
    return kinds.join(u',');
}

// One extension per kind, the kind itself; .com names resolve, the rest do
// not and so get their status page.
bool seed(const QString &databasePath)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(databasePath);
        ok = db.open() && test::execSql(db, QStringLiteral("begin"))
             && test::execSql(db, QStringLiteral("delete from ldomainprice"));
        for (int k = 0; ok && k < Kinds; ++k) {
            const QString kind = extensionKinds()[std::size_t(k)];
            ok = test::execSql(db, QStringLiteral("insert into ldomainprice values (?, ?, ?)"),
                               {kind, kind, QString::number(20 + k)});
        }
        ok = ok && test::execSql(db, QStringLiteral("commit"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
    return ok;
}

struct CliRun {
    bool ok = false;     // exited 0 (or was killed where asked)
    double seconds = 0;
    double rssMaxMb = 0;
};

// norvale-cli with its rows going to --resume file; with killAtBytes, it is
// killed (SIGKILL) once the file holds that many bytes. Keywords, when given,
// come on standard input instead of the pattern.
// VmHWM of a running process, in MB; 0 once it is gone.
double peakMb(pid_t process)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

CliRun runCli(const QString &service, const QString &file, const QString &keywordsFile, qint64 killAtBytes = 0)
{
    QStringList arguments{QStringLiteral(NORVALE_CLI_EXE), QStringLiteral("search"), QStringLiteral("--kinds"),
                          kindList(), QStringLiteral("--format"), QStringLiteral("csv"),
                          QStringLiteral("--resume"), file, QStringLiteral("--data-service"), service};
    if (keywordsFile.isEmpty())
        arguments << QStringLiteral("--pattern") << Pattern;
    std::vector<QByteArray> bytes;
    for (const QString &argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const QByteArray input = keywordsFile.isEmpty() ? QByteArray("/dev/null") : keywordsFile.toLocal8Bit();

    CliRun run;
    QElapsedTimer clock;
    clock.start();
    // Closed on exec: its end tells that the child runs the program.
    int execed[2];
    if (::pipe2(execed, O_CLOEXEC) != 0)
        return run;
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen(input.constData(), "r", stdin);
        std::freopen("/dev/null", "w", stdout);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(execed[1]);
    char ignored = 0;
    while (child > 0 && ::read(execed[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    ::close(execed[0]);
    if (child < 0)
        return run;
    int status = 0;
    bool killed = false;
    for (;;) {
        // The kernel's peak for the child would count the pages it shared
        // with this process before exec; the program's own peak is read
        // while it runs, and only grows.
        run.rssMaxMb = std::max(run.rssMaxMb, peakMb(child));
        if (::waitpid(child, &status, WNOHANG) == child)
            break;
        if (killAtBytes > 0 && !killed && QFileInfo(file).size() >= killAtBytes) {
            ::kill(child, SIGKILL);
            killed = true;
        }
        QThread::msleep(killAtBytes > 0 ? 5 : 20);
    }
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.ok = killed ? WIFSIGNALED(status) : (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    say(QStringLiteral("%1: %2 s, peak %3 MB").arg(QFileInfo(file).fileName()).arg(run.seconds, 0, 'f', 1)
            .arg(run.rssMaxMb, 0, 'f', 0));
    if (!run.ok)
        say(QStringLiteral("norvale-cli ended with status %1 (%2)").arg(status).arg(file));
    return run;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (const qsizetype at = app.arguments().indexOf(QStringLiteral("--pattern")); at > 0)
        Pattern = app.arguments().value(at + 1);
    test::TestResolver resolver;
    if (!resolver.start()) {
        say(resolver.reason() + QStringLiteral(" (run it under tests/support/with-test-resolver)"));
        return 2;
    }
    test::ServicesProcess services;
    QString error;
    QTemporaryDir folder;
    if (!services.start(&error) || !folder.isValid() || !seed(services.databasePath())) {
        say(QStringLiteral("set-up failed: ") + error);
        return 2;
    }

    // The keywords, the names, and DNS records for every .com name.
    const std::optional<KeywordPattern> pattern = KeywordPattern::parse(Pattern, nullptr);
    QStringList keywords;
    keywords.reserve(qsizetype(pattern->count()));
    KeywordPattern::Generator generator = pattern->generate();
    for (std::string keyword; generator.next(keyword);)
        keywords << QString::fromLatin1(keyword);
    test::TestDnsServer &dns = resolver.server();
    for (const QString &keyword : std::as_const(keywords))
        dns.addRecord(keyword + QStringLiteral(".com"), {QStringLiteral("10.3.0.1")});
    const qint64 candidates = qint64(keywords.size()) * Kinds;
    const qint64 fetched = qint64(keywords.size()) * (Kinds - 1);

    // The capacities, each alone: the names the search asks, in its order.
    QStringList names;
    QStringList unresolved;
    for (const QString &keyword : std::as_const(keywords).mid(0, 50000)) {
        for (int k = 0; k < Kinds; ++k) {
            names << keyword + extensionKinds()[std::size_t(k)];
            if (k > 0)
                unresolved << names.last();
        }
    }
    const double dnsRate =
        bench::dnsQueriesPerSecond(qEnvironmentVariable("NORVALE_TEST_DNS_ADDRESS"), names, CapacitySeconds, &error);
    const double statusRate = bench::statusPagesPerSecond(quint16(services.port()), StatusPath, unresolved,
                                                          StatusConnections, CapacitySeconds, &error);
    if (dnsRate <= 0 || statusRate <= 0) {
        say(error);
        return 2;
    }
    dns.forgetQueriedNames();
    const double bound = double(candidates) / dnsRate + double(fetched) / statusRate;
    say(QStringLiteral("dns_qps=%1 status_pages_per_s=%2").arg(dnsRate, 0, 'f', 0).arg(statusRate, 0, 'f', 0));

    // 10,000 candidates, for the time per candidate at a small size.
    const QString smallKeywords = folder.filePath(QStringLiteral("small.txt"));
    {
        QFile file(smallKeywords);
        if (!file.open(QIODevice::WriteOnly))
            return 2;
        file.write(keywords.mid(0, (SmallCandidates + Kinds - 1) / Kinds).join(u'\n').toLatin1() + '\n');
    }
    const qint64 smallCount = (SmallCandidates + Kinds - 1) / Kinds * Kinds;
    const CliRun small = runCli(services.baseUrl(), folder.filePath(QStringLiteral("small.csv")), smallKeywords);
    say(QStringLiteral("%1 candidates took %2 s").arg(smallCount).arg(small.seconds, 0, 'f', 2));
    keywords.clear();

    const QString whole = folder.filePath(QStringLiteral("whole.csv"));
    const CliRun full = runCli(services.baseUrl(), whole, {});
    dns.forgetQueriedNames();
    say(QStringLiteral("the whole search took %1 s").arg(full.seconds, 0, 'f', 1));

    // Cut at half by SIGKILL, then resumed: the same file as the whole run's.
    const QString cut = folder.filePath(QStringLiteral("cut.csv"));
    const QByteArray wholeRows = contents(whole);
    const CliRun killed = runCli(services.baseUrl(), cut, {}, wholeRows.size() / 2);
    const qint64 cutSize = QFileInfo(cut).size();
    const CliRun resumed = runCli(services.baseUrl(), cut, {});
    dns.forgetQueriedNames();
    const bool same = killed.ok && resumed.ok && !wholeRows.isEmpty() && contents(cut) == wholeRows;
    say(QStringLiteral("killed at %1 of %2 bytes; resumed in %3 s")
            .arg(cutSize).arg(wholeRows.size()).arg(resumed.seconds, 0, 'f', 1));

    const qint64 rows = wholeRows.count('\n') - 1;
    if (!small.ok || !full.ok || rows != candidates) {
        say(QStringLiteral("the whole search wrote %1 rows of %2").arg(rows).arg(candidates));
        return 1;
    }
    const double growth = (full.seconds / double(candidates)) / (small.seconds / double(smallCount));
    std::printf("candidates=%lld wall_s=%.1f bound_s=%.1f wall_over_bound=%.2f rss_max_mb=%.0f "
                "resumed_rows_same=%s per_candidate_growth=%.2f\n",
                static_cast<long long>(candidates), full.seconds, bound, full.seconds / bound,
                std::max({full.rssMaxMb, killed.rssMaxMb, resumed.rssMaxMb}), same ? "yes" : "no", growth);
    std::fflush(stdout);
    return same ? 0 : 1;
}
