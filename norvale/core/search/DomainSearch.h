#pragma once

#include "norvale/core/search/SearchBackend.h"
#include "norvale/core/search/SearchBoxes.h"
#include "norvale/core/work/LatestRun.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace norvale {

class SearchRun;
struct SearchEvent;

// Keywords handed over one at a time, for a list too long to hold: next()
// gives false when there are no more. It is called on the search's own
// worker thread, one call at a time, once the first is taken. total (0 when
// unknown) scales the progress bar.
struct KeywordSource {
    std::function<bool(QString *keyword)> next;
    quint64 total = 0;
    // next() may wait for its keyword (a pipe): the search hands on all it
    // holds back before each call.
    bool mayWait = false;
};

// One complete grid row as the search reports it.
struct SearchRow {
    int row = 0;          // grid row; 1 is the first data row
    QStringList cells;    // the eight column texts
    quint8 red = 0;       // bit c set: cell c is highlighted red
    bool skipped = false; // written by a cut run (setSkipRows): only the domain is known

    bool isRed(int column) const { return red & (1u << column); }
    friend bool operator==(const SearchRow &, const SearchRow &) = default;
};

// The domain search, run on worker threads. The window starts it, keeps the
// box ticks in a SearchBoxes it shares with the engine, and applies what the
// signals report: they arrive on the engine's thread strictly in the order
// a one-at-a-time search would produce them, each row only once complete,
// and each carries the generation of the search it belongs to.
class DomainSearch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DomainSearch)
public:
    // Candidates in hand at once: enough to keep every pool busy across the
    // longest kind, few enough that a stop leaves little work to drain.
    static constexpr int defaultParallelism = 256;
    static constexpr int defaultRowLimit = 100000;

    DomainSearch(SearchBackend backend, std::shared_ptr<SearchBoxes> boxes,
                 QObject *parent = nullptr);
    ~DomainSearch() override;

    // How many candidates may be checked at once. 1 checks one candidate
    // after another, each to its end, in the order of the rows.
    void setParallelism(int candidates);
    int parallelism() const { return m_parallelism; }
    // A kind stops adding rows once its next row index would exceed this.
    void setRowLimit(int rows) { m_rowLimit = rows; }
    // Off: an address counts as real unless the wildcard reference names it,
    // and nothing more (reserved answers and zone probes are not looked at).
    void setSharperVerdicts(bool on) { m_sharperVerdicts = on; }
    // The next search passes over its first rows unchecked, reporting each
    // as skipped (SearchRow::skipped): a cut run wrote them already.
    void setSkipRows(quint64 rows) { m_skipRows = rows; }
    // While rows keep coming, what the workers post is taken at most once
    // per this many milliseconds instead of at every post: a window that
    // shows rows once a frame needs no more, and each wake-up costs it a
    // turn on the processor. 0 (the default) takes them as they come.
    void setTakeInterval(int ms) { m_takeIntervalMs = std::max(0, ms); }
    // Rows a receiver of rowReady kept and has done with: the running
    // search's workers free them, as they allocated their texts.
    void release(std::vector<SearchRow> &&rows);

    // Starts a search for the text of lfind and gives its generation. A
    // search still running is superseded: nothing more of it is reported,
    // not even its end. Text of several lines is a list (startList).
    quint64 start(const QString &text);
    // One search per keyword (keywordLines), in turn, reported as one: a
    // single reset first, each keyword's rows after the previous one's, the
    // progress over the whole list, one finished() at the end. stop() ends
    // the list. A list of one keyword is that keyword's search.
    quint64 startList(const QStringList &keywords);
    // The same for keywords taken from the source as the search reaches
    // them; each is cleaned, those that clean to nothing are skipped, and
    // repeats are searched again.
    quint64 startSource(KeywordSource source);
    // "停止": nothing of the running search is reported any more except
    // finished(), which follows.
    void stop();
    bool isRunning() const { return bool(m_runs.current()); }
    quint64 generation() const { return m_runs.generation(); }

signals:
    // The grid goes back to its header row, the counter to 0, the progress
    // bar shows. Sent for every search with a keyword, also one stopped at
    // once (then just before finished()); never when the keyword is empty.
    void searchReset(quint64 generation);
    // One step per box, before that box's rows.
    void progressStep(quint64 generation, int done, int total, int percent);
    void rowReady(quint64 generation, const norvale::SearchRow &row);
    // Always last, also after stop(): the bar resets and lfind takes focus.
    void finished(quint64 generation);

private:
    friend class SearchRun;
    void launch(const QString &keyword, KeywordSource rest, quint64 generation);
    // startList for keywords keywordLines has read already.
    quint64 startLines(const QStringList &list);
    // Applies what the run has posted since the last call, in order, a slice
    // of a few milliseconds at a time: what is left waits for the next turn
    // of the event loop, so that a window falling behind a fast search still
    // paints and answers between slices.
    void deliverPosted(const std::shared_ptr<SearchRun> &run);
    bool takeNext(const std::shared_ptr<SearchRun> &run);
    void deliverLater(const std::shared_ptr<SearchRun> &run, int ms = 1);
    // Hands the applied events back to their run, whose workers free them.
    void clearBacklog();
    void deliver(const std::shared_ptr<SearchRun> &run, const SearchEvent &event);

    // The progress of the running list; a single search is a list of one.
    struct KeywordRound {
        quint64 total = 1;   // keywords in all
        quint64 current = 0; // index of the keyword being searched
    };
    static bool nextKeyword(KeywordSource &source, QString *keyword);

    SearchBackend m_backend;
    std::shared_ptr<SearchBoxes> m_boxes;
    work::LatestRun<SearchRun> m_runs;
    bool m_resetPending = false;  // the running search's reset is still to come
    int m_parallelism = defaultParallelism;
    int m_rowLimit = defaultRowLimit;
    bool m_sharperVerdicts = true;
    KeywordRound m_round;
    quint64 m_skipRows = 0;
    int m_takeIntervalMs = 0;
    // Events taken from a run and not yet applied.
    struct Backlog;
    std::unique_ptr<Backlog> m_backlog;
};

} // namespace norvale

Q_DECLARE_METATYPE(norvale::SearchRow)
