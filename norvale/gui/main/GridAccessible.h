#pragma once

#include <QAccessibleWidget>
#include <QHash>

class QModelIndex;

namespace norvale {

class ResultGridView;

// How the result grid reads to a screen reader: a table of the columns the
// user sees. A column of width 0 is left out (its cells keep their texts for
// the program), and so is the row-number header the view never shows.
//
// Children: the header cells first, then the shown cells row by row, so that
// child (r + 1) * shown columns + c is view row r, shown column c. A cell's
// press action does what a click on it does, a header cell's sorts as a click
// on the header does.
class GridAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit GridAccessible(ResultGridView *view);
    ~GridAccessible() override;

    // The factory the view installs; it answers for ResultGridView only.
    static QAccessibleInterface *create(const QString &className, QObject *object);
    // The child a view index is, or -1 for an index of a hidden column.
    static int childIndex(const ResultGridView *view, const QModelIndex &index);

    // QAccessibleInterface
    QAccessible::Role role() const override;
    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTableInterface
    QAccessibleInterface *cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface *> selectedCells() const override;
    QString columnDescription(int column) const override;
    int columnCount() const override;
    int rowCount() const override;
    void modelChange(QAccessibleTableModelChangeEvent *event) override;
    // No caption, summary or row headers; cells are selected one by one,
    // never whole rows or columns.
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }

private:
    ResultGridView *view() const;
    // The cached child at index, if it is still there.
    QAccessibleInterface *cachedChild(int index) const;
    // Files the cached cells under their places now; drops those gone.
    void rekeyCache() const;

    // Child index -> the registered cell; an assistive tool keeps its
    // reference to a cell while rows arrive, so a cell keeps its id.
    mutable QHash<int, QAccessible::Id> m_cells;
};

} // namespace norvale
