#include "kestrup/Components.h"

namespace kestrup {

namespace {

// Registration runs through /bin/sh with fixed scripts. Paths arrive as
// positional parameters and never become part of a script's text, so spaces,
// quotes or a leading "-" in them change nothing. Registrations run in
// parallel; flock on the component folder takes them one at a time, because
// odbcinst rewrites the whole configuration file and two at once lose one of
// the entries.

// $1 the driver, $2 its template (a section without the Driver line), $3 the
// folder of the user's ODBC configuration, $4 the lock. unixODBC reads the
// user's drivers from ~/.odbcinst.ini; pointing the installer's "system"
// folder there makes it write that file and never the machine's.
const char kOdbcDriverScript[] =
    "{ cat -- \"$2\" && printf 'Driver=%s\\n' \"$1\"; } "
    "| ODBCSYSINI=\"$3\" ODBCINSTINI=.odbcinst.ini flock -- \"$4\" odbcinst -i -d -r -v";

// $1 the font, $2 the user's font folder, $3 the lock. A file of the same name
// that the user keeps there is left alone.
const char kFontScript[] =
    "mkdir -p -- \"$2\" && { [ -e \"$2/${1##*/}\" ] || ln -sf -- \"$1\" \"$2/${1##*/}\"; } "
    "&& flock -- \"$3\" fc-cache -- \"$2\"";

QStringList shell(const char *name, const char *script, const QStringList &parameters)
{
    return QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"), QString::fromUtf8(script),
                       QString::fromLatin1(name)}
        + parameters;
}

RegisteredComponent odbcDriver(const char *fileName, const char *templateName)
{
    return {QString::fromLatin1(fileName),
            shell("kestrup-odbc", kOdbcDriverScript,
                  {kFileToken, kComponentFolderToken + u'/' + QLatin1StringView(templateName),
                   kOdbcFolderToken, kComponentFolderToken})};
}

RegisteredComponent font(const char *fileName)
{
    return {QString::fromLatin1(fileName),
            shell("kestrup-font", kFontScript, {kFileToken, kFontFolderToken, kComponentFolderToken})};
}

} // namespace

ComponentLists linuxComponentLists()
{
    return {
        {QStringLiteral("odbc-FreeTDS.ini"), QStringLiteral("odbc-SQLite3.ini")},
        {odbcDriver("libtdsodbc.so", "odbc-FreeTDS.ini"),
         odbcDriver("libsqlite3odbc.so", "odbc-SQLite3.ini"),
         font("NotoSerifCJK-Regular.ttc"),
         font("NotoSansCJK-Regular.ttc")},
    };
}

} // namespace kestrup
