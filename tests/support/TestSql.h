#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

namespace norvale::test {

// Runs one statement with bound values on a test's own connection; a failure
// is printed with the statement, so seeding mistakes show where they happen.
bool execSql(QSqlDatabase &db, const QString &statement, const QVariantList &values = {});

} // namespace norvale::test
