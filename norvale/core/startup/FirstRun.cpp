#include "norvale/core/startup/FirstRun.h"

#include "norvale/core/platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace norvale {

namespace {

// Puts the first run behind; false when that cannot be done, and then there
// is no hand-off: the initialiser starts Norvale again when it is done, so a
// first run that stays would hand off again and again without end.
bool putFirstRunBehind(const FirstRunPlaces &places, const QStringList &markers)
{
    if (!places.shared) {
        bool removed = true;
        for (const QString &marker : markers)
            removed = QFile::remove(marker) && removed;
        return removed;
    }
    if (!QDir().mkpath(places.userFolder))
        return false;
    QFile record(QDir(places.userFolder).filePath(kUserFirstRunRecord));
    return record.open(QIODevice::WriteOnly | QIODevice::NewOnly);
}

} // namespace

FirstRunPlaces firstRunPlaces(const QString &programFolder)
{
    // An installation marks its marker read-only as well: root can write the
    // folder, and deleting the marker there would take the first run away
    // from every other user.
    const QStringList markers = findFirstRunMarkers(programFolder);
    const bool markerReadOnly = std::any_of(markers.cbegin(), markers.cend(), [](const QString &marker) {
        return !QFileInfo(marker).permission(QFile::WriteOwner);
    });
    if (QFileInfo(programFolder).isWritable() && !markerReadOnly)
        return {programFolder, false, {}};
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return {programFolder, true, config.isEmpty() ? QString() : QDir(config).filePath(QStringLiteral("norvale"))};
}

QStringList findFirstRunMarkers(const QString &folder)
{
    // List the folder rather than test one path: the name is matched without
    // regard to case, whatever the file system does.
    QStringList found;
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System,
                                                    QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (entry.fileName().toLower() != kFirstRunMarker)
            continue;
        if (!entry.isFile() || entry.isHidden())
            continue;
        found.append(entry.filePath());
    }
    return found;
}

bool handOffFirstRun(const FirstRunPlaces &places, Platform &platform)
{
    const QStringList markers = findFirstRunMarkers(places.programFolder);
    if (markers.isEmpty())
        return false;
    // This user's first run of a shared installation is behind them already.
    if (places.shared
        && (places.userFolder.isEmpty()
            || QFileInfo::exists(QDir(places.userFolder).filePath(kUserFirstRunRecord))))
        return false;
    if (!putFirstRunBehind(places, markers))
        return false;

    // A failed start is not reported: Norvale simply ends, and the user
    // starts it again.
    platform.startDetached(QDir(places.programFolder).filePath(QStringLiteral("kestrup")), {});
    platform.exitNow(0);
    return true;
}

bool handOffFirstRun(const QString &programFolder, Platform &platform)
{
    return handOffFirstRun(firstRunPlaces(programFolder), platform);
}

} // namespace norvale
