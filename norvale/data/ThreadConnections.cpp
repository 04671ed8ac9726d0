#include "norvale/data/ThreadConnections.h"

#include "norvale/data/ConnectionText.h"

#include <QSqlError>
#include <QThreadStorage>

#include <atomic>
#include <vector>

namespace norvale {

namespace {

// A thread that is handed ever new texts must not pile up connections.
constexpr std::size_t MaxConnectionsPerThread = 8;

void removeConnection(const QString &name)
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

struct ThreadConnectionHolder {
    struct Entry {
        QString text;
        QString name;
    };
    std::vector<Entry> entries;  // oldest first

    ~ThreadConnectionHolder()
    {
        for (const Entry &entry : entries)
            removeConnection(entry.name);
    }

    Entry *find(const QString &text)
    {
        for (Entry &entry : entries) {
            if (entry.text == text)
                return &entry;
        }
        return nullptr;
    }

    void drop(const QString &text)
    {
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->text == text) {
                const QString name = it->name;
                entries.erase(it);
                removeConnection(name);
                return;
            }
        }
    }
};

// QThreadStorage, not thread_local: Qt clears it while a QThread finishes,
// before wait() returns, and the main thread's when the application object
// goes. A thread_local would be destroyed after wait() returned, racing with
// Qt SQL's own teardown at exit.
ThreadConnectionHolder &threadHolder()
{
    static auto *storage = new QThreadStorage<ThreadConnectionHolder *>;  // outlives every thread
    if (!storage->hasLocalData())
        storage->setLocalData(new ThreadConnectionHolder);
    return *storage->localData();
}

QString nextConnectionName()
{
    static std::atomic<quint64> counter{0};
    return QStringLiteral("norvale-db-") + QString::number(++counter);
}

} // namespace

QSqlDatabase threadConnection(const QString &connectionText, QString *error, bool *reused)
{
    if (reused)
        *reused = false;
    ThreadConnectionHolder &holder = threadHolder();
    if (ThreadConnectionHolder::Entry *entry = holder.find(connectionText)) {
        const QString name = entry->name;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen()) {
                if (reused)
                    *reused = true;
                return db;
            }
        }
        holder.drop(connectionText);
    }

    const SqlConnectionSettings settings = mapConnectionText(connectionText);
    if (!settings.isValid()) {
        if (error)
            *error = settings.error;
        return {};
    }

    const QString name = nextConnectionName();
    bool opened = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(settings.driver, name);
        if (!db.isValid()) {
            if (error)
                *error = QStringLiteral("The database driver %1 is not available").arg(settings.driver);
        } else {
            db.setDatabaseName(settings.databaseName);
            db.setConnectOptions(settings.connectOptions);
            opened = db.open();
            if (!opened && error)
                *error = db.lastError().text();
        }
    }
    if (!opened) {
        QSqlDatabase::removeDatabase(name);
        return {};
    }

    if (holder.entries.size() >= MaxConnectionsPerThread)
        holder.drop(holder.entries.front().text);
    holder.entries.push_back({connectionText, name});
    return QSqlDatabase::database(name, false);
}

void dropThreadConnection(const QString &connectionText)
{
    threadHolder().drop(connectionText);
}

bool withThreadConnection(const QString &connectionText, QString *error,
                          const std::function<bool(QSqlDatabase &db, QString *error)> &work)
{
    for (;;) {
        bool reused = false;
        bool done = false;
        {
            QSqlDatabase db = threadConnection(connectionText, error, &reused);
            if (!db.isValid())
                return false;
            done = work(db, error);
        }
        if (done)
            return true;
        // Dropped only once the last handle to it is gone.
        dropThreadConnection(connectionText);
        if (!reused)
            return false;
    }
}

bool runStatement(QSqlQuery &query, const QString &statement, const QVariantList &params,
                  QString *error)
{
    query.setForwardOnly(true);
    bool ok = query.prepare(statement);
    if (ok) {
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
