#include "norvale/core/data/ServerDatabase.h"

#include "norvale/core/data/ThreadConnections.h"

#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>

#include <limits>

namespace norvale {

ServerDatabase::ServerDatabase(Platform &platform, QString serviceAddress, QString adminMail)
    : m_fdata(platform, std::move(serviceAddress), std::move(adminMail))
{
}

std::optional<QString> ServerDatabase::getconnstr()
{
    // One caller at a time, so that concurrent callers do not ask the
    // service in an interleaved way. connstr() does not take this lock: a
    // discovery may wait for the network or for the user to close its
    // message, and a reader of the text must never wait for that.
    QMutexLocker discovery(&m_discoveryMutex);
    const auto keep = [this](const QString &text) {
        QMutexLocker lock(&m_mutex);
        m_connstr = text;
    };
    QString text = m_fdata.ldataurl();
    keep(text);
    // Any letter case: the usual text says "Provider=", and asking the
    // service again for every query would also end the run on its first
    // failed answer.
    if (!text.contains(QLatin1StringView("provider"), Qt::CaseInsensitive)) {
        if (!m_fdata.getdataurl())
            return std::nullopt;
        text = m_fdata.ldataurl();
        keep(text);
    }
    return text;
}

QString ServerDatabase::connstr() const
{
    QMutexLocker lock(&m_mutex);
    return m_connstr;
}

QueryResult queryFirstOn(const QString &connectionText, const QString &sqltext, const QVariantList &params)
{
    QString error;
    // The work takes copies: it may outlive this call (see onThreadConnection).
    std::optional<QueryResult> answer = onThreadConnection<QueryResult>(
        connectionText, &error, [sqltext, params](QSqlDatabase &db, QString *why) -> std::optional<QueryResult> {
            QueryResult result;
            result.ok = true;
            if (sqltext.size() <= 5)
                return result;
            QSqlQuery query(db);
            if (!runStatement(query, sqltext, params, why))
                return std::nullopt;
            qint64 rows = 0;
            QVariant first;
            while (query.next()) {
                if (rows == 0)
                    first = query.value(0);
                ++rows;
            }
            if (query.lastError().isValid()) {
                *why = query.lastError().text();
                return std::nullopt;
            }
            result.ran = true;
            result.rowcount = qint32(qMin<qint64>(rows, std::numeric_limits<qint32>::max()));
            result.firstvalue = first.isNull() ? QString() : first.toString();
            return result;
        });
    if (answer)
        return *answer;
    // A failed call gives no values, only the reason.
    QueryResult failed;
    failed.error = error;
    return failed;
}

QueryResult ServerDatabase::queryfirst(const QString &sqltext, const QVariantList &params)
{
    const std::optional<QString> text = getconnstr();
    if (!text) {
        QueryResult result;
        result.error = QStringLiteral("The database's address could not be obtained");
        return result;
    }
    return queryFirstOn(*text, sqltext, params);
}

} // namespace norvale
