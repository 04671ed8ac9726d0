#pragma once

#include <QString>
#include <QStringList>

namespace norvale {

class Platform;

// The marker that installation leaves beside the program on a new machine.
inline constexpr QLatin1StringView kFirstRunMarker("set.ini");

// What a shared installation keeps, in each user's configuration folder, once
// that user's first run has been handed off.
inline constexpr QLatin1StringView kUserFirstRunRecord("first-run-done");

// Where the first run of this program is decided.
struct FirstRunPlaces {
    QString programFolder;
    // The program folder is not the user's to change (an installation for
    // every user): the marker stays, and each user has a first run of their own.
    bool shared = false;
    // Where a shared installation keeps this user's record; empty when the
    // user has no configuration folder.
    QString userFolder;
};

// The places for the program running from programFolder: shared when the
// user cannot write the folder or the marker is read-only, with the record
// under the user's configuration folder (XDG).
FirstRunPlaces firstRunPlaces(const QString &programFolder);

// Paths of the plain, visible files in folder whose lower-cased name is
// "set.ini". Folders of that name and hidden files do not count. Usually
// one; a case-sensitive file system may hold several spellings.
QStringList findFirstRunMarkers(const QString &folder);

// The first-run hand-off: when the marker is in the program folder and the
// first run can be put behind (the marker deleted, or for a shared
// installation this user's record written), start the initialiser "kestrup"
// from the program folder without waiting for it and end the program,
// whether the start worked or not. Returns false when there is no first run
// to hand off; true only where exitNow returns (tests).
bool handOffFirstRun(const FirstRunPlaces &places, Platform &platform);
bool handOffFirstRun(const QString &programFolder, Platform &platform);

} // namespace norvale
