// How fast norvale-services serves its status page to many clients at once,
// held against what this machine can serve at all: the same page, saved as a
// file, served by nginx on loopback. Both are asked by wrk, 100 clients with
// kept connections for 10 s each, one after the other in the same run.
#include "tests/support/ChildProcess.h"
#include "tests/support/ServicesProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <httplib.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

using namespace norvale;

namespace {

constexpr int kClients = 100;
constexpr int kSeconds = 10;
constexpr double kLeastRatio = 0.5;
constexpr double kMostP99Ms = 10;
const char *const kPage = "/query/domain.asp?domain=chenglan.cn";   // a seeded, registered name

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

int setupFailed(const QString &why)
{
    say(QStringLiteral("services_bench: ") + why);
    return 2;
}

struct Load {
    double rps = 0;
    double p50Ms = 0;
    double p99Ms = 0;
};

// A latency as wrk prints it ("812.00us", "2.31ms", "1.02s") in milliseconds.
double milliseconds(const QString &value, const QString &unit)
{
    const double number = value.toDouble();
    if (unit == QLatin1StringView("us"))
        return number / 1000;
    if (unit == QLatin1StringView("s"))
        return number * 1000;
    if (unit == QLatin1StringView("m"))
        return number * 60000;
    return number;
}

// wrk against url; nullopt when it did not run or said nothing usable.
std::optional<Load> measure(const QString &wrk, const QString &url, const QString &label)
{
    QProcess process;
    test::endWithParent(process, SIGKILL);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(wrk, {QStringLiteral("-t2"), QStringLiteral("-c%1").arg(kClients),
                        QStringLiteral("-d%1s").arg(kSeconds), QStringLiteral("--latency"), url});
    if (!process.waitForFinished((kSeconds + 30) * 1000)) {
        test::endChild(process, SIGKILL, 1000);
        return std::nullopt;
    }
    const QString output = QString::fromUtf8(process.readAll());
    say(QStringLiteral("--- ") + label + QStringLiteral(" ---\n") + output.trimmed());
    static const QRegularExpression rps(QStringLiteral("Requests/sec:\\s+([0-9.]+)"));
    static const QRegularExpression p50(QStringLiteral("\\n\\s+50%\\s+([0-9.]+)(us|ms|s|m)"));
    static const QRegularExpression p99(QStringLiteral("\\n\\s+99%\\s+([0-9.]+)(us|ms|s|m)"));
    const auto r = rps.match(output);
    const auto a = p50.match(output);
    const auto b = p99.match(output);
    if (process.exitCode() != 0 || !r.hasMatch() || !a.hasMatch() || !b.hasMatch()
        || output.contains(QStringLiteral("Non-2xx")))
        return std::nullopt;
    return Load{r.captured(1).toDouble(), milliseconds(a.captured(1), a.captured(2)),
                milliseconds(b.captured(1), b.captured(2))};
}

// A loopback port nobody listens on just now.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

QString program(const QString &name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString wrk = program(QStringLiteral("wrk"));
    const QString nginx = program(QStringLiteral("nginx"));
    if (wrk.isEmpty() || nginx.isEmpty())
        return setupFailed(QStringLiteral("needs wrk and nginx (apt-get install wrk nginx)"));

    // The services as an operator starts them, the registries on but given
    // the shipped tables as files, so that nothing is fetched.
    test::ServicesProcess::Options options;
    options.extraArguments = {QStringLiteral("--registries"), QStringLiteral("on"),
                              QStringLiteral("--bootstrap"), QStringLiteral(NORVALE_SERVICES_DATA "/dns.json"),
                              QStringLiteral("--whois-servers"), QStringLiteral(NORVALE_SERVICES_DATA "/whois-servers.txt")};
    test::ServicesProcess services(options);
    QString error;
    if (!services.start(&error))
        return setupFailed(error);
    const QUrl base(services.baseUrl());
    httplib::Client client(base.host().toStdString(), base.port());
    client.set_read_timeout(10, 0);
    const auto page = client.Get(kPage);
    if (!page || page->status != 200 || page->body.find("|domain|chenglan.cn|domain|") == std::string::npos)
        return setupFailed(QStringLiteral("the status page of the seeded name did not come"));

    // The same bytes as a file for nginx, which runs as an unprivileged user.
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkpath(QStringLiteral("www/query")))
        return setupFailed(QStringLiteral("no temporary folder"));
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                          | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    QFile saved(dir.filePath(QStringLiteral("www/query/domain.html")));
    if (!saved.open(QIODevice::WriteOnly) || saved.write(page->body.data(), qint64(page->body.size())) != qint64(page->body.size()))
        return setupFailed(QStringLiteral("cannot save the page"));
    saved.close();
    const int port = freePort();
    QFile config(dir.filePath(QStringLiteral("nginx.conf")));
    const QString root = dir.path();
    const QString text = QStringLiteral(
        "worker_processes auto;\n"
        "daemon off;\n"
        "pid %1/nginx.pid;\n"
        "error_log %1/error.log;\n"
        "events { worker_connections 1024; }\n"
        "http {\n"
        "  access_log off;\n"
        "  client_body_temp_path %1/body; proxy_temp_path %1/proxy; fastcgi_temp_path %1/fastcgi;\n"
        "  uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;\n"
        "  keepalive_requests 1000; keepalive_timeout 30s;\n"
        "  types { }\n"
        "  default_type \"text/html; charset=gb2312\";\n"
        "  server { listen 127.0.0.1:%2; root %1/www; }\n"
        "}\n").arg(root).arg(port);
    if (port <= 0 || !config.open(QIODevice::WriteOnly) || config.write(text.toUtf8()) < 0)
        return setupFailed(QStringLiteral("cannot write the nginx configuration"));
    config.close();

    QProcess server;
    test::endWithParentAsUnprivileged(server);
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(nginx, {QStringLiteral("-e"), dir.filePath(QStringLiteral("error.log")), QStringLiteral("-c"),
                         config.fileName()});
    const QString fileUrl = QStringLiteral("http://127.0.0.1:%1/query/domain.html").arg(port);
    httplib::Client reference("127.0.0.1", port);
    reference.set_connection_timeout(1, 0);
    std::string served;
    const bool up = test::waitUntilReady(server, 10000, [&] {
        const auto got = reference.Get("/query/domain.html");
        served = got && got->status == 200 ? got->body : std::string();
        return got.error() == httplib::Error::Success;
    });
    if (!up || served != page->body) {
        QFile log(dir.filePath(QStringLiteral("error.log")));
        log.open(QIODevice::ReadOnly);
        return setupFailed(QStringLiteral("nginx did not serve the saved page: ")
                           + QString::fromUtf8(server.readAll() + log.readAll()));
    }

    const auto ours = measure(wrk, services.baseUrl() + QLatin1StringView(kPage), QStringLiteral("norvale-services"));
    const auto theirs = measure(wrk, fileUrl, QStringLiteral("nginx"));
    test::endChild(server);
    services.stop();
    if (!ours || !theirs)
        return setupFailed(QStringLiteral("wrk gave no usable figures (errors, or answers other than 200)"));

    const double ratio = ours->rps / theirs->rps;
    std::printf("clients=%d services_rps=%.0f nginx_rps=%.0f ratio=%.2f services_p50_ms=%.2f services_p99_ms=%.2f\n",
                kClients, ours->rps, theirs->rps, ratio, ours->p50Ms, ours->p99Ms);
    return ratio >= kLeastRatio && ours->p99Ms <= kMostP99Ms ? 0 : 1;
}
