#include "norvale/core/work/OrderedDelivery.h"

#include <algorithm>
#include <limits>

namespace norvale::work {

qint64 OrderedDelivery::push(Post post)
{
    const std::lock_guard lock(m_mutex);
    const qint64 place = m_queueStart + qint64(m_queue.size());
    m_queue.push_back({std::move(post), false});
    flushLocked();
    return place;
}

qint64 OrderedDelivery::hold()
{
    const std::lock_guard lock(m_mutex);
    const qint64 place = m_queueStart + qint64(m_queue.size());
    m_queue.push_back({std::nullopt, true});
    ++m_held;
    return place;
}

void OrderedDelivery::fill(qint64 place, Post post)
{
    const std::lock_guard lock(m_mutex);
    const qint64 at = place - m_queueStart;
    if (at < 0 || at >= qint64(m_queue.size()))
        return;
    Slot &slot = m_queue[size_t(at)];
    if (!slot.wasHeld || slot.post)
        return;
    slot.post = std::move(post);
    flushLocked();
}

void OrderedDelivery::postNow(const Post &post)
{
    const std::lock_guard lock(m_mutex);
    if (!m_closed)
        post();
}

void OrderedDelivery::skipHeld()
{
    const std::lock_guard lock(m_mutex);
    m_queueStart += qint64(m_queue.size());
    m_queue.clear();
    m_held = 0;
    m_changed.notify_all();
}

void OrderedDelivery::close()
{
    const std::lock_guard lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

int OrderedDelivery::held() const
{
    const std::lock_guard lock(m_mutex);
    return m_held;
}

void OrderedDelivery::waitForRoom(int limit, const std::atomic<bool> &stop)
{
    std::unique_lock lock(m_mutex);
    if (m_held < limit)
        return;
    // Woken once a quarter of the places are free rather than at each one,
    // so that a long run wakes its driver once per batch, not per report.
    m_roomBelow = std::max(1, limit - limit / 4);
    m_changed.wait(lock, [&] { return stop.load() || m_held < m_roomBelow; });
    m_roomBelow = std::numeric_limits<int>::max();
}

void OrderedDelivery::wake()
{
    const std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

void OrderedDelivery::flushLocked()
{
    bool moved = false;
    while (!m_queue.empty() && m_queue.front().post) {
        Slot &front = m_queue.front();
        if (front.wasHeld)
            --m_held;
        if (!m_closed)
            (*front.post)();
        m_queue.pop_front();
        ++m_queueStart;
        moved = true;
    }
    if (moved && m_held < m_roomBelow)
        m_changed.notify_all();
}

} // namespace norvale::work
