#include "norvale/core/lookup/IpLookupRun.h"

#include "norvale/core/lookup/IpLookup.h"
#include "norvale/core/lookup/LookupInput.h"
#include "norvale/core/work/WorkerPools.h"

#include <QThreadPool>

namespace norvale {

IpLookupRun::IpLookupRun(LookupBackend backend, Settings settings, IpLookup *receiver)
    : work::Run(settings.generation)
    , m_backend(std::move(backend))
    , m_settings(std::move(settings))
    , m_receiver(receiver)
{
}

void IpLookupRun::start(const QString &lipurl, const QString &lipmessurl)
{
    m_lipurl = lipurl;
    m_lipmessurl = lipmessurl;
    workpools::drivers().start([self = shared_from_this()] { self->drive(); },
                               workpools::lookupPriority);
}

void IpLookupRun::drive()
{
    // Only a lookup given up ends this one early: a stopped lookup still
    // shows the address's geolocation.
    m_address = m_backend.resolve(m_settings.query, detachedFlag());
    report(IpEvent::Type::Address, m_address);
    if (detached())
        return;

    // Plain concatenation: the address is not encoded. A stop while the page
    // loads leaves no candidate to check, so the fetch may end early.
    // Host names: lower-cased, so that one name comes once whatever its spelling.
    const QString page = m_backend.getBody(m_lipurl + m_address, stopFlag()).toLower();
    const QStringList candidates = sharedCandidates(page);
    checkCandidates(candidates);
    // Also after a stop: the count and the geolocation are still written.
    IpEvent counted;
    counted.type = IpEvent::Type::Counted;
    counted.more = full();
    delivery().push(postOf(std::move(counted)));
    if (detached())
        return;

    const QString location = m_backend.getBody(m_lipmessurl + m_address, detachedFlag());
    report(IpEvent::Type::Located, {}, locationValues(location));
    report(IpEvent::Type::End);
}

void IpLookupRun::checkCandidates(const QStringList &candidates)
{
    if (m_settings.parallelism > 1) {
        checkInParallel(candidates);
        return;
    }
    for (const QString &candidate : candidates) {
        if (stopped() || full())
            return;
        if (sharesAddress(candidate))
            delivery().push(sharedPostOf(candidate));
    }
}

void IpLookupRun::checkInParallel(const QStringList &candidates)
{
    auto self = shared_from_this();
    for (const QString &candidate : candidates) {
        delivery().waitForRoom(m_settings.parallelism, stopFlag());
        if (stopped() || full())
            break;
        const qint64 place = delivery().hold();
        workpools::lookups().start(
            [self, place, candidate] {
                const bool listed = !self->stopped() && !self->full() && self->sharesAddress(candidate);
                self->delivery().fill(place, listed ? self->sharedPostOf(candidate) : [] {});
            },
            workpools::lookupPriority);
    }
    // Every candidate reported in order, or the stop or a full list: then
    // what is still being resolved is given up, so the count follows at once.
    delivery().waitForRoom(1, stopFlag());
    if (stopped() || full())
        delivery().skipHeld();
}

bool IpLookupRun::sharesAddress(const QString &candidate) const
{
    // A name that does not resolve shares nothing, not even with an input
    // that did not resolve either.
    const QString address = m_backend.resolve(candidate, stopFlag());
    return !address.isEmpty() && address == m_address;
}

work::OrderedDelivery::Post IpLookupRun::postOf(IpEvent event)
{
    return queuedTo(m_receiver, [receiver = m_receiver, self = shared_from_this(), event] {
        receiver->deliver(self, event);
    });
}

work::OrderedDelivery::Post IpLookupRun::sharedPostOf(const QString &name)
{
    return [self = shared_from_this(), name] {
        if (self->m_listed >= IpLookup::listLimit)
            return;
        if (++self->m_listed == IpLookup::listLimit)
            self->m_full = true;
        bool first = false;
        {
            const std::lock_guard lock(self->m_batchMutex);
            first = self->m_batch.isEmpty();
            self->m_batch.append(name);
        }
        if (first) {
            IpEvent batch;
            batch.type = IpEvent::Type::Shared;
            self->postOf(std::move(batch))();
        }
    };
}

QStringList IpLookupRun::takeBatch()
{
    const std::lock_guard lock(m_batchMutex);
    return std::exchange(m_batch, {});
}

void IpLookupRun::report(IpEvent::Type type, const QString &text, const QStringList &values)
{
    IpEvent event;
    event.type = type;
    event.text = text;
    event.values = values;
    delivery().push(postOf(std::move(event)));
}

} // namespace norvale
