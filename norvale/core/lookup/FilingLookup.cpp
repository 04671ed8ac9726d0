#include "norvale/core/lookup/FilingLookup.h"

#include "norvale/core/lookup/LookupInput.h"
#include "norvale/core/work/Run.h"
#include "norvale/core/work/WorkerPools.h"

#include <QThreadPool>

namespace norvale {

struct FilingLookup::Run final : work::Run {
    using work::Run::Run;
};

namespace {

QStringList filingBoxes(const LookupBackend &backend, const QString &name, const std::atomic<bool> &cancel)
{
    const FilingRecord record = backend.findFiling(name);
    if (!record.found || cancel.load())
        return QStringList(FilingLookup::boxCount, QString());
    QStringList boxes = record.values;
    boxes.resize(FilingLookup::boxCount - 2);
    boxes.append(name);
    // The bare name, since "www." was taken off before the query.
    boxes.append(backend.resolve(name, cancel));
    return boxes;
}

} // namespace

FilingLookup::FilingLookup(LookupBackend backend, QObject *parent)
    : QObject(parent), m_backend(std::move(backend))
{
}

FilingLookup::~FilingLookup() = default;

quint64 FilingLookup::start(const QString &typed)
{
    const quint64 generation = m_runs.next();
    const QString name = cleanDomainName(typed);
    if (!hasNameDot(name)) {
        emit finished(generation, QStringList(boxCount, QString()));
        return generation;
    }
    auto run = std::make_shared<Run>(generation);
    m_runs.set(run);
    workpools::queries().start([this, run, backend = m_backend, name] {
        const QStringList boxes = filingBoxes(backend, name, run->detachedFlag());
        run->delivery().push(work::Run::queuedTo(this, [this, run, boxes] { deliver(run, boxes); }));
    }, workpools::lookupPriority);
    return generation;
}

void FilingLookup::deliver(const std::shared_ptr<Run> &run, const QStringList &boxes)
{
    if (!m_runs.isCurrent(run))
        return;
    m_runs.finish();
    emit finished(run->generation(), boxes);
}

} // namespace norvale
