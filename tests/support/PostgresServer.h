#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace norvale::test {

// A private PostgreSQL server for one test: a fresh cluster in a temporary
// folder, run as an unprivileged user when the test is root, reached through
// a unix socket in that folder and on a free loopback port, and stopped (or
// ended with the test's process) when done. The superuser is "norvale",
// without a password.
class PostgresServer final {
public:
    PostgresServer() = default;
    ~PostgresServer() { stop(); }
    Q_DISABLE_COPY_MOVE(PostgresServer)

    // Creates the cluster and starts the server. False with the reason when
    // that is impossible here (no server installed, initdb refused): tests
    // then skip with it.
    bool start(QString *why);
    void stop()
    {
        shutDown();
        m_dir.reset();
    }
    // Shuts the server down as an operator's fast stop does, keeping its
    // data, port and socket folder; resume() starts it again.
    void shutDown();
    bool resume(QString *why);

    QString socketFolder() const { return m_dir ? m_dir->path() : QString(); }
    int port() const { return m_port; }
    static QString user() { return QStringLiteral("norvale"); }

    // The connection text Norvale reads for this server, through the
    // PostgreSQL ODBC driver.
    QString odbcConnectionText(const QString &database = QStringLiteral("postgres")) const;

    // Runs SQL with psql as the superuser; false with psql's message in *output.
    bool execute(const QString &sql, QString *output = nullptr,
                 const QString &database = QStringLiteral("postgres")) const;

private:
    QString tool(const QString &name) const { return m_bin + u'/' + name; }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    QProcess m_server;
    int m_port = 0;
};

} // namespace norvale::test
