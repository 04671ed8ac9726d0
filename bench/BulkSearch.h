#pragma once

#include "tests/support/DatabaseStack.h"

#include <QString>

#include <functional>
#include <memory>

namespace norvale {
class Fdomain;
}

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
    double worstStallAtS = 0;  // when it ended, from the click
    int framesMissed = 0;      // stalls longer than 16 ms
};

// The main window made from the stack's configuration, shown offscreen,
// searching the keywords (one, or a list a line each) under one box, as a
// user starts it; then sees the window after the search before it closes.
BulkOutcome searchInWindow(const std::shared_ptr<test::DatabaseStack> &stack, const QString &keywords, int box,
                           const std::function<void(Fdomain &)> &then = {});

// A search of a hundred thousand candidates through the main window, its
// search controller and the real grid model, offscreen: every candidate
// resolves at once (a wildcard zone, no delay) and gets its filing query.
// Adds its price rows to the services' database under ".other".
BulkOutcome runBulkSearch(const QString &databasePath, const std::shared_ptr<test::DatabaseStack> &stack,
                          test::TestDnsServer &dns, const QString &keyword, int candidates);

} // namespace norvale::bench
