#pragma once

#include "norvale/core/work/StopFlag.h"

#include <QByteArray>
#include <QString>

#include <chrono>

namespace norvale {

// How long a name lookup may try. The C library waits a whole second or more
// before it asks again, so a search firing dozens of queries at a resolver
// that drops a few waits that long for its last rows; these tries are short,
// and a name nobody answers is given up within the deadline.
struct ResolverLimits {
    // The first try; each further one waits twice as long as the one before.
    std::chrono::milliseconds firstTry{100};
    int tries = 5;
    // The whole lookup, however the tries and the name servers add up.
    std::chrono::milliseconds deadline{3000};
};

// The first IPv4 address of a name in the answer's order, as dotted text, or
// the empty text when it does not resolve, no name server answered in time,
// or stop was set. The name is used as it is (ASCII; an internationalised
// name must already be in its ACE form); an address, also in the short forms
// the C library reads (1.2.3), is its own answer. The hosts file and the name servers
// of the system configuration are asked as the system asks them. Blocks the
// calling thread; looks at stop every few milliseconds. Thread-safe.
QString resolveFirstIPv4(const QByteArray &name, const StopFlag *stop = nullptr,
                         const ResolverLimits &limits = ResolverLimits{});

} // namespace norvale
