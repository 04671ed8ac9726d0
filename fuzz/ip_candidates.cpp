// The IP window's page reading: the candidates cut from the reverse-lookup
// page, the location fields, and the typed text's cleaning.
#include "fuzz/FuzzInput.h"
#include "norvale/core/lookup/LookupInput.h"

#include <QSet>

using namespace norvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString page = fuzz::text(data, size);
    const QString open = QStringLiteral("|cite|");
    const QString close = QStringLiteral("|/cite|");

    const QStringList candidates = sharedCandidates(page);
    fuzz::require(candidates.size() <= page.count(open), "at most one candidate per |cite|", page);
    QSet<QString> seen;
    qsizetype at = 0;
    for (const QString &candidate : candidates) {
        fuzz::require(candidate.indexOf(u'.') >= 1, "a candidate's first . follows its first character", page);
        fuzz::require(!candidate.contains(open) && !candidate.contains(close), "a candidate holds no marker", page);
        fuzz::require(!seen.contains(candidate), "each candidate comes once", page);
        seen.insert(candidate);
        // In page order: each stands right after a later |cite| than the one before.
        const qsizetype found = page.indexOf(open + candidate, at);
        fuzz::require(found >= 0, "candidates come in page order, each right after a |cite|", page);
        at = found + open.size();
    }

    const QStringList values = locationValues(page);
    fuzz::require(values.size() == locationMarkers().size(), "one value per location field", page);
    for (qsizetype i = 0; i < values.size(); ++i)
        fuzz::require(!values[i].contains(locationMarkers()[i], Qt::CaseInsensitive),
                      "a field's value holds no marker of its own, in any letter case", page);

    const QString cleaned = cleanLookupText(page);
    fuzz::require(!cleaned.contains(u' ') && cleanLookupText(cleaned) == cleaned,
                  "the typed text's cleaning takes every space and lowers the case once for all", page);
    fuzz::require(!cleanDomainName(page).contains(u' '), "a cleaned domain holds no space", page);
    return 0;
}
