// The download's local name: the text after the address's last "/", or the
// empty text (the download is refused) where that would be unsafe to write.
// A name given is never ".", "..", holds no "/" or "\", no control, format
// or lone surrogate character, and fits a file system's name.
#include "fuzz/FuzzInput.h"
#include "norvale/net/DownloadRules.h"

#include <QFile>

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
    return 0;
}
