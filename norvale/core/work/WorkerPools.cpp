#include "norvale/core/work/WorkerPools.h"

#include <QCoreApplication>

#include <malloc.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace norvale::workpools {

namespace {

// Nice value of a worker thread: the lowest. A nice-0 thread weighs 68 times
// a nice-19 one, so the interface thread keeps two thirds of a core even
// against all 32 lookup workers busy at once (at nice 10 it got under a quarter, and
// a 100,000-row search stalled the window now and then for 80 ms). Nice
// values only weigh threads against others in the same scheduling group (the
// session or the application's cgroup), and the workers mostly wait on the
// network, so the search loses next to nothing. On Linux the nice value
// belongs to each thread, and threads a worker starts (a database
// connection's) inherit it. Qt's thread priorities change nothing under the
// normal Linux scheduler.
constexpr int workerNice = 19;

// glibc gives threads heaps of their own ("arenas") up to eight per core and
// then shares its heaps out, the interface thread's among them. A worker at
// nice 19 that is put off the processor while it holds a shared heap's lock
// holds up every thread that allocates from that heap: in a search of a
// million rows the interface thread waited 10-19 ms at a time on its heap's
// lock. With a heap for every thread, it never waits for a worker's malloc.
constexpr int heapsAtMost = 1024;

struct Pools {
    // Never deleted: a worker may still be finishing a lookup when static
    // objects go away. The application's end waits for them instead.
    WorkerPool *lookups = new WorkerPool(32);
    WorkerPool *fetches = new WorkerPool(16);
    WorkerPool *queries = new WorkerPool(4);
    WorkerPool *drivers = new WorkerPool(64);
};

void waitForWorkers();

Pools &pools()
{
    static Pools *instance = [] {
#ifdef __GLIBC__
        // Before the first worker starts: a thread takes its heap at its
        // first allocation.
        mallopt(M_ARENA_MAX, heapsAtMost);
#endif
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

void lowerThisThread()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    // Raising one's own nice value needs no privilege; a failure leaves the
    // thread as it was.
    ::setpriority(PRIO_PROCESS, id_t(::gettid()), workerNice);
}

namespace {

// The kernel's struct sched_attr, as its first version laid it out: glibc
// 2.36 neither wraps sched_setattr nor declares the struct, and the kernel's
// header clashes with <sched.h>.
struct SchedAttr {
    quint32 size = sizeof(SchedAttr);
    quint32 policy = 0;
    quint64 flags = 0;
    qint32 nice = 0;
    quint32 priority = 0;
    quint64 runtime = 0;
    quint64 deadline = 0;
    quint64 period = 0;
};
static_assert(sizeof(SchedAttr) == 48);

} // namespace

void askShortSlices()
{
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    if (errno != 0)
        return;
    SchedAttr attr;
    attr.policy = SCHED_OTHER;
    attr.nice = nice;  // kept: only the slice changes
    attr.runtime = promptSliceNs;
    ::syscall(SYS_sched_setattr, 0, &attr, 0u);
}

WorkerPool &lookups() { return *pools().lookups; }
WorkerPool &fetches() { return *pools().fetches; }
WorkerPool &queries() { return *pools().queries; }
WorkerPool &drivers() { return *pools().drivers; }

} // namespace norvale::workpools
