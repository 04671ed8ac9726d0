#include "norvale/core/search/SearchRun.h"

#include "norvale/core/work/HandOver.h"
#include "norvale/core/work/WorkerPools.h"

#include <QThreadPool>

#include <algorithm>
#include <utility>

namespace norvale {

namespace {

// Names per filing query: few enough that the first rows are not held back
// long, many enough that the queries cost little beside the lookups.
constexpr int filingBatch = 64;
// Events posted and not yet taken by the engine before the driver waits.
constexpr int postedBound = 4096;
// Candidates a pool task checks before it gives its thread back. A lookup
// task has them all in flight at once; a status fetch blocks its thread, so
// fetch tasks take one at a time and the fetches spread over the pool.
constexpr int takerBurst = 16;
constexpr int lookupBatch = takerBurst;
constexpr int fetchBatch = 1;

} // namespace

struct SearchRun::Candidate {
    qint64 sequence = 0;
    int row = 0;
    bool related = false;      // phase 2: a filed domain from ldomainlist
    QString domain;
    QString kind;
    QString price;             // phase 1: lprice of the row; phase 2: looked up when shown
    QString filing;            // phase 1: looked up; phase 2: lbackweb of the row
    QString address;
    PageText page;
    CheckCells cells;
    std::atomic<int> parts{1}; // checks still running in parallel
};

SearchRun::SearchRun(SearchBackend backend, std::shared_ptr<SearchBoxes> boxes,
                     Settings settings, DomainSearch *receiver)
    : m_backend(std::move(backend))
    , m_boxes(std::move(boxes))
    , m_settings(std::move(settings))
    , m_receiver(receiver)
    , m_lookupQueue(workpools::lookups().maxThreadCount())
    , m_fetchQueue(workpools::fetches().maxThreadCount())
    , m_kindResults(kindCount)
    , m_submitted(kindCount, false)
{
    m_wildParts.resize(3);
}

void SearchRun::start()
{
    workpools::drivers().start([self = shared_from_this()] { self->drive(); });
}

void SearchRun::stop()
{
    m_stop = true;
    m_lookupQueue.clear();
    m_fetchQueue.clear();
    m_delivery.wake();
    wakeDriver();
    const std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

void SearchRun::wakeDriver()
{
    const std::lock_guard lock(m_postedMutex);
    m_taken.notify_all();
}

void SearchRun::detach()
{
    m_stop = true;
    m_lookupQueue.clear();
    m_fetchQueue.clear();
    m_delivery.close();
    wakeDriver();
    const std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

void SearchRun::reportEnd()
{
    SearchEvent end;
    end.type = SearchEvent::Type::End;
    m_delivery.postNow(postOf(end));
}

bool SearchRun::nextKeyword(QString *keyword)
{
    QString raw;
    if (m_settings.rest.mayWait)
        submitFilings();
    while (m_settings.rest.next && m_settings.rest.next(&raw)) {
        *keyword = cleanKeyword(raw);
        if (!keyword->isEmpty())
            return true;
    }
    return false;
}

void SearchRun::drive()
{
    KeywordStep step;
    step.keyword = m_settings.keyword;
    if (!step.keyword.isEmpty()) {
        SearchEvent reset;
        reset.type = SearchEvent::Type::Reset;
        append(reset);
    }

    // The kind queries need nothing from the wildcard reference, so in
    // parallel they run while it is being made.
    if (!serial() && !step.keyword.isEmpty())
        submitKindRows();
    makeWildcardReference();
    if (stopped())
        return;

    while (!step.keyword.isEmpty()) {
        const bool related = m_boxes->showRelated();
        if (related && !serial())
            submitRelated(step.keyword);
        step.total = progressScale * (related ? 2 : 1);
        step.done = 0;
        step.rowCount = 1;
        runPhase(false, step, RelatedBoxes(kindCount));
        if (stopped())
            return;
        // Phase 2 follows the tick as it is when phase 1 is over.
        if (m_boxes->showRelated()) {
            step.total = 2 * progressScale;
            runPhase(true, step, takeRelated(step.keyword));
            if (stopped())
                return;
        }
        m_rowsBefore += quint64(step.rowCount - 1);
        ++step.index;
        if (!nextKeyword(&step.keyword))
            break;
    }
    submitFilings();
    SearchEvent end;
    end.type = SearchEvent::Type::End;
    append(end);
}

void SearchRun::makeWildcardReference()
{
    const QStringList names = wildcardReferenceNames();
    if (serial()) {
        for (const QString &name : names)
            m_wildip += resolveOne(m_backend, name, &m_stop);
        return;
    }
    for (int k = 0; k < names.size(); ++k) {
        workpools::lookups().start([self = shared_from_this(), k, name = names[k]] {
            const QString address = self->stopped() ? QString() : resolveOne(self->m_backend, name, &self->m_stop);
            const std::lock_guard lock(self->m_mutex);
            self->m_wildParts[k] = address;
            ++self->m_wildAnswers;
            self->m_changed.notify_all();
        });
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return stopped() || m_wildAnswers == names.size(); });
    m_wildip = m_wildParts.join(QString());
}

namespace {

SearchRows queryKindRows(const SearchBackend &backend, int box)
{
    return backend.queryRows(QLatin1StringView(searchsql::kindRows), {extensionKinds()[box]},
                             {QStringLiteral("lextend"), QStringLiteral("lprice")});
}

} // namespace

void SearchRun::submitKindRows()
{
    // Asks ahead for the boxes ticked now; kindRows has the last word.
    for (int box = 0; box < kindCount; ++box) {
        if (stopped())
            return;
        if (!m_boxes->chosen(box))
            continue;
        workpools::queries().start([self = shared_from_this(), box] {
            SearchRows rows;
            if (!self->stopped())
                rows = queryKindRows(self->m_backend, box);
            const std::lock_guard lock(self->m_mutex);
            self->m_kindResults[std::size_t(box)] = std::move(rows);
            self->m_changed.notify_all();
        });
        const std::lock_guard lock(m_mutex);
        m_submitted[std::size_t(box)] = true;
    }
}

const SearchRows *SearchRun::kindRows(int box)
{
    // A box counts as it is when the search reaches it. A box ticked since
    // the start is asked for now, one unticked since is passed over; its
    // extensions, once asked, serve every keyword of the list.
    if (!m_boxes->chosen(box))
        return nullptr;
    const std::size_t slot = std::size_t(box);
    std::unique_lock lock(m_mutex);
    if (!m_submitted[slot]) {
        m_submitted[slot] = true;
        lock.unlock();
        SearchRows rows = queryKindRows(m_backend, box);
        lock.lock();
        m_kindResults[slot] = std::move(rows);
    }
    if (!m_kindResults[slot]) {
        submitFilings();  // the wait must not hold back filings already queued
        m_changed.wait(lock, [&] { return stopped() || m_kindResults[slot].has_value(); });
    }
    return m_kindResults[slot] ? &*m_kindResults[slot] : nullptr;
}

SearchRun::RelatedBoxes SearchRun::relatedRows(const QString &keyword, const std::vector<int> &boxes) const
{
    // One query for the boxes: each box's rows in a block of their own,
    // marked with the box, as the box's own query would give them.
    QString sql;
    QVariantList values;
    for (const int box : boxes) {
        if (!sql.isEmpty())
            sql += QStringLiteral(" union all ");
        // The box is our own small number, never text from outside.
        sql += QStringLiteral("select %1 as lbox, lallname, lbackweb from (%2) as b%1")
                   .arg(box)
                   .arg(QLatin1StringView(searchsql::relatedRows));
        for (const QString &value : relatedRowsParameters(keyword, extensionKinds()[box]))
            values.append(value);
    }
    RelatedBoxes perBox(kindCount);
    if (boxes.empty())
        return perBox;
    const SearchRows rows = m_backend.queryRows(
        sql, values, {QStringLiteral("lbox"), QStringLiteral("lallname"), QStringLiteral("lbackweb")});
    for (const int box : boxes)
        perBox[std::size_t(box)] = SearchRows{rows.ok, {}};
    for (const QStringList &row : rows.rows) {
        const int box = row.value(0).toInt();
        if (box >= 0 && box < kindCount && perBox[std::size_t(box)])
            perBox[std::size_t(box)]->rows.append(row.mid(1));
    }
    return perBox;
}

std::vector<int> SearchRun::chosenBoxes() const
{
    std::vector<int> boxes;
    for (int box = 0; box < kindCount; ++box) {
        if (m_boxes->chosen(box))
            boxes.push_back(box);
    }
    return boxes;
}

void SearchRun::submitRelated(const QString &keyword)
{
    {
        const std::lock_guard lock(m_mutex);
        m_related.reset();
        m_relatedSubmitted = true;
    }
    workpools::queries().start([self = shared_from_this(), keyword, boxes = chosenBoxes()] {
        RelatedBoxes rows = self->stopped() ? RelatedBoxes(kindCount) : self->relatedRows(keyword, boxes);
        const std::lock_guard lock(self->m_mutex);
        self->m_related = std::move(rows);
        self->m_changed.notify_all();
    });
}

SearchRun::RelatedBoxes SearchRun::takeRelated(const QString &keyword)
{
    std::unique_lock lock(m_mutex);
    if (!std::exchange(m_relatedSubmitted, false)) {
        // Ticked during phase 1, or one at a time: asked now.
        lock.unlock();
        return relatedRows(keyword, chosenBoxes());
    }
    submitFilings();
    m_changed.wait(lock, [&] { return stopped() || m_related.has_value(); });
    if (!m_related)
        return RelatedBoxes(kindCount);
    return std::exchange(m_related, std::nullopt).value();
}

void SearchRun::runPhase(bool related, KeywordStep &step, RelatedBoxes relatedBoxes)
{
    for (int box = 0; box < kindCount; ++box) {
        if (stopped())
            return;
        if (step.total > 0) {
            step.done = std::min(step.done + 1, step.total);
            SearchEvent progress;
            progress.type = SearchEvent::Type::Progress;
            progress.done = step.done;
            progress.total = step.total;
            progress.percent = progressPercent(step.done, step.total);
            progress.keyword = step.index;
            append(progress);
        }
        // Phase 2 shows the boxes ticked when it is reached.
        const SearchRows *rows = nullptr;
        if (related) {
            std::optional<SearchRows> &boxRows = relatedBoxes[std::size_t(box)];
            if (m_boxes->chosen(box) && !boxRows)  // ticked since it was asked
                boxRows = std::move(relatedRows(step.keyword, {box})[std::size_t(box)]);
            if (m_boxes->chosen(box))
                rows = &*boxRows;
        } else {
            rows = kindRows(box);
        }
        if (!rows || !rows->ok)
            continue;
        int r = step.rowCount;
        for (const QStringList &values : rows->rows) {
            if (!serial())
                waitForRoom();
            if (stopped())
                return;
            step.rowCount = r + 1;
            auto c = std::make_shared<Candidate>();
            c->row = int(m_rowsBefore + quint64(r));
            c->related = related;
            c->kind = extensionKinds()[box];
            if (related) {
                c->domain = values.value(0);
                c->filing = values.value(1);
            } else {
                c->domain = step.keyword + values.value(0);
                c->price = values.value(1);
            }
            addCandidate(c);
            ++r;
            if (r > m_settings.rowLimit)
                break;
        }
    }
}

void SearchRun::addCandidate(const CandidatePtr &c)
{
    if (m_skipped < m_settings.skipRows) {
        // Written by the cut run: only its place and name are reported.
        ++m_skipped;
        SearchEvent event;
        event.type = SearchEvent::Type::Row;
        event.row.row = c->row;
        event.row.cells = QStringList(column::Count, QString());
        event.row.cells[column::Domain] = c->domain;
        event.row.skipped = true;
        append(std::move(event));
        return;
    }
    c->sequence = append(std::nullopt);
    if (serial())
        check(c);
    else
        dispatch(c);
}

void SearchRun::check(const CandidatePtr &c)
{
    lookUp(c);
    if (wantsStatusPage(c->domain, c->kind, c->address, m_wildip))
        fetchStatus(c);
    judge(c);
    if (!c->related)
        lookUpFiling(c);
    else if (c->cells.showsPrice)
        lookUpPrice(c);
    complete(c);
}

void SearchRun::dispatch(const CandidatePtr &c)
{
    // Phase 1's filing lookup needs nothing from the status check, so it
    // runs alongside it; the row is complete when both are.
    c->parts = c->related ? 1 : 2;
    if (m_lookupQueue.push(c))
        startTaker(m_lookupQueue, workpools::lookups(), &SearchRun::lookUpAndPass, lookupBatch);
    if (!c->related)
        queueFiling(c);
}

void SearchRun::startTaker(CandidateQueue &queue, workpools::WorkerPool &pool, Step step, int batch)
{
    pool.start([self = shared_from_this(), &queue, &pool, step, batch] {
        Candidates taken;
        for (int burst = 0; burst < takerBurst; burst += batch) {
            if (!queue.take(&taken, batch))
                return;
            if (!self->stopped())
                (self.get()->*step)(taken);
        }
        // Between bursts the thread goes back to the pool, so that work
        // queued ahead of it (a lookup window's) is not held back by a long
        // list.
        self->startTaker(queue, pool, step, batch);
    });
}

void SearchRun::lookUpAndPass(const Candidates &batch)
{
    QStringList names;
    names.reserve(qsizetype(batch.size()));
    for (const CandidatePtr &c : batch)
        names.append(c->domain);
    // Each candidate goes on as its answer comes: a slow name holds back no
    // other.
    m_backend.resolve(names, &m_stop, [&](qsizetype i, const QString &address) {
        const CandidatePtr &c = batch[std::size_t(i)];
        lookedUp(c, address);
        pass(c);
    });
}

void SearchRun::pass(const CandidatePtr &c)
{
    if (!wantsStatusPage(c->domain, c->kind, c->address, m_wildip))
        judged(c);
    else if (m_fetchQueue.push(c))
        startTaker(m_fetchQueue, workpools::fetches(), &SearchRun::fetchAndJudge, fetchBatch);
}

void SearchRun::fetchAndJudge(const Candidates &batch)
{
    for (const CandidatePtr &c : batch) {
        fetchStatus(c);
        judged(c);
    }
}

void SearchRun::judged(const CandidatePtr &c)
{
    judge(c);
    if (!c->related || !c->cells.showsPrice) {
        partDone(c);
        return;
    }
    workpools::queries().start([self = shared_from_this(), c] {
        if (self->stopped())
            return;
        self->lookUpPrice(c);
        self->partDone(c);
    });
}

void SearchRun::lookUp(const CandidatePtr &c)
{
    // Like the fetches, a stopped search's lookups end at once.
    lookedUp(c, resolveOne(m_backend, c->domain, &m_stop));
}

void SearchRun::lookedUp(const CandidatePtr &c, const QString &address)
{
    c->address = address;
    if (m_settings.sharperVerdicts) {
        c->address = judgedAddress(c->domain, c->kind, c->address, m_wildip,
                                   [this](const QString &zone) { return zoneWildcard(zone); });
    }
}

QString SearchRun::zoneWildcard(const QString &zone)
{
    std::shared_ptr<ZoneProbe> probe;
    {
        const std::lock_guard lock(m_zoneMutex);
        std::shared_ptr<ZoneProbe> &slot = m_zones[zone];
        if (!slot)
            slot = std::make_shared<ZoneProbe>();
        probe = slot;
    }
    // The asking worker resolves the probe itself, so waiting for it never
    // depends on a free worker.
    std::call_once(probe->once, [&] {
        if (!stopped())
            probe->answer = resolveOne(m_backend, randomProbeLabel() + zone, &m_stop);
    });
    return probe->answer;
}

void SearchRun::fetchStatus(const CandidatePtr &c)
{
    // A stopped or superseded search drops its fetches at once, so that they
    // do not hold the fetch workers that the next search needs.
    c->page = m_backend.fetchStatusPage(m_backend.statusPageBase() + c->domain, &m_stop);
}

void SearchRun::judge(const CandidatePtr &c)
{
    c->cells = checkdomain(c->domain, c->kind, c->address, m_wildip, c->page);
}

void SearchRun::lookUpFiling(const CandidatePtr &c)
{
    // A failed query leaves the cell empty rather than showing another
    // candidate's number.
    c->filing = m_backend.queryFirst(QLatin1StringView(searchsql::filing), {c->domain}).value;
}

void SearchRun::queueFiling(const CandidatePtr &c)
{
    m_filings.push_back(c);
    if (m_filings.size() >= std::size_t(filingBatch))
        submitFilings();
}

void SearchRun::submitFilings()
{
    // One query for a batch of names instead of one per name; each name
    // gets the first number the table holds for it, as its own query gave.
    if (m_filings.empty())
        return;
    workpools::queries().start([self = shared_from_this(), batch = std::exchange(m_filings, {})] {
        if (self->stopped())
            return;
        QString marks;
        QVariantList names;
        for (const CandidatePtr &c : batch) {
            marks += marks.isEmpty() ? QStringLiteral("?") : QStringLiteral(",?");
            names.append(c->domain);
        }
        const SearchRows rows = self->m_backend.queryRows(
            QLatin1StringView(searchsql::filings) + marks + u')', names,
            {QStringLiteral("lallname"), QStringLiteral("lbackweb")});
        // Matched without letter case, as the databases match names.
        QHash<QString, QString> numbers;
        for (const QStringList &row : rows.rows) {
            const QString name = row.value(0).toLower();
            if (!numbers.contains(name))
                numbers.insert(name, row.value(1));
        }
        for (const CandidatePtr &c : batch) {
            // A failed query leaves the cell empty.
            c->filing = numbers.value(c->domain.toLower());
            self->partDone(c);
        }
    });
}

void SearchRun::lookUpPrice(const CandidatePtr &c)
{
    c->price = m_backend.queryFirst(QLatin1StringView(searchsql::kindPrice), {c->kind}).value;
}

void SearchRun::partDone(const CandidatePtr &c)
{
    if (--c->parts == 0)
        complete(c);
}

void SearchRun::complete(const CandidatePtr &c)
{
    SearchRow row;
    row.row = c->row;
    row.cells = QStringList(column::Count, QString());
    row.cells[column::Domain] = c->domain;
    row.cells[column::DomainShown] = c->domain;
    row.cells[column::Status] = c->cells.status;
    if (c->cells.showsPrice)
        row.cells[column::Price] = c->price;
    row.cells[column::Filing] = c->filing;
    row.cells[column::Address] = c->cells.address;
    if (c->cells.statusRed)
        row.red |= 1u << column::Status;
    if (c->related || filingIsRed(c->filing))
        row.red |= 1u << column::Filing;
    fill(c->sequence, std::move(row));
}

qint64 SearchRun::append(std::optional<SearchEvent> event)
{
    if (!event)
        return m_delivery.hold();
    return m_delivery.push(postOf(std::move(*event)));
}

void SearchRun::fill(qint64 sequence, SearchRow row)
{
    SearchEvent event;
    event.type = SearchEvent::Type::Row;
    event.row = std::move(row);
    m_delivery.fill(sequence, postOf(std::move(event)));
    freeApplied();
}

work::OrderedDelivery::Post SearchRun::postOf(SearchEvent event)
{
    // The delivery belongs to this run, so its posts may hold the run itself.
    return [this, event = std::move(event)] { post(event); };
}

void SearchRun::post(const SearchEvent &event)
{
    if (event.type == SearchEvent::Type::End) {
        if (m_endPosted.exchange(true))
            return;
    } else if (stopped()) {
        return;
    }
    // Posted under the delivery's lock, so events reach the engine in queue
    // order whichever worker finished them. The engine is the context: if it
    // goes, Qt drops what is still waiting for it.
    {
        const std::lock_guard lock(m_postedMutex);
        m_posted.push_back(event);
        if (std::exchange(m_wakePending, true))
            return;
    }
    DomainSearch *receiver = m_receiver;
    work::postTo(receiver, [receiver, run = shared_from_this()] { receiver->deliverPosted(run); });
}

std::optional<std::vector<SearchEvent>> SearchRun::tryTakePosted(bool comingBack)
{
    const std::unique_lock lock(m_postedMutex, std::try_to_lock);
    if (!lock.owns_lock())
        return std::nullopt;
    m_wakePending = comingBack && !m_posted.empty();
    m_taken.notify_all();
    return std::exchange(m_posted, {});
}

template <typename Items>
void SearchRun::keepApplied(Items &&items, Items Applied::*slot)
{
    if (items.empty())
        return;
    const std::unique_lock lock(m_postedMutex, std::try_to_lock);
    if (!lock.owns_lock() || !(m_applied.*slot).empty())
        return;
    m_applied.*slot = std::move(items);
    m_hasApplied = true;
}

void SearchRun::giveBack(std::vector<SearchEvent> &&events)
{
    keepApplied(std::move(events), &Applied::events);
}

void SearchRun::giveBack(std::vector<SearchRow> &&rows)
{
    keepApplied(std::move(rows), &Applied::rows);
}

void SearchRun::freeApplied()
{
    if (!m_hasApplied.load())
        return;
    Applied applied;  // freed on leaving, after the lock
    const std::unique_lock lock(m_postedMutex, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    std::swap(applied, m_applied);
    m_hasApplied = false;
}

void SearchRun::waitForRoom()
{
    if (m_delivery.held() >= m_settings.parallelism)
        submitFilings();  // the candidates waited for may be in the batch
    m_delivery.waitForRoom(m_settings.parallelism, m_stop);
    waitForEngine();
}

void SearchRun::waitForEngine()
{
    // Rows the engine has not taken yet are bounded as well, so that a slow
    // reader (a terminal, a pipe) holds the search back instead of its rows
    // piling up.
    std::unique_lock lock(m_postedMutex);
    m_taken.wait(lock, [&] { return stopped() || m_posted.size() < std::size_t(postedBound); });
}

} // namespace norvale
