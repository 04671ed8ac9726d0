#pragma once

#include "norvale/core/web/GetBody.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>

namespace norvale {

class ServerDatabase;

// Rows of a record-source query, only the columns asked for, each as text
// (NULL reads as empty text). ok is false when the query failed.
struct SearchRows {
    bool ok = false;
    QList<QStringList> rows;
};

// One single-value query: ok is false when it failed, and then value is empty.
struct SearchValue {
    bool ok = false;
    QString value;
};

// Everything the search reaches outside itself. Each function is called on
// worker threads, concurrently, and possibly after the engine that started
// the search is gone, so each must be thread-safe and own what it uses.
struct SearchBackend {
    // Each name's first IPv4 address, "" when it does not resolve, handed to
    // answered(index, address) as soon as it is known; the lookups are in
    // flight together. Returns once every name has been handed over; ends at
    // once, without the rest, when the search's stop flag is set.
    using Answered = std::function<void(qsizetype index, const QString &address)>;
    std::function<void(const QStringList &domains, const StopFlag *stop, const Answered &answered)> resolve;
    std::function<QString()> statusPageBase;                               // ldomainurl, read at each fetch
    // Decoded as GB2312; ends at once when the search's stop flag is set.
    std::function<PageText(const QString &url, const StopFlag *stop)> fetchStatusPage;
    std::function<SearchRows(const QString &sql, const QVariantList &params,
                             const QStringList &columns)> queryRows;       // the record source
    std::function<SearchValue(const QString &sql, const QVariantList &params)> queryFirst;
};

// One name through backend.resolve.
QString resolveOne(const SearchBackend &backend, const QString &domain, const StopFlag *stop);

// A record-source query on the calling thread's connection for the text.
SearchRows queryRowsOn(const QString &connectionText, const QString &sql,
                       const QVariantList &params, const QStringList &columns);

// The real parts: cPing's resolution, GetBody's fetch, and the server
// database's record source and queryfirst. The database is shared so that a
// worker still finishing a query after the window has gone keeps it alive.
SearchBackend makeServerBackend(std::shared_ptr<ServerDatabase> database,
                                std::function<QString()> statusPageBase);

} // namespace norvale
