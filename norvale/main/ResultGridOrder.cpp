#include "norvale/main/ResultGridOrder.h"

#include "norvale/search/SearchRules.h"

#include <optional>

namespace norvale {

namespace {

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

std::optional<quint32> ipv4(const QString &text)
{
    const QStringList octets = text.split(u'.');
    if (octets.size() != 4)
        return std::nullopt;
    quint32 value = 0;
    for (const QString &octet : octets) {
        bool ok = false;
        const uint part = octet.toUInt(&ok);
        if (!ok || part > 255)
            return std::nullopt;
        value = value << 8 | part;
    }
    return value;
}

// Negative, zero or positive; values that do not parse follow those that do.
template <typename T>
int compareParsed(const std::optional<T> &a, const std::optional<T> &b, const QString &left,
                  const QString &right)
{
    if (a && b)
        return *a < *b ? -1 : (*b < *a ? 1 : 0);
    if (a != b)
        return a ? -1 : 1;
    return QString::compare(left, right, Qt::CaseInsensitive);
}

int compareCells(int column, const QString &left, const QString &right)
{
    switch (column) {
    case column::DomainShown:
    case column::Domain: {
        const qsizetype l = left.indexOf(u'.'), r = right.indexOf(u'.');
        const int byName = QString::compare(left.left(l), right.left(r), Qt::CaseInsensitive);
        if (byName != 0)
            return byName;
        return QString::compare(l < 0 ? QString() : left.mid(l), r < 0 ? QString() : right.mid(r),
                                Qt::CaseInsensitive);
    }
    case column::Price:
        return compareParsed(number(left), number(right), left, right);
    case column::Address:
        return compareParsed(ipv4(left), ipv4(right), left, right);
    default:
        return QString::compare(left, right, Qt::CaseInsensitive);
    }
}

} // namespace

ResultGridOrder::ResultGridOrder(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setDynamicSortFilter(true);
    setSortRole(Qt::EditRole);
}

ResultGridOrder::~ResultGridOrder() = default;

void ResultGridOrder::cycleSort(int column)
{
    if (sortColumn() != column)
        sort(column, Qt::AscendingOrder);
    else if (sortOrder() == Qt::AscendingOrder)
        sort(column, Qt::DescendingOrder);
    else
        sort(-1);
}

void ResultGridOrder::setOnlyFree(bool on)
{
    if (m_onlyFree == on)
        return;
    m_onlyFree = on;
    invalidateRowsFilter();
}

int ResultGridOrder::gridRow(int viewRow) const
{
    const QModelIndex source = mapToSource(index(viewRow, 0));
    return source.isValid() ? source.row() + 1 : 0;
}

int ResultGridOrder::viewRow(int gridRow) const
{
    if (!sourceModel())
        return -1;
    const QModelIndex shown = mapFromSource(sourceModel()->index(gridRow - 1, 0));
    return shown.isValid() ? shown.row() : -1;
}

bool ResultGridOrder::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const QString l = left.data(Qt::EditRole).toString();
    const QString r = right.data(Qt::EditRole).toString();
    if (l.isEmpty() != r.isEmpty()) {
        // Descending order reverses this answer; empty cells stay last.
        return sortOrder() == Qt::DescendingOrder ? l.isEmpty() : r.isEmpty();
    }
    return compareCells(left.column(), l, r) < 0;
}

bool ResultGridOrder::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (!m_onlyFree)
        return true;
    const QModelIndex status = sourceModel()->index(sourceRow, column::Status, sourceParent);
    return status.data(Qt::EditRole).toString() == u"未注册";
}

} // namespace norvale
