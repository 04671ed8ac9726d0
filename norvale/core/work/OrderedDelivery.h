#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>

namespace norvale::work {

// Hands a run's reports on in the order they were queued, whichever worker
// finishes first. A place can be held for a report still being made (a
// candidate on the pools) and filled later from any thread; everything
// queued behind it waits until it is filled. Each report is a post, usually
// a queued call to the receiving engine; posts run under this object's lock,
// so they leave in queue order and never after close(). Thread-safe.
class OrderedDelivery final {
public:
    using Post = std::function<void()>;

    // Queues a report that is ready now; gives its place.
    qint64 push(Post post);
    // Holds the next place for a report still being made.
    qint64 hold();
    // Fills a held place. A place given up (skipHeld) or unknown is ignored.
    void fill(qint64 place, Post post);
    // Posts at once, ahead of whatever waits in the queue: the end of a run
    // that was stopped.
    void postNow(const Post &post);
    // Every held place still waiting is given up, with the reports queued
    // behind it: they are never posted, and filling them later does nothing.
    void skipHeld();
    // The receiver is going: nothing is posted any more.
    void close();

    // Held places not yet posted, filled or not.
    int held() const;
    // Returns at once when fewer than limit places are held; else waits until
    // a quarter of them are free again, or stop is set.
    void waitForRoom(int limit, const std::atomic<bool> &stop);
    // Wakes every waitForRoom, so that it reads stop again.
    void wake();

private:
    struct Slot {
        std::optional<Post> post;  // empty: held for a report still being made
        bool wasHeld = false;
    };

    void flushLocked();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Slot> m_queue;
    qint64 m_queueStart = 0;  // place of m_queue.front()
    int m_held = 0;
    bool m_closed = false;
    // A waiting waitForRoom is woken once fewer places than this are held.
    int m_roomBelow = std::numeric_limits<int>::max();
};

} // namespace norvale::work
