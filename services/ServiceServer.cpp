#include "services/ServiceServer.h"

#include "services/PageText.h"
#include "services/RequestLog.h"
#include "services/ServicePages.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <atomic>
#include <functional>
#include <set>
#include <vector>

namespace norvale {

namespace {

// A kept connection serves many requests (the library's default is five)
// and waits this long for the next one, so that a client's searches one
// after another reuse their connections.
constexpr size_t kRequestsPerConnection = 1000;
constexpr time_t kKeepAliveSeconds = 30;
constexpr size_t kChunk = 16 * 1024;
constexpr size_t kGeneratedChunk = 64 * 1024;
// Nothing here takes a request body; a client that sends one gets no more room than this.
constexpr size_t kMaxRequestBody = 64 * 1024;
constexpr size_t kMaxRanges = 8;

// The reason the page handler gave for its answer, read by the logger on the
// same thread once the answer is written.
thread_local const char *t_reason = "";

// True for the first request for path on the connection being served. With
// forget, the path is dropped from the connection's again (a path answered
// 404 is not kept): true when it had been there.
bool firstOnConnection(const std::string &path, bool forget = false)
{
    std::set<std::string> *paths = GatedHttpServer::servedConnectionPaths();
    if (!paths)
        return false;
    if (forget)
        return paths->erase(path) > 0;
    return paths->insert(path).second;
}

Parameters parametersOf(const httplib::Request &request)
{
    Parameters parameters;
    // The first value of a repeated parameter counts, as on the old ASP pages.
    for (auto it = request.params.rbegin(); it != request.params.rend(); ++it)
        parameters.insert(QString::fromStdString(it->first), QString::fromStdString(it->second));
    return parameters;
}

// Waits between two pieces of a trickled body; false when the server stops.
using Pause = std::function<bool(std::chrono::milliseconds)>;

// Bytes a Range header asks for in all, overlaps counted each time.
unsigned long long rangedBytes(const httplib::Ranges &ranges, size_t size)
{
    unsigned long long total = 0;
    for (const auto &[first, last] : ranges) {
        if (first < 0)
            total += std::min<unsigned long long>(size, (unsigned long long)(last));
        else if (size_t(first) < size)
            total += (last < 0 || size_t(last) >= size ? size - 1 : size_t(last)) - size_t(first) + 1;
    }
    return total;
}

void send(const httplib::Request &request, const Reply &reply, httplib::Response &response,
          const Pause &pause)
{
    const bool generated = reply.generatedSize >= 0;
    const size_t size = size_t(generated ? reply.generatedSize : reply.body.size());
    // Each requested range is copied into the reply: many of them, or
    // overlapping ones, would build a reply many times the file.
    if (!request.ranges.empty() && reply.status == 200
        && (request.ranges.size() > kMaxRanges || rangedBytes(request.ranges, size) > size)) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    response.status = reply.status;
    if (!reply.chunked && !generated && reply.cutAfter < 0 && reply.trickleBytes <= 0) {
        response.set_content(reply.body.constData(), size_t(reply.body.size()), reply.contentType);
        return;
    }

    auto body = std::make_shared<QByteArray>(reply.body);
    const size_t end = reply.cutAfter >= 0 ? std::min(size, size_t(reply.cutAfter)) : size;
    const size_t step = reply.trickleBytes > 0 ? size_t(reply.trickleBytes)
                        : generated            ? kGeneratedChunk
                                               : kChunk;
    const auto every = std::chrono::milliseconds(reply.trickleEveryMs);
    const bool chunked = reply.chunked;
    auto provide = [=](size_t offset, httplib::DataSink &sink) {
        if (offset >= size) {
            if (chunked)
                sink.done();
            return true;
        }
        if (offset >= end)
            return false;   // the connection is dropped short of the announced length
        if (every.count() > 0 && offset > 0 && !pause(every))
            return false;
        const size_t n = std::min(step, end - offset);
        if (!generated)
            return sink.write(body->constData() + offset, n);
        thread_local std::vector<char> piece;
        piece.resize(n);
        generatedBytes(qint64(offset), piece.data(), qsizetype(n));
        return sink.write(piece.data(), n);
    };
    if (chunked)
        response.set_chunked_content_provider(reply.contentType, provide);
    else
        response.set_content_provider(size, reply.contentType,
                                      [provide](size_t offset, size_t, httplib::DataSink &sink) {
                                          return provide(offset, sink);
                                      });
}

} // namespace

ServiceServer::ServiceServer(const ServicePages &pages, int delayMs, QString delayPath, GateLimits limits)
    : m_pages(pages),
      m_delayMs(delayMs),
      m_delayPath(delayPath.toStdString()),
      m_server(std::make_unique<GatedHttpServer>(limits))
{
    m_server->set_payload_max_length(kMaxRequestBody);
    // Answers go out at once: with Nagle's algorithm a reply on a kept
    // connection waits for the client's delayed acknowledgement (~40 ms).
    // Accepted connections take it from the listening socket.
    m_server->set_tcp_nodelay(true);
    m_server->set_keep_alive_max_count(kRequestsPerConnection);
    m_server->set_keep_alive_timeout(kKeepAliveSeconds);
    m_server->set_default_headers({{"Server", "norvale-services"}});

    m_server->set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &) {
        // Counted on arrival, so that /stats shows a request still waiting
        // out its delay; only GET and HEAD reach the pages.
        if (request.method == "GET" || request.method == "HEAD") {
            count(request.path, +1);
            if (firstOnConnection(request.path))
                countConnection(request.path, +1);
        }
        delay(request.path);
        return httplib::Server::HandlerResponse::Unhandled;
    });

    m_server->Get(R"(/stats)", [this](const httplib::Request &, httplib::Response &response) {
        const QByteArray text = statsText();
        response.set_content(text.constData(), size_t(text.size()), "text/plain; charset=utf-8");
    });

    m_server->Get(R"(.*)", [this](const httplib::Request &request, httplib::Response &response) {
        const Reply reply = m_pages.answer(QString::fromStdString(request.path), parametersOf(request),
                                           request.method == "GET" ? std::string_view(request.target)
                                                                   : std::string_view());
        // Only the paths it serves are kept: a counter for every path ever
        // asked for would grow without end.
        if (reply.status == 404) {
            count(request.path, -1);
            if (firstOnConnection(request.path, true))
                countConnection(request.path, -1);
        }
        t_reason = reply.reason;
        send(request, reply, response, [this](std::chrono::milliseconds wait) { return pause(wait); });
    });

    // Every answer written, also those the library gives itself (413, 414, 400).
    m_server->set_logger([](const httplib::Request &request, const httplib::Response &response) {
        const char *reason = t_reason;
        t_reason = "";
        if (response.status >= 400)
            logRefusal(request.method, request.target, response.status, reason);
    });
}

