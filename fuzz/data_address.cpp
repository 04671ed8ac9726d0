// The data-address answer as the program reads it: the body decoded as
// GB2312, the value between the "|data|" markers, the fillers taken out, and
// the result mapped onto a database connection. Removing the fillers only
// deletes (whole tokens, nothing else), and a value without them stays as it
// is.
#include "fuzz/FuzzInput.h"
#include "norvale/core/data/ConnectionText.h"
#include "norvale/core/data/fdata.h"
#include "norvale/core/web/GetBody.h"
#include "norvale/core/web/Marker.h"

using namespace norvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString page = BytesToBstr(fuzz::bytes(data, size), QStringLiteral("GB2312")).value_or(QString());
    const std::optional<QString> text = fdata::connectionTextFromPage(page);
    const QString marker = QStringLiteral("|data|");
    fuzz::require(text.has_value() == page.contains(marker), "a text exactly when the page has the marker",
                  page);
    if (!text)
        return 0;
    const QString value = *markerValue(page, marker);
    const QString first = QStringLiteral("58_tovrak");
    const QString second = QStringLiteral("3plenix9");
    const qsizetype firstTokens = value.count(first);
    const qsizetype secondTokens = QString(value).remove(first).count(second);
    fuzz::require(text->size() == value.size() - firstTokens * first.size() - secondTokens * second.size(),
                  "only whole filler tokens are removed", page);
    // What remains keeps its order: it is the value with pieces cut out.
    qsizetype at = 0;
    for (const QChar c : *text) {
        at = value.indexOf(c, at);
        fuzz::require(at >= 0, "the remaining text is the value's own, in order", page);
        ++at;
    }
    if (!value.contains(first) && !value.contains(second))
        fuzz::require(*text == value, "a value without fillers stays as it is", page);

    // The connection layer takes whatever the service sent.
    const SqlConnectionSettings settings = mapConnectionText(*text);
    fuzz::require(settings.error.isEmpty() != settings.driver.isEmpty(),
                  "a mapping is either usable or says why not", *text);
    return 0;
}
