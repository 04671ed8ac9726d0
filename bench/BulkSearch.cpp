#include "bench/BulkSearch.h"

#include "bench/StallProbe.h"
#include "norvale/core/config/ConfigLoad.h"
#include "norvale/core/config/Configuration.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/FdomainSearch.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/core/search/DomainSearch.h"
#include "tests/support/Controls.h"
#include "tests/support/TestDnsServer.h"
#include "tests/support/TestSql.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QSqlDatabase>

namespace norvale::bench {

namespace {

constexpr int otherBox = 16;   // ".other"
const QString zone = QStringLiteral(".bk");

bool addPriceRows(const QString &databasePath, int candidates)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bulk"));
        db.setDatabaseName(databasePath);
        ok = db.open() && test::execSql(db, QStringLiteral("begin"));
        for (int i = 0; ok && i < candidates; ++i) {
            ok = test::execSql(db, QStringLiteral("insert into ldomainprice values (?, ?, ?)"),
                               {QStringLiteral(".other"), QString(QStringLiteral(".n%1").arg(i) + zone), QStringLiteral("88")});
        }
        ok = ok && test::execSql(db, QStringLiteral("commit"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
    return ok;
}

} // namespace

BulkOutcome runBulkSearch(const QString &databasePath, const std::shared_ptr<test::DatabaseStack> &stack,
                          test::TestDnsServer &dns, const QString &keyword, int candidates)
{
    BulkOutcome outcome;
    if (!addPriceRows(databasePath, candidates)) {
        outcome.error = QStringLiteral("could not add the price rows");
        return outcome;
    }
    dns.addWildcard(zone, QStringLiteral("10.9.0.1"));

    return searchInWindow(stack, keyword, otherBox);
}

BulkOutcome searchInWindow(const std::shared_ptr<test::DatabaseStack> &stack, const QString &keywords, int box,
                           const std::function<void(Fdomain &)> &then)
{
    BulkOutcome outcome;
    ConfigLoadResult config = loadConfigRecord(stack->database);
    if (config.outcome != ConfigLoadResult::Outcome::Loaded) {
        outcome.error = QStringLiteral("could not load the configuration");
        return outcome;
    }
    Configuration configuration(std::move(config.record));
    Fdomain window(test::DatabaseStack::shared(stack), stack->platform);
    window.Load();
    window.setConfiguration(configuration);
    test::control<QLabel>(window, "lload")->hide();
    window.show();
    test::kindBox(window, box)->click();
    test::control<KeywordBox>(window, "lfind")->setList(keywords);

    QEventLoop loop;
    // A user clicks a window that is already drawn: its first paint, with
    // the fonts it loads, is no stall of the search.
    QTimer::singleShot(std::chrono::milliseconds(300), &loop, &QEventLoop::quit);
    loop.exec();
    // After the window's own handling of the end, which was connected first.
    QObject::connect(&window.search().engine(), &DomainSearch::finished, &loop, &QEventLoop::quit);
    StallProbe stalls;
    QElapsedTimer clock;
    clock.start();
    stalls.start();
    test::control<QPushButton>(window, "lsearch")->click();
    loop.exec();
    outcome.seconds = double(clock.nsecsElapsed()) / 1e9;
    outcome.maxStallMs = stalls.maxStallMs();
    outcome.worstStallAtS = stalls.worstAtMs() / 1e3;
    outcome.framesMissed = stalls.framesMissed();
    outcome.rows = test::control<ResultGridView>(window, "grid1")->grid().rows() - 1;
    if (then)
        then(window);
    outcome.ok = true;
    return outcome;
}

} // namespace norvale::bench
