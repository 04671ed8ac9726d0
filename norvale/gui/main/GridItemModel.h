#pragma once

#include "norvale/core/grid/ResultGridModel.h"

namespace norvale {

// The grid's cells as a view paints them: a cell's colour number becomes its
// text colour (0x00BBGGRR, so 255 is red), and the status column explains
// itself in tooltips.
class GridItemModel final : public ResultGridModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GridItemModel)

public:
    using ResultGridModel::ResultGridModel;
    ~GridItemModel() override;

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
};

} // namespace norvale
