#pragma once

#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/core/work/LatestRun.h"

#include <QObject>
#include <QString>

#include <memory>

namespace norvale {

// The whois lookup: the operator's whois page for the typed domain, cut at
// its "|whois|" markers. The page is fetched on a worker; what the signals
// report arrives on the engine's thread and carries the generation of the
// lookup it belongs to. A new lookup supersedes the running one, which then
// reports nothing more.
class WhoisLookup final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WhoisLookup)

public:
    explicit WhoisLookup(LookupBackend backend, QObject *parent = nullptr);
    ~WhoisLookup() override;

    // lwhoisurl of the loaded configuration; the name is appended to it. A
    // lookup started before it was given waits for it.
    void setPageBase(const QString &lwhoisurl);
    bool isConfigured() const { return m_configured; }

    // Looks up the typed text, cleaned as the whois window reads it. A text
    // without "." reports finished() at once, without a request.
    quint64 start(const QString &typed);
    bool isRunning() const { return bool(m_runs.current()); }

signals:
    // A request is under way (or waits for the configuration).
    void lookingUp(quint64 generation);
    // The whois text, or the "not found" text; always last.
    void finished(quint64 generation, const QString &text);

private:
    struct Run;
    void launch(const std::shared_ptr<Run> &run);
    void deliver(const std::shared_ptr<Run> &run, const QString &text);

    LookupBackend m_backend;
    QString m_pageBase;
    bool m_configured = false;
    work::LatestRun<Run> m_runs;
};

} // namespace norvale
