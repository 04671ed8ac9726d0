#pragma once

#include <QString>
#include <QStringList>

namespace norvale {

class Platform;

// The marker that installation leaves beside the program on a new machine.
inline constexpr QLatin1StringView kFirstRunMarker("set.ini");

// Paths of the plain, visible files in folder whose lower-cased name is
// "set.ini". Folders of that name and hidden files do not count. Usually
// one; a case-sensitive file system may hold several spellings.
QStringList findFirstRunMarkers(const QString &folder);

// The first-run hand-off: when the marker is in folder, delete it, start the
// initialiser "kestrup" from the same folder without waiting for it and end
// the program, whether the deletion and the start worked or not. Returns
// false when there is no marker; true only where exitNow returns (tests).
bool handOffFirstRun(const QString &folder, Platform &platform);

} // namespace norvale
