#pragma once

#include <QStringView>

#include <vector>

namespace norvale {

// Every text of the grid's data rows, end to end in one buffer, named by a
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

    std::vector<char16_t> m_chars;
    std::vector<quint32> m_starts;  // text id runs from m_starts[id] to m_starts[id + 1]
    std::vector<Id> m_slots;        // open addressing over the remembered texts; 0 is free
    std::size_t m_remembered = 0;
    std::vector<KindStats> m_kinds;
};

} // namespace norvale
