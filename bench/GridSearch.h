#pragma once

#include <QString>

namespace norvale::test {
class TestDnsServer;
}

namespace norvale::bench {

struct GridOutcome {
    bool ok = false;
    QString error;
    int rows = 0;           // data rows in the grid at the end
    double rssMb = 0;       // the largest resident size seen from the search on
    double maxStallMs = 0;  // longest lateness of the interface thread while rows arrived
    double worstStallAtS = 0;
    double searchS = 0;
    int framesMissed = 0;
    double sortMs = 0;      // the slower of the sorts by price and by name
    double filterMs = 0;    // "只看未注册" over the sorted rows
    // The same on the interface thread's own clock: on a busy machine, what
    // the work took apart from the time others had the processor.
    double sortCpuMs = 0;
    double filterCpuMs = 0;
};

// A million candidates through the main window, its search controller and
// the real grid model, offscreen: 8,000 keywords under 125 extensions of
// ".other", each resolving at once to a wildcard zone and answered by a
// norvale-services of its own without delay (half registered, half free).
// Then the grid is sorted by price and by name, and filtered.
GridOutcome runGridSearch(test::TestDnsServer &dns);

} // namespace norvale::bench
