#include "bench/BulkCapacity.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norvale::bench {

double dnsQueriesPerSecond(const QString &address, const QStringList &names, int seconds, QString *error)
{
    QTemporaryFile queries;
    if (!queries.open()) {
        *error = QStringLiteral("cannot write dnsperf's query file");
        return 0;
    }
    for (const QString &name : names)
        queries.write(name.toLatin1() + " A\n");
    queries.flush();
    QProcess dnsperf;
    // Two clients on two threads with 100 queries outstanding each: as many
    // as the server answers, on this machine's two cores.
    dnsperf.start(QStringLiteral("dnsperf"),
                  {QStringLiteral("-s"), address, QStringLiteral("-p"), QStringLiteral("53"), QStringLiteral("-d"),
                   queries.fileName(), QStringLiteral("-l"), QString::number(seconds), QStringLiteral("-c"),
                   QStringLiteral("2"), QStringLiteral("-T"), QStringLiteral("2"), QStringLiteral("-q"),
                   QStringLiteral("200"), QStringLiteral("-t"), QStringLiteral("2")});
    if (!dnsperf.waitForFinished((seconds + 30) * 1000) || dnsperf.exitCode() != 0) {
        *error = QStringLiteral("dnsperf did not run (scripts/setup.sh installs it): ")
                 + dnsperf.errorString() + QString::fromUtf8(dnsperf.readAllStandardError());
        dnsperf.kill();
        dnsperf.waitForFinished();
        return 0;
    }
    const QString report = QString::fromUtf8(dnsperf.readAllStandardOutput());
    const QRegularExpressionMatch rate =
        QRegularExpression(QStringLiteral("Queries per second:\\s*([0-9.]+)")).match(report);
    if (!rate.hasMatch()) {
        *error = QStringLiteral("dnsperf gave no rate: ") + report;
        return 0;
    }
    return rate.captured(1).toDouble();
}

namespace {

// One kept connection asking page after page until `until`; gives the pages
// answered, or -1 when the connection failed.
long askPages(quint16 port, const std::vector<QByteArray> &requests, std::size_t first,
              std::chrono::steady_clock::time_point until)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    long pages = 0;
    QByteArray buffer;
    char block[16384];
    for (std::size_t i = first; std::chrono::steady_clock::now() < until; ++i) {
        const QByteArray &request = requests[i % requests.size()];
        if (::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL) != request.size())
            break;
        // One response: the head, then Content-Length bytes.
        qsizetype need = -1;
        for (;;) {
            const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
            if (need < 0 && headEnd >= 0) {
                const QByteArray head = buffer.left(headEnd).toLower();
                const qsizetype at = head.indexOf("content-length:");
                if (at < 0)
                    break;
                need = headEnd + 4 + head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            }
            if (need >= 0 && buffer.size() >= need) {
                buffer.remove(0, need);
                ++pages;
                break;
            }
            const ssize_t got = ::recv(fd, block, sizeof block, 0);
            if (got <= 0) {
                ::close(fd);
                return pages > 0 ? pages : -1;
            }
            buffer.append(block, qsizetype(got));
        }
        if (need < 0)
            break;
    }
    ::close(fd);
    return pages;
}

} // namespace

double statusPagesPerSecond(quint16 port, const QString &pathPrefix, const QStringList &names, int connections,
                            int seconds, QString *error)
{
    std::vector<QByteArray> requests;
    requests.reserve(std::size_t(names.size()));
    for (const QString &name : names) {
        requests.push_back("GET " + pathPrefix.toLatin1() + name.toLatin1() + " HTTP/1.1\r\nHost: 127.0.0.1:"
                           + QByteArray::number(port) + "\r\n\r\n");
    }
    std::atomic<long> pages{0};
    std::atomic<bool> failed{false};
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::seconds(seconds);
    std::vector<std::thread> clients;
    for (int c = 0; c < connections; ++c) {
        // Each connection starts at its own place, so no two ask the same page at once.
        const std::size_t first = requests.size() * std::size_t(c) / std::size_t(connections);
        clients.emplace_back([&, first] {
            const long answered = askPages(port, requests, first, until);
            if (answered < 0)
                failed = true;
            else
                pages += answered;
        });
    }
    for (std::thread &client : clients)
        client.join();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failed) {
        *error = QStringLiteral("a status page connection failed");
        return 0;
    }
    return double(pages.load()) / elapsed;
}

} // namespace norvale::bench
