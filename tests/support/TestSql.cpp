#include "tests/support/TestSql.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

namespace norvale::test {

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
    const QString name = QStringLiteral("fill");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open() && execSql(db, QStringLiteral("begin")) && fill(db) && execSql(db, QStringLiteral("commit"));
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace norvale::test
