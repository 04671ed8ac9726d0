#pragma once

#include "tests/support/DatabaseStack.h"

#include <QString>

#include <memory>

namespace norvale::test {
class TestDnsServer;
}

namespace norvale::bench {

struct BulkOutcome {
    bool ok = false;
    QString error;
    int rows = 0;          // data rows in the grid at the end
    double seconds = 0;
    double maxStallMs = 0; // longest lateness of the interface thread
};

// A search of a hundred thousand candidates through the main window, its
// search controller and the real grid model, offscreen: every candidate
// resolves at once (a wildcard zone, no delay) and gets its filing query.
// Adds its price rows to the services' database under ".other".
BulkOutcome runBulkSearch(const QString &databasePath, const std::shared_ptr<test::DatabaseStack> &stack,
                          test::TestDnsServer &dns, const QString &keyword, int candidates);

} // namespace norvale::bench
