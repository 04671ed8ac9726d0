#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "services/RequestGate.h"

namespace norvale {

class ServicePages;

// The HTTP side: routes every GET to the pages, counts requests and the
// connections carrying them per served path for /stats and applies the
// configured delay. Request bodies and byte ranges are bounded, so no request
// can make it hold much memory, and slow or greedy clients are held off by
// the gate's limits.
class ServiceServer final {
public:
    ServiceServer(const ServicePages &pages, int delayMs, QString delayPath, GateLimits limits = {});
    ~ServiceServer();
    ServiceServer(const ServiceServer &) = delete;
    ServiceServer &operator=(const ServiceServer &) = delete;

    // Pages the service keeps ready are answered on the gate's own thread,
    // without a hand-over to a worker. Call before listen().
    void answerKeptPagesAtOnce();

    // Binds host:port (port 0: any free one). The bound port, or -1.
    int bind(const QString &host, int port);
    // Serves until stop(); false when serving failed.
    bool listen();
    // Ends listen() and wakes delayed requests; callable from any thread.
    void stop();

    // "PATH COUNT" lines, sorted by path, then "connections PATH COUNT"
    // lines: how many accepted connections carried requests for the path.
    QByteArray statsText() const;

private:
    void count(const std::string &path, int change);
    void countConnection(const std::string &path, int change);
    void delay(const std::string &path);
    // Waits, or less when the server stops; false when it stops.
    bool pause(std::chrono::milliseconds wait);

    const ServicePages &m_pages;
    const int m_delayMs;
    const std::string m_delayPath;
    std::unique_ptr<GatedHttpServer> m_server;

    mutable std::mutex m_statsMutex;
    std::map<std::string, long long> m_counts;
    std::map<std::string, long long> m_connections;

    std::mutex m_stopMutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
};

} // namespace norvale
