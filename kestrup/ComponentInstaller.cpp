#include "kestrup/ComponentInstaller.h"

#include "kestrup/KestrupPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace kestrup {

namespace {

bool copyComponent(const QString &source, const QString &destination)
{
    const QFileInfo from(source);
    if (!from.isFile())  // missing, a folder, or a link that leads nowhere
        return false;
    // A link left from an earlier run that leads nowhere now stands in the
    // way of the fresh copy.
    const QFileInfo to(destination);
    if (to.isSymLink() && !to.isFile())
        QFile::remove(destination);
    if (from.isSymLink())
        return QFile::link(from.canonicalFilePath(), destination);
    return QFile::copy(source, destination);
}

// Steps 2.2 to 2.4 for one file: its path in the component folder, or the
// empty text when it is still missing.
QString ensureComponent(const QString &fileName, const ComponentPlaces &places)
{
    if (QString found = findComponent(places.componentFolder, fileName); !found.isEmpty())
        return found;
    copyComponent(places.setupFolder + u'/' + fileName, places.componentFolder + u'/' + fileName);
    return findComponent(places.componentFolder, fileName);
}

// A path with a line break or another control character would add lines of
// its own to the configuration files that registration writes.
bool fitsOneLine(const QString &path)
{
    return std::none_of(path.cbegin(), path.cend(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

} // namespace

ComponentPlaces userComponentPlaces(const QString &programFolder)
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {programFolder + QStringLiteral("/setup"), {}, {}, {}};
    return {programFolder + QStringLiteral("/setup"),
            QDir::cleanPath(data + QStringLiteral("/norvale/components")),
            QDir::cleanPath(data + QStringLiteral("/fonts")), QDir::homePath()};
}

QString findComponent(const QString &folder, const QString &fileName)
{
    if (folder.isEmpty())
        return {};
    const QFileInfo exact(folder + u'/' + fileName);
    if (exact.isFile() && !exact.isHidden())
        return exact.filePath();
    // Another spelling of the name; a case-sensitive folder may hold several.
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (entry.fileName().compare(fileName, Qt::CaseInsensitive) == 0 && !entry.isHidden())
            return entry.filePath();
    }
    return {};
}

QStringList registrationCommand(const QStringList &registration, const QString &path,
                                const ComponentPlaces &places)
{
    const std::pair<QLatin1StringView, QString> tokens[] = {
        {kFileToken, path},
        {kComponentFolderToken, places.componentFolder},
        {kFontFolderToken, places.fontFolder},
        {kOdbcFolderToken, places.odbcFolder},
    };
    QStringList command;
    for (const QString &argument : registration) {
        QString expanded = argument;
        for (const auto &[token, value] : tokens) {
            if (argument.startsWith(token)) {
                expanded = value + argument.sliced(token.size());
                break;
            }
        }
        command.append(expanded);
    }
    return command;
}

QStringList installComponents(const ComponentLists &lists, const ComponentPlaces &places,
                              KestrupPlatform &platform, const std::atomic_bool &stop)
{
    QStringList missing;
    // Without a component folder there is nowhere to put anything.
    if (places.componentFolder.isEmpty()) {
        missing = lists.copyOnly;
        for (const RegisteredComponent &component : lists.copyAndRegister)
            missing.append(component.fileName);
        return missing;
    }
    QDir().mkpath(places.componentFolder);

    for (const QString &fileName : lists.copyOnly) {
        if (stop)
            return missing;
        if (ensureComponent(fileName, places).isEmpty())
            missing.append(fileName);
    }
    for (const RegisteredComponent &component : lists.copyAndRegister) {
        if (stop)
            return missing;
        const QString path = ensureComponent(component.fileName, places);
        if (path.isEmpty() || !fitsOneLine(path)) {
            missing.append(component.fileName);
            continue;
        }
        // Registration runs on its own; its outcome is not awaited.
        const QStringList command = registrationCommand(component.registration, path, places);
        if (!command.isEmpty())
            platform.startDetached(command.first(), command.mid(1));
    }
    return missing;
}

QString missingFilesMessage(const QString &componentFolder, const QStringList &missing)
{
    // The fixed text speaks of another system's file kinds; the names below
    // it say what this one lacks.
    QString text = QStringLiteral("部分文件缺失或安装受阻，请将目录下的.ocx和.dll文件手工复制到") + componentFolder
        + QStringLiteral("目录下");
    for (const QString &name : missing)
        text += u'\n' + name;
    return text;
}

} // namespace kestrup
