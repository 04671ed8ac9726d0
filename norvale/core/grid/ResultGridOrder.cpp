#include "norvale/core/grid/ResultGridOrder.h"

#include "norvale/core/grid/ResultGridModel.h"
#include "norvale/core/search/SearchRules.h"

#include <algorithm>
#include <numeric>

namespace norvale {

ResultGridOrder::ResultGridOrder(ResultGridModel &grid, QObject *parent)
    : QAbstractProxyModel(parent), m_grid(grid)
{
    setSourceModel(&grid);
    m_shown.resize(std::size_t(grid.rowCount()));
    std::iota(m_shown.begin(), m_shown.end(), 0);
    m_place = m_shown;
    connectGrid();
}

ResultGridOrder::~ResultGridOrder() = default;

void ResultGridOrder::connectGrid()
{
    connect(&m_grid, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        m_place.resize(std::size_t(m_grid.rowCount()), -1);
        std::vector<int> rows(std::size_t(last - first + 1));
        std::iota(rows.begin(), rows.end(), first);
        place(rows, true);
    });
    connect(&m_grid, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex &, int first, int last) {
        std::vector<int> rows;
        for (int r = first; r <= last; ++r) {
            if (m_place[std::size_t(r)] >= 0)
                rows.push_back(r);
        }
        hide(rows);
    });
    connect(&m_grid, &QAbstractItemModel::rowsRemoved, this, [this] {
        m_place.resize(std::size_t(m_grid.rowCount()));
        if (isSorted())
            m_keys.build(m_grid, m_sortColumn);
    });
    connect(&m_grid, &QAbstractItemModel::columnsAboutToBeInserted, this,
            [this](const QModelIndex &, int first, int last) { beginInsertColumns({}, first, last); });
    connect(&m_grid, &QAbstractItemModel::columnsInserted, this, [this] { endInsertColumns(); });
    connect(&m_grid, &QAbstractItemModel::columnsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) { beginRemoveColumns({}, first, last); });
    connect(&m_grid, &QAbstractItemModel::columnsRemoved, this, [this] {
        endRemoveColumns();
        if (m_sortColumn >= m_grid.columnCount())
            sort(-1);
    });
    connect(&m_grid, &QAbstractItemModel::headerDataChanged, this, [this](Qt::Orientation orientation, int first, int last) {
        if (orientation == Qt::Horizontal)
            emit headerDataChanged(orientation, first, last);
    });
    connect(&m_grid, &QAbstractItemModel::dataChanged, this, &ResultGridOrder::forwardChange);
}

void ResultGridOrder::cycleSort(int column)
{
    if (sortColumn() != column)
        sort(column, Qt::AscendingOrder);
    else if (sortOrder() == Qt::AscendingOrder)
        sort(column, Qt::DescendingOrder);
    else
        sort(-1);
}

void ResultGridOrder::sort(int column, Qt::SortOrder order)
{
    m_sortColumn = column < m_grid.columnCount() ? std::max(column, -1) : -1;
    m_sortOrder = order;
    if (m_sortColumn < 0)
        m_keys.clear();
    else if (m_keys.column() != m_sortColumn)
        m_keys.build(m_grid, m_sortColumn);
    relayout([this] { sortRows(m_shown); });
}

void ResultGridOrder::setOnlyFree(bool on)
{
    if (m_onlyFree == on)
        return;
    m_onlyFree = on;
    std::vector<int> rows(m_place.size());
    std::iota(rows.begin(), rows.end(), 0);
    place(rows, false);
}

bool ResultGridOrder::accepts(int modelRow) const
{
    return !m_onlyFree || m_grid.cellText(modelRow + 1, column::Status) == u"未注册";
}

bool ResultGridOrder::before(int a, int b) const
{
    if (m_sortColumn >= 0) {
        const int order = m_keys.compare(a, b, m_sortOrder == Qt::DescendingOrder);
        if (order != 0)
            return order < 0;
    }
    return a < b;
}

template <typename Rows>
void ResultGridOrder::sortRows(Rows &rows) const
{
    if (!isSorted()) {
        std::sort(rows.begin(), rows.end());
        return;
    }
    // The rows' key prefixes side by side: most comparisons never look
    // further, and a million rows sort without wandering through memory.
    struct Entry {
        quint64 prefix;
        int row;
        bool exact;
    };
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    std::vector<Entry> entries;
    entries.reserve(rows.size());
    for (const int r : rows)
        entries.push_back({m_keys.prefix(r, descending), r, m_keys.exact(r)});
    std::sort(entries.begin(), entries.end(), [this](const Entry &a, const Entry &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return a.exact && b.exact ? a.row < b.row : before(a.row, b.row);
    });
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = entries[i].row;
}

void ResultGridOrder::place(const std::vector<int> &rows, bool changed)
{
    if (changed && isSorted()) {
        for (const int r : rows)
            m_keys.update(m_grid, r);
    }
    std::vector<int> leaving, arriving, moved;
    for (const int r : rows) {
        const bool shown = m_place[std::size_t(r)] >= 0;
        const bool accepted = accepts(r);
        if (shown && !accepted)
            leaving.push_back(r);
        else if (!shown && accepted)
            arriving.push_back(r);
        else if (shown && changed)
            moved.push_back(r);
    }
    hide(leaving);
    show(arriving);
    moved.insert(moved.end(), arriving.cbegin(), arriving.cend());
    if (!std::all_of(moved.cbegin(), moved.cend(), [this](int r) { return inPlace(r); }))
        relayout([&] { mergeBack(moved); });
}

