#include "norvale/core/data/ThreadConnections.h"

#include "norvale/core/data/ConnectionText.h"
#include "norvale/core/data/OdbcDriverManager.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlResult>
#include <QSqlQuery>
#include <QThreadStorage>

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace norvale {

namespace {

using Clock = std::chrono::steady_clock;

// A thread that is handed ever new texts must not pile up connections.
constexpr std::size_t MaxConnectionsPerThread = 8;

// Opening waits for the driver's own login limit (60 s, set with the
// connection text's mapping); a little more before it is given up.
constexpr std::chrono::seconds OpenLimit{65};

std::atomic<qint64> statementLimitMs{qint64(NORVALE_STATEMENT_TIME_LIMIT) * 1000};

// Connections given up while their driver still had them.
std::atomic<int> abandonedThreads{0};

QString nextConnectionName()
{
    static std::atomic<quint64> counter{0};
    return QStringLiteral("norvale-db-") + QString::number(++counter);
}

// The file a SQLite connection reads. A file replaced under it (a new
// database copied into place) is new data the old connection never sees.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};

std::optional<FileIdentity> identityOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

// One piece of work handed to a connection's thread, and how it went.
struct Job {
    enum class Phase { Opening, Running, Done };

    detail::ConnectionWork work;
    std::mutex mutex;
    std::condition_variable changed;
    Phase phase = Phase::Opening;   // waiting for the thread counts as opening
    Clock::time_point phaseStart = Clock::now();
    bool ok = false;
    bool opened = false;
    QString error;

    void enter(Phase next)
    {
        const std::lock_guard lock(mutex);
        phase = next;
        phaseStart = Clock::now();
        changed.notify_all();
    }
    void finish(bool succeeded, const QString &why)
    {
        const std::lock_guard lock(mutex);
        ok = succeeded;
        error = why;
        phase = Phase::Done;
        changed.notify_all();
    }
};

// One connection and the thread it lives on. The thread runs one job at a
// time and holds the object, so that a connection given up can finish on its
// own.
class ConnectionThread final : public std::enable_shared_from_this<ConnectionThread> {
public:
    explicit ConnectionThread(QString text) : m_text(std::move(text)) {}

    void start()
    {
        m_thread = std::thread([self = shared_from_this()] { self->loop(); });
    }
    void post(std::shared_ptr<Job> job)
    {
        const std::lock_guard lock(m_mutex);
        m_job = std::move(job);
        m_wake.notify_all();
    }
    // Ends the thread once it is idle and waits for it.
    void finish()
    {
        quit();
        if (m_thread.joinable())
            m_thread.join();
    }
    // Lets the thread go: it closes its connection and ends by itself once
    // the driver returns.
    void abandon()
    {
        ++abandonedThreads;
        m_abandoned = true;
        quit();
        m_thread.detach();
    }

private:
    void quit()
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        m_wake.notify_all();
    }
    void loop();
    void run(Job &job);
    bool open(bool *reused, QString *error);
    bool lost();
    // Whether the server still answers on this connection. Some ODBC drivers
    // (psqlODBC after a server restart) report a dropped connection as
    // alive, so a failure is followed by one trivial statement.
    bool answers();
    void close();

    const QString m_text;
    std::thread m_thread;
    std::atomic<bool> m_abandoned{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<Job> m_job;   // guarded by m_mutex
    bool m_quit = false;          // guarded by m_mutex

    // The thread's own.
    QString m_name;
    QString m_driver;
    QString m_file;
    std::optional<FileIdentity> m_fileIdentity;
};

void ConnectionThread::loop()
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_job || m_quit; });
            if (!m_job)
                break;
            job = std::move(m_job);
        }
        run(*job);
    }
    close();
    if (m_abandoned)
        --abandonedThreads;
}

void ConnectionThread::run(Job &job)
{
    QString error;
    bool reused = false;
    if (!open(&reused, &error)) {
        job.finish(false, error);
        return;
    }
    job.opened = true;
    for (;;) {
        job.enter(Job::Phase::Running);
        bool done = false;
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            done = job.work(db, &error);
        }
        if (done) {
            job.finish(true, {});
            return;
        }
        // A statement the server refused leaves a good connection; only a
        // lost one is replaced, and then the work runs once more.
        if (!lost() && answers()) {
            job.finish(false, error);
            return;
        }
        close();
        if (!reused) {
            job.finish(false, error);
            return;
        }
        job.enter(Job::Phase::Opening);
        if (!open(&reused, &error)) {
            job.finish(false, error);
            return;
        }
    }
}

bool ConnectionThread::open(bool *reused, QString *error)
{
    *reused = false;
    if (!m_name.isEmpty()) {
        bool usable = false;
        {
            const QSqlDatabase db = QSqlDatabase::database(m_name, false);
            usable = db.isOpen();
        }
        if (usable && !lost()) {
            *reused = true;
            return true;
        }
        close();
    }

    const SqlConnectionSettings settings = mapConnectionText(m_text);
    if (!settings.isValid()) {
        *error = settings.error;
        return false;
    }
    const QString name = nextConnectionName();
    bool opened = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(settings.driver, name);
        if (!db.isValid()) {
            *error = QStringLiteral("The database driver %1 is not available").arg(settings.driver);
        } else {
            db.setDatabaseName(settings.databaseName);
            db.setConnectOptions(settings.connectOptions);
            opened = db.open();
            if (!opened)
                *error = db.lastError().text();
        }
    }
    if (!opened) {
        QSqlDatabase::removeDatabase(name);
        return false;
    }
    m_name = name;
    m_driver = settings.driver;
    if (m_driver == QLatin1StringView("QSQLITE")) {
        m_file = settings.databaseName;
        m_fileIdentity = identityOf(m_file);
    }
    return true;
}

