#pragma once

#include "kestrup/Components.h"

#include <QString>
#include <QStringList>

#include <atomic>

namespace kestrup {

class KestrupPlatform;

struct ComponentPlaces {
    QString setupFolder;      // where the component files come from
    QString componentFolder;  // where they must be; no trailing separator
    QString fontFolder;       // the user's own fonts
    QString odbcFolder;       // the folder of the user's own ODBC configuration
};

// The places for the user running Kestrup from programFolder: the component
// folder and the fonts under the user's data folder (XDG), the ODBC
// configuration in the home folder, where unixODBC looks for it.
ComponentPlaces userComponentPlaces(const QString &programFolder);

// The existence test: the path of the plain, visible file in folder whose
// name is fileName without regard to letter case (the exact spelling first),
// or the empty text. A link counts when it leads to a plain file.
QString findComponent(const QString &folder, const QString &fileName);

// The registration command for the component file at path, place tokens
// replaced: the program first, then its arguments.
QStringList registrationCommand(const QStringList &registration, const QString &path,
                                const ComponentPlaces &places);

// Sees that every listed file is in the component folder, copying a missing
// one from the setup folder, and starts the registration of each file of the
// second list that is there, without waiting. A file of the setup folder that
// is a link is copied as a link to the file it leads to, so that the system's
// updates of that file reach the user. Returns the names of the files that
// are still missing, in list order; none when every file is in place. When
// stop is set, the files not reached yet are left alone and not named.
QStringList installComponents(const ComponentLists &lists, const ComponentPlaces &places,
                              KestrupPlatform &platform, const std::atomic_bool &stop);

// The one message Kestrup shows, when any file is still missing: its fixed
// text, then the missing files' names, one a line.
QString missingFilesMessage(const QString &componentFolder, const QStringList &missing);

} // namespace kestrup
