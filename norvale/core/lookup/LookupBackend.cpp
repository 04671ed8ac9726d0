#include "norvale/core/lookup/LookupBackend.h"

#include "norvale/core/data/Adodc1.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/net/cPing.h"
#include "norvale/core/web/GetBody.h"

namespace norvale {

const QStringList &filingColumns()
{
    static const QStringList columns{
        QStringLiteral("lback"),         QStringLiteral("lbacktime"), QStringLiteral("lbackhost"),
        QStringLiteral("lbackhostkind"), QStringLiteral("lbackname"), QStringLiteral("lbackweb"),
    };
    return columns;
}

LookupBackend makeServerLookupBackend(std::shared_ptr<ServerDatabase> database)
{
    LookupBackend backend;
    backend.resolve = [](const QString &host, const std::atomic<bool> &cancel) {
        // cPing keeps no state between calls, so each call may have its own.
        const cPing ping;
        return ping.funcGetIPFromHostName(host, &cancel);
    };
    backend.getBody = [](const QString &url, const std::atomic<bool> &cancel) {
        // A lookup given up mid-fetch ends the transfer too.
        return GetBody(url, QStringLiteral("UTF-8"), &cancel);
    };
    backend.findFiling = [database](const QString &name) {
        FilingRecord record;
        const std::optional<QString> connection = database->getconnstr();
        if (!connection)
            return record;
        Adodc1 source;
        source.setConnectionString(*connection);
        source.setRecordSource(QLatin1StringView(lookupsql::filing), {name});
        // Only the first row returned is shown.
        source.setMaxRecords(1);
        if (!source.Refresh() || source.RecordCount() == 0)
            return record;
        record.found = true;
        for (const QString &column : filingColumns())
            record.values.append(source.value(column));
        return record;
    };
    return backend;
}

} // namespace norvale
