#pragma once

#include "norvale/core/grid/GridTexts.h"
#include "norvale/core/grid/ResultGrid.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <deque>
#include <vector>

namespace norvale {

// The result grid's cells. The header row (grid row 0) is served as the
// horizontal header, so model row r is grid row r + 1; a view therefore keeps
// the header in sight while the data rows scroll. Read-only for the user.
//
// A data cell is two small numbers: its text in a shared GridTexts and its
// colour in a palette of at most 255 colours. A million rows of eight cells
// take some 40 MB beside their texts, every cell write is O(1), the row
// count can jump by a hundred thousand in one step, and growing never moves
// the cells already written.
class ResultGridModel : public QAbstractTableModel, public ResultGrid {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultGridModel)

public:
    // The colour number of a cell (quint32), or nothing for the default colour.
    static constexpr int ColorRole = Qt::UserRole + 1;

    static constexpr int MaxCols = 1024;
    static constexpr int MaxRows = 4'000'000;

    explicit ResultGridModel(QObject *parent = nullptr);
    ~ResultGridModel() override;

    int cols() const override;
    bool setCols(int count) override;
    int rows() const override;
    bool setRows(int count) override;
    QString cellText(int row, int col) const override;
    bool setCellText(int row, int col, const QString &text) override;
    std::optional<quint32> cellColor(int row, int col) const override;
    // Also false for a number with a high byte (not a plain colour) and for
    // a 256th distinct colour in the data rows.
    bool setCellColor(int row, int col, quint32 bgr) override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // One data row written whole: its texts from column 0 on, and the
    // columns (bit c for column c) whose colour becomes color.
    struct RowWrite {
        int row = 0;
        QStringList texts;
        quint32 colored = 0;
        quint32 color = 0;
    };
    // Writes many rows at once, adding rows at the bottom to hold the last of
    // them: the views hear of one insertion and one change for the whole
    // batch instead of one per row and cell. Texts past the last column are
    // left out; false when a row is not a data row the grid can hold (that
    // row is skipped) or a colour is not a plain colour.
    bool writeRows(const std::vector<RowWrite> &rows);

    // Cells show one line: line breaks and tabs become spaces.
    static QString singleLine(const QString &text);

private:
    // Sort keys read the cells' texts and text numbers in place.
    friend class GridSortKeys;

    static constexpr quint32 NoColor = 0xFFFFFFFFu;
    static constexpr int MaxColors = 255;

    struct Cell {
        QString text;
        quint32 color = NoColor;
    };

    bool inRange(int row, int col) const;
    // Index of a data cell in m_texts and m_colors.
    std::size_t at(int row, int col) const
    {
        return std::size_t(row - 1) * std::size_t(m_cols) + std::size_t(col);
    }
    // The palette code of a colour, added when new; -1 when the palette is full.
    int colorCode(quint32 bgr);
    void setText(int row, int col, QStringView text);
    void fillRow(const RowWrite &write);
    void cellChanged(int row, int col, int role);
    QStringView textAt(int row, int col) const;
    quint32 colorAt(int row, int col) const;

    int m_cols = 0;
    int m_dataRows = 0;
    std::vector<Cell> m_header;
    GridTexts m_textStore;
    // Data cells, row by row. A deque grows without moving what it holds, so
    // a growing grid never copies its million cells in one go.
    std::deque<GridTexts::Id> m_texts;
    std::deque<quint8> m_colors;         // 0 for none, else palette code + 1
    std::vector<quint32> m_palette;
};

} // namespace norvale
