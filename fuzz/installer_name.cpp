// The download's local name: the text after the address's last "/", or the
// empty text (the download is refused) where that would be unsafe to write.
// A name given is never ".", "..", holds no "/" or "\", no control, format
// or lone surrogate character, and fits a file system's name. The path it
// is written to stays in the folder, is never hidden, never one of the
// program's files, and never a file that was there before.
#include "fuzz/FuzzInput.h"
#include "norvale/core/net/DownloadRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace norvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString address = fuzz::text(data, size);
    const QString name = installerFileName(address);
    if (name.isEmpty())
        return 0;
    fuzz::require(name == address.mid(address.lastIndexOf(u'/') + 1), "the name is the text after the last /",
                  address);
    fuzz::require(name != QLatin1StringView(".") && name != QLatin1StringView(".."), "never . or ..", address);
    fuzz::require(!name.contains(u'/') && !name.contains(u'\\'), "no / or \\ in a name", address);
    for (const QChar c : name) {
        const QChar::Category category = c.category();
        fuzz::require(category != QChar::Other_Control && category != QChar::Other_Format
                          && category != QChar::Other_Surrogate,
                      "no control, format or lone surrogate character", address);
    }
    fuzz::require(QFile::encodeName(name).size() <= 255, "a name fits in 255 bytes", address);

    // A program folder holding the program's files and one of the user's.
    static const QTemporaryDir folder;
    static const bool laidOut = [] {
        for (const char *file : {"norvale", "set.ini", "readme.txt", "notes.txt"}) {
            QFile f(QDir(folder.path()).filePath(QString::fromLatin1(file)));
            if (!f.open(QIODevice::WriteOnly))
                return false;
        }
        return true;
    }();
    fuzz::require(laidOut, "the program folder could be laid out", address);
    const QString path = installerTarget(folder.path(), name, {});
    if (path.isEmpty())
        return 0;
    fuzz::require(QFileInfo(path).absolutePath() == QDir(folder.path()).absolutePath(), "the path stays in the folder",
                  address);
    fuzz::require(!name.startsWith(u'.'), "never a hidden name", address);
    fuzz::require(!QFileInfo::exists(path), "never a file that is there", address);
    for (const char *own : {"norvale", "norvale-cli", "kestrup", "set.ini", "readme.txt", "setup"})
        fuzz::require(name.compare(QLatin1StringView(own), Qt::CaseInsensitive) != 0, "never a program file", address);
    return 0;
}
