// Text from pages and the database on its way out. For a terminal: no
// control character but a line end or a tab survives, and a text without
// any comes out as it went in. For a spreadsheet: a CSV cell never begins
// with what starts a formula, unless it is a plain number, and reads back
// as the text (with the leading "'" where one was added).
#include "fuzz/FuzzInput.h"
#include "norvale/core/search/ResultExport.h"

#include <algorithm>

using namespace norvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::text(data, size);

    const auto printable = [](QChar c) {
        const char16_t u = c.unicode();
        return u == u'\n' || u == u'\t' || (u >= 0x20 && (u < 0x7f || u > 0x9f));
    };
    const QString shown = terminalText(text);
    fuzz::require(std::all_of(shown.cbegin(), shown.cend(), printable), "no control character reaches the terminal",
                  text);
    if (std::all_of(text.cbegin(), text.cend(), printable))
        fuzz::require(shown == text, "a text without control characters is shown as it is", text);

    const QString cell = spreadsheetSafe(text);
    // A lone "=" or "-" is no formula.
    if (cell.size() > 1 && QStringLiteral("=+-@\t\r").contains(cell.front())) {
        bool number = false;
        cell.toDouble(&number);
        fuzz::require(number && cell.front() != u'\t' && cell.front() != u'\r', "a formula start is led by '", text);
    }
    fuzz::require(cell == text || cell == u'\'' + text, "the cell is the text, or the text led by '", text);
    return 0;
}
