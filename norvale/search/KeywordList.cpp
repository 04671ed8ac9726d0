#include "norvale/search/KeywordList.h"

#include "norvale/search/SearchRules.h"
#include "norvale/web/GetBody.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

namespace norvale {

namespace {

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

} // namespace

bool isKeywordList(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), isLineBreak);
}

QStringList keywordLines(const QString &text)
{
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n\\x{2028}\\x{2029}]+"));
    QStringList keywords;
    QSet<QString> seen;
    for (const QString &line : text.split(breaks, Qt::SkipEmptyParts)) {
        const QString keyword = cleanKeyword(line.trimmed());
        if (keyword.isEmpty())
            continue;
        const QString key = keyword.toLower();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        keywords.append(keyword);
    }
    return keywords;
}

QString decodeKeywordFile(const QByteArray &bytes)
{
    const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes);
    if (marked && *marked != QStringConverter::Utf8) {
        QStringDecoder decode(*marked);
        return decode(bytes);
    }
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return BytesToBstr(bytes, QStringLiteral("GB2312")).value_or(QString());
}

} // namespace norvale
