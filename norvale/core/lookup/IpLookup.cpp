#include "norvale/core/lookup/IpLookup.h"

#include "norvale/core/lookup/IpLookupRun.h"
#include "norvale/core/lookup/LookupInput.h"

#include <algorithm>

namespace norvale {

IpLookup::IpLookup(LookupBackend backend, QObject *parent)
    : QObject(parent), m_backend(std::move(backend))
{
}

// Workers may still be resolving; they keep the run alive and find nobody to
// report to, since m_runs detaches it.
IpLookup::~IpLookup() = default;

void IpLookup::setPages(const QString &lipurl, const QString &lipmessurl)
{
    const bool waiting = !m_configured && m_runs.current();
    m_lipurl = lipurl;
    m_lipmessurl = lipmessurl;
    m_configured = true;
    if (waiting)
        launch(m_runs.current());
}

void IpLookup::setParallelism(int candidates)
{
    m_parallelism = std::max(1, candidates);
}

quint64 IpLookup::start(const QString &typed)
{
    const quint64 generation = m_runs.next();
    m_found = 0;
    const QString query = cleanLookupText(typed);
    emit addressShown(generation, query);
    if (!hasNameDot(query)) {
        emit finished(generation);
        return generation;
    }
    IpLookupRun::Settings settings;
    settings.generation = generation;
    settings.query = query;
    settings.parallelism = m_parallelism;
    auto run = std::make_shared<IpLookupRun>(m_backend, settings, this);
    m_runs.set(run);
    if (m_configured)
        launch(run);
    return generation;
}

void IpLookup::launch(const std::shared_ptr<IpLookupRun> &run)
{
    run->start(m_lipurl, m_lipmessurl);
}

void IpLookup::stop()
{
    if (const std::shared_ptr<IpLookupRun> &run = m_runs.current())
        run->stop();
}

void IpLookup::deliver(const std::shared_ptr<IpLookupRun> &run, const IpEvent &event)
{
    if (!m_runs.isCurrent(run))
        return;
    const quint64 generation = run->generation();
    switch (event.type) {
    case IpEvent::Type::Address:
        emit addressShown(generation, event.text);
        break;
    case IpEvent::Type::Shared: {
        // Names already on their way when the stop came are not listed.
        const QStringList names = run->takeBatch();
        if (run->stopped() || names.isEmpty())
            return;
        m_found += int(names.size());
        emit sharedDomains(generation, names);
        break;
    }
    case IpEvent::Type::Counted:
        emit counted(generation, m_found, event.more);
        break;
    case IpEvent::Type::Located:
        emit located(generation, event.values);
        break;
    case IpEvent::Type::End:
        m_runs.finish();
        emit finished(generation);
        break;
    }
}

} // namespace norvale
