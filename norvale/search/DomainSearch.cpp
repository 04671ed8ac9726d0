#include "norvale/search/DomainSearch.h"

#include "norvale/search/SearchRun.h"

#include <algorithm>
#include <utility>

namespace norvale {

DomainSearch::DomainSearch(SearchBackend backend, std::shared_ptr<SearchBoxes> boxes,
                           QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
    , m_boxes(boxes ? std::move(boxes) : std::make_shared<SearchBoxes>())
{
    qRegisterMetaType<norvale::SearchRow>();
}

// Workers may still be finishing a lookup; they keep the run alive and find
// nobody to report to, since m_runs detaches it.
DomainSearch::~DomainSearch() = default;

void DomainSearch::setParallelism(int candidates)
{
    m_parallelism = std::max(1, candidates);
}

quint64 DomainSearch::start(const QString &text)
{
    SearchRun::Settings settings;
    settings.generation = m_runs.next();
    settings.keyword = cleanKeyword(text);
    settings.parallelism = m_parallelism;
    settings.rowLimit = m_rowLimit;
    m_resetPending = !settings.keyword.isEmpty();
    auto run = std::make_shared<SearchRun>(m_backend, m_boxes, settings, this);
    m_runs.set(run);
    run->start();
    return settings.generation;
}

void DomainSearch::stop()
{
    const std::shared_ptr<SearchRun> &run = m_runs.current();
    if (!run)
        return;
    run->stop();
    run->reportEnd();
}

void DomainSearch::deliverPosted(const std::shared_ptr<SearchRun> &run)
{
    // A receiver of the signals may start or stop a search meanwhile; deliver
    // then drops what no longer belongs to the current run.
    for (const SearchEvent &event : run->takePosted())
        deliver(run, event);
}

void DomainSearch::deliver(const std::shared_ptr<SearchRun> &run, const SearchEvent &event)
{
    if (!m_runs.isCurrent(run))
        return;
    const quint64 generation = run->generation();
    if (event.type == SearchEvent::Type::End) {
        m_runs.finish();
        // A search stopped before its reset came through still leaves the
        // grid cleared, as every search that started does.
        if (std::exchange(m_resetPending, false))
            emit searchReset(generation);
        emit finished(generation);
        return;
    }
    if (run->stopped())
        return;
    switch (event.type) {
    case SearchEvent::Type::Reset:
        m_resetPending = false;
        emit searchReset(generation);
        break;
    case SearchEvent::Type::Progress:
        emit progressStep(generation, event.done, event.total, event.percent);
        break;
    case SearchEvent::Type::Row:
        emit rowReady(generation, event.row);
        break;
    case SearchEvent::Type::End:
        break;
    }
}

} // namespace norvale
