#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace norvale {

// How much a client may ask of the server before it is turned away.
struct GateLimits {
    // A request (its head, and a body it announces) must have arrived whole
    // this long after the connection was opened or had its last answer.
    std::chrono::milliseconds requestDeadline{std::chrono::seconds(10)};
    // Open connections from one client address; more are answered 503.
    int connectionsPerAddress = 256;
    size_t workers = 128;
    // Threads that watch connections and serve the quick requests, each
    // its own share of the connections; 0: one per processor, at most 4.
    size_t gateThreads = 0;
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

    // A request this says yes to (by its method and target, as sent) is
    // served at once on the gate's own thread instead of a worker's: meant
    // for answers that are ready and small, so that the usual page costs no
    // hand-over between threads. Its answer must go out without waiting; a
    // client whose socket cannot take it is dropped. Set before listening.
    using QuickCheck = std::function<bool(std::string_view method, std::string_view target)>;
    void setQuickCheck(QuickCheck quick) { m_quick = std::move(quick); }

    // On a worker serving a request: the paths asked for so far on that
    // request's connection, for the caller to keep notes in. nullptr
    // elsewhere. A connection's requests may be served by different workers.
    static std::set<std::string> *servedConnectionPaths();

private:
    using Clock = std::chrono::steady_clock;
    struct Waiting {
        std::string address;
        int port = 0;
        std::string localAddress;   // ours, as the client reached it
        int localPort = 0;
        Clock::time_point deadline;
        size_t served = 0;   // requests answered on this connection so far
        std::set<std::string> paths;   // see servedConnectionPaths()
    };
    enum class Arrival { Partial, Whole, TooLong, Unsupported, Gone };

    // Called by the listener for each accepted connection.
    bool process_and_close_socket(socket_t sock) override;

    void admit(int fd);
    // watch: add fd to the poll (false: it is there still).
    void wait(int fd, Waiting waiting, bool watch = true);
    struct Loop {
        int poll = -1;
        int wake = -1;
        std::thread thread;
    };
    void watch(Loop &loop, bool sweeps);
    int pollOf(int fd) const { return m_loops[size_t(fd) % m_loops.size()]->poll; }
    void check(int fd);
    void expire();
    void serve(int fd, Waiting waiting, bool atOnce);
    void drop(int fd, const std::string &address);
    // Whether the request on fd has arrived whole, judged without reading
    // it; when whole, *method and *target view the request line (valid until
    // the next call on this thread).
    Arrival arrival(int fd, std::string_view *method, std::string_view *target) const;

    const GateLimits m_limits;
    std::unique_ptr<httplib::ThreadPool> m_workers;
    QuickCheck m_quick;
    std::vector<std::unique_ptr<Loop>> m_loops;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;   // guards the two maps
    std::unordered_map<int, Waiting> m_waiting;
    std::map<std::string, int> m_perAddress;
};

} // namespace norvale
