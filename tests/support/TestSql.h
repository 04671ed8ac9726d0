#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>

namespace norvale::test {

// Runs one statement with bound values on a test's own connection; a failure
// is printed with the statement, so seeding mistakes show where they happen.
bool execSql(QSqlDatabase &db, const QString &statement, const QVariantList &values = {});

// Opens a SQLite file on a connection of its own, runs fill on it inside one
// transaction, and closes and removes the connection again.
bool fillDatabase(const QString &path, const std::function<bool(QSqlDatabase &db)> &fill);

// The same for one statement.
bool execSql(const QString &path, const QString &statement, const QVariantList &values = {});

// The first value a statement gives on a SQLite file, outside any
// transaction (so that it may change the journal mode); invalid when none.
QVariant sqlValue(const QString &path, const QString &statement);

} // namespace norvale::test
