#pragma once

#include "tests/support/ChildProcess.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace norvale::test {

// Runs the real norvale-services on a free loopback port with a database of
// its own, for one test or benchmark, and stops it cleanly when destroyed.
// The services also end when the test's process does, however it ends.
class ServicesProcess final {
public:
    struct Options {
        int delayMs = 0;          // per-request delay, as --delay
        QString delayPath;        // only requests under this path are delayed (--delay-path)
        QString databasePath;     // empty: a fresh database in a temporary folder
        QStringList extraArguments;
    };

    ServicesProcess() : ServicesProcess(Options()) {}
    explicit ServicesProcess(Options options) : m_options(std::move(options)) {}
    ~ServicesProcess() { stop(); }
    Q_DISABLE_COPY_MOVE(ServicesProcess)

    // Starts the program and waits until it serves, on the port it had
    // before if any. False with a reason when it did not come up.
    bool start(QString *error = nullptr);
    void stop() { endChild(m_process); }
    // Starts it again on the same port and database, once the running
    // process is gone (a test killed it, say).
    bool restart(QString *error = nullptr);

    QString baseUrl() const { return m_baseUrl; }   // http://127.0.0.1:PORT
    int port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    QString databasePath() const { return m_databasePath; }
    // The data-address service's address with the right access value.
    QString dataServiceUrl() const;
    // How often path has been requested since the start, and over how many
    // connections (the /stats page).
    int requestCount(const QString &path) const;
    int connectionCount(const QString &path) const;
    // What the program wrote to standard error so far: its log.
    QByteArray log() const;
    // Runs one statement on the service's database from outside.
    bool execSql(const QString &statement) const;

private:
    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    // Standard error goes to a file there: a pipe nobody reads would fill
    // and stop the program mid-log.
    QTemporaryDir m_logDir;
    QProcess m_process;
    QString m_databasePath;
    QString m_baseUrl;
    int m_port = 0;
};

} // namespace norvale::test
