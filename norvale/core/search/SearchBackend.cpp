#include "norvale/core/search/SearchBackend.h"

#include "norvale/core/data/Adodc1.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/net/cPing.h"

namespace norvale {

SearchRows queryRowsOn(const QString &connectionText, const QString &sql,
                       const QVariantList &params, const QStringList &columns)
{
    SearchRows result;
    Adodc1 source;
    source.setConnectionString(connectionText);
    source.setRecordSource(sql, params);
    // No kind can show more rows than the search's row limit lets through,
    // so a huge table is never read whole.
    source.setMaxRecords(DomainSearch::defaultRowLimit + 1);
    if (!source.Refresh())
        return result;
    result.ok = true;
    for (source.MoveFirst(); !source.eof() && !source.bof(); source.MoveNext()) {
        QStringList row;
        row.reserve(columns.size());
        for (const QString &name : columns)
            row.append(source.value(name));
        result.rows.append(row);
    }
    return result;
}

QString resolveOne(const SearchBackend &backend, const QString &domain, const StopFlag *stop)
{
    QString address;
    backend.resolve({domain}, stop, [&address](qsizetype, const QString &found) { address = found; });
    return address;
}

SearchBackend makeServerBackend(std::shared_ptr<ServerDatabase> database,
                                std::function<QString()> statusPageBase)
{
    SearchBackend backend;
    backend.resolve = [](const QStringList &domains, const StopFlag *stop, const SearchBackend::Answered &answered) {
        // cPing keeps no state between calls; one per call keeps each
        // worker independent of any window's object.
        const cPing ping;
        ping.funcGetIPsFromHostNames(domains, stop, answered);
    };
    backend.statusPageBase = std::move(statusPageBase);
    backend.fetchStatusPage = [](const QString &url, const StopFlag *stop) {
        return fetchText(url, QStringLiteral("GB2312"), stop);
    };
    backend.queryRows = [database](const QString &sql, const QVariantList &params,
                                   const QStringList &columns) {
        const std::optional<QString> connection = database->getconnstr();
        if (!connection)
            return SearchRows();
        return queryRowsOn(*connection, sql, params, columns);
    };
    backend.queryFirst = [database](const QString &sql, const QVariantList &params) {
        const QueryResult answer = database->queryfirst(sql, params);
        SearchValue result;
        result.ok = answer.ok;
        if (answer.ok)
            result.value = answer.firstvalue;
        return result;
    };
    return backend;
}

} // namespace norvale
