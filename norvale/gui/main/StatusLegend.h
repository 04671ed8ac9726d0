#pragma once

#include <QString>

namespace norvale {

// What the status column's texts and its red mean, for the legend under the
// grid and the tooltips of the column.

// One line per status: the tooltip of the column's header and the legend's.
QString statusLegend();
// The legend as it fits under the grid.
QString statusLegendShort();
// The meaning of one status text; empty for a text that has none.
QString statusExplanation(const QString &status);

} // namespace norvale
