// The marker rule: the value is the text between the first marker and the
// next one, or the rest of the page; no marker, no value.
#include "fuzz/FuzzInput.h"
#include "norvale/core/web/Marker.h"

using namespace norvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = fuzz::text(data, size);
    if (input.isEmpty())
        return 0;
    // The first character says how long the marker is.
    const qsizetype markerLength = input.front().unicode() % 12;
    const QString marker = input.mid(1, markerLength);
    const QString page = input.mid(1 + markerLength);

    const std::optional<QString> value = markerValue(page, marker);
    fuzz::require(value.has_value() == (!marker.isEmpty() && page.contains(marker)),
                  "a page has a value exactly when it holds the (non-empty) marker", input);
    if (!value)
        return 0;
    fuzz::require(!value->contains(marker), "the value never holds the marker", input);
    const qsizetype first = page.indexOf(marker);
    const qsizetype start = first + marker.size();
    fuzz::require(QStringView(page).sliced(start).startsWith(*value),
                  "the value follows the first marker", input);
    const QStringView after = QStringView(page).sliced(start + value->size());
    fuzz::require(after.isEmpty() || after.startsWith(marker),
                  "the value runs to the next marker or to the end", input);
    return 0;
}
