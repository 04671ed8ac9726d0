// The real parts broken mid-work: the operator's pages, the name servers, the
// disk and a lookup's page. Nothing may crash or hang, no row may be lost or
// invented, and the next search must work.
#include "norvale/core/lookup/IpLookup.h"
#include "norvale/core/lookup/WhoisLookup.h"
#include "norvale/core/net/Cls_DownLoad.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/SearchRules.h"

#include "tests/support/FaultProxy.h"
#include "tests/support/SearchToEnd.h"
#include "tests/support/ServicesFixture.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

using namespace norvale;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const QString Keyword = u"chenglan"_s;
const QString StatusPath = u"/query/domain.asp?domain="_s;

// A status page that never came: as the row reads when its fetch failed.
bool failedFetchOf(const SearchRow &row, const SearchRow &healthy)
{
    SearchRow expected = healthy;
    expected.cells[column::Status] = u"查询失败"_s;
    expected.cells[column::Price].clear();
    expected.red &= quint8(~((1u << column::Status) | (1u << column::Price)));
    return row == expected;
}

} // namespace

class FaultsTest final : public QObject {
    Q_OBJECT

    // One search to its end, nullopt when it did not end; breakIt breaks
    // something when it has begun or at its first row.
    std::optional<QList<SearchRow>> search(const QString &statusBase, const std::function<void()> &breakIt = {},
                                           bool atStart = false)
    {
        return test::searchToEnd(m_world.searches(statusBase), Keyword, breakIt, atStart);
    }

    // Every row is the healthy search's row for its place, or one of the
    // forms `degraded` accepts: none lost, none added, none out of order.
    static void compareRows(const QList<SearchRow> &rows, const QList<SearchRow> &healthy,
                            const std::function<bool(int, const SearchRow &)> &degraded)
    {
        QCOMPARE(rows.size(), healthy.size());
        for (int i = 0; i < rows.size(); ++i) {
            QVERIFY2(rows[i] == healthy[i] || degraded(i, rows[i]),
                     qPrintable(test::describe(rows[i]) + u" vs "_s + test::describe(healthy[i])));
        }
    }

    QString statusBase() const { return m_world.services.baseUrl() + StatusPath; }

    // Status pages take a while, so that a search is still fetching when it
    // is broken.
    test::ServicesFixture m_world{
        {.delayMs = 150, .delayPath = u"/query/domain.asp"_s, .databasePath = {}, .extraArguments = {}}};
    QList<SearchRow> m_healthy;     // every name resolving as the records say
    QList<SearchRow> m_unresolved;  // no name resolving at all

private slots:
    void initTestCase()
    {
        if (!m_world.start() || !m_world.resolverReady())
            return;
        for (const char *name : {"chenglan.com", "chenglan.net", "chenglan.cn", "chenglan.de"})
            m_world.dns().addRecord(QLatin1StringView(name), {u"203.0.113.7"_s});

        const auto healthy = search(statusBase());
        QVERIFY2(healthy, "the search did not end");
        m_healthy = *healthy;
        QVERIFY(m_healthy.size() > 40);
        m_world.dns().stop();
        const auto unresolved = search(statusBase());
        QVERIFY2(unresolved, "the search did not end");
        m_unresolved = *unresolved;
        QVERIFY(m_world.dns().start(qEnvironmentVariable("NORVALE_TEST_DNS_ADDRESS"), 53));
        QVERIFY(m_unresolved != m_healthy);
    }

    void cleanup()
    {
        if (!m_world.resolverReady())
            return;
        test::TestDnsServer &dns = m_world.dns();
        dns.setDelay(0ms);
        dns.setFault(test::TestDnsServer::Fault::None);
        dns.stop();   // started again, whether a case killed it or not
        QVERIFY(dns.start(qEnvironmentVariable("NORVALE_TEST_DNS_ADDRESS"), 53));
    }

    void operatorPagesBreak_data()
    {
        QTest::addColumn<bool>("killed");   // else each answer is reset mid-body
        QTest::newRow("services killed and restarted") << true;
        QTest::newRow("connection reset mid-body") << false;
    }

    void operatorPagesBreak()
    {
        QFETCH(bool, killed);
        REQUIRE_TEST_RESOLVER(m_world);
        test::FaultProxy proxy(m_world.services.port());
        QVERIFY(proxy.start());
        const QString base = killed ? statusBase() : proxy.baseUrl() + StatusPath;
        const auto broken = search(base, [&] {
            if (killed)
                ::kill(pid_t(m_world.services.processId()), SIGKILL);
            else
                proxy.setResetMidBody(true);
        });
        QVERIFY2(broken, "the search did not end");
        const QList<SearchRow> &rows = *broken;
        compareRows(rows, m_healthy, [&](int i, const SearchRow &row) { return failedFetchOf(row, m_healthy[i]); });
        QVERIFY(std::any_of(rows.cbegin(), rows.cend(), [](const SearchRow &row) {
            return row.cells[column::Status] == u"查询失败"_s;
        }));

        if (killed) {
            QString error;
            QVERIFY2(m_world.services.restart(&error), qPrintable(error));
        }
        proxy.setResetMidBody(false);
        const auto again = search(base);
        QVERIFY2(again, "the search did not end");
        QCOMPARE(*again, m_healthy);
    }

