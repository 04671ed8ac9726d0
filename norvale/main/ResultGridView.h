#pragma once

#include "norvale/main/GridItemModel.h"

#include <QTableView>

namespace norvale {

// The result grid `grid1`: a read-only table over its own GridItemModel, with
// the header row fixed on top. Rows and columns are the grid's own (row 0 is
// the header row); column widths are pixels, and a width of 0 hides a column
// while its cells keep their texts.
class ResultGridView final : public QTableView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultGridView)

public:
    explicit ResultGridView(QWidget *parent = nullptr);
    ~ResultGridView() override;

    ResultGridModel &grid() { return *m_model; }
    const ResultGridModel &grid() const { return *m_model; }

    void setGridFont(const QString &family, int pointSize);

    // False for a column outside the grid or a negative width.
    bool setColWidth(int col, int pixels);
    int colWidth(int col) const;  // -1 outside the grid

    // The active cell; (0, 0) while no data cell is active.
    int activeRow() const;
    int activeCol() const;
    // The cell under the mouse pointer as last seen: row 0 over the header,
    // -1 when the pointer is on no cell.
    int mouseRow() const { return m_mouseRow; }
    int mouseCol() const { return m_mouseCol; }

signals:
    // Once per completed click on a data cell, after the active cell moved to it.
    void cellClicked(int row, int col);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void notePointer(const QPoint &viewportPos);
    void fitRowHeight();

    GridItemModel *m_model;
    int m_mouseRow = -1;
    int m_mouseCol = -1;
};

} // namespace norvale
