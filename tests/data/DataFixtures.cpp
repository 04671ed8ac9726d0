#include "tests/data/DataFixtures.h"

#include "norvale/web/GetBody.h"
#include "tests/support/ServicesProcess.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace norvale::test {

bool execWritable(const QString &path, const QList<Statement> &statements, QString *error)
{
    const QString name = QStringLiteral("test-writer");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        if (!ok && error)
            *error = db.lastError().text();
        for (const Statement &statement : statements) {
            if (!ok)
                break;
            QSqlQuery query(db);
            ok = query.prepare(statement.sql);
            for (const QVariant &value : statement.params)
                query.addBindValue(value);
            ok = ok && query.exec();
            if (!ok && error)
                *error = query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

QString sqliteText(const QString &path)
{
    return QStringLiteral("Provider=SQLite;Data Source=") + path;
}

int heldConnections()
{
    int count = 0;
    for (const QString &name : QSqlDatabase::connectionNames()) {
        if (name.startsWith(QLatin1StringView("norvale-db-")))
            ++count;
    }
    return count;
}

int requestCount(const ServicesProcess &services, const QString &path)
{
    const QString stats = GetBody(services.baseUrl() + QStringLiteral("/stats"), QStringLiteral("UTF-8"));
    for (const QString &line : stats.split(u'\n')) {
        const QStringList words = line.split(u' ');
        if (words.size() == 2 && words.at(0) == path)
            return words.at(1).toInt();
    }
    return 0;
}

bool setSetting(const ServicesProcess &services, const QString &key, const QString &value)
{
    return execWritable(services.databasePath(),
                        {{QStringLiteral("insert or replace into svc_settings (lkey, lvalue) values (?, ?)"), {key, value}}});
}

QString servedText(const ServicesProcess &services, const QString &provider)
{
    return provider + QStringLiteral("=SQLite;Data Source=") + QFileInfo(services.databasePath()).absoluteFilePath();
}

} // namespace norvale::test
