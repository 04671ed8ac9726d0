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
    // Keys of every row of the grid, for column.
    void build(const ResultGridModel &grid, int column);
    // The key of one model row (0 is the first data row), anew or added.
    void update(const ResultGridModel &grid, int modelRow);
    void clear();
    int column() const { return m_column; }

    // Negative, zero or positive: a before, with or after b, ascending or
    // descending. Empty cells come last either way.
    int compare(int a, int b, bool descending) const;

private:
    enum Group : quint8 { Parsed, Text, Empty };
    struct Key {
        double number = 0;
        quint32 start = 0;  // the folded text in m_texts
        quint32 length = 0;
        Group group = Empty;
    };
    Key keyOf(const QString &cell);
    Key textKey(const QString &text);
    std::u16string_view text(const Key &key) const;

    int m_column = -1;
    std::vector<Key> m_keys;       // by model row
    std::vector<char16_t> m_texts; // folded texts of the Text keys
};

} // namespace norvale
