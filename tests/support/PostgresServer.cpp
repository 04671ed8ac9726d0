#include "tests/support/PostgresServer.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/Started.h"

#include <QDir>

#include <algorithm>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace norvale::test {

namespace {

// The newest installed server's programs: Debian keeps them out of PATH.
QString serverBinaries()
{
    QDir versions(u"/usr/lib/postgresql"_s);
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : found) {
        const QString bin = versions.filePath(version + u"/bin"_s);
        if (QFileInfo::exists(bin + u"/initdb"_s) && QFileInfo::exists(bin + u"/postgres"_s))
            return bin;
    }
    return {};
}


// Runs a program to its end: whether it succeeded, and what it said.
bool runToEnd(QProcess &process, const QString &program, const QStringList &arguments, int withinMs, QString *output)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(withinMs) && process.exitStatus() == QProcess::NormalExit
                    && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed()
                  + (process.error() == QProcess::UnknownError ? QString() : process.errorString());
    return ok;
}

// Runs a server program as the unprivileged user.
bool runTool(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    endWithParentAsUnprivileged(process);
    process.setWorkingDirectory(QDir::tempPath());
    return runToEnd(process, program, arguments, 120000, output);
}

} // namespace

bool PostgresServer::start(QString *why)
{
    const auto fail = [&](const QString &reason) {
        stop();
        return failed(why, reason);
    };
    m_bin = serverBinaries();
    if (m_bin.isEmpty())
        return fail(u"no PostgreSQL server installed (scripts/setup.sh installs postgresql)"_s);
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        return fail(u"no temporary folder"_s);
    // The server runs as `nobody` when the test is root, and must own its folder.
    if (::chown(QFile::encodeName(m_dir->path()).constData(), unprivilegedUser(), unprivilegedGroup()) != 0)
        return fail(u"cannot hand the temporary folder to the server's user"_s);

    const QString data = m_dir->filePath(u"data"_s);
    QString output;
    if (!runTool(tool(u"initdb"_s),
                 {u"-D"_s, data, u"-U"_s, user(), u"-A"_s, u"trust"_s, u"-E"_s, u"UTF8"_s, u"--locale=C"_s, u"--no-sync"_s},
                 &output))
        return fail(u"initdb failed: "_s + output);

    m_port = freeLoopbackPort();
    if (m_port == 0)
        return fail(u"no free loopback port"_s);
    if (!resume(why)) {
        stop();
        return false;
    }
    return true;
}

bool PostgresServer::resume(QString *why)
{
    // An immediate shutdown when the test dies: a smart one would wait for
    // sessions that may be stopped or sleeping.
    endWithParentAsUnprivileged(m_server, SIGQUIT);
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setStandardOutputFile(m_dir->filePath(u"server.log"_s), QIODevice::Append);
    m_server.setWorkingDirectory(QDir::tempPath());
    m_server.start(tool(u"postgres"_s), {u"-D"_s, m_dir->filePath(u"data"_s), u"-p"_s, QString::number(m_port), u"-k"_s,
                                         m_dir->path(), u"-c"_s, u"listen_addresses=127.0.0.1"_s, u"-c"_s, u"fsync=off"_s,
                                         // Room for the connections of several services' workers
                                         // (one each, up to 128) and of Norvale's.
                                         u"-c"_s, u"max_connections=400"_s});
    if (!m_server.waitForStarted(30000))
        return failed(why, u"the server did not start: "_s + m_server.errorString());

    if (!waitUntilReady(m_server, 60000, [this] { return execute(u"select 1"_s); })) {
        QFile log(m_dir->filePath(u"server.log"_s));
        log.open(QIODevice::ReadOnly);
        return failed(why, u"the server did not come up: "_s + QString::fromLocal8Bit(log.readAll()));
    }
    return true;
}

void PostgresServer::shutDown()
{
    // A fast shutdown: open connections are ended, nothing waits for them.
    endChild(m_server, SIGINT, 30000);
}

QString PostgresServer::odbcConnectionText(const QString &database) const
{
    return QStringLiteral("Provider=MSDASQL;Driver=PostgreSQL Unicode;Servername=%1;Port=%2;Database=%3;UID=%4;"
                          "CommLog=0;Debug=0").arg(socketFolder()).arg(m_port).arg(database, user());
}

bool PostgresServer::execute(const QString &sql, QString *output, const QString &database) const
{
    QProcess psql;
    endWithParent(psql);
    return runToEnd(psql, tool(u"psql"_s),
                    {u"-X"_s, u"-q"_s, u"-A"_s, u"-t"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-h"_s, socketFolder(), u"-p"_s,
                     QString::number(m_port), u"-U"_s, user(), u"-d"_s, database, u"-c"_s, sql}, 60000, output);
}

} // namespace norvale::test
