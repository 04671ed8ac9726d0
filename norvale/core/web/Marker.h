#pragma once

#include <QString>

#include <optional>

namespace norvale {

// The one rule by which every page is cut: a page has a value for marker M
// when M occurs in it (exact, case-sensitive unless told otherwise); the
// value is the text between the first M and the next one, or the rest of the
// page when there is no next one, in the page's own letter case. nullopt
// when the page lacks the marker.
std::optional<QString> markerValue(const QString &page, const QString &marker,
                                   Qt::CaseSensitivity cs = Qt::CaseSensitive);

} // namespace norvale
