#include "norvale/core/lookup/WhoisLookup.h"

#include "norvale/core/lookup/LookupInput.h"
#include "norvale/core/work/Run.h"
#include "norvale/core/work/WorkerPools.h"

#include <QThreadPool>

namespace norvale {

struct WhoisLookup::Run final : work::Run {
    Run(quint64 generation, QString domain) : work::Run(generation), name(std::move(domain)) {}
    const QString name;
};

WhoisLookup::WhoisLookup(LookupBackend backend, QObject *parent)
    : QObject(parent), m_backend(std::move(backend))
{
}

WhoisLookup::~WhoisLookup() = default;

void WhoisLookup::setPageBase(const QString &lwhoisurl)
{
    const bool waiting = !m_configured && m_runs.current();
    m_pageBase = lwhoisurl;
    m_configured = true;
    if (waiting)
        launch(m_runs.current());
}

quint64 WhoisLookup::start(const QString &typed)
{
    const quint64 generation = m_runs.next();
    const QString name = cleanDomainName(typed);
    if (!name.contains(u'.')) {
        emit finished(generation, QString::fromUtf16(lookuptext::whoisNotFound));
        return generation;
    }
    auto run = std::make_shared<Run>(generation, name);
    m_runs.set(run);
    emit lookingUp(generation);
    if (m_configured)
        launch(run);
    return generation;
}

void WhoisLookup::launch(const std::shared_ptr<Run> &run)
{
    // The address is made here: a deferred concatenation would read
    // m_pageBase on the worker, after this object may be gone.
    const QString url = m_pageBase + run->name;
    workpools::fetches().start([this, run, backend = m_backend, url] {
        const QString text = whoisText(backend.getBody(url, run->detachedFlag()));
        run->delivery().push(work::Run::queuedTo(this, [this, run, text] { deliver(run, text); }));
    }, workpools::lookupPriority);
}

void WhoisLookup::deliver(const std::shared_ptr<Run> &run, const QString &text)
{
    if (!m_runs.isCurrent(run))
        return;
    m_runs.finish();
    emit finished(run->generation(), text);
}

} // namespace norvale
