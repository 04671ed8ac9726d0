#include "norvale/core/work/HandOver.h"

#include <mutex>

namespace norvale::work {

#ifdef NORVALE_THREAD_SANITIZER
namespace {

std::mutex &handOverLock()
{
    // Never destroyed: workers may still hand over while statics go away.
    static auto *lock = new std::mutex;
    return *lock;
}

} // namespace

HandOverScope::HandOverScope()
{
    handOverLock().lock();
}

HandOverScope::~HandOverScope()
{
    handOverLock().unlock();
}

void seeHandOver()
{
    const std::lock_guard seen(handOverLock());
}
#endif

} // namespace norvale::work
