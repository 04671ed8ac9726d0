#pragma once

#include "norvale/core/work/HandOver.h"

#include <QThreadPool>

namespace norvale::workpools {

// Lowers the calling thread's scheduling priority to the workers' own, once
// per thread.
void lowerThisThread();

// The time slice the interface thread asks for, in nanoseconds.
constexpr quint64 promptSliceNs = 300'000;
// Asks the kernel for short time slices for the calling thread (the
// interface's), so that it is put on the processor as soon as it wakes,
// ahead of busy threads of its own priority (another program, a local
// server), rather than after their slices run out. Its work between two
// waits is short, so it gives up little. Kernels before 6.12 ignore the
// request; a failure leaves the thread as it was.
void askShortSlices();

// A pool of worker threads that run below the interface thread: each of its
// threads lowers its own scheduling priority before its first task, so on a
// machine with few cores the window gets the processor as soon as it has
// something to do, however many workers are busy. Tasks are handed over so
// that the thread sanitizer sees it (HandOver.h).
class WorkerPool final : public QThreadPool {
public:
    explicit WorkerPool(int threads) { setMaxThreadCount(threads); }

    template <typename Task>
    void start(Task task, int priority = 0)
    {
        const work::HandOverScope giving;
        auto lowered = [task = std::move(task)]() mutable {
            lowerThisThread();
            task();
        };
        QThreadPool::start(new work::PoolTask<decltype(lowered)>(std::move(lowered)), priority);
    }
};

// Process-wide worker pools of the long operations (the domain search and the
// lookups), one per kind of wait, so that each resource has its own bound
// however many runs overlap (a superseded run drains while the new one
// runs). Only a driver waits for other pools, and nothing waits for a
// driver, so the pools cannot deadlock.

// Name lookups: each is one UDP exchange at a time with the system's name
// server, which answers them in parallel. The pool's size is the number of
// queries in flight at once, for every search and IP lookup together: enough
// to keep a slow resolver busy, few enough not to flood a home router.
WorkerPool &lookups();
// Status page fetches. They all go to the one ldomainurl host, so this is the
// per-host limit, and with each worker keeping its connection, the number of
// connections a search holds open. Each is one small GET whose time goes to
// the page's own lookups, not to bandwidth; 16 keeps a slow page from setting
// the pace of the search while staying far below a small server's worker
// pool (norvale-services runs 128).
WorkerPool &fetches();
// Database queries. Every worker thread keeps its own connection, so the
// pool's size is also the number of connections the search holds open: 4
// keep queries flowing without crowding the operator's server.
WorkerPool &queries();
// One thread per running search or IP lookup to walk its steps in order.
WorkerPool &drivers();

// The priority of work a user is waiting on in a lookup window: it goes
// ahead of the search's queued work in the same pool.
inline constexpr int lookupPriority = 1;

} // namespace norvale::workpools
