// The configuration's version reading: whether "lver" announces a version
// above 1.0. Blanks anywhere do not change the answer, nor does anything
// after the number; and where the number is short enough for a double to
// hold it exactly, the answer is the double's.
#include "fuzz/FuzzInput.h"
#include "norvale/core/config/ConfigRecord.h"

#include <cstdlib>

using namespace norvale;

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString lver = fuzz::text(data, size);
    const bool offered = offersUpgrade(lver);

    QString withoutBlanks;
    for (const QChar c : lver) {
        if (!isBlank(c))
            withoutBlanks.append(c);
    }
    fuzz::require(offersUpgrade(withoutBlanks) == offered, "blanks do not count", lver);

    // The number: digits with at most one ".", up to the first other character.
    qsizetype end = 0;
    bool dot = false;
    while (end < withoutBlanks.size()) {
        const QChar c = withoutBlanks.at(end);
        if (c == u'.' && !dot)
            dot = true;
        else if (c < u'0' || c > u'9')
            break;
        ++end;
    }
    const QString number = withoutBlanks.left(end);
    fuzz::require(offersUpgrade(number) == offered, "what follows the number does not count", lver);

    QString digits = number;
    digits.remove(u'.');
    while (digits.startsWith(u'0'))
        digits.remove(0, 1);
    while (digits.endsWith(u'0'))
        digits.chop(1);
    if (digits.size() <= 15) {
        const double value = std::strtod(number.toLatin1().constData(), nullptr);  // "" and "." read 0
        fuzz::require(offered == (value > 1.0), "the answer is the number's, read exactly", lver);
    }
    return 0;
}
