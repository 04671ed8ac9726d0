#include "norvale/search/DomainSearch.h"

#include "norvale/search/KeywordList.h"
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
    if (isKeywordList(text))
        return startList(keywordLines(text));
    m_round = KeywordRound{};
    const quint64 generation = m_runs.next();
    m_resetPending = !cleanKeyword(text).isEmpty();
    launch(text, generation);
    return generation;
}

quint64 DomainSearch::startList(const QStringList &keywords)
{
    // Lines that clean to nothing, and repeats, are no searches.
    const QStringList list = keywordLines(keywords.join(u'\n'));
    if (list.size() <= 1)
        return start(list.value(0));
    KeywordPull next = [list, at = qsizetype(1)]() mutable -> std::optional<QString> {
        if (at >= list.size())
            return std::nullopt;
        return list.at(at++);
    };
    return startRound(list.first(), std::move(next), int(list.size()));
}

quint64 DomainSearch::startStream(KeywordPull next)
{
    const std::optional<QString> first = next();
    std::optional<QString> second = first ? next() : std::nullopt;
    if (!second)
        return start(first.value_or(QString()));
    // The second keyword was read to tell a list from a single search.
    KeywordPull rest = [second, next = std::move(next)]() mutable -> std::optional<QString> {
        if (second)
            return std::exchange(second, std::nullopt);
        return next();
    };
    return startRound(*first, std::move(rest), -1);
}

quint64 DomainSearch::startRound(const QString &first, KeywordPull next, int count)
{
    m_round = KeywordRound{};
    m_round.next = std::move(next);
    m_round.count = count;
    const quint64 generation = m_runs.next();
    m_resetPending = true;
    launch(first, generation);
    return generation;
}

void DomainSearch::launch(const QString &keyword, quint64 generation)
{
    SearchRun::Settings settings;
    settings.generation = generation;
    settings.keyword = cleanKeyword(keyword);
    settings.parallelism = m_parallelism;
    settings.rowLimit = m_rowLimit;
    settings.sharperVerdicts = m_sharperVerdicts;
    auto run = std::make_shared<SearchRun>(m_backend, m_boxes, settings, this);
    m_runs.set(run);
    run->start();
}

void DomainSearch::stop()
{
    const std::shared_ptr<SearchRun> &run = m_runs.current();
    if (!run)
        return;
    run->stop();
    run->reportEnd();
}

bool DomainSearch::listGoesOn(const std::shared_ptr<SearchRun> &run)
{
    if (run->stopped() || !m_round.next)
        return false;
    const std::optional<QString> keyword = m_round.next();
    if (!keyword)
        return false;
    ++m_round.current;
    m_round.rowsBefore = m_round.lastRow;
    launch(*keyword, run->generation());
    return true;
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
        if (listGoesOn(run))
            return;
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
        // The list clears the grid once, for its first keyword.
        if (m_round.current == 0) {
            m_resetPending = false;
            emit searchReset(generation);
        }
        break;
    case SearchEvent::Type::Progress: {
        // A list of unknown length shows each keyword's own progress.
        const bool counted = m_round.count > 0;
        const int done = (counted ? m_round.current * event.total : 0) + event.done;
        const int total = (counted ? m_round.count : 1) * event.total;
        emit progressStep(generation, done, total, progressPercent(done, total));
        break;
    }
    case SearchEvent::Type::Row: {
        SearchRow row = event.row;
        row.row += m_round.rowsBefore;
        m_round.lastRow = std::max(m_round.lastRow, row.row);
        emit rowReady(generation, row);
        break;
    }
    case SearchEvent::Type::End:
        break;
    }
}

} // namespace norvale
