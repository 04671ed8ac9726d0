#pragma once

#include <QString>

#include <string_view>
#include <vector>

namespace norvale {

class ResultGridModel;

// The sort key of every data row in one column, worked out once per row so
// that sorting a million rows compares numbers and plain UTF-16 instead of
// parsing and case-folding cells at every comparison. The domain column
// sorts by name, then by extension; prices as numbers and addresses by
// their octets, ahead of cells that do not read as such; other columns, and
// the texts among those, ignoring letter case.
class GridSortKeys final {
public:
    // Keys of every row of the grid, for column; anew after rows went, as
    // the text numbers may have been given again.
    void build(const ResultGridModel &grid, int column);
    // The key of one model row (0 is the first data row), anew or added.
    void update(const ResultGridModel &grid, int modelRow);
    void clear();
    int column() const { return m_column; }

    // Negative, zero or positive: a before, with or after b, ascending or
    // descending. Empty cells come last either way.
    int compare(int a, int b, bool descending) const;
    // A number that orders rows as compare() does, or ties them: sorting
    // by it first keeps most comparisons to two numbers side by side.
    quint64 prefix(int row, bool descending) const;
    // Whether the prefix is the whole key: two such rows with the same
    // prefix are equal.
    bool exact(int row) const { return m_keys[std::size_t(row)].exact; }

private:
    enum Group : quint8 { Parsed, Text, Empty };
    struct Key {
        quint64 prefix = ~quint64(0);  // ascending
        double number = 0;
        quint32 start = 0;  // the folded text in m_texts
        quint32 length = 0;
        Group group = Empty;
        bool exact = true;
    };
    Key keyOf(QStringView cell);
    static quint64 numberPrefix(double value, bool *exact);
    quint64 textPrefix(const Key &key) const;
    Key textKey(QStringView text, qsizetype nameEnd = -1);
    std::u16string_view text(const Key &key) const;

    // The keys of recent texts by their number in the grid's text store: a
    // column of a few hundred prices is parsed a few hundred times.
    struct Recent {
        quint32 id = 0;
        Key key;
    };
    std::vector<Recent> m_recent = std::vector<Recent>(4096);

    int m_column = -1;
    std::vector<Key> m_keys;       // by model row
    std::vector<char16_t> m_texts; // folded texts of the Text keys
};

} // namespace norvale
