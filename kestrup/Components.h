#pragma once

#include <QLatin1StringView>
#include <QList>
#include <QString>
#include <QStringList>

namespace kestrup {

// Place tokens of a registration command. An argument that begins with a
// token has it replaced by that place's path and keeps the rest as written;
// no argument is ever split or joined, so a path stays one argument whatever
// characters it holds.
inline constexpr QLatin1StringView kFileToken("{file}");              // the component's own path
inline constexpr QLatin1StringView kComponentFolderToken("{components}");
inline constexpr QLatin1StringView kFontFolderToken("{fonts}");
inline constexpr QLatin1StringView kOdbcFolderToken("{odbc}");

// A file that is registered once it is in the component folder: the program
// and arguments of its registration, with place tokens.
struct RegisteredComponent {
    QString fileName;
    QStringList registration;
};

// The files Kestrup sees to, each list in the order it is worked through.
struct ComponentLists {
    QStringList copyOnly;
    QList<RegisteredComponent> copyAndRegister;
};

// What Norvale needs on Linux: the ODBC drivers its connections name,
// registered in the user's own ODBC configuration, and the CJK faces its
// Chinese captions are drawn with, registered in the user's fonts.
ComponentLists linuxComponentLists();

} // namespace kestrup
