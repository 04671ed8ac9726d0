#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <deque>
#include <memory>
#include <optional>

class QIODevice;

namespace norvale {

// Text with a line break in it is a list of keywords, one per line.
bool isKeywordList(const QString &text);

// The keywords of a list as the search reads them: each line cleaned like a
// single keyword (cleanKeyword), blank lines and lines that clean to nothing
// left out, and a keyword met before (in any letter case) not repeated.
QStringList keywordLines(const QString &text);

// A keyword file's text: UTF-8 (with or without its byte-order mark) when the
// bytes are valid UTF-8, UTF-16 when they begin with its byte-order mark,
// otherwise GBK, as Chinese editors save by default.
QString decodeKeywordFile(const QByteArray &bytes);

// Counts the keywords of a list as keywordLines reads it, a few lines at a
// time, so that a long list can be counted between key presses without
// holding the text: each step is given the text anew. Repeats are told by
// their 64-bit hash, kept in one flat table taken from the system zeroed
// (its pages arrive as they are first written), so that neither starting
// nor starting again stops the caller for long.
class KeywordCounter {
public:
    // Reads up to `lines` more lines of text; true once the text is read
    // to its end.
    bool step(QStringView text, qsizetype lines);
    // Forgets what was read.
    void restart();
    // Whether the text read so far held a line break: a list, not a keyword.
    bool isList() const { return m_isList; }
    qsizetype count() const { return m_count; }

private:
    void allocate(size_t capacity);
    void remember(size_t hash);

    qsizetype m_offset = 0;
    bool m_isList = false;
    qsizetype m_count = 0;
    struct Free {
        void operator()(size_t *table) const { std::free(table); }
    };
    std::unique_ptr<size_t[], Free> m_table;  // open addressing; 0 marks a free slot
    size_t m_size = 0;                       // slots, a power of two
};

// Keywords given first, then read from a device (standard input) one line at
// a time, as the search asks for them, so that memory stays flat whatever the
// input's size:
// each line decoded as decodeKeywordFile decodes a file, cleaned as
// keywordLines cleans it, and left out when the same keyword (in any letter
// case) came within the last kRepeatWindow keywords. A line longer than
// kLongestLine bytes is no keyword, and is dropped. A device that begins
// with UTF-16's byte-order mark is read whole, up to kLongestUtf16 bytes.
class KeywordReader {
public:
    static constexpr qsizetype kRepeatWindow = 100000;
    static constexpr qsizetype kLongestLine = 4096;
    static constexpr qsizetype kLongestUtf16 = 16 << 20;

    // device may be null: the given keywords alone.
    explicit KeywordReader(const QStringList &given, QIODevice *device = nullptr)
        : m_device(device), m_pending(keywordLines(given.join(u'\n')))
    {
    }
    // The next keyword, or nothing at the end of the input.
    std::optional<QString> next();

private:
    std::optional<QString> nextLine();
    bool seenLately(const QString &keyword);

    QIODevice *m_device;
    QStringList m_pending;      // keywords given, then those of the line read last
    bool m_started = false;
    QStringList m_utf16Lines;   // the whole input, when it is UTF-16
    QSet<QString> m_recent;     // lower-cased, the last kRepeatWindow keywords
    std::deque<QString> m_order;
};

} // namespace norvale
