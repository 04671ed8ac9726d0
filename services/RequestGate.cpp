#include "services/RequestGate.h"

#include "services/RequestLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace norvale {

namespace {

// A request head longer than this is refused; httplib takes 8 KiB of target.
constexpr size_t kHeadRoom = 16 * 1024;
// A body up to this size must be in before a worker reads it; a larger one
// goes on at once and gets httplib's 413 (the server takes at most 64 KiB).
constexpr size_t kBodyRoom = 64 * 1024;

bool caseInsensitiveStartsWith(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
           && std::equal(prefix.begin(), prefix.end(), text.begin(),
                         [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

// The value of a header in a request head, or nullopt.
std::optional<std::string_view> headerValue(std::string_view head, std::string_view name)
{
    size_t at = head.find('\n');
    while (at != std::string_view::npos && at + 1 < head.size()) {
        const std::string_view line = head.substr(at + 1, head.find('\n', at + 1) - at - 1);
        if (caseInsensitiveStartsWith(line, name) && line.size() > name.size() && line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                value.remove_prefix(1);
            while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
                value.remove_suffix(1);
            return value;
        }
        at = head.find('\n', at + 1);
    }
    return std::nullopt;
}

// A short answer to a client the gate turns away, logged, then the end of it.
void turnAway(int fd, int status, const char *phrase, std::string_view reason, std::string_view method = {},
              std::string_view target = {})
{
    logRefusal(method, target, status, reason);
    std::string reply = "HTTP/1.1 " + std::to_string(status) + ' ' + phrase
                        + "\r\nConnection: close\r\nContent-Length: 0\r\nServer: norvale-services\r\n\r\n";
    [[maybe_unused]] const ssize_t sent = ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string addressText(const sockaddr_storage &address, int *port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        *port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        *port = ntohs(v6->sin6_port);
    }
    return text;
}

// The stream one request is read from and its answer written to, with the
// socket's read and write limits and a small read buffer (httplib reads the
// head a byte at a time). The request has arrived whole before the stream is
// made, so reads try the socket before waiting on it. The first write (the
// status line and headers) is held and goes out with the body's first piece,
// in one segment: a reply in two writes costs a packet and, with a client
// that delays its acknowledgements, a wait. atOnce: nothing may wait, a write
// the socket cannot take fails instead.
class GateStream final : public httplib::Stream {
public:
    struct Peer {
        const std::string &address;
        int port;
        const std::string &localAddress;
        int localPort;
    };

    GateStream(int fd, bool atOnce, Peer peer) : m_fd(fd), m_atOnce(atOnce), m_peer(peer) {}

    bool is_readable() const override { return m_start < m_end || ready(POLLIN); }
    bool is_writable() const override { return m_atOnce || ready(POLLOUT); }

    ssize_t read(char *ptr, size_t size) override
    {
        if (m_start == m_end) {
            ssize_t n = recvSome(m_buffer, sizeof m_buffer, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!ready(POLLIN))
                    return -1;
                n = recvSome(m_buffer, sizeof m_buffer, 0);
            }
            if (n <= 0)
                return n;
            m_start = 0;
            m_end = size_t(n);
        }
        const size_t n = std::min(size, m_end - m_start);
        std::memcpy(ptr, m_buffer + m_start, n);
        m_start += n;
        return ssize_t(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (!m_wrote) {
            m_wrote = true;
            const std::string_view head(ptr, std::min<size_t>(size, 12));
            m_unreadRequest = head == "HTTP/1.1 400" || head == "HTTP/1.1 414";
            m_held.assign(ptr, size);
            return ssize_t(size);
        }
        return sendAll(ptr, size) ? ssize_t(size) : -1;
    }

    // Sends what is still held; false when the socket would not take it.
    bool flush()
    {
        return sendAll(nullptr, 0);
    }

    // The answer was a refusal of a request that was never read whole (its
    // line too long, or unreadable): where it ends is unknown, so the
    // connection cannot carry another.
    bool refusedUnreadRequest() const { return m_unreadRequest; }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        ip = m_peer.address;
        port = m_peer.port;
    }

    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        ip = m_peer.localAddress;
        port = m_peer.localPort;
    }

    socket_t socket() const override { return m_fd; }
    // Bytes read past the request: the start of another, sent without waiting.
    bool holdsMore() const { return m_start < m_end; }

private:
    bool ready(short events) const
    {
        if (m_atOnce)
            return false;
        pollfd one{m_fd, events, 0};
        int n;
        do
            n = ::poll(&one, 1, kLimitMs);
        while (n < 0 && errno == EINTR);
        return n > 0;
    }

    ssize_t recvSome(char *into, size_t size, int flags)
    {
        ssize_t n;
        do
            n = ::recv(m_fd, into, size, flags);
        while (n < 0 && errno == EINTR);
        return n;
    }

    // The held head, then ptr, all of it.
    bool sendAll(const char *ptr, size_t size)
    {
        size_t heldSent = 0;
        size_t sent = 0;
        while (heldSent < m_held.size() || sent < size) {
            iovec pieces[2];
            int count = 0;
            if (heldSent < m_held.size())
                pieces[count++] = {m_held.data() + heldSent, m_held.size() - heldSent};
            if (sent < size)
                pieces[count++] = {const_cast<char *>(ptr) + sent, size - sent};
            msghdr message{};
            message.msg_iov = pieces;
            message.msg_iovlen = size_t(count);
            ssize_t n;
            do
                n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                if ((errno == EAGAIN || errno == EWOULDBLOCK) && ready(POLLOUT))
                    continue;
                return false;
            }
            const size_t fromHeld = std::min(size_t(n), m_held.size() - heldSent);
            heldSent += fromHeld;
            sent += size_t(n) - fromHeld;
        }
        m_held.clear();
        return true;
    }

    // The same read and write limit httplib gives its own sockets.
    static constexpr int kLimitMs = CPPHTTPLIB_READ_TIMEOUT_SECOND * 1000;
    const int m_fd;
    const bool m_atOnce;
    const Peer m_peer;
    char m_buffer[4096];
    size_t m_start = 0;
    size_t m_end = 0;
    std::string m_held;
    bool m_wrote = false;
    bool m_unreadRequest = false;
};

thread_local std::set<std::string> *t_servedPaths = nullptr;

// Runs each accepted connection's hand-over on the listener's own thread: it
// only registers the connection with the gate.
class HandOver final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override {}
};

} // namespace

