#pragma once

#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace norvale::test {

// A TCP relay on loopback in front of a real server, for fault tests. It
// passes bytes both ways, or, once told to, resets every connection as soon
// as an answer's head and a few bytes of its body have passed.
class FaultProxy final {
public:
    explicit FaultProxy(int targetPort) : m_target(targetPort) {}
    ~FaultProxy() { stop(); }
    FaultProxy(const FaultProxy &) = delete;
    FaultProxy &operator=(const FaultProxy &) = delete;

    bool start(QString *error = nullptr);
    void stop();
    int port() const { return m_port; }
    // http://127.0.0.1:PORT
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    void setResetMidBody(bool on) { m_reset = on; }

private:
    void accept();
    void relay(int client);

    const int m_target;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::atomic<bool> m_reset{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_relays;
};

} // namespace norvale::test
