#pragma once

#include <QProcess>

#include <csignal>
#include <functional>

namespace norvale::test {

// A child a test starts ends with the test's process, however that ends (a
// crash, a time-out's kill): the kernel sends it `signal` then. Call before
// start().
void endWithParent(QProcess &process, int signal = SIGTERM);

// The same, and the child also gives up root for the unprivileged user
// `nobody`, as a server refuses to run as root. Where the test does not run
// as root the child keeps the test's user.
void endWithParentAsUnprivileged(QProcess &process, int signal = SIGTERM);

// The user and group ids endWithParentAsUnprivileged gives the child; the
// test's own when it is not root.
uid_t unprivilegedUser();
gid_t unprivilegedGroup();

// Sends a running child signal, and kills it when it has not ended within
// graceMs.
void endChild(QProcess &process, int signal = SIGTERM, int graceMs = 10000);

// Waits until ready() holds, asking again whenever the child writes or at
// least every tenth of a second; false when the child ended or withinMs
// passed first.
bool waitUntilReady(QProcess &process, int withinMs, const std::function<bool()> &ready);

// A program run to its end, and what it wrote.
struct ProgramRun {
    int exitCode = -1;   // -1: it crashed, or did not end in time
    QByteArray out;
    QByteArray err;
};

// Runs program with arguments, input on its standard input, and kills it when
// it has not ended within withinMs.
ProgramRun runProgram(const QString &program, const QStringList &arguments, const QByteArray &input = {},
                      int withinMs = 60000);

} // namespace norvale::test
