#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>

namespace norvale {

// How much a client may ask of the server before it is turned away.
struct GateLimits {
    // A request (its head, and a body it announces) must have arrived whole
    // this long after the connection was opened or had its last answer.
    std::chrono::milliseconds requestDeadline{std::chrono::seconds(10)};
    // Open connections from one client address; more are answered 503.
    int connectionsPerAddress = 256;
    size_t workers = 128;
};

// An HTTP server whose workers only ever see requests that have arrived
// whole. New connections, and kept ones between two requests, wait in one
// poll of their own until their request is in; then a worker serves that one
// request. A client that sends a byte now and then holds a descriptor until
// its deadline, never a worker, so slow clients cannot starve the others.
class GatedHttpServer final : public httplib::Server {
public:
    explicit GatedHttpServer(GateLimits limits);
    ~GatedHttpServer() override;
    GatedHttpServer(const GatedHttpServer &) = delete;
    GatedHttpServer &operator=(const GatedHttpServer &) = delete;

    // Closes every waiting connection and ends the workers once they are
    // done; after httplib::Server::stop(). Callable more than once.
    void stopGate();

    // On a worker serving a request: the paths asked for so far on that
    // request's connection, for the caller to keep notes in. nullptr
    // elsewhere. A connection's requests may be served by different workers.
    static std::set<std::string> *servedConnectionPaths();

private:
    using Clock = std::chrono::steady_clock;
    struct Waiting {
        std::string address;
        Clock::time_point deadline;
        size_t served = 0;   // requests answered on this connection so far
        std::set<std::string> paths;   // see servedConnectionPaths()
    };
    enum class Arrival { Partial, Whole, TooLong, Unsupported, Gone };

    // Called by the listener for each accepted connection.
    bool process_and_close_socket(socket_t sock) override;

    void admit(int fd);
    void wait(int fd, Waiting waiting);
    void watch();
    void check(int fd);
    void expire();
    void serve(int fd, Waiting waiting);
    void drop(int fd, const std::string &address);
    // Whether the request on fd has arrived whole, judged without reading it.
    Arrival arrival(int fd) const;

    const GateLimits m_limits;
    std::unique_ptr<httplib::ThreadPool> m_workers;
    int m_poll = -1;
    int m_wake = -1;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;   // guards the two maps
    std::unordered_map<int, Waiting> m_waiting;
    std::map<std::string, int> m_perAddress;
    std::thread m_watcher;
};

} // namespace norvale
