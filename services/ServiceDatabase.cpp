#include "services/ServiceDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

namespace norvale {

namespace {

struct ThreadConnection {
    QString name;
    std::map<QString, std::unique_ptr<QSqlQuery>> kept;   // statements prepared on it, by their text
    ~ThreadConnection()
    {
        if (name.isEmpty())
            return;
        kept.clear();
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
};

thread_local ThreadConnection t_connection;
thread_local ThreadConnection t_writableConnection;
thread_local bool t_queryFailed = false;
std::atomic<int> s_connectionCounter{0};

QString readResource(const QString &name, QString *error)
{
    QFile file(QStringLiteral(":/norvale-services/data/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("missing built-in file ") + name;
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

bool runStatements(QSqlDatabase &db, const QStringList &statements, QString *error)
{
    for (const QString &statement : statements) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            *error = query.lastError().text() + QStringLiteral(" in: ") + statement.left(120);
            return false;
        }
    }
    return true;
}

// Runs work in one transaction on a connection of its own to the store:
// committed when it succeeds, rolled back when it fails.
bool inTransaction(const ServiceStore &store, QString *error, const std::function<bool(QSqlDatabase &db)> &work)
{
    const QString name = QStringLiteral("norvale-services-change");
    bool ok = false;
    {
        QSqlDatabase db = store.addConnection(name, false);
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            ok = db.transaction() && work(db);
            if (ok && !db.commit()) {
                *error = db.lastError().text();
                ok = false;
            }
            if (!ok)
                db.rollback();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// Whether the store's database holds the service's tables; error is set when
// it cannot be reached.
bool hasTables(const ServiceStore &store, QString *error)
{
    const QString name = QStringLiteral("norvale-services-look");
    bool found = false;
    {
        QSqlDatabase db = store.addConnection(name, true);
        if (!db.open())
            *error = db.lastError().text();
        else
            found = db.tables().contains(QStringLiteral("lconfig_all"));
    }
    QSqlDatabase::removeDatabase(name);
    return found;
}

// Creates the tables and rows of the schema and seed in the store, in one
// transaction. PostgreSQL gets them in its own words.
bool buildDatabase(const ServiceStore &store, QString *error)
{
    const QString schema = readResource(QStringLiteral("schema.sql"), error);
    if (schema.isEmpty())
        return false;
    const QString seed = readResource(QStringLiteral("seed.sql"), error);
    if (seed.isEmpty())
        return false;
    return inTransaction(store, error, [&](QSqlDatabase &db) {
        QStringList statements = splitSqlStatements(schema) + splitSqlStatements(seed);
        if (store.postgres) {
            for (QString &statement : statements)
                statement = postgresStatement(statement);
            statements.prepend(QStringLiteral("CREATE EXTENSION IF NOT EXISTS citext"));
        }
        return runStatements(db, statements, error);
    });
}

void removeWithJournal(const QString &file)
{
    QFile::remove(file);
    QFile::remove(file + QStringLiteral("-journal"));
}

bool startsWithBase(const QString &value, const QString &base)
{
    // Only a whole base counts: http://h:88 is no prefix of http://h:8858/.
    if (!value.startsWith(base))
        return false;
    if (value.size() == base.size())
        return true;
    const QChar next = value.at(base.size());
    return next == u'/' || next == u'?' || next == u'#';
}

bool replaceBase(QSqlDatabase &db, const QString &oldBase, const QString &newBase, QString *error)
{
    struct Change {
        qlonglong row;
        QString column;
        QString value;
    };
    QList<Change> changes;
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT rowid, ") + configColumns().join(u',')
                        + QStringLiteral(" FROM lconfig_all"))) {
            *error = query.lastError().text();
            return false;
        }
        while (query.next()) {
            for (qsizetype i = 0; i < configColumns().size(); ++i) {
                const QString value = query.value(int(i + 1)).toString();
                if (startsWithBase(value, oldBase))
                    changes.append({query.value(0).toLongLong(), configColumns().at(i),
                                    newBase + value.mid(oldBase.size())});
            }
        }
    }
    for (const Change &change : changes) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("UPDATE lconfig_all SET ") + change.column
                      + QStringLiteral(" = ? WHERE rowid = ?"));
        query.addBindValue(change.value);
        query.addBindValue(change.row);
        if (!query.exec()) {
            *error = query.lastError().text();
            return false;
        }
    }
    return true;
}

// Rebuilds one table from the schema's definition when it lacks NOCASE.
bool upgradeTable(QSqlDatabase &db, const QStringList &schema, const QString &table, QString *error)
{
    QString definition;
    {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"));
        query.addBindValue(table);
        if (!query.exec() || !query.next())
            return true;  // not there: nothing to keep
        definition = query.value(0).toString();
    }
    if (definition.contains(QLatin1StringView("NOCASE"), Qt::CaseInsensitive))
        return true;

    QStringList steps{QStringLiteral("ALTER TABLE %1 RENAME TO %1_before_nocase").arg(table)};
    QStringList indexes;
    for (const QString &statement : schema) {
        if (statement.startsWith(QStringLiteral("CREATE TABLE ") + table + u' '))
            steps << statement;
        else if (statement.startsWith(QLatin1StringView("CREATE INDEX")) && statement.contains(QStringLiteral(" ON ") + table + u' '))
            indexes << statement;
    }
    QStringList columns;
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(table))) {
            *error = query.lastError().text();
            return false;
        }
        for (int i = 0; i < query.record().count(); ++i)
            columns << query.record().fieldName(i);
    }
    const QString list = columns.join(u',');
    // The old table's indexes go with it, so the new ones can take their names.
    steps << QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %1_before_nocase").arg(table, list)
          << QStringLiteral("DROP TABLE %1_before_nocase").arg(table) << indexes;
    for (const QString &step : std::as_const(steps)) {
        QSqlQuery query(db);
        if (!query.exec(step)) {
            *error = query.lastError().text() + QStringLiteral(" in: ") + step.left(120);
            return false;
        }
    }
    return true;
}

} // namespace

