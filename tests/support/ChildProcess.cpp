#include "tests/support/ChildProcess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace norvale::test {

namespace {

// In the child, between fork and exec: only async-signal-safe calls.
void dieWithParent(pid_t parent, int signal)
{
    ::prctl(PR_SET_PDEATHSIG, signal);
    // The parent may have gone before the line above took effect.
    if (::getppid() != parent)
        ::_exit(1);
}

struct Ids {
    uid_t uid;
    gid_t gid;
};

Ids nobody()
{
    if (::geteuid() == 0) {
        if (const passwd *user = ::getpwnam("nobody"))
            return {user->pw_uid, user->pw_gid};
    }
    return {::geteuid(), ::getegid()};
}

} // namespace

void endWithParent(QProcess &process, int signal)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent, signal] { dieWithParent(parent, signal); });
}

void endWithParentAsUnprivileged(QProcess &process, int signal)
{
    const pid_t parent = ::getpid();
    const Ids ids = nobody();
    const bool drop = ::geteuid() == 0;
    process.setChildProcessModifier([parent, ids, drop, signal] {
        if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(ids.gid) != 0 || ::setuid(ids.uid) != 0))
            ::_exit(126);
        // After setuid: changing the user clears the death signal.
        dieWithParent(parent, signal);
    });
}

uid_t unprivilegedUser()
{
    return nobody().uid;
}

gid_t unprivilegedGroup()
{
    return nobody().gid;
}

void endChild(QProcess &process, int signal, int graceMs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), signal);
    if (!process.waitForFinished(graceMs)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool waitUntilReady(QProcess &process, int withinMs, const std::function<bool()> &ready)
{
    for (QDeadlineTimer deadline(withinMs); !ready();) {
        if (process.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
        // A child whose output goes to a file wakes no one: pause instead.
        QElapsedTimer waited;
        waited.start();
        if (!process.waitForReadyRead(100) && waited.elapsed() < 100)
            QThread::msleep(100);
    }
    return true;
}

ProgramRun runProgram(const QString &program, const QStringList &arguments, const QByteArray &input, int withinMs)
{
    QProcess process;
    endWithParent(process);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(withinMs)) {
        endChild(process, SIGKILL);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace norvale::test
