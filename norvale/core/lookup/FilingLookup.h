#pragma once

#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/core/work/LatestRun.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace norvale {

// The ICP filing lookup: the first ldomainlist row of the typed domain and
// the address the domain resolves to. The query and the resolution run on a
// worker; finished() arrives on the engine's thread with the generation of
// its lookup. A new lookup supersedes the running one, which then reports
// nothing more.
class FilingLookup final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FilingLookup)

public:
    // The filing window's eight boxes: the six filing columns, the name
    // looked up and its address.
    static constexpr int boxCount = 8;

    explicit FilingLookup(LookupBackend backend, QObject *parent = nullptr);
    ~FilingLookup() override;

    // Looks up the typed text, cleaned as the filing window reads it. A text
    // whose first "." is missing or first reports finished() at once, with
    // every box empty.
    quint64 start(const QString &typed);
    bool isRunning() const { return bool(m_runs.current()); }

signals:
    // boxCount texts, all empty when the domain has no filing record.
    void finished(quint64 generation, const QStringList &boxes);

private:
    struct Run;
    void deliver(const std::shared_ptr<Run> &run, const QStringList &boxes);

    LookupBackend m_backend;
    work::LatestRun<Run> m_runs;
};

} // namespace norvale
