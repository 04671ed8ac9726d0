#include "services/registry/RegistryGate.h"

#include <algorithm>

namespace norvale {

RegistryGate::Entry RegistryGate::enter(RegistryClock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    if (RegistryClock::now() < m_downUntil)
        return Entry::Down;
    if (int(m_queue.size()) >= m_limits.waiting)
        return Entry::Busy;
    // In order of arrival: an ask that came first goes first, so none waits
    // out its page's bound while later ones pass it.
    const auto ticket = m_queue.insert(m_queue.end(), m_nextTicket++);
    Entry entry = Entry::Granted;
    for (;;) {
        const auto now = RegistryClock::now();
        const auto start = std::max({now, m_nextStart, m_heldUntil});
        if (now < m_downUntil) {
            entry = Entry::Down;
            break;
        }
        if (start >= deadline) {
            entry = Entry::Busy;
            break;
        }
        if (ticket == m_queue.begin() && start <= now && m_inFlight < m_limits.inFlight)
            break;
        m_changed.wait_until(lock, ticket == m_queue.begin() && m_inFlight < m_limits.inFlight ? start : deadline);
    }
    m_queue.erase(ticket);
    if (entry == Entry::Granted) {
        ++m_inFlight;
        const auto interval = std::chrono::duration_cast<RegistryClock::duration>(
            std::chrono::duration<double>(1.0 / std::max(m_limits.perSecond, 0.001)));
        // On schedule even when this worker woke a little late; after a quiet
        // spell the schedule starts again from now, with no burst.
        const auto now = RegistryClock::now();
        m_nextStart = (now - m_nextStart < interval ? m_nextStart : now) + interval;
    }
    lock.unlock();
    m_changed.notify_all();   // the next in line may go, or must recheck
    return entry;
}

void RegistryGate::leave()
{
    {
        std::lock_guard lock(m_mutex);
        --m_inFlight;
    }
    m_changed.notify_all();
}

void RegistryGate::slowDown(std::chrono::milliseconds retryAfter)
{
    std::lock_guard lock(m_mutex);
    m_refusals = std::min(m_refusals + 1, 7);
    const auto pause = retryAfter.count() >= 0 ? retryAfter
                                               : std::chrono::milliseconds(std::min(1000 << (m_refusals - 1), 60000));
    m_heldUntil = std::max(m_heldUntil, RegistryClock::now() + pause);
}

void RegistryGate::answered()
{
    std::lock_guard lock(m_mutex);
    m_refusals = 0;
}

void RegistryGate::markDown()
{
    {
        std::lock_guard lock(m_mutex);
        m_downUntil = RegistryClock::now() + std::chrono::seconds(10);
    }
    m_changed.notify_all();
}

} // namespace norvale