const QStringList &configColumns()
{
    static const QStringList columns{
        QStringLiteral("lver"),        QStringLiteral("lhomeurl"),    QStringLiteral("ldownurl"),
        QStringLiteral("lqq"),         QStringLiteral("lqqimg"),      QStringLiteral("lqqurl"),
        QStringLiteral("ltaobaoimg"),  QStringLiteral("ltaobaourl"),  QStringLiteral("lmailurl"),
        QStringLiteral("lmail"),       QStringLiteral("lbuyurl"),     QStringLiteral("llinkurl"),
        QStringLiteral("lbaidupage"),  QStringLiteral("lbaidulink"),  QStringLiteral("lgooglelink"),
        QStringLiteral("lgooglepage"), QStringLiteral("lyahoopage"),  QStringLiteral("lyahoolink"),
        QStringLiteral("lyoudaopage"), QStringLiteral("lyoudaolink"), QStringLiteral("lsosopage"),
        QStringLiteral("lbingpage"),   QStringLiteral("lsougoupage"), QStringLiteral("lalexa"),
        QStringLiteral("lwhoisurl"),   QStringLiteral("ldomainurl"),  QStringLiteral("lipurl"),
        QStringLiteral("lipmessurl"),  QStringLiteral("lweburl"),     QStringLiteral("lbbsurl"),
        QStringLiteral("lchaturl"),    QStringLiteral("lgbookurl")};
    return columns;
}

