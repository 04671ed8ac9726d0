#pragma once

#include <QString>

#include <httplib.h>

namespace norvale::test {

// A GET of a full address (http://host:port/path?query), as the program's
// users' browsers send it; no answer after a minute is a failed result.
httplib::Result httpGet(const QString &address);

// The text between the first two occurrences of marker on a page (up to its
// end when there is only one), or a null string when marker is not there.
QString between(const QString &page, const QString &marker);

} // namespace norvale::test
