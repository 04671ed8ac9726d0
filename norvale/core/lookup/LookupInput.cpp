#include "norvale/core/lookup/LookupInput.h"

#include "norvale/core/web/Marker.h"

#include <QSet>

namespace norvale {

QString cleanLookupText(const QString &typed)
{
    QString text = typed;
    text.remove(u' ');
    return text.toLower();
}

QString cleanDomainName(const QString &typed)
{
    QString name = cleanLookupText(typed);
    name.remove(QStringLiteral("http://"));
    name.remove(QStringLiteral("www."));
    return name;
}

bool hasNameDot(const QString &text)
{
    return text.indexOf(u'.') >= 1;
}

QString whoisText(const QString &page)
{
    return markerValue(page, QStringLiteral("|whois|"))
        .value_or(QString::fromUtf16(lookuptext::whoisNotFound));
}

QStringList sharedCandidates(const QString &page)
{
    const QString open = QStringLiteral("|cite|");
    const QString close = QStringLiteral("|/cite|");
    QStringList candidates;
    QSet<QString> seen;
    qsizetype at = page.indexOf(open);
    while (at >= 0) {
        const qsizetype from = at + open.size();
        const qsizetype next = page.indexOf(open, from);
        const QStringView piece = QStringView(page).sliced(from, (next < 0 ? page.size() : next) - from);
        const qsizetype end = piece.indexOf(close);
        const QString candidate = (end < 0 ? piece : piece.left(end)).toString();
        if (hasNameDot(candidate) && !seen.contains(candidate)) {
            seen.insert(candidate);
            candidates.append(candidate);
        }
        at = next;
    }
    return candidates;
}

const QStringList &locationMarkers()
{
    static const QStringList markers{
        QStringLiteral("|country|"),  QStringLiteral("|region|"),   QStringLiteral("|city|"),
        QStringLiteral("|latitude|"), QStringLiteral("|longitude|"), QStringLiteral("|zipcode|"),
        QStringLiteral("|timezone|"), QStringLiteral("|isp|"),      QStringLiteral("|iddcode|"),
    };
    return markers;
}

QStringList locationValues(const QString &page)
{
    QStringList values;
    for (const QString &marker : locationMarkers())
        values.append(markerValue(page, marker, Qt::CaseInsensitive).value_or(QString()));
    return values;
}

} // namespace norvale