bool ensureServiceDatabase(const ServiceStore &store, QString *error)
{
    if (store.postgres) {
        if (hasTables(store, error))
            return true;
        if (!error->isEmpty() || buildDatabase(store, error))
            return error->isEmpty();
        // Another start may have given it the tables meanwhile.
        QString again;
        return hasTables(store, &again);
    }
    const QString &path = store.file;
    const QFileInfo info(path);
    if (info.exists()) {
        if (info.isFile())
            return true;
        *error = path + QStringLiteral(" is not a file");
        return false;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("cannot create the folder ") + info.absolutePath();
        return false;
    }

    const QString temporary = path + QStringLiteral(".tmp");
    removeWithJournal(temporary);   // left by a start that did not finish
    ServiceStore building = store;
    building.file = temporary;
    if (!buildDatabase(building, error)) {
        removeWithJournal(temporary);
        return false;
    }
    if (!QFile::rename(temporary, path)) {
        removeWithJournal(temporary);
        if (QFileInfo::exists(path))   // another start finished first
            return true;
        *error = QStringLiteral("cannot rename ") + temporary + QStringLiteral(" to ") + path;
        return false;
    }
    return true;
}

bool upgradeServiceDatabase(const ServiceStore &store, QString *error)
{
    if (store.postgres)
        return true;   // made with citext from the start
    const QStringList schema = splitSqlStatements(readResource(QStringLiteral("schema.sql"), error));
    if (schema.isEmpty())
        return false;
    return inTransaction(store, error, [&](QSqlDatabase &db) {
        for (const char *table : {"ldomainprice", "ldomainlist"}) {
            if (!upgradeTable(db, schema, QLatin1StringView(table), error))
                return false;
        }
        return true;
    });
}

bool rebaseConfiguration(const ServiceStore &store, const QString &newBase, QString *error)
{
    return inTransaction(store, error, [&](QSqlDatabase &db) {
        const QString oldBase = settingValue(db, QStringLiteral("base"));
        if (!oldBase.isEmpty() && oldBase != newBase && !replaceBase(db, oldBase, newBase, error))
            return false;
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT INTO svc_settings (lkey, lvalue) VALUES ('base', ?) "
                                     "ON CONFLICT (lkey) DO UPDATE SET lvalue = excluded.lvalue"));
        query.addBindValue(newBase);
        if (!query.exec()) {
            *error = query.lastError().text();
            return false;
        }
        return true;
    });
}

bool ensureChangeCounter(const ServiceStore &store, QString *error)
{
    auto present = [&] {
        QString ignored;
        const QString name = QStringLiteral("norvale-services-look");
        bool found = false;
        {
            QSqlDatabase db = store.addConnection(name, true);
            found = db.open() && db.tables().contains(QStringLiteral("svc_changes"));
        }
        QSqlDatabase::removeDatabase(name);
        return found;
    };
    if (present())
        return true;
    static const char *const tables[] = {"lconfig_all", "ldomainprice", "ldomainlist", "svc_settings",
                                         "svc_registered", "svc_hosts", "svc_whois", "svc_geo",
                                         "svc_pages", "svc_files"};
    QStringList statements{
        QStringLiteral("CREATE TABLE svc_changes (lserial BIGINT NOT NULL)"),
        QStringLiteral("INSERT INTO svc_changes (lserial) VALUES (0)")};
    if (store.postgres) {
        // Once per statement: an import of many rows counts once.
        statements << QStringLiteral("CREATE OR REPLACE FUNCTION svc_changed() RETURNS trigger LANGUAGE plpgsql AS "
                                     "$$BEGIN UPDATE svc_changes SET lserial = lserial + 1; RETURN NULL; END$$");
        for (const char *table : tables)
            statements << QStringLiteral("CREATE OR REPLACE TRIGGER svc_changed AFTER INSERT OR UPDATE OR DELETE "
                                         "OR TRUNCATE ON %1 FOR EACH STATEMENT EXECUTE FUNCTION svc_changed()")
                              .arg(QLatin1StringView(table));
    } else {
        // SQLite counts per row, for writes from any program, sqlite3 included.
        for (const char *table : tables) {
            for (const char *change : {"INSERT", "UPDATE", "DELETE"})
                statements << QStringLiteral("CREATE TRIGGER svc_changed_%1_%2 AFTER %2 ON %1 "
                                             "BEGIN UPDATE svc_changes SET lserial = lserial + 1; END")
                                  .arg(QLatin1StringView(table), QLatin1StringView(change));
        }
    }
    if (inTransaction(store, error, [&](QSqlDatabase &db) { return runStatements(db, statements, error); }))
        return true;
    return present();   // another instance, starting beside this one, may have made it
}

