#include "norvale/cli/CliResume.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace norvale::cli {

namespace {

// The first field of a CSV record, unquoted.
QString firstCsvField(const QByteArray &record)
{
    if (!record.startsWith('"'))
        return QString::fromUtf8(record.left(record.indexOf(',')));
    QByteArray field;
    for (qsizetype i = 1; i < record.size(); ++i) {
        if (record[i] == '"') {
            if (i + 1 < record.size() && record[i + 1] == '"') {
                field += '"';
                ++i;
                continue;
            }
            break;
        }
        field += record[i];
    }
    return QString::fromUtf8(field);
}

ResumePoint csvPoint(const QByteArray &bytes)
{
    ResumePoint point;
    const QByteArray header = ResultWriter(ResultFormat::Csv).begin();
    qsizetype at = bytes.startsWith(ResultWriter::utf8Bom()) ? ResultWriter::utf8Bom().size() : 0;
    if (bytes.size() - at < header.size()) {
        if (!header.startsWith(bytes.mid(at)))
            point.error = QStringLiteral("it does not begin with the CSV header");
        return point;  // empty, or a torn header: written afresh
    }
    if (bytes.mid(at, header.size()) != header) {
        point.error = QStringLiteral("it does not begin with the CSV header");
        return point;
    }
    at += header.size();
    point.keep = at;
    // A record ends at a line end outside quotes; a field may hold line ends.
    bool quoted = false;
    for (qsizetype i = at; i < bytes.size(); ++i) {
        if (bytes[i] == '"')
            quoted = !quoted;
        else if (bytes[i] == '\n' && !quoted) {
            point.lastDomain = firstCsvField(bytes.mid(point.keep, i + 1 - point.keep));
            point.keep = i + 1;
            ++point.rows;
        }
    }
    return point;
}

ResumePoint jsonPoint(const QByteArray &bytes)
{
    ResumePoint point;
    if (bytes.isEmpty())
        return point;
    if (!bytes.startsWith('[')) {
        point.error = QStringLiteral("it does not begin with \"[\"");
        return point;
    }
    point.keep = 1;
    // "[", then one object a line, each but the last followed by ",", then "]".
    qsizetype at = 1;
    while (at < bytes.size() && bytes[at] == '\n') {
        const qsizetype lineEnd = bytes.indexOf('\n', at + 1);
        QByteArray line = bytes.mid(at + 1, (lineEnd < 0 ? bytes.size() : lineEnd) - at - 1);
        if (line.endsWith(','))
            line.chop(1);
        const QJsonDocument row = QJsonDocument::fromJson(line);
        if (!row.isObject())
            break;  // the closing bracket, or a torn row
        point.keep = at + 1 + line.size();
        point.lastDomain = row.object().value(u"domain").toString();
        ++point.rows;
        if (lineEnd < 0)
            break;
        at = point.keep + (bytes.mid(point.keep, 1) == "," ? 1 : 0);
    }
    return point;
}

} // namespace

ResumePoint readResumePoint(const QByteArray &bytes, ResultFormat format)
{
    if (format == ResultFormat::Csv)
        return csvPoint(bytes);
    if (format == ResultFormat::Json)
        return jsonPoint(bytes);
    ResumePoint point;
    point.error = QStringLiteral("--resume needs --format csv or json");
    return point;
}

} // namespace norvale::cli
