#include "tests/support/SearchToEnd.h"

#include "norvale/core/work/WorkerPools.h"

#include <QCoreApplication>
#include <QTest>
#include <QThreadPool>

namespace norvale::test {

std::optional<QList<SearchRow>> searchToEnd(const SearchBackend &backend, const QString &keyword,
                                             const std::function<void()> &breakIt, bool atStart)
{
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setShowRelated(true);
    DomainSearch engine(backend, boxes);
    QList<SearchRow> rows;
    bool ended = false;
    QObject::connect(&engine, &DomainSearch::searchReset, &engine, [&] {
        if (atStart && breakIt)
            breakIt();
    });
    QObject::connect(&engine, &DomainSearch::rowReady, &engine, [&](quint64, const SearchRow &row) {
        if (rows.isEmpty() && !atStart && breakIt)
            breakIt();
        rows.append(row);
    });
    QObject::connect(&engine, &DomainSearch::finished, &engine, [&] { ended = true; });
    engine.start(keyword);
    if (!QTest::qWaitFor([&] { return ended; }, 120000))
        return std::nullopt;
    return rows;
}

QString describe(const SearchRow &row)
{
    return row.cells.join(u'|') + QStringLiteral(" red:") + QString::number(row.red);
}

bool drainWorkers(int withinMs)
{
    for (QThreadPool *pool :
         {&workpools::drivers(), &workpools::lookups(), &workpools::fetches(), &workpools::queries()}) {
        if (!pool->waitForDone(withinMs))
            return false;
    }
    QCoreApplication::sendPostedEvents();
    return true;
}

} // namespace norvale::test