qint64 changeSerial(const QSqlDatabase &db)
{
    QSqlQuery &query = keptQuery(db, QStringLiteral("SELECT lserial FROM svc_changes"));
    qint64 serial = -1;
    if (runQuery(query) && query.next())
        serial = query.value(0).toLongLong();
    query.finish();
    return serial;
}

QSqlDatabase threadDatabase(const ServiceStore &store, bool reopen, bool writable)
{
    ThreadConnection &connection = writable ? t_writableConnection : t_connection;
    if (connection.name.isEmpty()) {
        const QString name = QStringLiteral("norvale-services-")
                             + QString::number(s_connectionCounter.fetch_add(1));
        store.addConnection(name, !writable);
        connection.name = name;
    }
    QSqlDatabase db = QSqlDatabase::database(connection.name, false);
    if (reopen) {
        connection.kept.clear();
        db.close();
    }
    if (!db.isOpen())
        db.open();   // retried on the next request when the database is not there
    return db;
}

QSqlQuery &keptQuery(const QSqlDatabase &db, const QString &sql)
{
    ThreadConnection &connection = db.connectionName() == t_writableConnection.name ? t_writableConnection
                                                                                     : t_connection;
    Q_ASSERT(db.connectionName() == connection.name);
    auto found = connection.kept.find(sql);
    if (found == connection.kept.end()) {
        auto query = std::make_unique<QSqlQuery>(db);
        query->setForwardOnly(true);
        query->prepare(sql);
        found = connection.kept.emplace(sql, std::move(query)).first;
    }
    return *found->second;
}

void forgetKeptQueries()
{
    t_connection.kept.clear();
    t_writableConnection.kept.clear();
}

bool runQuery(QSqlQuery &query)
{
    const bool ok = query.exec();
    t_queryFailed = t_queryFailed || !ok;
    return ok;
}

bool runQuery(QSqlQuery &query, const QString &sql)
{
    const bool ok = query.exec(sql);
    t_queryFailed = t_queryFailed || !ok;
    return ok;
}

void clearQueryFailure()
{
    t_queryFailed = false;
}

bool queryFailed()
{
    return t_queryFailed;
}

QString settingValue(const QSqlDatabase &db, const QString &key, const QString &fallback)
{
    const QString sql = QStringLiteral("SELECT lvalue FROM svc_settings WHERE lkey = ?");
    auto read = [&](QSqlQuery &query) {
        query.addBindValue(key);
        QString value = fallback;
        if (runQuery(query) && query.next())
            value = query.value(0).toString();
        query.finish();
        return value;
    };
    if (db.connectionName() == t_connection.name || db.connectionName() == t_writableConnection.name)
        return read(keptQuery(db, sql));
    QSqlQuery once(db);
    once.prepare(sql);
    return read(once);
}

QStringList splitSqlStatements(const QString &script)
{
    QStringList statements;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar c = script.at(i);
        if (!quoted && c == u'-' && i + 1 < script.size() && script.at(i + 1) == u'-') {
            while (i < script.size() && script.at(i) != u'\n')
                ++i;
            current += u'\n';
            continue;
        }
        if (c == u'\'')
            quoted = !quoted;   // a doubled quote toggles twice
        if (!quoted && c == u';') {
            const QString statement = current.trimmed();
            if (!statement.isEmpty())
                statements << statement;
            current.clear();
            continue;
        }
        current += c;
    }
    const QString rest = current.trimmed();
    if (!rest.isEmpty())
        statements << rest;
    return statements;
}

} // namespace norvale
