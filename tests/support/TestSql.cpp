#include "tests/support/TestSql.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

#include <utility>

namespace norvale::test {

namespace {

// Runs use on a connection of its own to the file at path; the services may
// hold the file for a moment, so a lock is waited for.
template <typename Use>
auto onFile(const QString &path, Use use)
{
    const QString name = QStringLiteral("test-file");
    decltype(use(std::declval<QSqlDatabase &>())) result{};
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open())
            result = use(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

} // namespace

bool execSql(QSqlDatabase &db, const QString &statement, const QVariantList &values)
{
    QSqlQuery query(db);
    query.prepare(statement);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    qWarning().noquote() << statement << ':' << query.lastError().text();
    return false;
}

bool fillDatabase(const QString &path, const std::function<bool(QSqlDatabase &db)> &fill)
{
    return onFile(path, [&](QSqlDatabase &db) {
        return execSql(db, QStringLiteral("begin")) && fill(db) && execSql(db, QStringLiteral("commit"));
    });
}

bool execSql(const QString &path, const QString &statement, const QVariantList &values)
{
    return fillDatabase(path, [&](QSqlDatabase &db) { return execSql(db, statement, values); });
}

QVariant sqlValue(const QString &path, const QString &statement)
{
    return onFile(path, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (!query.exec(statement))
            qWarning().noquote() << statement << ':' << query.lastError().text();
        return query.next() ? query.value(0) : QVariant();
    });
}

} // namespace norvale::test
