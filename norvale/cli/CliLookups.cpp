#include "norvale/core/config/Configuration.h"
#include "norvale/cli/CliOutput.h"
#include "norvale/cli/CliRun.h"
#include "norvale/core/lookup/FilingLookup.h"
#include "norvale/core/lookup/IpLookup.h"
#include "norvale/core/lookup/LookupInput.h"
#include "norvale/core/lookup/WhoisLookup.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace norvale::cli {

namespace {

// One lookup's answer as named fields, in the order shown.
struct Field {
    QString key;    // JSON
    QString label;  // table and CSV
    QString value;
};

// Table: "label：value" lines. CSV: a header line and one line of values.
// JSON: one object, with `extra` merged in.
QByteArray formatted(ResultFormat format, const QList<Field> &fields, const QJsonObject &extra = {})
{
    switch (format) {
    case ResultFormat::Json: {
        QJsonObject object = extra;
        for (const Field &f : fields)
            object.insert(f.key, f.value);
        return QJsonDocument(object).toJson(QJsonDocument::Indented);
    }
    case ResultFormat::Csv: {
        QStringList labels, values;
        for (const Field &f : fields) {
            labels << csvField(f.label);
            values << csvField(f.value);
        }
        return (labels.join(u',') + QStringLiteral("\r\n") + values.join(u',') + QStringLiteral("\r\n"))
            .toUtf8();
    }
    case ResultFormat::Table:
    case ResultFormat::Tsv:
        break;
    }
    QString text;
    for (const Field &f : fields)
        text += f.label + u'：' + terminalText(f.value) + u'\n';
    return text.toUtf8();
}

void writeFormatted(ResultFormat format, const QByteArray &bytes)
{
    writeOut(format == ResultFormat::Csv && outputIsFreshFile() ? ResultWriter::utf8Bom() + bytes : bytes);
}

// Runs a lookup to its finished() and gives what that carried.
template <typename Engine, typename Value>
std::decay_t<Value> lookUp(Engine &engine, void (Engine::*finished)(quint64, Value), const QString &typed)
{
    std::decay_t<Value> result;
    QObject::connect(&engine, finished, &engine, [&result](quint64, Value value) { result = value; });
    runUntil(&engine, finished, [&] { engine.start(typed); });
    return result;
}

} // namespace

int runWhois(const CliOptions &options, std::shared_ptr<ServerDatabase> database,
             const Configuration &config)
{
    WhoisLookup engine(makeServerLookupBackend(std::move(database)));
    engine.setPageBase(config.text(ConfigKey::WhoisPage));
    const QString text = lookUp(engine, &WhoisLookup::finished, options.target);

    const bool found = text != QString::fromUtf16(lookuptext::whoisNotFound);
    const QString name = cleanDomainName(options.target);
    if (options.format == ResultFormat::Table) {
        const QString shown = terminalText(text);
        writeOut((shown.endsWith(u'\n') ? shown : shown + u'\n').toUtf8());
        return 0;
    }
    writeFormatted(options.format,
                   formatted(options.format,
                             {{QStringLiteral("name"), QStringLiteral("域名"), name},
                              {QStringLiteral("whois"), QStringLiteral("Whois信息"), found ? text : QString()}},
                             {{QStringLiteral("found"), found}}));
    return 0;
}

int runIp(const CliOptions &options, std::shared_ptr<ServerDatabase> database, const Configuration &config)
{
    IpLookup engine(makeServerLookupBackend(std::move(database)));
    engine.setPages(config.text(ConfigKey::IpPage), config.text(ConfigKey::IpInfoPage));
    QString address;
    QStringList shared;
    QStringList location(locationMarkers().size());
    QObject::connect(&engine, &IpLookup::addressShown, &engine, [&](quint64, const QString &text) { address = text; });
    QObject::connect(&engine, &IpLookup::sharedDomains, &engine, [&](quint64, const QStringList &names) { shared << names; });
    bool more = false;
    QObject::connect(&engine, &IpLookup::counted, &engine, [&](quint64, int, bool full) { more = full; });
    QObject::connect(&engine, &IpLookup::located, &engine, [&](quint64, const QStringList &values) { location = values; });
    runUntil(&engine, &IpLookup::finished, [&] { engine.start(options.target); });

    static const char16_t *const labels[] = {u"所在国家", u"所在地区", u"所在城市", u"纬度", u"经度",
                                              u"邮编", u"时区", u"互联网服务提供商(ISP)", u"国家区号"};
    QList<Field> where;
    for (qsizetype i = 0; i < locationMarkers().size(); ++i) {
        QString key = locationMarkers()[i];
        key.remove(u'|');
        where.append({key, QString::fromUtf16(labels[i]), location.value(i)});
    }
    const QString count = QString::number(shared.size());
    switch (options.format) {
    case ResultFormat::Json: {
        QJsonObject place;
        for (const Field &f : where)
            place.insert(f.key, f.value);
        const QJsonObject object{{QStringLiteral("address"), address},
                                 {QStringLiteral("shared"), QJsonArray::fromStringList(shared)},
                                 {QStringLiteral("count"), int(shared.size())},
                                 {QStringLiteral("more"), more},
                                 {QStringLiteral("location"), place}};
        writeOut(QJsonDocument(object).toJson(QJsonDocument::Indented));
        return 0;
    }
    case ResultFormat::Csv:
        writeFormatted(options.format,
                       formatted(options.format, QList<Field>{{{}, QStringLiteral("IP"), address},
                                                              {{}, QStringLiteral("共享域名"), shared.join(u' ')}}
                                                     + where));
        return 0;
    case ResultFormat::Table:
    case ResultFormat::Tsv:
        break;
    }
    QString text = QStringLiteral("IP 地址：") + terminalText(address) + u'\n';
    for (const QString &name : shared)
        text += QStringLiteral("  ") + terminalText(name) + u'\n';
    text += QStringLiteral("合计查到 ") + count + QStringLiteral(" 条共享域名")
            + (more ? QStringLiteral("（只列出前 ") + count + QStringLiteral(" 条）\n") : QStringLiteral("\n"));
    writeOut(text.toUtf8() + formatted(ResultFormat::Table, where));
    return 0;
}

int runFiling(const CliOptions &options, std::shared_ptr<ServerDatabase> database)
{
    FilingLookup engine(makeServerLookupBackend(std::move(database)));
    const QStringList boxes = lookUp(engine, &FilingLookup::finished, options.target);

    static const char16_t *const labels[FilingLookup::boxCount] = {
        u"备案/许可证号", u"审核通过时间", u"主办单位名称", u"主办单位性质",
        u"网站名称",      u"网站备案/许可证号", u"网站地址", u"服务器所在IP"};
    const QStringList keys = filingColumns() + QStringList{QStringLiteral("name"), QStringLiteral("address")};
    QList<Field> fields;
    bool found = false;
    for (int i = 0; i < FilingLookup::boxCount; ++i) {
        fields.append({keys.value(i), QString::fromUtf16(labels[i]), boxes.value(i)});
        found = found || (i < int(filingColumns().size()) && !boxes.value(i).isEmpty());
    }
    writeFormatted(options.format, formatted(options.format, fields, {{QStringLiteral("found"), found}}));
    return 0;
}

} // namespace norvale::cli
