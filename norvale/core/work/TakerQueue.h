#pragma once

#include <deque>
#include <mutex>
#include <vector>

namespace norvale::work {

// Items for a pool, taken by at most `width` running tasks ("takers") from one
// queue. A taker takes items until none is left, so a stream of a million
// items costs a task start and a thread wake only when a taker is missing,
// not one per item. The owner starts the takers (push says when one is
// needed) and ends each when take finds nothing. Thread-safe.
template <typename Item>
class TakerQueue final {
public:
    explicit TakerQueue(int width) : m_width(width) {}

    // Queues an item; true when the caller must start a taker for it.
    [[nodiscard]] bool push(Item item)
    {
        const std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
        if (m_takers >= m_width)
            return false;
        ++m_takers;
        return true;
    }

    // The next items, at most `most`, for a running taker; false, ending
    // that taker, when none is left.
    [[nodiscard]] bool take(std::vector<Item> *items, int most)
    {
        items->clear();
        const std::lock_guard lock(m_mutex);
        if (m_items.empty()) {
            --m_takers;
            return false;
        }
        while (!m_items.empty() && int(items->size()) < most) {
            items->push_back(std::move(m_items.front()));
            m_items.pop_front();
        }
        return true;
    }

    // Drops every queued item; the takers end at their next take.
    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_items.clear();
    }

private:
    const int m_width;
    std::mutex m_mutex;
    std::deque<Item> m_items;
    int m_takers = 0;
};

} // namespace norvale::work
