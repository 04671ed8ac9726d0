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

} // namespace norvale::test
