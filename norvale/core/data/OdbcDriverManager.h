#pragma once

#include <QList>
#include <QString>
#include <QVariant>

namespace norvale::odbc {

struct RegisteredDriver {
    QString name;     // the section of odbcinst.ini
    QString library;  // the file the manager loads for it, as registered
};

// What the program asks of the ODBC driver manager itself, beside Qt SQL.

// The driver names registered with the driver manager (the sections of
// odbcinst.ini), which is all a connection text may name: the manager would
// load any other name as a library.
QList<RegisteredDriver> registeredDrivers();

// Whether the driver reports the connection behind a Qt SQL connection
// handle (QSqlDriver::handle()) as lost. False when it cannot tell.
bool connectionDead(const QVariant &connectionHandle);

// Gives a prepared statement (QSqlResult::handle()) the driver's own time
// limit. False when the driver does not take it.
bool setQueryTimeout(const QVariant &statementHandle, int seconds);

} // namespace norvale::odbc
