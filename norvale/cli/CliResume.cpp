#include "norvale/cli/CliResume.h"

#include <QIODevice>
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

// The file is read a block or a line at a time: a million rows are never
// held at once.
ResumePoint csvPoint(QIODevice &file)
{
    ResumePoint point;
    const QByteArray header = ResultWriter(ResultFormat::Csv).begin();
    const QByteArray bom = ResultWriter::utf8Bom();
    QByteArray start = file.read(bom.size() + header.size());
    const qsizetype at = start.startsWith(bom) ? bom.size() : 0;
    start = start.mid(at, header.size());
    if (!header.startsWith(start) || (start.size() == header.size() && start != header)) {
        point.error = QStringLiteral("it does not begin with the CSV header");
        return point;
    }
    if (start.size() < header.size())
        return point;  // empty, or a torn header: written afresh
    file.seek(at + header.size());
    qint64 offset = file.pos();
    point.keep = offset;
    // A record ends at a line end outside quotes; a field may hold line ends.
    bool quoted = false;
    QByteArray record;
    while (!file.atEnd()) {
        const QByteArray block = file.read(64 * 1024);
        if (block.isEmpty())
            break;
        for (const char c : block) {
            ++offset;
            record += c;
            if (c == '"') {
                quoted = !quoted;
            } else if (c == '\n' && !quoted) {
                point.lastDomain = firstCsvField(record);
                point.keep = offset;
                ++point.rows;
                record.clear();
            }
        }
    }
    return point;
}

ResumePoint jsonPoint(QIODevice &file)
{
    ResumePoint point;
    const QByteArray first = file.readLine();
    if (first.isEmpty())
        return point;
    if (!first.startsWith('[')) {
        point.error = QStringLiteral("it does not begin with \"[\"");
        return point;
    }
    point.keep = 1;
    // "[", then one object a line, each but the last followed by ",", then "]".
    qint64 lineStart = first.size();
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        const qint64 next = lineStart + line.size();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith(','))
            line.chop(1);
        const QJsonDocument row = QJsonDocument::fromJson(line);
        if (!row.isObject())
            break;  // the closing bracket, or a torn row
        // Kept up to the object's end: the next row brings its own ",".
        point.keep = lineStart + line.size();
        point.lastDomain = row.object().value(u"domain").toString();
        ++point.rows;
        lineStart = next;
    }
    return point;
}

} // namespace

ResumePoint readResumePoint(QIODevice &file, ResultFormat format)
{
    if (format == ResultFormat::Csv)
        return csvPoint(file);
    if (format == ResultFormat::Json)
        return jsonPoint(file);
    ResumePoint point;
    point.error = QStringLiteral("--resume needs --format csv or json");
    return point;
}

} // namespace norvale::cli
