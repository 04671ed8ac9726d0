#pragma once

#include <QString>
#include <QtGlobal>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace norvale::test {

// A small HTTP server on a free loopback port, running on its own thread, for
// behaviours the real services never show (redirect loops, stalled or endless
// bodies). Tests register the routes they need before start(). Each
// connection carries one request.
class TestHttpServer final {
public:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;

    struct RecordedRequest {
        std::string path;
        httplib::Headers headers;
    };

    explicit TestHttpServer(int workerThreads = 16);
    ~TestHttpServer() { stop(); }
    Q_DISABLE_COPY_MOVE(TestHttpServer)

    // Routes are regular expressions over the path, as cpp-httplib takes them.
    void get(const std::string &pattern, Handler handler) { m_server->Get(pattern, std::move(handler)); }

    // Binds host (127.0.0.1 unless told) on a free port and serves until stop().
    bool start(QString *error = nullptr, const QString &host = QStringLiteral("127.0.0.1"));
    // Wakes handlers waiting in holdUntilStopped, then shuts the server down.
    void stop();

    int port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://%1:%2").arg(m_host).arg(m_port); }
    QString url(const QString &path) const { return baseUrl() + path; }

    // Every request received so far, in order of arrival.
    std::vector<RecordedRequest> requests() const;

    // For handlers that must stall: returns once the server is stopping, or
    // after at most `limit`. True when the server is stopping.
    bool holdUntilStopped(std::chrono::milliseconds limit = std::chrono::seconds(120)) const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    QString m_host;
    std::atomic<bool> m_listenReturned{false};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_stopped;
    bool m_stopping = false;
    std::vector<RecordedRequest> m_requests;
};

} // namespace norvale::test