    void nameServersBreak_data()
    {
        QTest::addColumn<int>("fault");   // TestDnsServer::Fault; -1: the server is killed
        QTest::newRow("killed and restarted") << -1;
        QTest::newRow("answers cut short") << int(test::TestDnsServer::Fault::CutShort);
        QTest::newRow("wrong identifiers") << int(test::TestDnsServer::Fault::WrongId);
        QTest::newRow("noise") << int(test::TestDnsServer::Fault::Noise);
    }

    void nameServersBreak()
    {
        QFETCH(int, fault);
        REQUIRE_TEST_RESOLVER(m_world);
        test::TestDnsServer &dns = m_world.dns();
        dns.setDelay(100ms);   // answers still on their way when it breaks
        const auto broken = search(statusBase(), [&] {
            if (fault < 0)
                dns.stop();
            else
                dns.setFault(test::TestDnsServer::Fault(fault));
        }, true);
        QVERIFY2(broken, "the search did not end");
        const QList<SearchRow> &rows = *broken;
        // A name whose answer broke counts as not resolving, nothing worse.
        compareRows(rows, m_healthy, [&](int i, const SearchRow &row) { return row == m_unresolved[i]; });
        QVERIFY(rows != m_healthy);   // the fault did reach the search

        cleanup();
        const auto again = search(statusBase());
        QVERIFY2(again, "the search did not end");
        QCOMPARE(*again, m_healthy);
    }

    // The installer into a folder that fills up: nothing of it stays there.
    void downloadIntoFullDisk()
    {
        REQUIRE_TEST_RESOLVER(m_world);   // the private mount namespace comes with the test resolver
        QTemporaryDir dir;
        const QString small = dir.filePath(u"small"_s);
        QVERIFY(QDir().mkpath(small));
        QProcess mount;
        mount.start(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=128k"_s, u"tmpfs"_s, small});
        if (!mount.waitForFinished(10000) || mount.exitCode() != 0)
            QSKIP(qPrintable(u"cannot mount a small tmpfs here: "_s + QString::fromLocal8Bit(mount.readAllStandardError())));
        const auto unmount = qScopeGuard([&] { QProcess::execute(u"umount"_s, {small}); });

        const QString installer = m_world.services.baseUrl() + u"/download/NorvaleSetup.exe"_s;
        Cls_DownLoad download;
        QSignalSpy statuses(&download, &Cls_DownLoad::entDLFileStatus);
        const DownloadResult full = download.DLFile(installer, small + u"/NorvaleSetup.exe"_s);
        QVERIFY(!full.complete);
        QVERIFY(full.bytes < 393216);
        QCOMPARE(QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(statuses.last().at(0).toInt() != 6);   // never "下载完成"

        const DownloadResult next = download.DLFile(installer, dir.filePath(u"NorvaleSetup.exe"_s));
        QVERIFY(next.complete);
        QCOMPARE(QFileInfo(next.localPath).size(), 393216);
    }

    // A lookup given up mid-fetch lets go of its transfer at once.
    void lookupStoppedMidFetch_data()
    {
        QTest::addColumn<bool>("whois");   // else the IP lookup's 停止
        QTest::newRow("whois superseded") << true;
        QTest::newRow("IP lookup stopped") << false;
    }

    void lookupStoppedMidFetch()
    {
        QFETCH(bool, whois);
        REQUIRE_TEST_RESOLVER(m_world);
        // A page that sends a byte every 200 ms for the better part of a day.
        const QString endless = m_world.services.baseUrl() + u"/download/trickle/NorvaleSetup.exe?bytes=1&every=200&x="_s;
        const QString whoisPage = m_world.services.baseUrl() + u"/query/whois.asp?domain="_s;
        const LookupBackend backend = m_world.lookups();
        const int asked = m_world.services.requestCount(u"/download/trickle/NorvaleSetup.exe"_s);
        if (whois) {
            WhoisLookup engine(backend);
            engine.setPageBase(endless);
            QSignalSpy finished(&engine, &WhoisLookup::finished);
            engine.start(u"chenglan.cn"_s);
            QTRY_VERIFY(m_world.services.requestCount(u"/download/trickle/NorvaleSetup.exe"_s) > asked);
            engine.start(u"nodot"_s);
            QVERIFY(test::drainWorkers(5000));
            QCOMPARE(finished.count(), 1);   // only the newer lookup reports

            engine.setPageBase(whoisPage);
            engine.start(u"chenglan.cn"_s);
            QTRY_COMPARE(finished.count(), 2);
            QVERIFY(finished.last().at(1).toString().startsWith(u"Domain Name:"_s));
        } else {
            IpLookup engine(backend);
            engine.setPages(endless, m_world.services.baseUrl() + u"/query/ipmess.asp?ip="_s);
            QSignalSpy finished(&engine, &IpLookup::finished);
            engine.start(u"203.0.113.7"_s);
            QTRY_VERIFY(m_world.services.requestCount(u"/download/trickle/NorvaleSetup.exe"_s) > asked);
            engine.stop();
            QTRY_COMPARE(finished.count(), 1);
            QVERIFY(test::drainWorkers(5000));
        }
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "FaultsTest.moc"
