#pragma once

#include "norvale/core/web/GetBody.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>

namespace norvale {

// The seventeen extension kinds in box order. Each caption is also the key the
// price table is searched by, so these texts are part of the data contract.
inline constexpr int kindCount = 17;
const std::array<QString, kindCount> &extensionKinds();

// The highest box index: the progress scale of phase 1 (doubled with phase 2).
inline constexpr int progressScale = kindCount - 1;

// Grid columns written by the search.
namespace column {
inline constexpr int Domain = 0;
inline constexpr int DomainShown = 3;
inline constexpr int Status = 4;
inline constexpr int Price = 5;
inline constexpr int Filing = 6;
inline constexpr int Address = 7;
inline constexpr int Count = 8;
} // namespace column

// Spaces removed (the ideographic space U+3000 too, which Chinese input
// methods type for one), then cut before the first dot: "my site.com" -> "mysite".
QString cleanKeyword(const QString &text);

// Whether a host can carry the name: after the IDNA conversion, labels of
// letters, digits and hyphens, none empty or over 63 octets, none beginning or
// ending with a hyphen, 253 octets in all at most.
bool isHostName(const QString &domain);

// done * 100 / total to the nearest whole number, a half going to the even
// neighbour. 0 when total is not positive.
int progressPercent(int done, int total);

// Makes every LIKE wildcard in text literal for a pattern with ESCAPE '\'.
// "[" is escaped too: SQL Server reads it as the start of a character set.
QString escapeLike(const QString &text);

// The three reference names whose addresses make the wildcard reference:
// one label nobody holds under .tk, .com and .cn.com, in that order.
QStringList wildcardReferenceNames();

// The text an address is compared with: under ".tk" the first three octets,
// each followed by a dot, so that a whole /24 of a wildcard answer matches.
QString wildcardKey(const QString &kind, const QString &address);

// True when the address says nothing: none, or one the resolver also gives
// for names that surely do not exist (plain substring test on wildip).
bool addressIsSuspect(const QString &kind, const QString &address, const QString &wildip);

// The status page is asked for a suspect address of any host name, however
// many labels it has.
bool wantsStatusPage(const QString &domain, const QString &kind, const QString &address,
                     const QString &wildip);

// What checkdomain writes into cells 4, 5 (whether the price goes in) and 7.
struct CheckCells {
    QString status;           // "已注册", "未注册", "查询失败" or "无效域名"
    bool statusRed = false;
    bool showsPrice = false;  // cell 5 gets the candidate's price
    QString address;          // cell 7
};

// The status decision. A name no host can carry is "无效域名" without a
// price: nobody can register it. `page` is consulted only when
// wantsStatusPage() holds: no HTTP response at all, or a server error (5xx),
// is no verdict ("查询失败"); any other response, error pages included, is
// judged by the "|domain|" marker.
CheckCells checkdomain(const QString &domain, const QString &kind, const QString &address,
                       const QString &wildip, const PageText &page);

// Beyond the reference names, two more answers say nothing about a name.
//
// An address in 0.0.0.0/8 or 127.0.0.0/8 is a blocked name, a sinkhole or the
// registries' name-collision signal 127.0.53.53, never a host of its own.
bool isReservedAnswer(const QString &address);

// The zone a candidate sits in, everything after its first label:
// "example.com.cn" -> ".com.cn". Empty for a name without a dot.
QString candidateZone(const QString &domain);

// A label that nobody holds, new at every call: sixteen lower-case letters
// and digits, beginning with a letter.
QString randomProbeLabel();

// The address the rules above then judge. A reserved answer, and one equal to
// what the candidate's zone gives for a label nobody holds (its wildcard, or
// a resolver that answers every unknown name), count as no address at all.
// zoneWildcard(zone) is asked only for an answer the reference names would
// take as real, and gives "" when the probe does not resolve.
QString judgedAddress(const QString &domain, const QString &kind, const QString &address,
                      const QString &wildip,
                      const std::function<QString(const QString &zone)> &zoneWildcard);

// An ICP filing number longer than one character is shown in red.
bool filingIsRed(const QString &value);

// The statements the search runs; values always go in as bound parameters.
namespace searchsql {
inline constexpr char kindRows[] = "select * from ldomainprice where lextendkind=?";
inline constexpr char relatedRows[] =
    "select * from ldomainlist where lname like ? escape '\\' and lname<>? "
    "and lextend like ? escape '\\'";
inline constexpr char kindPrice[] = "select lprice from ldomainprice where lextendkind=?";
inline constexpr char filing[] = "select lbackweb from ldomainlist where lallname=?";
// Followed by one "?" per name, comma-separated, and ")".
inline constexpr char filings[] = "select lallname, lbackweb from ldomainlist where lallname in (";
} // namespace searchsql

// Bound values for relatedRows: the keyword literally inside the name, not
// the name itself, and an extension ending with the kind.
QStringList relatedRowsParameters(const QString &keyword, const QString &kind);

} // namespace norvale
