#include "norvale/main/GridItemModel.h"

#include <QColor>

namespace norvale {

namespace {

QVariant textColor(const QVariant &bgr)
{
    if (!bgr.isValid())
        return {};
    const quint32 n = bgr.toUInt();
    return QColor(int(n & 0xFFu), int((n >> 8) & 0xFFu), int((n >> 16) & 0xFFu));
}

} // namespace

GridItemModel::~GridItemModel() = default;

QVariant GridItemModel::data(const QModelIndex &index, int role) const
{
    if (role == Qt::ForegroundRole)
        return textColor(ResultGridModel::data(index, ColorRole));
    return ResultGridModel::data(index, role);
}

QVariant GridItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::ForegroundRole && orientation == Qt::Horizontal)
        return textColor(ResultGridModel::headerData(section, orientation, ColorRole));
    return ResultGridModel::headerData(section, orientation, role);
}

} // namespace norvale
