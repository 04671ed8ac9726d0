#pragma once

#include <QSortFilterProxyModel>

namespace norvale {

// The order and the filter the user chose for the grid's rows. They change
// only what a view shows: the grid's own rows keep the order the search
// wrote them in, and each view row maps back to its grid row. Rows that
// arrive later take their place in the chosen order.
class ResultGridOrder final : public QSortFilterProxyModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultGridOrder)

public:
    explicit ResultGridOrder(QObject *parent = nullptr);
    ~ResultGridOrder() override;

    // A header click: the column ascending, then descending, then the
    // search's own order again. Another column starts ascending.
    void cycleSort(int column);
    bool isSorted() const { return sortColumn() >= 0; }

    // "只看未注册": only rows whose status reads "未注册".
    void setOnlyFree(bool on);
    bool onlyFree() const { return m_onlyFree; }

    // Grid row (1 is the first data row) of a view row; 0 for none.
    int gridRow(int viewRow) const;
    // View row of a grid row; -1 when the filter hides it.
    int viewRow(int gridRow) const;

protected:
    // The domain column sorts by name, then by extension; prices as numbers
    // and addresses by their octets. Empty cells come last either way, and
    // equal cells keep the search's order.
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    bool m_onlyFree = false;
};

} // namespace norvale
