#include "tests/support/FaultProxy.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/Started.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace norvale::test {

namespace {

constexpr size_t kBodyBytesBeforeReset = 16;

// Closes with a reset instead of an orderly end.
void resetAndClose(int fd)
{
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

} // namespace

bool FaultProxy::start(QString *error)
{
    m_listener = listenOnLoopback(&m_port);
    if (m_listener < 0 || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        stop();
        return failed(error, QStringLiteral("the fault proxy could not listen"));
    }
    m_acceptor = std::thread([this] { accept(); });
    return true;
}

void FaultProxy::stop()
{
    if (m_wake[1] >= 0)
        ::close(m_wake[1]);   // every poll below wakes on the closed pipe
    m_wake[1] = -1;
    if (m_acceptor.joinable())
        m_acceptor.join();
    for (std::thread &relay : m_relays)
        relay.join();
    m_relays.clear();
    for (int *fd : {&m_listener, &m_wake[0]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void FaultProxy::accept()
{
    for (;;) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || fds[1].revents)
            return;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::lock_guard lock(m_mutex);
        m_relays.emplace_back([this, client] { relay(client); });
    }
}

void FaultProxy::relay(int client)
{
    const int server = connectToLoopback(m_target);
    if (server < 0) {
        resetAndClose(client);
        return;
    }
    std::string answer;   // what came back so far, while a reset is due
    bool cut = false;
    for (;;) {
        pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 || fds[2].revents)
            break;
        char buffer[16 * 1024];
        const int from = fds[0].revents ? client : server;
        const int to = from == client ? server : client;
        const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        size_t pass = size_t(n);
        if (from == server && m_reset) {
            answer.append(buffer, size_t(n));
            const size_t head = answer.find("\r\n\r\n");
            if (head != std::string::npos && answer.size() >= head + 4 + kBodyBytesBeforeReset) {
                pass -= answer.size() - (head + 4 + kBodyBytesBeforeReset);
                cut = true;
            }
        }
        if (::send(to, buffer, pass, MSG_NOSIGNAL) < 0 || cut)
            break;
    }
    if (cut) {
        resetAndClose(client);
        resetAndClose(server);
    } else {
        ::close(client);
        ::close(server);
    }
}

} // namespace norvale::test
