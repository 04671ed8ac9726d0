#include "norvale/work/WorkerPools.h"

#include <QCoreApplication>

namespace norvale::workpools {

namespace {

WorkerPool *makePool(int threads)
{
    auto *pool = new WorkerPool;
    pool->setMaxThreadCount(threads);
    return pool;
}

struct Pools {
    // Never deleted: a worker may still be finishing a lookup when static
    // objects go away. The application's end waits for them instead.
    WorkerPool *lookups = makePool(32);
    WorkerPool *fetches = makePool(16);
    WorkerPool *queries = makePool(4);
    WorkerPool *drivers = makePool(64);
};

void waitForWorkers();

Pools &pools()
{
    static Pools *instance = [] {
        auto *made = new Pools;
        // Stopped runs finish their current call and return; waiting for
        // that when the application object goes keeps workers from running
        // into Qt's teardown.
        qAddPostRoutine(waitForWorkers);
        return made;
    }();
    return *instance;
}

void waitForWorkers()
{
    Pools &all = pools();
    all.drivers->waitForDone();
    all.lookups->waitForDone();
    all.fetches->waitForDone();
    all.queries->waitForDone();
}

} // namespace

WorkerPool &lookups() { return *pools().lookups; }
WorkerPool &fetches() { return *pools().fetches; }
WorkerPool &queries() { return *pools().queries; }
WorkerPool &drivers() { return *pools().drivers; }

} // namespace norvale::workpools
