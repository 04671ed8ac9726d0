// The connection text and its mapping. Reading is lossless: the pairs read,
// written out again with quotes, read back the same. The mapped ODBC text,
// read as the driver manager reads it, names a driver only by a name
// registered with the manager, never a path to a library, and names no file
// DSN; read as the manager reads it and as its driver reads it (FreeTDS and
// PostgreSQL as the manager does, SQLite cutting every value at ";"), it
// passes no key outside that driver's allow-list; a refusal never repeats
// the password.
#include "fuzz/FuzzInput.h"
#include "norvale/core/data/ConnectionText.h"
#include "norvale/core/data/OdbcDriverManager.h"
#include "norvale/core/data/OdbcKeys.h"

#include <QStringList>

#include <algorithm>

using namespace norvale;

namespace {

using Pairs = QList<ConnectionPair>;

QString quoted(const QString &value)
{
    QString text = value;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

// An ODBC connection string as the driver manager (unixODBC) reads it:
// blanks and ";" before a key are skipped, the key runs to "=", a value in
// braces runs to the "}" that is not doubled ("}}" stands for "}"), any other
// value to the next ";". Keys are compared trimmed here, which is stricter.
Pairs odbcPairs(const QString &text)
{
    Pairs pairs;
    qsizetype i = 0;
    while (true) {
        while (i < text.size() && (text.at(i).isSpace() || text.at(i) == u';'))
            ++i;
        const qsizetype equals = text.indexOf(u'=', i);
        if (i >= text.size() || equals < 0)
            break;
        const QString key = text.mid(i, equals - i).trimmed();
        i = equals + 1;
        QString value;
        if (i < text.size() && text.at(i) == u'{') {
            ++i;
            while (i < text.size() && (text.at(i) != u'}' || (i + 1 < text.size() && text.at(i + 1) == u'}'))) {
                if (text.at(i) == u'}')
                    ++i;
                value += text.at(i++);
            }
            if (i < text.size())
                ++i;  // the closing "}"
        } else {
            const qsizetype end = text.indexOf(u';', i);
            value = text.mid(i, (end < 0 ? text.size() : end) - i);
            i = end < 0 ? text.size() : end;
        }
        pairs.append({key, value});
    }
    return pairs;
}

// As the SQLite driver reads it: no braces, every value ends at the next
// ";", a key is what stands before "=" as it is written.
Pairs plainPairs(const QString &text)
{
    Pairs pairs;
    for (const QString &piece : text.split(u';')) {
        const qsizetype equals = piece.indexOf(u'=');
        if (equals > 0)
            pairs.append({piece.left(equals), piece.mid(equals + 1)});
    }
    return pairs;
}

// What QODBC hands the driver manager for a database name.
QString odbcConnectionString(const QString &databaseName)
{
    if (databaseName.contains(QLatin1StringView(".dsn"), Qt::CaseInsensitive))
        return QStringLiteral("FILEDSN=") + databaseName;
    if (!databaseName.contains(QLatin1StringView("DRIVER="), Qt::CaseInsensitive)
        && !databaseName.contains(QLatin1StringView("SERVER="), Qt::CaseInsensitive))
        return QStringLiteral("DSN=") + databaseName;
    return databaseName;
}

bool isKey(const QString &key, const char *name)
{
    return key.compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0;
}

bool registered(const QString &name)
{
    static const QList<odbc::RegisteredDriver> drivers = odbc::registeredDrivers();
    return std::any_of(drivers.cbegin(), drivers.cend(), [&name](const odbc::RegisteredDriver &driver) {
        return driver.name.compare(name, Qt::CaseInsensitive) == 0;
    });
}

// Every key passes that driver's allow-list (which also names it the same way).
void requireAllowed(const Pairs &pairs, odbc::DriverFamily family, const QString &text)
{
    for (const auto &[key, value] : pairs)
        fuzz::require(odbc::allowedKey(family, key.trimmed(), value).compare(key.trimmed(), Qt::CaseInsensitive) == 0,
                      "no key outside the driver's allow-list reaches it", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::text(data, size);
    const ParsedConnectionText parsed = parseConnectionText(text);
    if (parsed.error.isEmpty()) {
        QStringList written;
        for (const auto &[key, value] : parsed.pairs) {
            fuzz::require(!key.isEmpty() && key == key.trimmed() && !key.contains(u'=') && !key.contains(u';'),
                          "a key is trimmed and holds neither = nor ;", text);
            written.append(key + u'=' + quoted(value));
        }
        const ParsedConnectionText again = parseConnectionText(written.join(u';'));
        fuzz::require(again.error.isEmpty() && again.pairs == parsed.pairs,
                      "the pairs written out with quotes read back the same", text);
    } else {
        fuzz::require(parsed.pairs.isEmpty(), "an unreadable text gives no pairs", text);
    }

    const SqlConnectionSettings settings = mapConnectionText(text);
    fuzz::require(settings.error.isEmpty() != settings.driver.isEmpty(),
                  "a mapping is either usable or says why not", text);
    if (!settings.error.isEmpty()) {
        // The message may name the provider, a driver or a key; the password
        // only where it is also one of those. Its own words are English
        // prose, so a password with a character other than a letter, a blank
        // or prose punctuation cannot stand in it by chance.
        QString named;
        for (const auto &[key, value] : parsed.pairs)
            named += key + u'\n' + (isKey(key, "pwd") || isKey(key, "password") ? QString() : value) + u'\n';
        const auto distinctive = [](QChar c) {
            return !(c.unicode() < 0x80 && c.isLetter()) && !QStringView(u" .,'\"()").contains(c);
        };
        for (const auto &[key, value] : parsed.pairs) {
            if ((isKey(key, "pwd") || isKey(key, "password")) && !named.contains(value)
                && std::any_of(value.cbegin(), value.cend(), distinctive))
                fuzz::require(!settings.error.contains(value), "a refusal never repeats the password", text);
        }
        return 0;
    }
    if (settings.driver != QLatin1StringView("QODBC"))
        return 0;

    const QString passed = odbcConnectionString(settings.databaseName);
    const Pairs managerReading = odbcPairs(passed);
    QString driver;
    for (const auto &[key, value] : managerReading) {
        if (isKey(key, "driver"))
            driver = value;
    }
    const odbc::DriverFamily family = driver.isEmpty() ? odbc::DriverFamily::Other : odbc::familyOfDriver(driver);
    requireAllowed(managerReading, family, passed);
    if (!odbc::readsBraces(family))
        requireAllowed(plainPairs(passed), family, passed);
    for (const auto &[key, value] : managerReading) {
        fuzz::require(!isKey(key, "filedsn") && !isKey(key, "savefile"), "the ODBC text names no file DSN",
                      settings.databaseName);
        if (isKey(key, "driver")) {
            fuzz::require(!value.contains(u'/'), "the ODBC text never holds a driver path", settings.databaseName);
            fuzz::require(value == QLatin1StringView("FreeTDS") || registered(value),
                          "the ODBC text names only registered drivers", settings.databaseName);
        }
        if (isKey(key, "dsn"))
            fuzz::require(!value.contains(QLatin1StringView(".dsn"), Qt::CaseInsensitive),
                          "the ODBC text names no file DSN", settings.databaseName);
    }
    return 0;
}
