#pragma once

#include "norvale/core/work/StopFlag.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>

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

// Several names at once, each as resolveFirstIPv4 has it, their queries in
// flight together on the calling thread's channel: one wait serves every
// answer that has come in. Each name's address is handed to answered(index,
// address) as soon as it is known, on the calling thread; answered may look
// up names itself. Returns once every name has been handed over, or at once
// when stop is set, handing over none of the names still waiting.
void resolveFirstIPv4s(const QList<QByteArray> &names, const StopFlag *stop, const ResolverLimits &limits,
                       const std::function<void(qsizetype index, const QString &address)> &answered);

} // namespace norvale
