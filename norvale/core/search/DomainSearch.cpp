#include "norvale/core/search/DomainSearch.h"

#include "norvale/core/search/KeywordList.h"
#include "norvale/core/search/SearchRun.h"
#include "norvale/core/work/HandOver.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <utility>

namespace norvale {

struct DomainSearch::Backlog {
    std::shared_ptr<SearchRun> run;
    std::vector<SearchEvent> events;
    std::size_t next = 0;
};

DomainSearch::DomainSearch(SearchBackend backend, std::shared_ptr<SearchBoxes> boxes,
                           QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
    , m_boxes(boxes ? std::move(boxes) : std::make_shared<SearchBoxes>())
    , m_backlog(std::make_unique<Backlog>())
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

namespace {

KeywordSource listSource(QStringList keywords)
{
    const quint64 total = quint64(keywords.size());
    auto list = std::make_shared<QStringList>(std::move(keywords));
    auto at = std::make_shared<qsizetype>(0);
    return {[list, at](QString *keyword) {
                if (*at >= list->size())
                    return false;
                *keyword = (*list)[(*at)++];
                return true;
            },
            total};
}

// done of total steps as a percent, in 64 bits: a generated list may hold
// more keywords than an int counts steps.
struct Progress {
    int done, total, percent;
};
Progress progressOf(quint64 done, quint64 total)
{
    while (total > quint64(std::numeric_limits<int>::max())) {
        done >>= 1;
        total >>= 1;
    }
    return {int(done), int(total), progressPercent(int(done), int(total))};
}

} // namespace

quint64 DomainSearch::start(const QString &text)
{
    if (isKeywordList(text))
        return startLines(keywordLines(text));
    m_round = KeywordRound{1, 0};
    const quint64 generation = m_runs.next();
    m_resetPending = !cleanKeyword(text).isEmpty();
    launch(text, listSource({}), generation);
    return generation;
}

quint64 DomainSearch::startList(const QStringList &keywords)
{
    // Lines that clean to nothing, and repeats, are no searches.
    return startLines(keywordLines(keywords.join(u'\n')));
}

quint64 DomainSearch::startLines(const QStringList &list)
{
    if (list.size() <= 1)
        return start(list.value(0));
    m_round = KeywordRound{quint64(list.size()), 0};
    const quint64 generation = m_runs.next();
    m_resetPending = true;
    launch(list.first(), listSource(list.mid(1)), generation);
    return generation;
}

bool DomainSearch::nextKeyword(KeywordSource &source, QString *keyword)
{
    while (source.next && source.next(keyword)) {
        if (!cleanKeyword(*keyword).isEmpty())
            return true;
    }
    return false;
}

quint64 DomainSearch::startSource(KeywordSource source)
{
    QString first;
    if (!nextKeyword(source, &first))
        return start(QString());
    m_round = KeywordRound{std::max<quint64>(1, source.total), 0};
    const quint64 generation = m_runs.next();
    m_resetPending = true;
    launch(first, std::move(source), generation);
    return generation;
}

void DomainSearch::launch(const QString &keyword, KeywordSource rest, quint64 generation)
{
    SearchRun::Settings settings;
    settings.generation = generation;
    settings.keyword = cleanKeyword(keyword);
    settings.rest = std::move(rest);
    settings.skipRows = std::exchange(m_skipRows, 0);
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

void DomainSearch::deliverPosted(const std::shared_ptr<SearchRun> &run)
{
    constexpr qint64 sliceNs = 8'000'000;
    Backlog &backlog = *m_backlog;
    if (backlog.run != run) {
        if (!m_runs.isCurrent(run)) {
            // A superseded run: nothing of it is shown.
            if (!run->tryTakePosted())
                deliverLater(run);
            return;
        }
        // This run superseded the backlog's, whose events are dropped anyway.
        if (!takeNext(run))
            return;
    }
    QElapsedTimer clock;
    clock.start();
    // A receiver of the signals may start or stop a search meanwhile; deliver
    // then drops what no longer belongs to the current run.
    while (backlog.next < backlog.events.size() && clock.nsecsElapsed() < sliceNs)
        deliver(run, backlog.events[backlog.next++]);
    if (backlog.next == backlog.events.size()) {
        if (m_takeIntervalMs > 0 && !backlog.events.empty()) {
            // Events are flowing. The run counts on this engine coming back
            // and wakes nobody until then: what it posts meanwhile waits for
            // the next take, a few milliseconds on.
            clearBacklog();
            deliverLater(run, m_takeIntervalMs);
            return;
        }
        // The run wakes nobody while its last take is being applied: what it
        // posted meanwhile is taken now.
        if (!takeNext(run))
            return;
        if (backlog.events.empty()) {
            clearBacklog();
            return;
        }
    }
    work::postTo(this, [this, run] { deliverPosted(run); });
}

bool DomainSearch::takeNext(const std::shared_ptr<SearchRun> &run)
{
    std::optional<std::vector<SearchEvent>> taken = run->tryTakePosted(m_takeIntervalMs > 0);
    if (!taken) {
        deliverLater(run);
        return false;
    }
    clearBacklog();
    *m_backlog = {run, std::move(*taken), 0};
    return true;
}

void DomainSearch::release(std::vector<SearchRow> &&rows)
{
    if (const std::shared_ptr<SearchRun> &run = m_runs.current())
        run->giveBack(std::move(rows));
}

void DomainSearch::clearBacklog()
{
    Backlog &backlog = *m_backlog;
    if (backlog.run)
        backlog.run->giveBack(std::move(backlog.events));
    backlog = {};
}

void DomainSearch::deliverLater(const std::shared_ptr<SearchRun> &run, int ms)
{
    // The next take, after the take interval, or a millisecond on when a
    // worker is posting: it runs at the lowest priority and may be kept off
    // the processor for a while, so the window does not wait for it.
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, run] { deliverPosted(run); });
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
        // The list clears the grid once, for its first keyword.
        if (m_round.current == 0) {
            m_resetPending = false;
            emit searchReset(generation);
        }
        break;
    case SearchEvent::Type::Progress: {
        // No list is searched to the end of 2^40 keywords; the cap keeps
        // the products below in range.
        constexpr quint64 cap = quint64(1) << 40;
        const quint64 steps = quint64(std::max(0, event.total));
        m_round.current = event.keyword;
        m_round.total = std::max(m_round.total, m_round.current + 1);
        const quint64 keywords = std::min(m_round.total, cap);
        const quint64 current = std::min(m_round.current, keywords - 1);
        const Progress p = progressOf(current * steps + quint64(std::max(0, event.done)), keywords * steps);
        emit progressStep(generation, p.done, p.total, p.percent);
        break;
    }
    case SearchEvent::Type::Row:
        emit rowReady(generation, event.row);
        break;
    case SearchEvent::Type::End:
        break;
    }
}

} // namespace norvale
