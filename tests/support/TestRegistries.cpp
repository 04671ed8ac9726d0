#include "tests/support/TestRegistries.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/Started.h"
#include "tests/support/TestHttpServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>

#include <httplib.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>

namespace norvale::test {

namespace {

using Clock = std::chrono::steady_clock;

QString statusWord(RegistryAnswer answer, bool rdap)
{
    switch (answer) {
    case RegistryAnswer::ClientHold:
        return rdap ? QStringLiteral("client hold") : QStringLiteral("clientHold");
    case RegistryAnswer::PendingDelete:
        return rdap ? QStringLiteral("pending delete") : QStringLiteral("pendingDelete");
    default:
        return rdap ? QStringLiteral("active") : QStringLiteral("ok");
    }
}

QByteArray rdapDomain(const QString &name, RegistryAnswer answer)
{
    QString statuses = u'"' + statusWord(answer, true) + u'"';
    if (answer == RegistryAnswer::PendingDelete)
        statuses += QStringLiteral(R"(,"redemption period")");
    return QStringLiteral(R"({"objectClassName":"domain","ldhName":"%1","handle":"D%2-TEST","status":[%3],)"
                          R"("entities":[{"objectClassName":"entity","roles":["registrar"],"vcardArray":["vcard",)"
                          R"([["version",{},"text","4.0"],["fn",{},"text","Example Registrar, Inc."]]]}],)"
                          R"("events":[{"eventAction":"registration","eventDate":"2015-03-09T04:11:52Z"},)"
                          R"({"eventAction":"expiration","eventDate":"2030-03-09T04:11:52Z"}],)"
                          R"("nameservers":[{"objectClassName":"nameserver","ldhName":"ns1.example.net"}],)"
                          R"("secureDNS":{"delegationSigned":false}})")
        .arg(name.toUpper(), QString::number(qHash(name) % 100000), statuses)
        .toUtf8();
}

constexpr char kNoMatch[] = "No match for";
constexpr char kRefusal[] = "Query rate limit exceeded. Try again later.";

QByteArray whoisRecord(const QString &name, RegistryAnswer answer)
{
    if (answer == RegistryAnswer::Gbk) {
        QStringEncoder gbk("GBK");
        return gbk.encode(QStringLiteral("域名: %1\r\n域名状态: ok\r\n注册商: 北京新网数码信息技术有限公司\r\n"
                                         "注册时间: 2012-05-16 10:20:31\r\n").arg(name));
    }
    QString text = QStringLiteral("Domain Name: %1\r\nRegistrar: Example Registrar, Inc.\r\n").arg(name.toUpper());
    if (answer == RegistryAnswer::Referral)
        text += QStringLiteral("Registrar WHOIS Server: whois.registrar.test\r\n");
    text += QStringLiteral("Domain Status: %1\r\nName Server: NS1.EXAMPLE.NET\r\n").arg(statusWord(answer, false));
    return text.toUtf8();
}

} // namespace

struct TestRegistries::Server {
    QStringList zones;
    Protocol protocol = Protocol::Rdap;
    Behaviour behaviour;
    int port = 0;
    int fd = -1;                      // whois and stalled: the listening socket
    std::atomic<int> queries{0};
    std::unique_ptr<TestHttpServer> http;   // RDAP
    std::unique_ptr<httplib::ThreadPool> pool;
    std::thread thread;
    int wake[2] = {-1, -1};

    std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    double tokens = 0;
    Clock::time_point refilled = Clock::now();

