// Linked into the test programs of the thread sanitizer's build only.
//
// QProcess starts children with a clone that shares the parent's memory until
// the child runs exec (as vfork does). The sanitizer treats every clone as a
// fork and rewrites its own state in the child, which the parent shares, and
// then aborts. It turns vfork into fork for the same reason; this does the
// same for such a clone. The child reports a failed exec through a pipe, so
// it does not need the shared memory.
#include <sched.h>
#include <sys/types.h>

#include <cstdarg>

extern "C" int __interceptor_clone(int (*fn)(void *), void *stack, int flags, void *arg,
                                   int *parentTid, void *tls, pid_t *childTid);

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...)
{
    va_list rest;
    va_start(rest, arg);
    int *parentTid = va_arg(rest, int *);
    void *tls = va_arg(rest, void *);
    pid_t *childTid = va_arg(rest, pid_t *);
    va_end(rest);
    if ((flags & CLONE_VM) && (flags & CLONE_VFORK))
        flags &= ~(CLONE_VM | CLONE_VFORK);
    return __interceptor_clone(fn, stack, flags, arg, parentTid, tls, childTid);
}
