#pragma once

#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/core/work/LatestRun.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace norvale {

class IpLookupRun;
struct IpEvent;

// The IP reverse lookup with geolocation. The typed name or address is
// resolved, the reverse-lookup page lists candidate names, each distinct one
// is resolved (many at once) and listed when it resolves to the same
// address; then the geolocation page is read. Work runs on worker threads;
// the signals arrive on the engine's thread in the order a one-at-a-time
// lookup would give them, each with the generation of its lookup. A new
// lookup supersedes the running one, which then reports nothing more.
class IpLookup final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IpLookup)

public:
    // Candidates being resolved at once: enough to keep the lookup pool busy.
    static constexpr int defaultParallelism = 64;
    // Names one lookup lists at most: a page can name millions, all on the
    // address, and checking them all would flood the name servers. Once the
    // list is full, the candidates left are not checked.
    static constexpr int listLimit = 10000;

    explicit IpLookup(LookupBackend backend, QObject *parent = nullptr);
    ~IpLookup() override;

    // lipurl and lipmessurl of the loaded configuration; the address is
    // appended to each. A lookup started before they were given waits.
    void setPages(const QString &lipurl, const QString &lipmessurl);
    bool isConfigured() const { return m_configured; }

    // 1 resolves one candidate after another, each to its end.
    void setParallelism(int candidates);

    // Looks up the typed text (ordinary spaces removed, lower-cased). A text
    // whose first "." is missing or first only shows itself in addressShown()
    // and finishes.
    quint64 start(const QString &typed);
    // Ends the candidate check early: no further shared domain is reported,
    // but the count and the geolocation still come.
    void stop();
    bool isRunning() const { return bool(m_runs.current()); }

signals:
    // The text for lip: first the cleaned input, then the resolved address.
    void addressShown(quint64 generation, const QString &text);
    // Names on the same address, in page order, a batch at a time.
    void sharedDomains(quint64 generation, const QStringList &names);
    // The candidate check is over: how many names were reported, and
    // whether it ended with the list full, candidates left unchecked.
    void counted(quint64 generation, int found, bool more);
    // The nine geolocation values in the order of locationMarkers().
    void located(quint64 generation, const QStringList &values);
    void finished(quint64 generation);

private:
    friend class IpLookupRun;
    void launch(const std::shared_ptr<IpLookupRun> &run);
    void deliver(const std::shared_ptr<IpLookupRun> &run, const IpEvent &event);

    LookupBackend m_backend;
    QString m_lipurl;
    QString m_lipmessurl;
    bool m_configured = false;
    int m_parallelism = defaultParallelism;
    int m_found = 0;  // shared domains reported by the current lookup
    work::LatestRun<IpLookupRun> m_runs;
};

} // namespace norvale
