#pragma once

#include "norvale/work/HandOver.h"

#include <QThreadPool>

namespace norvale::workpools {

// A QThreadPool whose tasks are handed over so that the thread sanitizer
// sees it (HandOver.h).
class WorkerPool final : public QThreadPool {
public:
    template <typename Task>
    void start(Task task, int priority = 0)
    {
        const work::HandOverScope giving;
        QThreadPool::start(new work::PoolTask<Task>(std::move(task)), priority);
    }
};

// Process-wide worker pools of the long operations (the domain search and the
// lookups), one per kind of wait, so that each resource has its own bound
// however many runs overlap (a superseded run drains while the new one
// runs). Only a driver waits for other pools, and nothing waits for a
// driver, so the pools cannot deadlock.

// Name lookups: the system resolver answers in parallel and each lookup is a
// single UDP exchange; 32 keep a slow resolver busy without flooding it.
WorkerPool &lookups();
// Status page fetches. They all go to the one ldomainurl host, so this is the
// per-host limit. Each is one small GET whose time goes to the page's own
// lookups, not to bandwidth; 16 keeps a slow page from setting the pace of the
// search while staying far below a small server's worker pool
// (norvale-services runs 128).
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
