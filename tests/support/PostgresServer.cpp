#include "tests/support/PostgresServer.h"

#include "tests/support/ChildProcess.h"

#include <QDir>

#include <algorithm>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norvale::test {

namespace {

// The newest installed server's programs: Debian keeps them out of PATH.
QString serverBinaries()
{
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : found) {
        const QString bin = versions.filePath(version + QStringLiteral("/bin"));
        if (QFileInfo::exists(bin + QStringLiteral("/initdb")) && QFileInfo::exists(bin + QStringLiteral("/postgres")))
            return bin;
    }
    return {};
}

// A loopback port nobody holds right now.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
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

PostgresServer::~PostgresServer()
{
    stop();
}

QString PostgresServer::tool(const QString &name) const
{
    return m_bin + u'/' + name;
}

QString PostgresServer::socketFolder() const
{
    return m_dir ? m_dir->path() : QString();
}

bool PostgresServer::start(QString *why)
{
    const auto fail = [&](const QString &reason) {
        if (why)
            *why = reason;
        stop();
        return false;
    };
    m_bin = serverBinaries();
    if (m_bin.isEmpty())
        return fail(QStringLiteral("no PostgreSQL server installed (scripts/setup.sh installs postgresql)"));
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        return fail(QStringLiteral("no temporary folder"));
    // The server runs as `nobody` when the test is root, and must own its folder.
    if (::chown(QFile::encodeName(m_dir->path()).constData(), unprivilegedUser(), unprivilegedGroup()) != 0)
        return fail(QStringLiteral("cannot hand the temporary folder to the server's user"));

    const QString data = m_dir->filePath(QStringLiteral("data"));
    QString output;
    if (!runTool(tool(QStringLiteral("initdb")),
                 {QStringLiteral("-D"), data, QStringLiteral("-U"), user(), QStringLiteral("-A"), QStringLiteral("trust"),
                  QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
                 &output))
        return fail(QStringLiteral("initdb failed: ") + output);

    m_port = freePort();
    if (m_port == 0)
        return fail(QStringLiteral("no free loopback port"));
    if (!resume(why)) {
        stop();
        return false;
    }
    return true;
}

bool PostgresServer::resume(QString *why)
{
    const auto fail = [&](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    // An immediate shutdown when the test dies: a smart one would wait for
    // sessions that may be stopped or sleeping.
    endWithParentAsUnprivileged(m_server, SIGQUIT);
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setStandardOutputFile(m_dir->filePath(QStringLiteral("server.log")), QIODevice::Append);
    m_server.setWorkingDirectory(QDir::tempPath());
    m_server.start(tool(QStringLiteral("postgres")),
                   {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-p"),
                    QString::number(m_port), QStringLiteral("-k"), m_dir->path(), QStringLiteral("-c"),
                    QStringLiteral("listen_addresses=127.0.0.1"), QStringLiteral("-c"), QStringLiteral("fsync=off")});
    if (!m_server.waitForStarted(30000))
        return fail(QStringLiteral("the server did not start: ") + m_server.errorString());

    if (!waitUntilReady(m_server, 60000, [this] { return execute(QStringLiteral("select 1")); })) {
        QFile log(m_dir->filePath(QStringLiteral("server.log")));
        log.open(QIODevice::ReadOnly);
        return fail(QStringLiteral("the server did not come up: ") + QString::fromLocal8Bit(log.readAll()));
    }
    return true;
}

void PostgresServer::shutDown()
{
    // A fast shutdown: open connections are ended, nothing waits for them.
    endChild(m_server, SIGINT, 30000);
}

void PostgresServer::stop()
{
    shutDown();
    m_dir.reset();
}

QString PostgresServer::odbcConnectionText(const QString &database) const
{
    return QStringLiteral("Provider=MSDASQL;Driver=PostgreSQL Unicode;Servername=%1;Port=%2;Database=%3;UID=%4;"
                          "CommLog=0;Debug=0")
        .arg(socketFolder())
        .arg(m_port)
        .arg(database, user());
}

bool PostgresServer::execute(const QString &sql, QString *output, const QString &database) const
{
    QProcess psql;
    endWithParent(psql);
    return runToEnd(psql, tool(QStringLiteral("psql")),
                    {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                     QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), socketFolder(),
                     QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-U"), user(),
                     QStringLiteral("-d"), database, QStringLiteral("-c"), sql},
                    60000, output);
}

} // namespace norvale::test
