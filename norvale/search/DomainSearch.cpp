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

DomainSearch::~DomainSearch()
{
    // Workers may still be finishing a lookup; they keep the run alive and
    // find nobody to report to.
    if (m_run)
        m_run->detach();
}

void DomainSearch::setParallelism(int candidates)
{
    m_parallelism = std::max(1, candidates);
}

quint64 DomainSearch::start(const QString &text)
{
    if (m_run) {
        m_run->detach();
        m_run.reset();
    }
    SearchRun::Settings settings;
    settings.generation = ++m_generation;
    settings.keyword = cleanKeyword(text);
    settings.parallelism = m_parallelism;
    settings.rowLimit = m_rowLimit;
    m_resetPending = !settings.keyword.isEmpty();
    m_run = std::make_shared<SearchRun>(m_backend, m_boxes, settings, this);
    m_run->start();
    return m_generation;
}

void DomainSearch::stop()
{
    if (!m_run)
        return;
    m_run->stop();
    m_run->reportEnd();
}

void DomainSearch::deliver(const std::shared_ptr<SearchRun> &run, const SearchEvent &event)
{
    if (run != m_run)
        return;
    const quint64 generation = run->generation();
    if (event.type == SearchEvent::Type::End) {
        m_run.reset();
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
