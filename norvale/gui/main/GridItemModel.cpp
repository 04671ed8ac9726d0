#include "norvale/gui/main/GridItemModel.h"

#include "norvale/gui/main/StatusLegend.h"
#include "norvale/core/search/SearchRules.h"

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
    if (role == Qt::ToolTipRole && index.column() == column::Status) {
        const QString meaning = statusExplanation(ResultGridModel::data(index, Qt::EditRole).toString());
        return meaning.isEmpty() ? QVariant() : QVariant(meaning);
    }
    return ResultGridModel::data(index, role);
}

QVariant GridItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::ForegroundRole && orientation == Qt::Horizontal)
        return textColor(ResultGridModel::headerData(section, orientation, ColorRole));
    if (role == Qt::ToolTipRole && orientation == Qt::Horizontal && section == column::Status)
        return statusLegend();
    return ResultGridModel::headerData(section, orientation, role);
}

} // namespace norvale
