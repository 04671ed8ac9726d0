#pragma once

#include <QStringView>

#include <deque>
#include <memory>
#include <vector>

namespace norvale {

// Every text of the grid's data rows, end to end in large blocks, named by a
// number: a row of eight cells costs eight numbers, not eight strings. A text
// seen before is named again rather than stored twice, as long as such
// repeats pay (statuses, prices, filings do; domain names do not). Texts are
// never freed one by one, only all at once.
class GridTexts final {
public:
    using Id = quint32;
    static constexpr Id Empty = 0;

    GridTexts();

    // kind groups texts that repeat alike (a column): a kind whose texts
    // turn out to be mostly new stops being looked up.
    Id add(QStringView text, int kind);
    QStringView text(Id id) const;
    void clear();

private:
    struct KindStats {
        quint32 found = 0;
        quint32 missed = 0;
    };
    bool worthLooking(int kind) const;
    Id find(QStringView text, std::size_t hash) const;
    void remember(Id id, std::size_t hash);
    void grow();

    // Texts end to end in blocks that never move once made, so that growing
    // the store never copies what it holds; a text longer than a block gets
    // a block of its own.
    static constexpr int blockBits = 16;
    static constexpr std::size_t blockChars = std::size_t(1) << blockBits;
    struct Span {
        quint32 place = 0;  // block << blockBits | offset in the block
        quint32 length = 0;
    };
    Span store(QStringView text);
    std::vector<std::unique_ptr<char16_t[]>> m_blocks;
    std::size_t m_blockUsed = blockChars;  // chars used of the last block
    std::deque<Span> m_spans;              // by text id
    std::vector<Id> m_slots;        // open addressing over the remembered texts; 0 is free
    std::size_t m_remembered = 0;
    std::vector<KindStats> m_kinds;
};

} // namespace norvale
