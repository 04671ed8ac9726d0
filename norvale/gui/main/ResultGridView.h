#pragma once

#include "norvale/gui/main/GridItemModel.h"
#include "norvale/core/grid/ResultGridOrder.h"

#include <QTableView>

namespace norvale {

// The result grid `grid1`: a read-only table over its own GridItemModel, with
// the header row fixed on top. Rows and columns are the grid's own (row 0 is
// the header row); column widths are pixels, and a width of 0 hides a column
// while its cells keep their texts.
//
// The view shows the grid through a ResultGridOrder: a click on a header
// sorts by that column, and the user may filter. Every row this class names
// is a grid row, whatever order the view shows, so a click acts on the row
// that was clicked. A click with Ctrl or Shift held only selects.
//
// From the keyboard: the arrows move the active cell, Enter does what a click
// on the active cell does and Ctrl+Enter what a click on its column's header
// does. A screen reader sees only the shown columns (GridAccessible).
class ResultGridView final : public QTableView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultGridView)

public:
    explicit ResultGridView(QWidget *parent = nullptr);
    ~ResultGridView() override;

    ResultGridModel &grid() { return *m_model; }
    const ResultGridModel &grid() const { return *m_model; }
    ResultGridOrder &order() { return *m_order; }
    const ResultGridOrder &order() const { return *m_order; }

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

    // Grid rows in the order the view shows them: every shown row, or those
    // with a selected cell.
    QList<int> shownRows() const;
    QList<int> selectedRows() const;
    // The columns the user sees, left to right (those of width 0 left out).
    QList<int> shownColumns() const;

    // A click on the cell at a view index, as the keyboard or a screen
    // reader makes it: the cell becomes active and the pointer counts as
    // being on it.
    void activateCell(const QModelIndex &viewIndex);
    // A click on a column's header: the next step of its sort cycle.
    void sortBy(int col);

signals:
    // Once per completed click on a data cell, after the active cell moved to it.
    void cellClicked(int row, int col);
    // Ctrl+C (the platform's copy key).
    void copyRequested();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    // Focus and selection reach a screen reader by the cells it sees, which
    // leave out the hidden columns.
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void notePointer(const QPoint &viewportPos);
    void fitRowHeight();
    void showSortIndicator();
    // Tells a screen reader that cells changed their places.
    void cellsMoved();
    void rowCountChangedBelow(int oldCount, int newCount);

    GridItemModel *m_model;
    ResultGridOrder *m_order;
    int m_mouseRow = -1;
    int m_mouseCol = -1;
    bool m_selecting = false;  // the click under way has Ctrl or Shift held
    int m_firstComing = -1;    // view row of the rows being inserted
    int m_lengthBefore = 0;    // the rows' height in pixels before them
};

} // namespace norvale
