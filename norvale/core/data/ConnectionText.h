#pragma once

#include <QList>
#include <QString>

#include <utility>

namespace norvale {

// One key=value pair of an OLE DB style connection text, key and value as
// written (key trimmed, value unquoted).
using ConnectionPair = std::pair<QString, QString>;

struct ParsedConnectionText {
    QList<ConnectionPair> pairs;  // in the order written
    QString error;                // empty when the text could be read
};

// Reads "key=value;key='value';…": keys are trimmed, values may be quoted
// with ' or " (a doubled quote inside stands for itself), unquoted values are
// trimmed. Pieces without "=" are skipped.
ParsedConnectionText parseConnectionText(const QString &text);

// What the connection layer hands to Qt SQL.
struct SqlConnectionSettings {
    QString driver;          // "QODBC" or "QSQLITE"
    QString databaseName;    // ODBC connection string, or the SQLite file path
    QString connectOptions;  // QSqlDatabase::setConnectOptions
    QString error;           // why the text cannot be used; never holds the password

    bool isValid() const { return error.isEmpty() && !driver.isEmpty(); }
};

// Maps the service's connection text onto a Qt SQL connection:
// SQLOLEDB / SQLNCLI* / MSOLEDBSQL* -> FreeTDS over ODBC, MSDASQL -> the
// other keys passed to ODBC unchanged (a Driver only by a name registered
// with the driver manager, no file DSN), SQLite -> an existing file, read-only.
SqlConnectionSettings mapConnectionText(const QString &text);

// One ODBC "key=value" value, braced when the driver manager would otherwise
// cut it (";" or a brace in it), with "}" doubled inside.
QString odbcValue(const QString &value);

} // namespace norvale
