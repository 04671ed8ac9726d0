#include "norvale/core/search/KeywordList.h"

#include "norvale/core/search/SearchRules.h"
#include "norvale/core/web/GetBody.h"

#include <QIODevice>
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
    // A list of thousands is read at the click: no pattern matching and no
    // copy of a line before it is cleaned.
    QStringList keywords;
    QSet<QString> seen;
    const QStringView all(text);
    for (qsizetype start = 0, end = 0; start < all.size(); start = end + 1) {
        end = start;
        while (end < all.size() && !isLineBreak(all[end]))
            ++end;
        const QString keyword = cleanKeyword(all.sliced(start, end - start).trimmed().toString());
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

void KeywordCounter::restart()
{
    *this = KeywordCounter();
}

void KeywordCounter::allocate(size_t capacity)
{
    m_table.reset(static_cast<size_t *>(std::calloc(capacity, sizeof(size_t))));
    if (!m_table)
        qFatal("out of memory counting keywords");
    m_size = capacity;
    m_count = 0;
}

void KeywordCounter::remember(size_t hash)
{
    hash = hash ? hash : 1;
    // At most half full: sized from the text at the start, doubled (rarely)
    // when that guess was short.
    if (size_t(m_count + 1) * 2 > m_size) {
        const std::unique_ptr<size_t[], Free> old(m_table.release());
        const size_t oldSize = m_size;
        allocate(m_size * 2);
        for (size_t i = 0; i < oldSize; ++i) {
            if (old[i])
                remember(old[i]);
        }
    }
    const size_t mask = m_size - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        if (m_table[at] == hash)
            return;
        if (m_table[at] == 0) {
            m_table[at] = hash;
            ++m_count;
            return;
        }
    }
}

bool KeywordCounter::step(QStringView text, qsizetype lines)
{
    if (!m_table) {
        // A keyword and its line break take some nine characters.
        size_t capacity = 1024;
        while (capacity < size_t(text.size() / 9) * 2)
            capacity *= 2;
        allocate(capacity);
    }
    for (; lines > 0 && m_offset < text.size(); --lines) {
        qsizetype end = m_offset;
        while (end < text.size() && !isLineBreak(text.at(end)))
            ++end;
        const QString keyword = cleanKeyword(text.sliced(m_offset, end - m_offset).trimmed().toString());
        if (!keyword.isEmpty())
            remember(qHash(keyword.toLower(), size_t(0x9e3779b97f4a7c15)));
        if (end < text.size())
            m_isList = true;
        m_offset = end + 1;
    }
    return m_offset >= text.size();
}

std::optional<QString> KeywordReader::nextLine()
{
    if (!m_device)
        return std::nullopt;
    if (!std::exchange(m_started, true)) {
        const QByteArray head = m_device->peek(2);
        if (head == QByteArray("\xff\xfe", 2) || head == QByteArray("\xfe\xff", 2)) {
            static const QRegularExpression breaks(QStringLiteral("[\\r\\n\\x{2028}\\x{2029}]+"));
            m_utf16Lines = decodeKeywordFile(m_device->read(kLongestUtf16)).split(breaks, Qt::SkipEmptyParts);
            std::reverse(m_utf16Lines.begin(), m_utf16Lines.end());
            m_device->close();
        }
    }
    if (!m_utf16Lines.isEmpty())
        return m_utf16Lines.takeLast();
    if (!m_device->isOpen())
        return std::nullopt;
    QByteArray line = m_device->readLine(kLongestLine + 1);
    if (line.isEmpty())
        return std::nullopt;
    // A line too long for a keyword is read past and dropped.
    if (!line.endsWith('\n')) {
        bool cut = false;
        for (QByteArray rest = m_device->readLine(kLongestLine + 1); !rest.isEmpty();
             rest = m_device->readLine(kLongestLine + 1)) {
            cut = true;
            if (rest.endsWith('\n'))
                break;
        }
        if (cut)
            return QString();
    }
    return decodeKeywordFile(line);
}

bool KeywordReader::seenLately(const QString &keyword)
{
    const QString key = keyword.toLower();
    if (m_recent.contains(key))
        return true;
    m_recent.insert(key);
    m_order.push_back(key);
    if (qsizetype(m_order.size()) > kRepeatWindow) {
        m_recent.remove(m_order.front());
        m_order.pop_front();
    }
    return false;
}

std::optional<QString> KeywordReader::next()
{
    for (;;) {
        while (!m_pending.isEmpty()) {
            const QString keyword = m_pending.takeFirst();
            if (!seenLately(keyword))
                return keyword;
        }
        const std::optional<QString> line = nextLine();
        if (!line)
            return std::nullopt;
        // A line may still hold a CR, or the separators of Unicode.
        m_pending = keywordLines(*line);
    }
}

} // namespace norvale