GatedHttpServer::GatedHttpServer(GateLimits limits)
    : m_limits(limits),
      m_workers(std::make_unique<httplib::ThreadPool>(limits.workers))
{
    new_task_queue = [] { return new HandOver; };
    size_t loops = limits.gateThreads;
    if (loops == 0)
        loops = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    for (size_t i = 0; i < loops; ++i) {
        auto loop = std::make_unique<Loop>();
        loop->poll = ::epoll_create1(EPOLL_CLOEXEC);
        loop->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epoll_event wake{};
        wake.events = EPOLLIN;
        wake.data.fd = loop->wake;
        ::epoll_ctl(loop->poll, EPOLL_CTL_ADD, loop->wake, &wake);
        m_loops.push_back(std::move(loop));
    }
    for (size_t i = 0; i < m_loops.size(); ++i) {
        Loop &loop = *m_loops[i];
        loop.thread = std::thread([this, &loop, i] { watch(loop, i == 0); });
    }
}

GatedHttpServer::~GatedHttpServer()
{
    stopGate();
    for (const auto &loop : m_loops) {
        ::close(loop->poll);
        ::close(loop->wake);
    }
}

std::set<std::string> *GatedHttpServer::servedConnectionPaths()
{
    return t_servedPaths;
}

void GatedHttpServer::stopGate()
{
    if (m_stopping.exchange(true))
        return;
    const uint64_t one = 1;
    for (const auto &loop : m_loops) {
        [[maybe_unused]] const ssize_t written = ::write(loop->wake, &one, sizeof one);
    }
    for (const auto &loop : m_loops)
        loop->thread.join();
    m_workers->shutdown();
    std::lock_guard lock(m_mutex);
    for (const auto &[fd, waiting] : m_waiting)
        ::close(fd);
    m_waiting.clear();
    m_perAddress.clear();
}

