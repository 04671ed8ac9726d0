#pragma once

#include <QString>

#include <optional>

namespace norvale {

// The operations the program performs on its result grid, in the grid's own
// coordinates: row 0 is the fixed header row, data rows start at 1. Every cell
// operation outside the current rows or columns fails softly (false, or an
// empty value) so that a caller skipping errors simply skips that step.
class ResultGrid {
public:
    static constexpr int HeaderRow = 0;

    virtual ~ResultGrid() = default;

    virtual int cols() const = 0;
    virtual bool setCols(int count) = 0;

    // Includes the header row, so an empty grid has one row. Setting 1 drops
    // every data row; raising the count appends empty rows at the bottom.
    virtual int rows() const = 0;
    virtual bool setRows(int count) = 0;

    virtual QString cellText(int row, int col) const = 0;
    virtual bool setCellText(int row, int col, const QString &text) = 0;

    // Text colour as a 0x00BBGGRR number (255 is pure red); nullopt while the
    // cell uses the grid's own colour.
    virtual std::optional<quint32> cellColor(int row, int col) const = 0;
    virtual bool setCellColor(int row, int col, quint32 bgr) = 0;
};

} // namespace norvale
