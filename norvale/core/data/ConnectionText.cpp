#include "norvale/core/data/ConnectionText.h"

#include "norvale/core/data/OdbcDriverManager.h"
#include "norvale/core/data/OdbcKeys.h"

#include <QRegularExpression>

#include <algorithm>
#include <initializer_list>

namespace norvale {

namespace {

// The last value written for any of the given keys (keys compare without case).
QString valueOf(const QList<ConnectionPair> &pairs, std::initializer_list<QLatin1StringView> keys,
                bool *found = nullptr)
{
    QString value;
    bool seen = false;
    for (const auto &[key, v] : pairs) {
        for (const auto name : keys) {
            if (key.compare(name, Qt::CaseInsensitive) == 0) {
                value = v;
                seen = true;
            }
        }
    }
    if (found)
        *found = seen;
    return value;
}

// A server that accepts the connection and never answers the login does not
// hold a worker for ever.
const QString loginTimeout = QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=60");

SqlConnectionSettings failure(const QString &why)
{
    SqlConnectionSettings settings;
    settings.error = why;
    return settings;
}

// QODBC does not pass the database name through as it is: it prefixes
// "FILEDSN=" when the text holds ".dsn", and "DSN=" when it holds neither
// "DRIVER=" nor "SERVER=". Give it a text that comes out of that as `wanted`.
SqlConnectionSettings odbcSettings(const QString &wanted, const QString &options)
{
    QLatin1StringView prefix;
    if (wanted.contains(QLatin1StringView(".dsn"), Qt::CaseInsensitive))
        prefix = QLatin1StringView("FILEDSN=");
    else if (!wanted.contains(QLatin1StringView("DRIVER="), Qt::CaseInsensitive)
             && !wanted.contains(QLatin1StringView("SERVER="), Qt::CaseInsensitive))
        prefix = QLatin1StringView("DSN=");

    SqlConnectionSettings settings;
    settings.driver = QStringLiteral("QODBC");
    settings.connectOptions = options;
    if (prefix.isEmpty())
        settings.databaseName = wanted;
    else if (wanted.startsWith(prefix, Qt::CaseInsensitive))
        settings.databaseName = wanted.mid(prefix.size());
    else
        return failure(QStringLiteral("The connection text holds \".dsn\", which the ODBC layer "
                                      "would read as a file DSN"));
    return settings;
}

SqlConnectionSettings mapSqlServer(const QList<ConnectionPair> &pairs)
{
    QString source = valueOf(pairs, {QLatin1StringView("data source"), QLatin1StringView("server"),
                                     QLatin1StringView("address"), QLatin1StringView("addr"),
                                     QLatin1StringView("network address")})
                         .trimmed();
    if (source.startsWith(QLatin1StringView("tcp:"), Qt::CaseInsensitive)) {
        source = source.mid(4).trimmed();
    } else {
        // Named pipes and shared memory exist only on Windows.
        static const QRegularExpression otherProtocol(QStringLiteral("^[A-Za-z]+:"));
        if (otherProtocol.match(source).hasMatch())
            return failure(QStringLiteral("Only TCP connections to SQL Server are supported"));
    }

    QString port;
    const qsizetype comma = source.lastIndexOf(u',');
    if (comma >= 0) {
        port = source.mid(comma + 1).trimmed();
        source = source.left(comma).trimmed();
        bool number = false;
        const int value = port.toInt(&number);
        if (!number || value < 1 || value > 65535)
            return failure(QStringLiteral("The server's port is not a TCP port number"));
        port = QString::number(value);
    }

    QString host = source;
    QString instance;
    const qsizetype slash = source.indexOf(u'\\');
    if (slash >= 0) {
        host = source.left(slash).trimmed();
        instance = source.mid(slash + 1).trimmed();
    }
    if (host == QLatin1StringView(".") || host.compare(QLatin1StringView("(local)"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("localhost");
    if (host.isEmpty())
        return failure(QStringLiteral("The connection text names no database server"));

    // A port names the listener directly; the instance name only serves to
    // look the port up, so with both the port wins.
    QString server = host;
    if (port.isEmpty() && !instance.isEmpty())
        server += u'\\' + instance;

    QString text = QStringLiteral("DRIVER={FreeTDS};SERVER=") + odbcValue(server);
    if (!port.isEmpty())
        text += QStringLiteral(";PORT=") + port;
    bool found = false;
    const QString database = valueOf(pairs, {QLatin1StringView("database"), QLatin1StringView("initial catalog")}, &found);
    if (found)
        text += QStringLiteral(";DATABASE=") + odbcValue(database);
    const QString user = valueOf(pairs, {QLatin1StringView("uid"), QLatin1StringView("user id"), QLatin1StringView("user")}, &found);
    if (found)
        text += QStringLiteral(";UID=") + odbcValue(user);
    const QString password = valueOf(pairs, {QLatin1StringView("pwd"), QLatin1StringView("password")}, &found);
    if (found)
        text += QStringLiteral(";PWD=") + odbcValue(password);
    text += QStringLiteral(";TDS_Version=7.4;ClientCharset=UTF-8");
    return odbcSettings(text, loginTimeout);
}

// What ODBC reads from a value written in its own braces, as texts for
// ODBC often are ("Driver={SQL Server}"): the inside, with "}}" for "}".
// Any other value as it is.
QString odbcReading(const QString &value)
{
    if (value.size() < 2 || !value.startsWith(u'{') || !value.endsWith(u'}'))
        return value;
    QString inside;
    for (qsizetype i = 1; i < value.size() - 1; ++i) {
        if (value.at(i) == u'}') {
            // A lone "}" would end the value early: not a braced value.
            if (i + 1 >= value.size() - 1 || value.at(i + 1) != u'}')
                return value;
            ++i;
        }
        inside += value.at(i);
    }
    return inside;
}

// The driver manager loads a Driver= value that is not a registered name as
// a library: a connection text from the network must not get it to load code
// from disk.
bool registeredDriver(const QString &name)
{
    if (name.contains(u'/'))
        return false;
    const QList<odbc::RegisteredDriver> registered = odbc::registeredDrivers();
    return std::any_of(registered.cbegin(), registered.cend(), [&name](const odbc::RegisteredDriver &driver) {
        return driver.name.compare(name, Qt::CaseInsensitive) == 0;
    });
}

bool isKey(const QString &key, const char *name)
{
    return key.compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0;
}

SqlConnectionSettings mapOdbc(const QList<ConnectionPair> &pairs)
{
    // The driver decides which keys may pass and how its values are read.
    // Which of several Driver keys a driver manager follows is its own
    // affair, so each must name the same registered driver.
    QString driver;
    for (const auto &[key, written] : pairs) {
        if (!isKey(key, "driver"))
            continue;
        const QString named = odbcReading(written).trimmed();
        if (!registeredDriver(named))
            return failure(QStringLiteral("The ODBC driver \"%1\" is not registered with the driver manager").arg(named));
        if (!driver.isEmpty() && driver.compare(named, Qt::CaseInsensitive) != 0)
            return failure(QStringLiteral("The connection text names more than one ODBC driver"));
        driver = named;
    }
    const odbc::DriverFamily family = driver.isEmpty() ? odbc::DriverFamily::Other : odbc::familyOfDriver(driver);

    // The source (DSN) goes first, so that QODBC's own prefix can stand for
    // it; everything else keeps its order.
    QStringList source;
    QStringList rest;
    bool hasTarget = false;
    for (const auto &[key, written] : pairs) {
        if (isKey(key, "provider"))
            continue;
        QString value = odbcReading(written);
        if (isKey(key, "driver"))
            value = value.trimmed();
        // MSDASQL reads its "Data Source" as the ODBC data source name.
        const QString name = odbc::allowedKey(family, isKey(key, "data source") ? QStringLiteral("DSN") : key, value);
        if (name.isEmpty())
            return failure(QStringLiteral("The connection text may not pass \"%1\" to the ODBC driver").arg(key));
        // A driver that cuts values at ";" would read the rest as keys of their own.
        if (!odbc::readsBraces(family)
            && (value.contains(u';') || value.contains(u'{') || value.contains(u'}')))
            return failure(QStringLiteral("The value of \"%1\" holds \";\" or a brace, which this driver would misread").arg(key));
        const QString pair = name + u'=' + odbcValue(value);
        if (name == QLatin1StringView("DSN")) {
            if (value.contains(QLatin1StringView(".dsn"), Qt::CaseInsensitive))
                return failure(QStringLiteral("The connection text may not name a file DSN"));
            source.append(pair);
            hasTarget = true;
        } else {
            hasTarget = hasTarget || name == QLatin1StringView("DRIVER");
            rest.append(pair);
        }
    }
    if (!hasTarget)
        return failure(QStringLiteral("The connection text names no ODBC driver or data source"));
    return odbcSettings((source + rest).join(u';'), loginTimeout);
}

SqlConnectionSettings mapSqlite(const QList<ConnectionPair> &pairs)
{
    const QString path = valueOf(pairs, {QLatin1StringView("data source")}).trimmed();
    if (path.isEmpty())
        return failure(QStringLiteral("The connection text names no database file"));
    SqlConnectionSettings settings;
    settings.driver = QStringLiteral("QSQLITE");
    settings.databaseName = path;
    // Read-only also means a wrong path fails instead of creating an empty database.
    settings.connectOptions = QStringLiteral("QSQLITE_OPEN_READONLY");
    return settings;
}

} // namespace

ParsedConnectionText parseConnectionText(const QString &text)
{
    ParsedConnectionText result;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (text.at(i).isSpace() || text.at(i) == u';'))
            ++i;
        if (i >= n)
            break;
        const qsizetype keyStart = i;
        while (i < n && text.at(i) != u'=' && text.at(i) != u';')
            ++i;
        if (i >= n || text.at(i) == u';')
            continue;  // a piece without "=" carries nothing
        const QString key = text.mid(keyStart, i - keyStart).trimmed();
        ++i;
        while (i < n && text.at(i).isSpace() && text.at(i) != u';')
            ++i;

        QString value;
        if (i < n && (text.at(i) == u'\'' || text.at(i) == u'"')) {
            const QChar quote = text.at(i++);
            bool closed = false;
            while (i < n) {
                if (text.at(i) == quote) {
                    if (i + 1 < n && text.at(i + 1) == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text.at(i++);
            }
            while (i < n && text.at(i).isSpace())
                ++i;
            if (!closed || (i < n && text.at(i) != u';')) {
                result.pairs.clear();
                result.error = QStringLiteral("The connection text has a badly quoted value");
                return result;
            }
        } else {
            const qsizetype valueStart = i;
            while (i < n && text.at(i) != u';')
                ++i;
            value = text.mid(valueStart, i - valueStart).trimmed();
        }
        if (!key.isEmpty())
            result.pairs.append({key, value});
    }
    return result;
}

QString odbcValue(const QString &value)
{
    // Only what would cut the value: some drivers (the SQLite one) take
    // braces literally, so they are used no more often than needed.
    const bool plain = !value.contains(u';') && !value.contains(u'{') && !value.contains(u'}');
    if (plain)
        return value;
    QString braced = value;
    braced.replace(u'}', QStringLiteral("}}"));
    return u'{' + braced + u'}';
}

SqlConnectionSettings mapConnectionText(const QString &text)
{
    const ParsedConnectionText parsed = parseConnectionText(text);
    if (!parsed.error.isEmpty())
        return failure(parsed.error);

    QString provider = valueOf(parsed.pairs, {QLatin1StringView("provider")}).trimmed();
    // "SQLOLEDB.1", "MSDASQL.1": a version suffix names the same provider.
    static const QRegularExpression version(QStringLiteral("\\.\\d+$"));
    provider.remove(version);
    if (provider.isEmpty())
        return failure(QStringLiteral("The connection text names no provider"));

    if (provider.compare(QLatin1StringView("sqloledb"), Qt::CaseInsensitive) == 0
        || provider.startsWith(QLatin1StringView("sqlncli"), Qt::CaseInsensitive)
        || provider.startsWith(QLatin1StringView("msoledbsql"), Qt::CaseInsensitive))
        return mapSqlServer(parsed.pairs);
    if (provider.compare(QLatin1StringView("msdasql"), Qt::CaseInsensitive) == 0)
        return mapOdbc(parsed.pairs);
    if (provider.compare(QLatin1StringView("sqlite"), Qt::CaseInsensitive) == 0
        || provider.compare(QLatin1StringView("sqlite3"), Qt::CaseInsensitive) == 0)
        return mapSqlite(parsed.pairs);
    return failure(QStringLiteral("The database provider \"%1\" is not supported").arg(provider));
}

} // namespace norvale
