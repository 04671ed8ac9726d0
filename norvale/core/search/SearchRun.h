#pragma once

#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/SearchRules.h"
#include "norvale/core/work/OrderedDelivery.h"
#include "norvale/core/work/TakerQueue.h"
#include "norvale/core/work/WorkerPools.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace norvale {

// One thing the window applies, in the order it must apply them.
struct SearchEvent {
    enum class Type { Reset, Progress, Row, End };
    Type type = Type::End;
    int done = 0;
    int total = 0;
    int percent = 0;
    quint64 keyword = 0;  // index in the list of the keyword the event belongs to
    SearchRow row;
};

// The state of one search of a list of keywords, shared by the engine, its
// driver and every task it has handed out, so that none of them depends on
// the others still being there. The driver walks the keywords and, for each,
// the boxes in order; candidate checks run on the pools; finished rows wait
// in an ordered queue and are posted to the engine as soon as everything
// before them has been. What does not depend on the keyword (the wildcard
// reference, the kinds' extensions) is asked once for the whole list, so a
// list of a million candidates costs its candidates' checks and no more.
class SearchRun final : public std::enable_shared_from_this<SearchRun> {
public:
    struct Settings {
        quint64 generation = 0;
        QString keyword;         // the first keyword, cleaned
        KeywordSource rest;      // the keywords after it, taken as the driver reaches them
        int parallelism = 1;
        int rowLimit = DomainSearch::defaultRowLimit;
        bool sharperVerdicts = true;  // reserved answers and zone probes beside the reference
        // Rows already written by a cut run: reported as skipped, unchecked.
        quint64 skipRows = 0;
    };

    SearchRun(SearchBackend backend, std::shared_ptr<SearchBoxes> boxes, Settings settings,
              DomainSearch *receiver);
    Q_DISABLE_COPY_MOVE(SearchRun)

    void start();
    // Nothing further is started or reported, except the end by stop().
    void stop();
    // The engine is going: nothing may be posted to it any more.
    void detach();
    bool stopped() const { return m_stop.load(); }
    quint64 generation() const { return m_settings.generation; }
    // Posts the end now, unless it was posted already.
    void reportEnd();
    // The events posted since the last call, in order, or nothing while a
    // worker is posting. Called by the engine on its own thread when it is
    // woken for them; it calls again until it gets them. With comingBack,
    // an engine that got events calls again by itself, so the posts until
    // then wake nobody; once a take finds nothing, the next post wakes it.
    std::optional<std::vector<SearchEvent>> tryTakePosted(bool comingBack = false);
    // Events the engine has applied, and rows the window has written, for a
    // worker to free: their texts were allocated on the workers' heaps, and
    // freeing them on the interface thread would wait on those heaps' locks,
    // held by threads of the lowest priority. One batch of each waits at
    // most; what does not fit stays with the caller, who frees it.
    void giveBack(std::vector<SearchEvent> &&events);
    void giveBack(std::vector<SearchRow> &&rows);

private:
    struct Candidate;
    using CandidatePtr = std::shared_ptr<Candidate>;

    void drive();
    bool serial() const { return m_settings.parallelism <= 1; }

    // Steps of the search.
    bool nextKeyword(QString *keyword);
    void makeWildcardReference();
    void submitKindRows();
    const SearchRows *kindRows(int box);
    // Phase 2's rows per box; nullopt for a box not asked.
    using RelatedBoxes = std::vector<std::optional<SearchRows>>;
    RelatedBoxes relatedRows(const QString &keyword, const std::vector<int> &boxes) const;
    std::vector<int> chosenBoxes() const;
    void submitRelated(const QString &keyword);
    RelatedBoxes takeRelated(const QString &keyword);
    struct KeywordStep {
        QString keyword;
        quint64 index = 0;
        int done = 0;
        int total = 0;
        int rowCount = 1;  // the header row, then this keyword's rows
    };
    void runPhase(bool related, KeywordStep &step, RelatedBoxes relatedBoxes);
    void addCandidate(const CandidatePtr &c);