bool GatedHttpServer::process_and_close_socket(socket_t sock)
{
    admit(sock);
    return true;
}

void GatedHttpServer::admit(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int port = 0;
    const std::string address = ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0
                                    ? addressText(peer, &port)
                                    : std::string();
    sockaddr_storage local{};
    length = sizeof local;
    int localPort = 0;
    std::string localAddress = ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0
                                   ? addressText(local, &localPort)
                                   : std::string();
    bool taken = false;
    bool stopping = false;
    {
        std::lock_guard lock(m_mutex);
        int &open = m_perAddress[address];
        stopping = m_stopping;
        taken = open < m_limits.connectionsPerAddress && !stopping;
        if (taken)
            ++open;
        else if (open == 0)
            m_perAddress.erase(address);
    }
    if (!taken) {
        turnAway(fd, 503, "Service Unavailable", stopping ? "stopping" : "connections per address at their limit");
        ::close(fd);
        return;
    }
    Waiting waiting;
    waiting.address = address;
    waiting.port = port;
    waiting.localAddress = std::move(localAddress);
    waiting.localPort = localPort;
    waiting.deadline = Clock::now() + m_limits.requestDeadline;
    wait(fd, std::move(waiting));
}

void GatedHttpServer::wait(int fd, Waiting waiting, bool watch)
{
    {
        std::lock_guard lock(m_mutex);
        m_waiting.insert_or_assign(fd, std::move(waiting));
    }
    if (!watch)
        return;
    // Edge-triggered: the gate only peeks, so the bytes stay readable and a
    // level-triggered poll would report them again and again.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    event.data.fd = fd;
    ::epoll_ctl(pollOf(fd), EPOLL_CTL_ADD, fd, &event);
}

void GatedHttpServer::watch(Loop &loop, bool sweeps)
{
    std::vector<epoll_event> events(256);
    auto lastSweep = Clock::now();
    while (!m_stopping) {
        const int n = ::epoll_wait(loop.poll, events.data(), int(events.size()), 100);
        for (int i = 0; i < n; ++i) {
            if (events[size_t(i)].data.fd != loop.wake)
                check(events[size_t(i)].data.fd);
        }
        if (sweeps && Clock::now() - lastSweep >= std::chrono::milliseconds(100)) {
            expire();
            lastSweep = Clock::now();
        }
    }
}

void GatedHttpServer::check(int fd)
{
    std::string_view method;
    std::string_view target;
    const Arrival state = arrival(fd, &method, &target);
    if (state == Arrival::Partial)
        return;
    Waiting waiting;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_waiting.find(fd);
        if (found == m_waiting.end())
            return;
        waiting = std::move(found->second);
        m_waiting.erase(found);
    }
    // Served here, the connection stays watched: its next request is a new
    // edge. A worker must have it to itself.
    if (state == Arrival::Whole && m_quick && m_quick(method, target)) {
        serve(fd, std::move(waiting), true);
        return;
    }
    ::epoll_ctl(pollOf(fd), EPOLL_CTL_DEL, fd, nullptr);
    if (state == Arrival::Whole) {
        m_workers->enqueue([this, fd, waiting] { serve(fd, waiting, false); });
        return;
    }
    if (state == Arrival::TooLong)
        turnAway(fd, 431, "Request Header Fields Too Large", {});
    else if (state == Arrival::Unsupported)
        turnAway(fd, 501, "Not Implemented", {}, method, target);
    drop(fd, waiting.address);
}

