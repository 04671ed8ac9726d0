#include "norvale/core/web/Marker.h"

namespace norvale {

std::optional<QString> markerValue(const QString &page, const QString &marker, Qt::CaseSensitivity cs)
{
    // An empty marker "occurs" everywhere; no page is cut on it.
    if (marker.isEmpty())
        return std::nullopt;
    const qsizetype first = page.indexOf(marker, 0, cs);
    if (first < 0)
        return std::nullopt;
    const qsizetype start = first + marker.size();
    const qsizetype next = page.indexOf(marker, start, cs);
    return next < 0 ? page.mid(start) : page.mid(start, next - start);
}

} // namespace norvale