    // One candidate's checks.
    void check(const CandidatePtr &c);     // one after another, on this thread
    void dispatch(const CandidatePtr &c);  // spread over the pools
    using CandidateQueue = work::TakerQueue<CandidatePtr>;
    using Candidates = std::vector<CandidatePtr>;
    using Step = void (SearchRun::*)(const Candidates &);
    // A pool task that checks queued candidates, taken batch at a time,
    // until none is left.
    void startTaker(CandidateQueue &queue, workpools::WorkerPool &pool, Step step, int batch);
    void lookUpAndPass(const Candidates &batch);
    void pass(const CandidatePtr &c);
    void fetchAndJudge(const Candidates &batch);
    void judged(const CandidatePtr &c);
    void lookUp(const CandidatePtr &c);
    void lookedUp(const CandidatePtr &c, const QString &address);
    QString zoneWildcard(const QString &zone);
    void fetchStatus(const CandidatePtr &c);
    void judge(const CandidatePtr &c);
    void lookUpFiling(const CandidatePtr &c);
    void queueFiling(const CandidatePtr &c);
    void submitFilings();
    void lookUpPrice(const CandidatePtr &c);
    void partDone(const CandidatePtr &c);
    void complete(const CandidatePtr &c);

    // The ordered queue of events.
    // nullopt holds the place of a row still being checked.
    qint64 append(std::optional<SearchEvent> event);
    void fill(qint64 sequence, SearchRow row);
    work::OrderedDelivery::Post postOf(SearchEvent event);
    void post(const SearchEvent &event);
    void freeApplied();
    void waitForRoom();
    void waitForEngine();
    void wakeDriver();

    const SearchBackend m_backend;
    const std::shared_ptr<SearchBoxes> m_boxes;
    const Settings m_settings;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_endPosted{false};
    QString m_wildip;   // written by the driver before any candidate is judged

    DomainSearch *const m_receiver;                 // posted to until detach()
    work::OrderedDelivery m_delivery;
    // Candidates waiting for a lookup, then for their status page.
    CandidateQueue m_lookupQueue;
    CandidateQueue m_fetchQueue;

    // Events posted and not yet taken by the engine. The engine is woken
    // once for all that pile up meanwhile, not once per event.
    std::mutex m_postedMutex;
    std::vector<SearchEvent> m_posted;
    bool m_wakePending = false;
    std::condition_variable m_taken;   // the engine took what was posted
    // Given back, to be freed by the next worker that fills a row.
    struct Applied {
        std::vector<SearchEvent> events;
        std::vector<SearchRow> rows;
    };
    template <typename Items>
    void keepApplied(Items &&items, Items Applied::*slot);
    Applied m_applied;
    std::atomic<bool> m_hasApplied{false};

    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_wildParts;                        // the three reference answers
    int m_wildAnswers = 0;
    std::vector<std::optional<SearchRows>> m_kindResults;  // per box, for the whole list
    std::vector<bool> m_submitted;                         // same slots: query handed out
    // Phase 2's rows of the keyword being searched, per box, asked for when
    // its phase 1 begins.
    std::optional<RelatedBoxes> m_related;
    bool m_relatedSubmitted = false;
    quint64 m_rowsBefore = 0;      // grid rows of the keywords before this one
    quint64 m_skipped = 0;         // rows of a cut run passed over so far
    std::vector<CandidatePtr> m_filings;  // phase 1 filing lookups not yet asked

    // What a label nobody holds resolves to, once per zone: the first
    // candidate that needs it asks, the others of the zone wait for it.
    struct ZoneProbe {
        std::once_flag once;
        QString answer;
    };
    std::mutex m_zoneMutex;
    std::map<QString, std::shared_ptr<ZoneProbe>> m_zones;
};

} // namespace norvale
