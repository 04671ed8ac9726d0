#pragma once

#include <QString>

namespace norvale::odbc {

// The ODBC drivers a connection text may reach, told apart by the library
// the driver manager would load for them.
enum class DriverFamily { FreeTds, Sqlite, Postgres, Other };

// The family of a registered driver name; Other for a name the manager does
// not know, or a library we have no list of keys for.
DriverFamily familyOfDriver(const QString &registeredName);

// Whether the family's driver reads a value in ODBC's braces as one value.
// The SQLite driver does not: it cuts every value at the next ";".
bool readsBraces(DriverFamily family);

// The key as the family's driver must receive it, when a connection may pass
// it that key with that value; empty when it may not. Only what a connection
// needs is passed (where, which database, who, time limits, encryption): a
// driver reads many other keys, and some of them load a library ("LoadExt")
// or write a file ("TraceFile", "dump file") of the text's choosing.
QString allowedKey(DriverFamily family, const QString &key, const QString &value);

} // namespace norvale::odbc
