#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace norvale {

class ServerDatabase;

// The six ldomainlist columns of an ICP filing record, in the order of the
// filing window's first six boxes.
const QStringList &filingColumns();

namespace lookupsql {
inline constexpr char filing[] = "SELECT * FROM ldomainlist where lallname=?";
} // namespace lookupsql

// The first filing record of a name: the values of filingColumns() as text
// (NULL reads as empty), or found == false when there is no row or the
// query failed.
struct FilingRecord {
    bool found = false;
    QStringList values;
};

// Everything the lookups reach outside themselves. Each function is called
// on worker threads, concurrently, and possibly after the engine that
// started the lookup is gone, so each must be thread-safe and own what it
// uses.
struct LookupBackend {
    // The first IPv4 address of a name or address in dotted text; "" when it
    // does not resolve. Once cancel is set the answer is no longer wanted
    // and the lookup ends at once.
    std::function<QString(const QString &host, const std::atomic<bool> &cancel)> resolve;
    // A page decoded as UTF-8, "" when the fetch fails. Once cancel is set
    // the page is no longer wanted and the fetch may end early.
    std::function<QString(const QString &url, const std::atomic<bool> &cancel)> getBody;
    // The filing record of a domain, through the record source.
    std::function<FilingRecord(const QString &name)> findFiling;
};

// The real parts: cPing's resolution, GetBody's fetch and the server
// database's record source. The database is shared so that a worker still
// finishing a query after its window has gone keeps it alive.
LookupBackend makeServerLookupBackend(std::shared_ptr<ServerDatabase> database);

} // namespace norvale
