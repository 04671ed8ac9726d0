#include "norvale/startup/FirstRun.h"

#include "norvale/platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace norvale {

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

bool handOffFirstRun(const QString &folder, Platform &platform)
{
    const QStringList markers = findFirstRunMarkers(folder);
    if (markers.isEmpty())
        return false;

    // Failures here are not reported: the initialiser starts Norvale again
    // when it is done, and a marker left behind only repeats the hand-off.
    for (const QString &marker : markers)
        QFile::remove(marker);
    platform.startDetached(QDir(folder).filePath(QStringLiteral("kestrup")), {});
    platform.exitNow(0);
    return true;
}

} // namespace norvale
