#include "services/ServiceStore.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace norvale {

namespace {

// A value in the connection text Norvale parses: quoted when it could cut
// the text or lose its blanks.
QString connectionValue(const QString &value)
{
    const bool plain = !value.contains(u';') && !value.contains(u'"') && !value.contains(u'\'')
                       && value.trimmed() == value;
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

// A value in libpq's key='value' form.
QString libpqValue(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\"));
    value.replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + value + u'\'';
}

} // namespace

bool ServiceStore::fromText(const QString &text, ServiceStore *store, QString *error)
{
    *store = ServiceStore();
    const bool address = text.startsWith(QLatin1StringView("postgresql://"), Qt::CaseInsensitive)
                         || text.startsWith(QLatin1StringView("postgres://"), Qt::CaseInsensitive);
    if (!address) {
        store->file = QFileInfo(text).absoluteFilePath();
        return true;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        *error = QStringLiteral("not a usable postgresql:// address: ") + url.errorString();
        return false;
    }
    store->postgres = true;
    store->host = url.host();
    store->port = url.port(5432);
    store->database = url.path().mid(1);
    store->user = url.userName();
    store->password = url.password();
    const QUrlQuery query(url);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1StringView("host"))
            store->host = value;   // the folder of a local server's socket
        else if (key == QLatin1StringView("port"))
            store->port = value.toInt();
        else if (key == QLatin1StringView("user"))
            store->user = value;
        else if (key == QLatin1StringView("password"))
            store->password = value;
        else if (key.contains(QRegularExpression(QStringLiteral("^[a-z_]+$"))) && !value.contains(u';'))
            store->options.append({key, value});
        else
            *error = QStringLiteral("the setting ") + key + QStringLiteral(" of the postgresql:// address is not usable");
    }
    if (!error->isEmpty())
        return false;
    if (store->database.isEmpty() || store->database.contains(u'/')) {
        *error = QStringLiteral("the postgresql:// address names no database: postgresql://USER@HOST/DATABASE");
        return false;
    }
    if (store->port < 1 || store->port > 65535) {
        *error = QStringLiteral("the postgresql:// address has no usable port");
        return false;
    }
    return true;
}

QString ServiceStore::shown() const
{
    if (!postgres)
        return file;
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        text += user + u'@';
    const bool socketFolder = host.startsWith(u'/');
    if (!socketFolder)
        text += host;
    text += u':' + QString::number(port) + u'/' + database;
    if (socketFolder)
        text += QStringLiteral("?host=") + host;
    return text;
}

QString ServiceStore::connectionText() const
{
    if (!postgres)
        return QStringLiteral("provider=SQLite;Data Source=") + connectionValue(file);
    QString text = QStringLiteral("Provider=MSDASQL;Driver=PostgreSQL Unicode;Servername=")
                   + connectionValue(host.isEmpty() ? QStringLiteral("localhost") : host)
                   + QStringLiteral(";Port=") + QString::number(port) + QStringLiteral(";Database=")
                   + connectionValue(database);
    if (!user.isEmpty())
        text += QStringLiteral(";UID=") + connectionValue(user);
    if (!password.isEmpty())
        text += QStringLiteral(";PWD=") + connectionValue(password);
    for (const auto &[key, value] : options) {
        if (key == QLatin1StringView("sslmode"))
            text += QStringLiteral(";SSLmode=") + connectionValue(value);
    }
    return text;
}

QSqlDatabase ServiceStore::addConnection(const QString &name, bool readOnly) const
{
    if (!postgres) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                      : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        return db;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(host);
    db.setPort(port);
    db.setDatabaseName(database);
    db.setUserName(user);
    db.setPassword(password);
    // A server that does not answer holds a request no longer than a
    // statement may, and the pages only ever read.
    QStringList settings{QStringLiteral("connect_timeout=10")};
    QString serverOptions = QStringLiteral("-c statement_timeout=30000");
    if (readOnly)
        serverOptions += QStringLiteral(" -c default_transaction_read_only=on");
    settings << QStringLiteral("options=") + libpqValue(serverOptions);
    for (const auto &[key, value] : options)
        settings << key + u'=' + libpqValue(value);
    db.setConnectOptions(settings.join(u';'));
    return db;
}

QString postgresStatement(const QString &statement)
{
    QString out = statement;
    if (out.startsWith(QLatin1StringView("CREATE TABLE"))) {
        static const QRegularExpression caseless(QStringLiteral("\\bTEXT\\b([^,\\n]*?)\\s*COLLATE NOCASE"));
        out.replace(caseless, QStringLiteral("citext\\1"));
        static const QRegularExpression blob(QStringLiteral("\\bBLOB\\b"));
        out.replace(blob, QStringLiteral("bytea"));
        const qsizetype close = out.lastIndexOf(u')');
        if (close > 0)
            out.insert(close, QStringLiteral(",\n  rowid bigint GENERATED BY DEFAULT AS IDENTITY\n"));
        return out;
    }
    if (out.startsWith(QLatin1StringView("INSERT"))) {
        static const QRegularExpression hex(QStringLiteral("(?<=[\\s,(])X'([0-9A-Fa-f]*)'"));
        out.replace(hex, QStringLiteral("'\\\\x\\1'"));
    }
    return out;
}

} // namespace norvale
