#include "bench/GridSearch.h"

#include "bench/BulkSearch.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/core/search/SearchRules.h"
#include "tests/support/DatabaseStack.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestDnsServer.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <tuple>
#include <functional>

namespace norvale::bench {

namespace {

constexpr int keywordCount = 8000;
constexpr int extensionCount = 125;
constexpr int otherBox = 16;  // ".other"
const QString zone = QStringLiteral(".gk");

QString keywordOf(int k)
{
    return QStringLiteral("g%1").arg(k, 4, 10, QChar(u'0'));
}

QString extensionOf(int e)
{
    return QStringLiteral("x%1").arg(e) + zone;
}

// The prices differ by extension; every other name is registered.
bool seed(const QString &databasePath)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("grid"));
        db.setDatabaseName(databasePath);
        ok = db.open() && db.transaction();
        QSqlQuery price(db);
        ok = ok && price.exec(QStringLiteral("delete from ldomainprice where lextendkind = '.other'"));
        ok = ok && price.prepare(QStringLiteral("insert into ldomainprice values ('.other', ?, ?)"));
        for (int e = 0; ok && e < extensionCount; ++e) {
            price.addBindValue(extensionOf(e));
            price.addBindValue(QString::number(10 + e * 37 % 1000));
            ok = price.exec();
        }
        QSqlQuery registered(db);
        ok = ok && registered.prepare(QStringLiteral("insert into svc_registered values (?)"));
        for (int k = 0; ok && k < keywordCount; ++k) {
            for (int e = (k % 2); ok && e < extensionCount; e += 2) {
                registered.addBindValue(QString(keywordOf(k) + extensionOf(e)));
                ok = registered.exec();
            }
        }
        ok = ok && db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("grid"));
    return ok;
}

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Wall and processor milliseconds of the work.
std::pair<double, double> msOf(const std::function<void()> &work)
{
    QElapsedTimer clock;
    clock.start();
    const double cpu = threadCpuMs();
    work();
    return {double(clock.nsecsElapsed()) / 1e6, threadCpuMs() - cpu};
}

// Whether the grid shows its rows by price, each at most the next, with the
// rows that show none (registered names) after all that do.
bool byPrice(const ResultGridView &view)
{
    const ResultGridOrder &order = view.order();
    double last = 0;
    bool emptySeen = false;
    for (int r = 0; r < order.rowCount(); r += 997) {
        const QString cell = view.grid().cellText(order.gridRow(r), column::Price);
        if (cell.isEmpty()) {
            emptySeen = true;
            continue;
        }
        const double price = cell.toDouble();
        if (emptySeen || price < last)
            return false;
        last = price;
    }
    return true;
}

} // namespace

GridOutcome runGridSearch(test::TestDnsServer &dns)
{
    GridOutcome outcome;
    test::ServicesProcess services;
    if (!services.start(&outcome.error))
        return outcome;
    if (!seed(services.databasePath())) {
        outcome.error = QStringLiteral("could not fill the database");
        return outcome;
    }
    dns.addWildcard(zone, QStringLiteral("10.9.0.2"));
    // A million names in the server's record would count as the window's.
    dns.setRecordingQueries(false);
    const auto recordAgain = qScopeGuard([&dns] { dns.setRecordingQueries(true); });
    auto stack = std::make_shared<test::DatabaseStack>(services.dataServiceUrl());

    QStringList keywords;
    for (int k = 0; k < keywordCount; ++k)
        keywords << keywordOf(k);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { outcome.rssMb = std::max(outcome.rssMb, residentMb()); });
    sampler.start(100);

    const BulkOutcome search = searchInWindow(stack, keywords.join(u'\n'), otherBox, [&](Fdomain &window) {
        auto *grid = window.findChild<ResultGridView *>(QStringLiteral("grid1"));
        auto *onlyFree = window.findChild<QCheckBox *>(QStringLiteral("lonlyfree"));
        outcome.rows = grid->order().rowCount();
        const auto byPriceMs = msOf([&] { grid->sortBy(column::Price); });
        const bool sorted = byPrice(*grid);
        outcome.rssMb = std::max(outcome.rssMb, residentMb());
        const auto byNameMs = msOf([&] { grid->sortBy(column::DomainShown); });
        outcome.sortMs = std::max(byPriceMs.first, byNameMs.first);
        outcome.sortCpuMs = std::max(byPriceMs.second, byNameMs.second);
        outcome.rssMb = std::max(outcome.rssMb, residentMb());
        std::tie(outcome.filterMs, outcome.filterCpuMs) = msOf([&] { onlyFree->click(); });
        outcome.rssMb = std::max(outcome.rssMb, residentMb());
        const int free = grid->order().rowCount();
        if (!sorted)
            outcome.error = QStringLiteral("the rows sorted by price are out of order");
        else if (free != outcome.rows / 2)
            outcome.error = QStringLiteral("the filter shows %1 rows of %2").arg(free).arg(outcome.rows);
    });
    outcome.maxStallMs = search.maxStallMs;
    outcome.worstStallAtS = search.worstStallAtS;
    outcome.searchS = search.seconds;
    outcome.framesMissed = search.framesMissed;
    outcome.ok = search.ok && outcome.error.isEmpty();
    if (!search.ok)
        outcome.error = search.error;
    return outcome;
}

} // namespace norvale::bench
