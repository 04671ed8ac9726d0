#pragma once

#include "norvale/core/config/ConfigLoad.h"
#include "norvale/core/config/ConfigRecord.h"
#include "tests/support/ServicesProcess.h"

#include <QList>

#include <utility>

namespace norvale::test {

// The value of the column named column ("lbuyurl"); empty for no such column.
inline QString valueOf(const ConfigRecord &record, QStringView column)
{
    for (const ConfigKey key : allConfigKeys()) {
        if (configColumn(key) == column)
            return record.value(key);
    }
    return {};
}

// record with the named columns' values replaced.
inline ConfigRecord withValues(const ConfigRecord &record, const QList<std::pair<const char *, QString>> &changes)
{
    QStringList values;
    for (const ConfigKey key : allConfigKeys()) {
        values.append(record.value(key));
        for (const auto &[column, value] : changes) {
            if (configColumn(key) == QLatin1StringView(column))
                values.last() = value;
        }
    }
    return ConfigRecord(values);
}

// The configuration the services' database holds; empty when it cannot be read.
inline ConfigRecord servedConfiguration(const ServicesProcess &services)
{
    return loadConfigRecord(QStringLiteral("Provider=SQLite;Data Source=") + services.databasePath()).record;
}

} // namespace norvale::test