ServiceServer::~ServiceServer() = default;

void ServiceServer::answerKeptPagesAtOnce()
{
    // A delayed page plays a distant server: it waits on a worker.
    if (m_delayMs > 0)
        return;
    m_server->setQuickCheck([this](std::string_view method, std::string_view target) {
        return method == "GET" && m_pages.answersAtOnce(target);
    });
}

int ServiceServer::bind(const QString &host, int port)
{
    const std::string address = host.toStdString();
    int listening = -1;
    m_server->set_socket_options([&listening](socket_t sock) {
        httplib::default_socket_options(sock);
        listening = sock;
    });
    const int bound = port == 0 ? m_server->bind_to_any_port(address)
                                : (m_server->bind_to_port(address, port) ? port : -1);
    // The library listens with a backlog of 5: a search opening a few dozen
    // connections at once would see SYNs dropped and retried a second later.
    // listen() again on a listening socket only raises its backlog.
    if (bound > 0 && listening >= 0)
        ::listen(listening, SOMAXCONN);
    return bound;
}

bool ServiceServer::listen()
{
    return m_server->listen_after_bind();
}

void ServiceServer::stop()
{
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    m_server->stop();
    m_server->stopGate();
}

QByteArray ServiceServer::statsText() const
{
    std::lock_guard lock(m_statsMutex);
    // A decoded path may hold a space; keep one path per word.
    auto word = [](const std::string &path) { return QByteArray::fromStdString(path).replace(' ', "%20"); };
    QByteArray text;
    for (const auto &[path, hits] : m_counts)
        text += word(path) + ' ' + QByteArray::number(hits) + '\n';
    for (const auto &[path, connections] : m_connections)
        text += "connections " + word(path) + ' ' + QByteArray::number(connections) + '\n';
    return text + m_pages.statsText();
}

void ServiceServer::count(const std::string &path, int change)
{
    std::lock_guard lock(m_statsMutex);
    const auto hits = m_counts[path] += change;
    if (hits == 0)
        m_counts.erase(path);
}

void ServiceServer::countConnection(const std::string &path, int change)
{
    std::lock_guard lock(m_statsMutex);
    const auto connections = m_connections[path] += change;
    if (connections == 0)
        m_connections.erase(path);
}

void ServiceServer::delay(const std::string &path)
{
    if (m_delayMs <= 0)
        return;
    if (!m_delayPath.empty() && path.compare(0, m_delayPath.size(), m_delayPath) != 0)
        return;
    pause(std::chrono::milliseconds(m_delayMs));
}

bool ServiceServer::pause(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_stopMutex);
    return !m_stopped.wait_for(lock, wait, [this] { return m_stopping; });
}

} // namespace norvale
