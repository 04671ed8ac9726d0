#pragma once

#include "norvale/core/grid/GridSortKeys.h"

#include <QAbstractProxyModel>

#include <deque>
#include <functional>
#include <vector>

namespace norvale {

class ResultGridModel;

// The order and the filter the user chose for the grid's rows. They change
// only what a view shows: the grid's own rows keep the order the search
// wrote them in, and each view row maps back to its grid row. Rows that
// arrive later take their place in the chosen order.
//
// The view's rows are one vector of grid rows: a million rows sort by their
// precomputed keys and filter in one pass. A batch of rows the grid adds is
// one insertion at the end, then, when the order wants it, one layout change
// that merges them into place.
class ResultGridOrder final : public QAbstractProxyModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultGridOrder)

public:
    explicit ResultGridOrder(ResultGridModel &grid, QObject *parent = nullptr);
    ~ResultGridOrder() override;

    // A header click: the column ascending, then descending, then the
    // search's own order again. Another column starts ascending.
    void cycleSort(int column);
    // A column below 0 is the search's own order. Equal cells keep it too.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    bool isSorted() const { return m_sortColumn >= 0; }

    // "只看未注册": only rows whose status reads "未注册".
    void setOnlyFree(bool on);
    bool onlyFree() const { return m_onlyFree; }

    // Grid row (1 is the first data row) of a view row; 0 for none.
    int gridRow(int viewRow) const;
    // View row of a grid row; -1 when the filter hides it.
    int viewRow(int gridRow) const;

    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &) const override { return {}; }
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override { return !parent.isValid(); }
    // The columns' header whatever the rows; a row's is its grid row's.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void connectGrid();
    bool accepts(int modelRow) const;
    // Whether model row a shows before model row b.
    bool before(int a, int b) const;
    // Model rows into the order the view shows them in.
    template <typename Rows>
    void sortRows(Rows &rows) const;
    // Model rows (ascending) that came, or whose cells changed when changed
    // is set, shown or hidden and put in their place.
    void place(const std::vector<int> &rows, bool changed);
    void hide(const std::vector<int> &rows);
    void show(const std::vector<int> &rows);
    bool inPlace(int modelRow) const;
    void mergeBack(const std::vector<int> &rows);
    // A change of the shown rows' order that views follow with their
    // current cell and selection.
    void relayout(const std::function<void()> &change);
    void notePlaces();
    void forwardChange(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                       const QList<int> &roles);

    ResultGridModel &m_grid;
    // Deques, not vectors: a vector of a million rows that grows copies
    // itself whole into fresh memory at each doubling, a pause of its own
    // while the rows of a search arrive.
    std::deque<int> m_shown;  // model rows in view order
    std::deque<int> m_place;  // view row of each model row, -1 when hidden
    GridSortKeys m_keys;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_onlyFree = false;
};

} // namespace norvale
