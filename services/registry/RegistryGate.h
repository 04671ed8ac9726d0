#pragma once

#include "services/registry/RegistryProtocols.h"

#include <condition_variable>
#include <list>
#include <mutex>

namespace norvale {

// How hard the services may press one registry server.
struct ServerLimits {
    double perSecond = 5;    // queries started per second
    int inFlight = 4;        // queries open at once
    int waiting = 64;        // asks queued for it (half the workers); more are "unknown" at once
};

// The limits of one registry server, shared by every worker that asks it.
// A worker waits for its turn only as long as its page allows, so a slow or
// refusing server holds no worker beyond that bound and never the asks of
// other servers, which have gates of their own.
class RegistryGate final {
public:
    enum class Entry { Granted, Busy, Down };

    explicit RegistryGate(ServerLimits limits) : m_limits(limits) {}
    RegistryGate(const RegistryGate &) = delete;
    RegistryGate &operator=(const RegistryGate &) = delete;

    // Waits for a turn that starts before deadline. After Granted the caller
    // must leave().
    Entry enter(RegistryClock::time_point deadline);
    void leave();

    // The server answered 429 or said it is refusing: no query before
    // retryAfter has passed; without one, a pause that doubles with every
    // refusal in a row (1 s up to 60 s).
    void slowDown(std::chrono::milliseconds retryAfter);
    // An answer came: the pause is forgotten.
    void answered();
    // The server refused the connection or never took it: asks fail at once
    // for the next ten seconds instead of each waiting out its own bound.
    void markDown();

private:
    const ServerLimits m_limits;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_inFlight = 0;
    std::list<int> m_queue;   // waiting asks, first come first served
    int m_nextTicket = 0;
    int m_refusals = 0;
    RegistryClock::time_point m_nextStart{};
    RegistryClock::time_point m_heldUntil{};
    RegistryClock::time_point m_downUntil{};
};

} // namespace norvale
