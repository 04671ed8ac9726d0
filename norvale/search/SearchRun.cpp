#include "norvale/search/SearchRun.h"

#include "norvale/work/HandOver.h"
#include "norvale/work/WorkerPools.h"

#include <QThreadPool>

#include <algorithm>
#include <utility>

namespace norvale {

namespace {

constexpr int slotsPerPhase = kindCount;

QVariantList bound(const QStringList &values)
{
    QVariantList list;
    list.reserve(values.size());
    for (const QString &value : values)
        list.append(value);
    return list;
}

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
    , m_kindResults(2 * slotsPerPhase)
    , m_submitted(2 * slotsPerPhase, false)
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
    m_delivery.wake();
    const std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

void SearchRun::detach()
{
    m_stop = true;
    m_delivery.close();
    const std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

void SearchRun::reportEnd()
{
    SearchEvent end;
    end.type = SearchEvent::Type::End;
    m_delivery.postNow(postOf(end));
}

void SearchRun::drive()
{
    const QString &keyword = m_settings.keyword;
    if (!keyword.isEmpty()) {
        SearchEvent reset;
        reset.type = SearchEvent::Type::Reset;
        append(reset);
    }

    // The kind queries need nothing from the wildcard reference, so in
    // parallel they run while it is being made.
    if (!serial() && !keyword.isEmpty())
        submitPhase(false);
    makeWildcardReference();
    if (stopped())
        return;

    if (!keyword.isEmpty()) {
        const int total = progressScale * (m_boxes->showRelated() ? 2 : 1);
        int done = 0;
        int rowCount = 1;  // the header row
        runPhase(false, done, total, rowCount);
        if (stopped())
            return;
        // Phase 2 follows the tick as it is when phase 1 is over.
        if (m_boxes->showRelated()) {
            if (!serial())
                submitPhase(true);
            runPhase(true, done, total, rowCount);
            if (stopped())
                return;
        }
    }
    SearchEvent end;
    end.type = SearchEvent::Type::End;
    append(end);
}

void SearchRun::makeWildcardReference()
{
    const QStringList names = wildcardReferenceNames();
    if (serial()) {
        for (const QString &name : names)
            m_wildip += m_backend.resolve(name, &m_stop);
        return;
    }
    for (int k = 0; k < names.size(); ++k) {
        workpools::lookups().start([self = shared_from_this(), k, name = names[k]] {
            const QString address = self->stopped() ? QString() : self->m_backend.resolve(name, &self->m_stop);
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

SearchRows SearchRun::kindRows(bool related, int box) const
{
    const QString &kind = extensionKinds()[box];
    if (!related) {
        return m_backend.queryRows(QLatin1StringView(searchsql::kindRows), {kind},
                                   {QStringLiteral("lextend"), QStringLiteral("lprice")});
    }
    return m_backend.queryRows(QLatin1StringView(searchsql::relatedRows),
                               bound(relatedRowsParameters(m_settings.keyword, kind)),
                               {QStringLiteral("lallname"), QStringLiteral("lbackweb")});
}

void SearchRun::submitPhase(bool related)
{
    // Asks ahead for the boxes ticked now; phaseRows has the last word.
    for (int box = 0; box < kindCount; ++box) {
        if (stopped())
            return;
        if (!m_boxes->chosen(box))
            continue;
        const int slot = (related ? slotsPerPhase : 0) + box;
        workpools::queries().start([self = shared_from_this(), related, box, slot] {
            SearchRows rows;
            if (!self->stopped())
                rows = self->kindRows(related, box);
            const std::lock_guard lock(self->m_mutex);
            self->m_kindResults[slot] = std::move(rows);
            self->m_changed.notify_all();
        });
        const std::lock_guard lock(m_mutex);
        m_submitted[slot] = true;
    }
}

std::optional<SearchRows> SearchRun::phaseRows(bool related, int box)
{
    // A box counts as it is when the search reaches it. The parallel search
    // has already asked for the boxes ticked at its start; a box ticked since
    // is asked for now, one unticked since is passed over.
    if (!m_boxes->chosen(box))
        return std::nullopt;
    const int slot = (related ? slotsPerPhase : 0) + box;
    std::unique_lock lock(m_mutex);
    if (serial() || !m_submitted[slot]) {
        lock.unlock();
        return kindRows(related, box);
    }
    m_changed.wait(lock, [&] { return stopped() || m_kindResults[slot].has_value(); });
    if (!m_kindResults[slot])
        return std::nullopt;
    return std::move(*m_kindResults[slot]);
}

void SearchRun::runPhase(bool related, int &done, int total, int &rowCount)
{
    for (int box = 0; box < kindCount; ++box) {
        if (stopped())
            return;
        if (total > 0) {
            done = std::min(done + 1, total);
            SearchEvent step;
            step.type = SearchEvent::Type::Progress;
            step.done = done;
            step.total = total;
            step.percent = progressPercent(done, total);
            append(step);
        }
        const std::optional<SearchRows> rows = phaseRows(related, box);
        if (!rows || !rows->ok)
            continue;
        int r = rowCount;
        for (const QStringList &values : rows->rows) {
            if (!serial())
                waitForRoom();
            if (stopped())
                return;
            rowCount = r + 1;
            auto c = std::make_shared<Candidate>();
            c->row = r;
            c->related = related;
            c->kind = extensionKinds()[box];
            if (related) {
                c->domain = values.value(0);
                c->filing = values.value(1);
            } else {
                c->domain = m_settings.keyword + values.value(0);
                c->price = values.value(1);
            }
            c->sequence = append(std::nullopt);
            if (serial())
                check(c);
            else
                dispatch(c);
            ++r;
            if (r > m_settings.rowLimit)
                break;
        }
    }
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
    auto self = shared_from_this();
    // Phase 1's filing lookup needs nothing from the status check, so it
    // runs alongside it; the row is complete when both are.
    c->parts = c->related ? 1 : 2;
    workpools::lookups().start([self, c] {
        if (self->stopped())
            return;
        self->lookUp(c);
        if (!wantsStatusPage(c->domain, c->kind, c->address, self->m_wildip)) {
            self->judged(c);
            return;
        }
        workpools::fetches().start([self, c] {
            if (self->stopped())
                return;
            self->fetchStatus(c);
            self->judged(c);
        });
    });
    if (!c->related) {
        workpools::queries().start([self, c] {
            if (self->stopped())
                return;
            self->lookUpFiling(c);
            self->partDone(c);
        });
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
    c->address = m_backend.resolve(c->domain, &m_stop);
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
            probe->answer = m_backend.resolve(randomProbeLabel() + zone, &m_stop);
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

std::vector<SearchEvent> SearchRun::takePosted()
{
    const std::lock_guard lock(m_postedMutex);
    m_wakePending = false;
    return std::exchange(m_posted, {});
}

void SearchRun::waitForRoom()
{
    m_delivery.waitForRoom(m_settings.parallelism, m_stop);
}

} // namespace norvale
