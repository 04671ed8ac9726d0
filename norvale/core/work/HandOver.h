#pragma once

#include <QMetaObject>
#include <QObject>
#include <QRunnable>

#include <utility>

// Qt is not built with the thread sanitizer, so the sanitizer cannot see the
// locks inside Qt that hand a task to a pool's worker or a queued call to
// another thread: to it, the task's captures are written by one thread and
// read by another with nothing in between. In the sanitizer's build the
// hand-overs below also pass a lock of our own that the sanitizer does see,
// so a race it reports is one of ours. Elsewhere they cost nothing.
#if defined(__SANITIZE_THREAD__)
#define NORVALE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NORVALE_THREAD_SANITIZER 1
#endif
#endif

namespace norvale::work {

#ifdef NORVALE_THREAD_SANITIZER
// Held while a task is handed over (constructed, then given to Qt).
class HandOverScope final {
public:
    HandOverScope();
    ~HandOverScope();
    Q_DISABLE_COPY_MOVE(HandOverScope)
};
// Called by the receiving thread before it touches the task.
void seeHandOver();
#else
class HandOverScope final {
public:
    HandOverScope() {}  // user-provided, so that a scope is no "unused variable"
    Q_DISABLE_COPY_MOVE(HandOverScope)
};
inline void seeHandOver() {}
#endif

// A pool's task: it sees the hand-over before it touches its captures.
template <typename Task>
class PoolTask final : public QRunnable {
public:
    explicit PoolTask(Task task) : m_task(std::move(task)) {}
    void run() override
    {
        seeHandOver();
        m_task();
    }

private:
    Task m_task;
};

// Calls call on receiver's thread, from its event loop. Nothing runs when
// the receiver is gone by then.
template <typename Call>
void postTo(QObject *receiver, Call call)
{
    const HandOverScope giving;
    QMetaObject::invokeMethod(
        receiver,
        [call = std::move(call)]() mutable {
            seeHandOver();
            call();
        },
        Qt::QueuedConnection);
}

} // namespace norvale::work
