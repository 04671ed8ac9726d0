#include "norvale/core/search/ResultExport.h"

#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/SearchRules.h"

#include <QJsonDocument>
#include <QJsonArray>

namespace norvale {

namespace {

// Display widths of the table's columns but the last.
constexpr int tableWidths[] = {28, 10, 8, 22};

QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r' || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("是") : QStringLiteral("否");
}

QStringList shownTexts(const ResultRecord &r)
{
    return {r.domain, r.status, r.price, r.filing, r.address};
}

QString padded(const QString &text, int width)
{
    return text + QString(std::max(1, width - displayWidth(text)), u' ');
}

QString tableLine(const QStringList &texts, const std::array<bool, 5> &red, bool colour)
{
    QString line;
    for (int c = 0; c < texts.size(); ++c) {
        const bool last = c == texts.size() - 1;
        QString cell = last ? texts[c] : padded(texts[c], tableWidths[c]);
        if (colour && red[std::size_t(c)]) {
            // Only the text is coloured, so the padding keeps its width.
            const QString text = texts[c];
            cell = QStringLiteral("\x1b[31m") + text + QStringLiteral("\x1b[0m") + cell.mid(text.size());
        }
        line += cell;
    }
    while (line.endsWith(u' '))
        line.chop(1);
    return line + u'\n';
}

} // namespace

ResultRecord resultRecord(const QStringList &cells, quint32 redColumns)
{
    ResultRecord r;
    r.domain = cells.value(column::DomainShown);
    r.status = cells.value(column::Status);
    r.price = cells.value(column::Price);
    r.filing = cells.value(column::Filing);
    r.address = cells.value(column::Address);
    r.free = redColumns & (1u << column::Status);
    r.filed = redColumns & (1u << column::Filing);
    return r;
}

ResultRecord resultRecord(const SearchRow &row)
{
    return resultRecord(row.cells, row.red);
}

const QStringList &resultHeaders()
{
    static const QStringList headers{
        QStringLiteral("域名地址"), QStringLiteral("注册状态"), QStringLiteral("拟售价"),
        QStringLiteral("备案号"),   QStringLiteral("IP"),       QStringLiteral("可注册"),
        QStringLiteral("已备案"),
    };
    return headers;
}

QString terminalText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        // A line of a server's text may end in CR LF.
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            continue;
        const char16_t u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7f && u <= 0x9f);
        if (!control || u == u'\n' || u == u'\t')
            shown += c;
        else
            shown += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
    }
    return shown;
}

QString spreadsheetSafe(const QString &text)
{
    // A tab or a carriage return first also starts a formula in some
    // spreadsheets, and is no number's first character.
    if (!text.isEmpty() && (text.front() == u'\t' || text.front() == u'\r'))
        return u'\'' + text;
    static const QString formulaStarts = QStringLiteral("=+-@");
    if (text.size() < 2 || !formulaStarts.contains(text.front()))
        return text;
    bool number = false;
    text.toDouble(&number);
    return number ? text : u'\'' + text;
}

QString csvField(const QString &text)
{
    const QString safe = spreadsheetSafe(text);
    if (!safe.contains(u',') && !safe.contains(u'"') && !safe.contains(u'\n') && !safe.contains(u'\r'))
        return safe;
    QString quoted = safe;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

int displayWidth(const QString &text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF)
                          || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF)
                          || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
                          || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

ResultWriter::ResultWriter(ResultFormat format, bool colour)
    : m_format(format), m_colour(colour)
{
}

QByteArray ResultWriter::begin() const
{
    switch (m_format) {
    case ResultFormat::Table:
        return tableLine(resultHeaders().mid(0, 5), {}, false).toUtf8();
    case ResultFormat::Csv: {
        QStringList fields;
        for (const QString &header : resultHeaders())
            fields << csvField(header);
        return (fields.join(u',') + QStringLiteral("\r\n")).toUtf8();
    }
    case ResultFormat::Json:
        return QByteArrayLiteral("[");
    case ResultFormat::Tsv:
        return {};
    }
    return {};
}

QByteArray ResultWriter::row(const ResultRecord &r)
{
    const bool first = std::exchange(m_first, false);
    switch (m_format) {
    case ResultFormat::Table: {
        QStringList texts;
        for (const QString &text : shownTexts(r))
            texts << terminalText(oneLine(text));
        return tableLine(texts, {false, r.free, false, r.filed, false}, m_colour).toUtf8();
    }
    case ResultFormat::Csv: {
        QStringList fields;
        for (const QString &text : shownTexts(r))
            fields << csvField(text);
        fields << yesNo(r.free) << yesNo(r.filed);
        return (fields.join(u',') + QStringLiteral("\r\n")).toUtf8();
    }
    case ResultFormat::Json: {
        // Keys in the grid's order, which a JSON object of Qt would sort.
        const std::pair<const char *, QJsonValue> fields[] = {
            {"domain", r.domain}, {"status", r.status},   {"price", r.price}, {"filing", r.filing},
            {"address", r.address}, {"free", r.free}, {"filed", r.filed},
        };
        QByteArray object = "{";
        for (const auto &[key, value] : fields) {
            if (object.size() > 1)
                object += ',';
            // A one-element array gives the value in JSON's own spelling.
            const QByteArray spelled = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
            object += '"' + QByteArray(key) + "\":" + spelled.mid(1, spelled.size() - 2);
        }
        object += '}';
        return (first ? QByteArrayLiteral("\n") : QByteArrayLiteral(",\n")) + object;
    }
    case ResultFormat::Tsv: {
        QStringList fields;
        for (const QString &text : shownTexts(r))
            fields << spreadsheetSafe(oneLine(text));
        return (fields.join(u'\t') + u'\n').toUtf8();
    }
    }
    return {};
}

QByteArray ResultWriter::end() const
{
    if (m_format == ResultFormat::Json)
        return m_first ? QByteArrayLiteral("]\n") : QByteArrayLiteral("\n]\n");
    return {};
}

QByteArray ResultWriter::write(ResultFormat format, const QList<ResultRecord> &records)
{
    ResultWriter writer(format);
    QByteArray out = writer.begin();
    for (const ResultRecord &record : records)
        out += writer.row(record);
    return out + writer.end();
}

} // namespace norvale