bool ConnectionThread::answers()
{
    if (m_driver == QLatin1StringView("QSQLITE"))
        return true;
    QSqlQuery probe(QSqlDatabase::database(m_name, false));
    return probe.exec(QStringLiteral("SELECT 1"));
}

bool ConnectionThread::lost()
{
    if (m_driver == QLatin1StringView("QSQLITE"))
        return !m_fileIdentity || identityOf(m_file) != m_fileIdentity;
    const QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        return true;
    if (m_driver == QLatin1StringView("QODBC"))
        return odbc::connectionDead(db.driver()->handle());
    return db.lastError().type() == QSqlError::ConnectionError;
}

void ConnectionThread::close()
{
    if (m_name.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
    m_fileIdentity.reset();
}

// A process that ends normally waits a moment for connections given up, so
// that none of them is still closing while Qt SQL itself goes away.
void waitForAbandoned()
{
    for (int i = 0; i < 50 && abandonedThreads.load() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

struct ThreadConnectionHolder {
    struct Entry {
        QString text;
        std::shared_ptr<ConnectionThread> connection;
    };
    std::vector<Entry> entries;  // oldest first

    ~ThreadConnectionHolder()
    {
        for (const Entry &entry : entries)
            entry.connection->finish();
    }

    std::shared_ptr<ConnectionThread> find(const QString &text) const
    {
        for (const Entry &entry : entries) {
            if (entry.text == text)
                return entry.connection;
        }
        return nullptr;
    }

    std::shared_ptr<ConnectionThread> take(const QString &text)
    {
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->text == text) {
                std::shared_ptr<ConnectionThread> connection = std::move(it->connection);
                entries.erase(it);
                return connection;
            }
        }
        return nullptr;
    }
};

// QThreadStorage, not thread_local: Qt clears it while a QThread finishes,
// before wait() returns, and the main thread's when the application object
// goes. A thread_local would be destroyed after wait() returned, racing with
// Qt SQL's own teardown at exit.
ThreadConnectionHolder &threadHolder()
{
    static auto *storage = [] {
        qAddPostRoutine(waitForAbandoned);
        return new QThreadStorage<ThreadConnectionHolder *>;  // outlives every thread
    }();
    if (!storage->hasLocalData())
        storage->setLocalData(new ThreadConnectionHolder);
    return *storage->localData();
}

int wholeSeconds(std::chrono::milliseconds span)
{
    return int((span.count() + 999) / 1000);
}

} // namespace

std::chrono::milliseconds statementTimeLimit()
{
    return std::chrono::milliseconds(statementLimitMs.load());
}

void setStatementTimeLimit(std::chrono::milliseconds limit)
{
    statementLimitMs = std::max<qint64>(1, limit.count());
}

bool detail::runOnThreadConnection(const QString &connectionText, QString *error, ConnectionWork work)
{
    ThreadConnectionHolder &holder = threadHolder();
    std::shared_ptr<ConnectionThread> connection = holder.find(connectionText);
    if (!connection) {
        if (holder.entries.size() >= MaxConnectionsPerThread)
            holder.take(holder.entries.front().text)->finish();
        connection = std::make_shared<ConnectionThread>(connectionText);
        connection->start();
        holder.entries.push_back({connectionText, connection});
    }

    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    connection->post(job);

    // Opening may take up to the driver's login limit, each run of the work
    // up to the statement limit.
    const std::chrono::milliseconds statementLimit = statementTimeLimit();
    bool overran = false;
    {
        std::unique_lock lock(job->mutex);
        while (job->phase != Job::Phase::Done) {
            const auto limit = job->phase == Job::Phase::Running
                                   ? std::chrono::duration_cast<Clock::duration>(statementLimit)
                                   : std::chrono::duration_cast<Clock::duration>(OpenLimit);
            if (Clock::now() >= job->phaseStart + limit) {
                overran = true;
                break;
            }
            job->changed.wait_until(lock, job->phaseStart + limit);
        }
    }
    if (overran) {
        holder.take(connectionText);
        connection->abandon();
        if (error)
            *error = QStringLiteral("The database did not answer within %1 s").arg(wholeSeconds(statementLimit));
        return false;
    }
    if (!job->opened)
        holder.take(connectionText)->finish();  // a connection that cannot be opened is not kept
    if (!job->ok && error)
        *error = job->error;
    return job->ok;
}

bool runStatement(QSqlQuery &query, const QString &statement, const QVariantList &params,
                  QString *error)
{
    query.setForwardOnly(true);
    bool ok = query.prepare(statement);
    if (ok) {
        // The driver's own limit (ODBC's query time-out; FreeTDS and the
        // PostgreSQL driver keep it) comes first, so that it cancels the
        // statement on the server and the connection stays usable.
        odbc::setQueryTimeout(query.result()->handle(), std::max(1, wholeSeconds(statementTimeLimit()) - 2));
        for (const QVariant &value : params)
            query.addBindValue(value);
        ok = query.exec();
    }
    if (!ok && error)
        *error = query.lastError().text();
    return ok;
}

int threadConnectionCount()
{
    return int(threadHolder().entries.size());
}

} // namespace norvale
