#include "norvale/core/data/OdbcDriverManager.h"

#include <sql.h>
#include <sqlext.h>

#include <QByteArray>

#include <cstring>

namespace norvale::odbc {

namespace {

// QODBC hands its handles out as QVariants holding a SQLHANDLE, which Qt 6
// names by its underlying type "void*" (the other drivers' handles carry
// their own type names, such as "sqlite3_stmt*").
SQLHANDLE handleOf(const QVariant &value)
{
    if (!value.isValid()
        || (qstrcmp(value.typeName(), "void*") != 0 && qstrcmp(value.typeName(), "SQLHANDLE") != 0))
        return nullptr;
    SQLHANDLE handle = nullptr;
    std::memcpy(&handle, value.constData(), sizeof handle);
    return handle;
}

} // namespace

QList<RegisteredDriver> registeredDrivers()
{
    QList<RegisteredDriver> drivers;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return drivers;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLCHAR name[512];
    SQLCHAR attributes[2048];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDrivers(env, direction, name, sizeof name, &nameLength, attributes,
                                    sizeof attributes, &attributesLength))) {
        RegisteredDriver driver{QString::fromLocal8Bit(reinterpret_cast<const char *>(name)), {}};
        // The attributes are "key=value" pairs, each ended by a zero byte.
        const QByteArray list(reinterpret_cast<const char *>(attributes),
                              qBound<SQLSMALLINT>(0, attributesLength, SQLSMALLINT(sizeof attributes)));
        for (const QByteArray &pair : list.split('\0')) {
            if (pair.startsWith("Driver="))
                driver.library = QString::fromLocal8Bit(pair.mid(7));
        }
        drivers << driver;
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return drivers;
}

bool connectionDead(const QVariant &connectionHandle)
{
    SQLHANDLE dbc = handleOf(connectionHandle);
    if (!dbc)
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN r = SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr);
    return SQL_SUCCEEDED(r) && dead == SQL_CD_TRUE;
}

bool setQueryTimeout(const QVariant &statementHandle, int seconds)
{
    SQLHANDLE stmt = handleOf(statementHandle);
    if (!stmt)
        return false;
    // SQL_SUCCESS_WITH_INFO means the driver changed the value (01S02): it
    // still keeps a limit of its own.
    return SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                                        reinterpret_cast<SQLPOINTER>(SQLULEN(seconds)), 0));
}

} // namespace norvale::odbc
