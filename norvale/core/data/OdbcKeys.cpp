#include "norvale/core/data/OdbcKeys.h"

#include "norvale/core/data/OdbcDriverManager.h"

#include <QStringList>

namespace norvale::odbc {

namespace {

struct AllowedKey {
    const char *name;        // as it is passed on
    const char *onlyValue;   // when set, the one value the key may carry
};

// Keys common to every family: the driver or data source itself.
constexpr AllowedKey kCommon[] = {{"DRIVER", nullptr}, {"DSN", nullptr}};

constexpr AllowedKey kFreeTds[] = {
    {"SERVER", nullptr}, {"SERVERNAME", nullptr}, {"ADDRESS", nullptr}, {"PORT", nullptr},
    {"DATABASE", nullptr}, {"UID", nullptr}, {"PWD", nullptr}, {"TDS_Version", nullptr},
    {"ClientCharset", nullptr}, {"Encryption", nullptr}, {"APP", nullptr}, {"Language", nullptr},
};

constexpr AllowedKey kSqlite[] = {
    {"Database", nullptr}, {"Timeout", nullptr}, {"NoCreat", nullptr}, {"SyncPragma", nullptr},
};

// The driver's own logs are on by default in Debian's registration, so a
// connection may turn them off, never on.
constexpr AllowedKey kPostgres[] = {
    {"Servername", nullptr}, {"Server", nullptr}, {"Port", nullptr}, {"Database", nullptr},
    {"UID", nullptr}, {"Username", nullptr}, {"PWD", nullptr}, {"Password", nullptr},
    {"SSLmode", nullptr}, {"ConnectTimeout", nullptr}, {"CommLog", "0"}, {"Debug", "0"},
};

// A driver we know nothing of gets what every database connection names.
constexpr AllowedKey kOther[] = {
    {"Server", nullptr}, {"Port", nullptr}, {"Database", nullptr}, {"UID", nullptr}, {"PWD", nullptr},
};

template <std::size_t N>
QString lookUp(const AllowedKey (&keys)[N], const QString &key, const QString &value)
{
    for (const AllowedKey &allowed : keys) {
        if (key.compare(QLatin1StringView(allowed.name), Qt::CaseInsensitive) != 0)
            continue;
        if (allowed.onlyValue && value.trimmed() != QLatin1StringView(allowed.onlyValue))
            return {};
        return QString::fromLatin1(allowed.name);
    }
    return {};
}

} // namespace

DriverFamily familyOfDriver(const QString &registeredName)
{
    for (const RegisteredDriver &driver : registeredDrivers()) {
        if (driver.name.compare(registeredName, Qt::CaseInsensitive) != 0)
            continue;
        const QString library = driver.library.section(u'/', -1);
        if (library.contains(QLatin1StringView("tdsodbc"), Qt::CaseInsensitive))
            return DriverFamily::FreeTds;
        if (library.contains(QLatin1StringView("sqlite"), Qt::CaseInsensitive))
            return DriverFamily::Sqlite;
        if (library.contains(QLatin1StringView("psqlodbc"), Qt::CaseInsensitive))
            return DriverFamily::Postgres;
        return DriverFamily::Other;
    }
    return DriverFamily::Other;
}

bool readsBraces(DriverFamily family)
{
    return family == DriverFamily::FreeTds || family == DriverFamily::Postgres;
}

QString allowedKey(DriverFamily family, const QString &key, const QString &value)
{
    if (QString common = lookUp(kCommon, key, value); !common.isEmpty())
        return common;
    switch (family) {
    case DriverFamily::FreeTds: return lookUp(kFreeTds, key, value);
    case DriverFamily::Sqlite: return lookUp(kSqlite, key, value);
    case DriverFamily::Postgres: return lookUp(kPostgres, key, value);
    case DriverFamily::Other: return lookUp(kOther, key, value);
    }
    return {};
}

} // namespace norvale::odbc
