#pragma once

#include "tests/support/ServicesFixture.h"

#include <QStringList>

#include <iterator>
#include <utility>

namespace norvale::test {

// The price table the search suites seed: kind and extension, one kind after
// another in box order; each price is 10 and the extension's length.
inline constexpr std::pair<const char *, const char *> SearchPriceRows[] = {
    {".com", ".com"}, {".net", ".net"}, {".org", ".org"}, {".info", ".info"}, {".name", ".name"},
    {".biz", ".biz"}, {".us", ".us"}, {".uk", ".uk"}, {".uk", ".co.uk"}, {".eu", ".eu"}, {".de", ".de"},
    {".es", ".es"}, {".in", ".in"}, {".co", ".co"}, {".asia", ".asia"}, {".tk", ".tk"}, {".cn", ".cn"},
    {".cn", ".com.cn"}, {".other", ".top"},
};
inline constexpr int SearchPriceRowCount = int(std::size(SearchPriceRows));

// The names a search of every kind writes for keyword before its related
// names: keyword with each extension of the price table, in its order.
QStringList phaseOneDomains(const QString &keyword);

// Seeds world for searches around "example": the name server's records, the
// price table, the filings (example.com, example.org, example.de,
// myexample.com, exampleshop.cn, examplebiz.com.cn, 50%off.net) and
// example.net registered. False after a seeding fault.
bool seedSearchWorld(ServicesFixture &world);

} // namespace norvale::test