    // A token of the rate limit; false when the client asks too fast.
    bool admit()
    {
        std::lock_guard lock(mutex);
        if (behaviour.perSecond <= 0)
            return true;
        const auto now = Clock::now();
        const double burst = std::max(1.0, behaviour.perSecond);
        tokens = std::min(burst, tokens + std::chrono::duration<double>(now - refilled).count() * behaviour.perSecond);
        refilled = now;
        if (tokens < 1)
            return false;
        tokens -= 1;
        return true;
    }
    // The per-answer delay; false when the server is stopping.
    bool pause()
    {
        std::unique_lock lock(mutex);
        return !stopped.wait_for(lock, std::chrono::milliseconds(behaviour.delayMs), [this] { return stopping; });
    }
};

TestRegistries::TestRegistries() = default;

TestRegistries::~TestRegistries()
{
    stop();
}

void TestRegistries::addZone(const QString &zone, Protocol protocol, Behaviour behaviour, const QString &sameServerAs)
{
    for (auto &server : m_servers) {
        if (!sameServerAs.isEmpty() && server->zones.contains(sameServerAs)) {
            server->zones << zone;
            return;
        }
    }
    auto server = std::make_unique<Server>();
    server->zones << zone;
    server->protocol = protocol;
    server->behaviour = behaviour;
    server->tokens = std::max(1.0, behaviour.perSecond);
    m_servers.push_back(std::move(server));
}

void TestRegistries::setRegistrarRecord(const QString &name, const QString &record)
{
    std::lock_guard lock(m_mutex);
    m_registrarRecords.insert(name.toLower(), record);
}

void TestRegistries::setAnswer(const QString &name, RegistryAnswer answer)
{
    std::lock_guard lock(m_mutex);
    m_answers.insert(name.toLower(), answer);
}

RegistryAnswer TestRegistries::answerFor(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return m_answers.value(name.toLower(), RegistryAnswer::Free);
}

namespace {

// Serves port-43 queries on server's socket until its wake pipe is written.
void serveWhois(TestRegistries::Server &server, const std::function<QByteArray(const QString &)> &answer)
{
    for (;;) {
        pollfd fds[2] = {{server.fd, POLLIN, 0}, {server.wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int client = ::accept4(server.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        server.pool->enqueue([&server, client, answer] {
            QByteArray query;
            // One line, within a bound: a client that sends nothing is let go.
            const auto until = Clock::now() + std::chrono::seconds(5);
            while (!query.contains('\n') && Clock::now() < until && query.size() < 1024) {
                pollfd one{client, POLLIN, 0};
                if (::poll(&one, 1, 100) == 1) {
                    char buffer[256];
                    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                    if (n <= 0)
                        break;
                    query.append(buffer, n);
                }
            }
            ++server.queries;
            QByteArray reply = kRefusal;
            if (server.admit() && server.pause())
                reply = answer(QString::fromUtf8(query.trimmed()));
            ::send(client, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
            ::close(client);
        });
    }
}

} // namespace

bool TestRegistries::start(QString *error)
{
    auto fail = [&](const QString &why) {
        stop();
        return failed(error, why);
    };
    if (!m_dir.isValid())
        return fail(QStringLiteral("no temporary folder"));

    auto whoisAnswer = [this](const QString &name) -> QByteArray {
        const RegistryAnswer answer = answerFor(name);
        if (answer == RegistryAnswer::AlwaysLimited)
            return kRefusal;
        if (answer == RegistryAnswer::LimitedOnce) {
            std::lock_guard lock(m_mutex);
            if (m_asked[name.toLower()]++ == 0)
                return kRefusal;
        }
        if (answer == RegistryAnswer::Free || answer == RegistryAnswer::ServerError || answer == RegistryAnswer::Garbled)
            return QByteArray(kNoMatch) + " \"" + name.toUpper().toUtf8() + "\".\r\n";
        return whoisRecord(name, answer);
    };
    auto registrarAnswer = [this](const QString &name) -> QByteArray {
        std::lock_guard lock(m_mutex);
        const QString record = m_registrarRecords.value(name.toLower());
        if (record.isEmpty())
            return QByteArray(kNoMatch) + " \"" + name.toUpper().toUtf8() + "\".\r\n";
        return (QStringLiteral("Domain Name: %1\r\n").arg(name.toUpper()) + record).toUtf8();
    };

    auto startWhois = [&](Server &server, const std::function<QByteArray(const QString &)> &answer) {
        server.fd = listenOnLoopback(&server.port);
        if (server.fd < 0 || ::pipe2(server.wake, O_CLOEXEC) != 0)
            return false;
        server.pool = std::make_unique<httplib::ThreadPool>(8);
        server.thread = std::thread([&server, answer] { serveWhois(server, answer); });
        return true;
    };

    m_registrar = std::make_unique<Server>();
    if (!startWhois(*m_registrar, registrarAnswer))
        return fail(QStringLiteral("the registrar's whois server could not listen"));

    for (auto &owned : m_servers) {
        Server &server = *owned;
        switch (server.protocol) {
        case Protocol::Whois:
            if (!startWhois(server, whoisAnswer))
                return fail(QStringLiteral("a whois server could not listen"));
            break;
        case Protocol::Stalled:
            // Listening, never accepting: the kernel takes the connection and
            // nothing ever answers.
            server.fd = listenOnLoopback(&server.port);
            if (server.fd < 0)
                return fail(QStringLiteral("the stalled server could not listen"));
            break;
        case Protocol::Down:
            server.port = freeLoopbackPort();   // refused from now on
            if (server.port == 0)
                return fail(QStringLiteral("no free port for the server that is down"));
            break;
        case Protocol::Rdap: {
            server.http = std::make_unique<TestHttpServer>(8);
            Server *self = &server;
            server.http->get(R"(/domain/([^/]+))", [this, self](const httplib::Request &request, httplib::Response &response) {
                ++self->queries;
                const QString name = QString::fromStdString(request.matches[1]).toLower();
                RegistryAnswer answer = answerFor(name);
                if (answer == RegistryAnswer::LimitedOnce) {
                    std::lock_guard lock(m_mutex);
                    if (m_asked[name]++ > 0)
                        answer = RegistryAnswer::Registered;
                }
                if (!self->admit() || answer == RegistryAnswer::LimitedOnce || answer == RegistryAnswer::AlwaysLimited) {
                    response.status = 429;
                    response.set_header("Retry-After", "1");
                    return;
                }
                if (!self->pause())
                    return;
                switch (answer) {
                case RegistryAnswer::Free:
                    response.status = 404;
                    response.set_content(R"({"errorCode":404,"title":"Not Found"})", "application/rdap+json");
                    return;
                case RegistryAnswer::ServerError:
                    response.status = 503;
                    return;
                case RegistryAnswer::Garbled:
                    response.set_content("<html><body>maintenance</body></html>", "text/html");
                    return;
                default: {
                    const QByteArray body = rdapDomain(name, answer);
                    response.set_content(body.constData(), size_t(body.size()), "application/rdap+json");
                }
                }
            });
            if (!server.http->start())
                return fail(QStringLiteral("an RDAP server could not listen"));
            server.port = server.http->port();
            break;
        }
        }
    }

    // The tables that send the services here.
    QJsonArray services;
    QByteArray table = "# the local registries\n";
    for (const auto &server : m_servers) {
        const QString address = QStringLiteral("127.0.0.1:%1").arg(server->port);
        if (server->protocol == Protocol::Whois) {
            for (const QString &zone : server->zones)
                table += (zone + u' ' + address + QStringLiteral(" No match for\n")).toUtf8();
        } else {
            services.append(QJsonArray{QJsonArray::fromStringList(server->zones),
                                       QJsonArray{QString(QStringLiteral("http://") + address + u'/')}});
        }
    }
    table += QStringLiteral("@whois.registrar.test 127.0.0.1:%1\n").arg(m_registrar->port).toUtf8();
    const QJsonObject bootstrap{{QStringLiteral("description"), QStringLiteral("local registries")},
                                {QStringLiteral("publication"), QStringLiteral("2024-06-01T00:00:00Z")},
                                {QStringLiteral("services"), services},
                                {QStringLiteral("version"), QStringLiteral("1.0")}};
    QFile bootstrapFile(bootstrapPath());
    QFile tableFile(whoisTablePath());
    if (!bootstrapFile.open(QIODevice::WriteOnly) || bootstrapFile.write(QJsonDocument(bootstrap).toJson()) <= 0
        || !tableFile.open(QIODevice::WriteOnly) || tableFile.write(table) != table.size())
        return fail(QStringLiteral("cannot write the registry tables"));
    return true;
}

void TestRegistries::stop()
{
    std::vector<Server *> all;
    for (auto &server : m_servers)
        all.push_back(server.get());
    if (m_registrar)
        all.push_back(m_registrar.get());
    for (Server *server : all) {
        {
            std::lock_guard lock(server->mutex);
            server->stopping = true;
        }
        server->stopped.notify_all();
        if (server->http)
            server->http->stop();
        if (server->wake[1] >= 0)
            (void)!::write(server->wake[1], "x", 1);
        if (server->thread.joinable())
            server->thread.join();
        if (server->pool) {
            server->pool->shutdown();
            server->pool.reset();
        }
        server->http.reset();
        for (int *fd : {&server->fd, &server->wake[0], &server->wake[1]}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
}

QStringList TestRegistries::servicesArguments() const
{
    return {QStringLiteral("--registries"), QStringLiteral("on"), QStringLiteral("--bootstrap"), bootstrapPath(),
            QStringLiteral("--whois-servers"), whoisTablePath()};
}

QString TestRegistries::bootstrapPath() const
{
    return m_dir.filePath(QStringLiteral("dns.json"));
}

QString TestRegistries::whoisTablePath() const
{
    return m_dir.filePath(QStringLiteral("whois-servers.txt"));
}

int TestRegistries::queries() const
{
    int total = 0;
    for (const auto &server : m_servers)
        total += server->queries;
    return total;
}

int TestRegistries::queries(const QString &zone) const
{
    for (const auto &server : m_servers) {
        if (server->zones.contains(zone))
            return server->queries;
    }
    return 0;
}

} // namespace norvale::test