void GatedHttpServer::expire()
{
    const auto now = Clock::now();
    std::vector<std::pair<int, std::string>> late;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_waiting.begin(); it != m_waiting.end();) {
            if (it->second.deadline > now) {
                ++it;
                continue;
            }
            late.emplace_back(it->first, std::move(it->second.address));
            it = m_waiting.erase(it);
        }
    }
    for (const auto &[fd, address] : late) {
        ::epoll_ctl(pollOf(fd), EPOLL_CTL_DEL, fd, nullptr);
        // A kept connection that merely sat idle is closed without a word.
        char byte;
        if (::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0)
            turnAway(fd, 408, "Request Timeout", {});
        drop(fd, address);
    }
}

void GatedHttpServer::serve(int fd, Waiting waiting, bool atOnce)
{
    GateStream stream(fd, atOnce, {waiting.address, waiting.port, waiting.localAddress, waiting.localPort});
    bool closeRequested = false;
    const bool last = waiting.served + 1 >= keep_alive_max_count_;
    t_servedPaths = &waiting.paths;
    bool answered = process_request(stream, last, closeRequested, nullptr);
    t_servedPaths = nullptr;
    answered = stream.flush() && answered;
    // A request sent before this one's answer could start in our buffer: the
    // gate could not watch its arrival, so such a client starts anew.
    if (!answered || closeRequested || last || stream.holdsMore() || stream.refusedUnreadRequest() || m_stopping) {
        ::shutdown(fd, SHUT_RDWR);
        drop(fd, waiting.address);
        return;
    }
    waiting.served += 1;
    // Between two requests a kept connection may sit idle as long as the
    // server keeps connections alive; a slow one holds a descriptor, never a
    // worker.
    waiting.deadline = Clock::now() + std::max<std::chrono::milliseconds>(
                                          m_limits.requestDeadline, std::chrono::seconds(keep_alive_timeout_sec_));
    wait(fd, std::move(waiting), !atOnce);
}

void GatedHttpServer::drop(int fd, const std::string &address)
{
    ::close(fd);
    std::lock_guard lock(m_mutex);
    const auto found = m_perAddress.find(address);
    if (found != m_perAddress.end() && --found->second <= 0)
        m_perAddress.erase(found);
}

GatedHttpServer::Arrival GatedHttpServer::arrival(int fd, std::string_view *method, std::string_view *target) const
{
    // Only the gate's thread peeks, into a buffer kept for it.
    thread_local std::string bytes;
    bytes.resize(kHeadRoom);
    ssize_t n = ::recv(fd, bytes.data(), bytes.size(), MSG_PEEK | MSG_DONTWAIT);
    if (n == 0)
        return Arrival::Gone;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Arrival::Partial : Arrival::Gone;
    const std::string_view seen(bytes.data(), size_t(n));
    size_t headEnd = seen.find("\r\n\r\n");
    headEnd = headEnd == std::string_view::npos ? seen.find("\n\n") : headEnd;
    if (headEnd == std::string_view::npos)
        return size_t(n) == kHeadRoom ? Arrival::TooLong : Arrival::Partial;
    const std::string_view head = seen.substr(0, headEnd);
    const std::string_view line = head.substr(0, head.find('\n'));
    const size_t space = line.find(' ');
    *method = line.substr(0, space);
    *target = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    *target = target->substr(0, target->find(' '));
    // Nothing here takes a body sent in pieces of unknown length.
    if (headerValue(head, "Transfer-Encoding"))
        return Arrival::Unsupported;
    const auto length = headerValue(head, "Content-Length");
    if (!length)
        return Arrival::Whole;
    const unsigned long long body = std::strtoull(std::string(*length).c_str(), nullptr, 10);
    if (body == 0)
        return Arrival::Whole;
    // A request with a body only ever goes to a worker.
    *method = {};
    *target = {};
    if (body > kBodyRoom)
        return Arrival::Whole;
    const size_t whole = headEnd + (seen[headEnd] == '\r' ? 4 : 2) + size_t(body);
    if (size_t(n) >= whole)
        return Arrival::Whole;
    bytes.resize(whole);
    n = ::recv(fd, bytes.data(), whole, MSG_PEEK | MSG_DONTWAIT);
    return n >= ssize_t(whole) ? Arrival::Whole : Arrival::Partial;
}

} // namespace norvale