bool ResultGridOrder::inPlace(int modelRow) const
{
    const auto at = std::size_t(m_place[std::size_t(modelRow)]);
    return (at == 0 || before(m_shown[at - 1], modelRow))
           && (at + 1 == m_shown.size() || before(modelRow, m_shown[at + 1]));
}

void ResultGridOrder::hide(const std::vector<int> &rows)
{
    if (rows.empty())
        return;
    const std::size_t kept = m_shown.size() - rows.size();
    // They go to the end first, so that the views hear of one removal.
    const bool atEnd = std::all_of(rows.cbegin(), rows.cend(),
                                   [&](int r) { return std::size_t(m_place[std::size_t(r)]) >= kept; });
    if (!atEnd) {
        relayout([&] {
            std::vector<bool> going(m_place.size());
            for (const int r : rows)
                going[std::size_t(r)] = true;
            std::stable_partition(m_shown.begin(), m_shown.end(), [&](int r) { return !going[std::size_t(r)]; });
        });
    }
    beginRemoveRows({}, int(kept), int(m_shown.size()) - 1);
    for (std::size_t at = kept; at < m_shown.size(); ++at)
        m_place[std::size_t(m_shown[at])] = -1;
    m_shown.resize(kept);
    endRemoveRows();
}

void ResultGridOrder::show(const std::vector<int> &rows)
{
    if (rows.empty())
        return;
    beginInsertRows({}, int(m_shown.size()), int(m_shown.size() + rows.size()) - 1);
    for (const int r : rows) {
        m_place[std::size_t(r)] = int(m_shown.size());
        m_shown.push_back(r);
    }
    endInsertRows();
}

void ResultGridOrder::mergeBack(const std::vector<int> &rows)
{
    std::vector<bool> moving(m_place.size());
    for (const int r : rows)
        moving[std::size_t(r)] = true;
    std::vector<int> rest;
    rest.reserve(m_shown.size());
    std::copy_if(m_shown.cbegin(), m_shown.cend(), std::back_inserter(rest),
                 [&](int r) { return !moving[std::size_t(r)]; });
    std::vector<int> placed = rows;
    sortRows(placed);
    std::merge(rest.cbegin(), rest.cend(), placed.cbegin(), placed.cend(), m_shown.begin(),
               [this](int a, int b) { return before(a, b); });
}

void ResultGridOrder::relayout(const std::function<void()> &change)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> rows;
    rows.reserve(std::size_t(before.size()));
    for (const QModelIndex &index : before)
        rows.push_back(m_shown[std::size_t(index.row())]);
    change();
    notePlaces();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int at = m_place[std::size_t(rows[std::size_t(i)])];
        after.append(at >= 0 ? index(at, before[i].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ResultGridOrder::notePlaces()
{
    std::fill(m_place.begin(), m_place.end(), -1);
    for (std::size_t at = 0; at < m_shown.size(); ++at)
        m_place[std::size_t(m_shown[at])] = int(at);
}

void ResultGridOrder::forwardChange(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                    const QList<int> &roles)
{
    const int left = topLeft.column(), right = bottomRight.column();
    const bool reorders = (isSorted() && m_sortColumn >= left && m_sortColumn <= right)
                          || (m_onlyFree && column::Status >= left && column::Status <= right);
    if (reorders) {
        std::vector<int> rows(std::size_t(bottomRight.row() - topLeft.row() + 1));
        std::iota(rows.begin(), rows.end(), topLeft.row());
        place(rows, true);
    }
    int first = int(m_shown.size()), last = -1;
    for (int r = topLeft.row(); r <= bottomRight.row(); ++r) {
        const int at = m_place[std::size_t(r)];
        if (at >= 0) {
            first = std::min(first, at);
            last = std::max(last, at);
        }
    }
    if (last >= first)
        emit dataChanged(index(first, left), index(last, right), roles);
}

int ResultGridOrder::gridRow(int viewRow) const
{
    return viewRow >= 0 && std::size_t(viewRow) < m_shown.size() ? m_shown[std::size_t(viewRow)] + 1 : 0;
}

int ResultGridOrder::viewRow(int gridRow) const
{
    return gridRow >= 1 && std::size_t(gridRow - 1) < m_place.size() ? m_place[std::size_t(gridRow - 1)] : -1;
}

QModelIndex ResultGridOrder::mapToSource(const QModelIndex &proxyIndex) const
{
    const int row = gridRow(proxyIndex.isValid() ? proxyIndex.row() : -1);
    return row > 0 ? m_grid.index(row - 1, proxyIndex.column()) : QModelIndex();
}

QModelIndex ResultGridOrder::mapFromSource(const QModelIndex &sourceIndex) const
{
    const int row = sourceIndex.isValid() ? viewRow(sourceIndex.row() + 1) : -1;
    return row >= 0 ? index(row, sourceIndex.column()) : QModelIndex();
}

QModelIndex ResultGridOrder::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || std::size_t(row) >= m_shown.size() || column < 0
        || column >= m_grid.columnCount())
        return {};
    return createIndex(row, column);
}

int ResultGridOrder::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

int ResultGridOrder::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_grid.columnCount();
}

QVariant ResultGridOrder::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal)
        return m_grid.headerData(section, orientation, role);
    const int row = gridRow(section);
    return row > 0 ? m_grid.headerData(row - 1, orientation, role) : QVariant();
}

} // namespace norvale
