#include "norvale/work/WorkerPools.h"

#include <QCoreApplication>
#include <QThreadPool>

namespace norvale::workpools {

namespace {

QThreadPool *makePool(int threads)
{
    auto *pool = new QThreadPool;
    pool->setMaxThreadCount(threads);
    return pool;
}

struct Pools {
    // Never deleted: a worker may still be finishing a lookup when static
    // objects go away. The application's end waits for them instead.
    QThreadPool *lookups = makePool(32);
    QThreadPool *fetches = makePool(16);
    QThreadPool *queries = makePool(4);
    QThreadPool *drivers = makePool(64);
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

QThreadPool &lookups() { return *pools().lookups; }
QThreadPool &fetches() { return *pools().fetches; }
QThreadPool &queries() { return *pools().queries; }
QThreadPool &drivers() { return *pools().drivers; }

} // namespace norvale::workpools
