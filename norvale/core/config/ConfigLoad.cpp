#include "norvale/core/config/ConfigLoad.h"

#include "norvale/core/data/Adodc1.h"
#include "norvale/core/data/ServerDatabase.h"

namespace norvale {

namespace {

ConfigLoadResult failure(QString error)
{
    ConfigLoadResult result;
    result.outcome = ConfigLoadResult::Outcome::Failed;
    result.error = std::move(error);
    return result;
}

} // namespace

ConfigLoadResult loadConfigRecord(ServerDatabase &database)
{
    const std::optional<QString> text = database.getconnstr();
    if (!text) {
        ConfigLoadResult result;
        result.outcome = ConfigLoadResult::Outcome::Ending;
        return result;
    }
    return loadConfigRecord(*text);
}

ConfigLoadResult loadConfigRecord(const QString &connectionText)
{
    Adodc1 source;
    source.setConnectionString(connectionText);
    source.setRecordSource(QStringLiteral("SELECT * FROM lconfig_all"));
    if (!source.Refresh())
        return failure(source.error());
    if (source.eof())
        return failure(QStringLiteral("配置表 lconfig_all 中没有记录"));

    // Columns are fetched by name, so their order and any extra columns in
    // the table do not matter.
    QStringList values;
    values.reserve(qsizetype(kConfigKeys.size()));
    for (const QLatin1StringView key : kConfigKeys) {
        const QString column(key);
        if (!source.hasField(column))
            return failure(QStringLiteral("配置表 lconfig_all 中缺少列 ") + column);
        const QVariant value = source.rawValue(column);
        if (value.isNull())
            return failure(QStringLiteral("配置表 lconfig_all 中列 ") + column
                           + QStringLiteral(" 的值为 NULL"));
        QString text = value.toString();
        if (text.size() > kConfigValueLimit)
            return failure(QStringLiteral("配置表 lconfig_all 中列 ") + column + QStringLiteral(" 的值超过 ")
                           + QString::number(kConfigValueLimit) + QStringLiteral(" 个字符"));
        values.append(std::move(text));
    }

    ConfigLoadResult result;
    result.outcome = ConfigLoadResult::Outcome::Loaded;
    result.record = ConfigRecord(std::move(values));
    return result;
}

} // namespace norvale
