#pragma once

#include <QString>
#include <QStringList>

namespace norvale {

// The typed text as the IP lookup reads it: every ordinary space removed,
// then lower-cased.
QString cleanLookupText(const QString &typed);

// The typed text as the whois and filing lookups read it: cleanLookupText,
// then every "http://" and every "www." removed, wherever they stand.
QString cleanDomainName(const QString &typed);

// The first "." stands after the first character: "a.b" passes, ".b" and
// "ab" do not.
bool hasNameDot(const QString &text);

// The whois page's text between its "|whois|" markers, or the "not found"
// text when the page has no marker.
QString whoisText(const QString &page);

// The IP reverse-lookup page (lower-cased) cut into its candidates: the text
// after each "|cite|" up to the next "|/cite|", in page order. Names whose
// first "." is not after their first character are left out, and so is every
// repeat, so each distinct name comes once.
QStringList sharedCandidates(const QString &page);

// The geolocation page read into its nine fields, in the order of
// locationMarkers(): markers are found without regard to letter case, the
// values keep the page's own ("America/Los_Angeles"); a missing marker gives
// the empty text.
QStringList locationValues(const QString &page);
// "|country|", "|region|", "|city|", "|latitude|", "|longitude|",
// "|zipcode|", "|timezone|", "|isp|", "|iddcode|".
const QStringList &locationMarkers();

namespace lookuptext {
inline constexpr char16_t whoisNotFound[] = u"Sorry,没有找到Whois信息";
inline constexpr char16_t whoisSearching[] = u"Whois信息查询中。。。";
} // namespace lookuptext

} // namespace norvale
