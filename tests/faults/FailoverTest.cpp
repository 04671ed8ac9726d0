// Two norvale-services on one PostgreSQL database behind HAProxy, configured
// as the operator's recipe has it: one instance killed mid-search costs no
// row, and once started again HAProxy sends it requests again.
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/SearchRules.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/DatabaseStack.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SearchToEnd.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"

#include "norvale/core/web/GetBody.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

#include <array>
#include <csignal>
#include <memory>

using namespace norvale;
using namespace Qt::StringLiterals;

namespace {

const QString StatusPath = u"/query/domain.asp"_s;
// Four keywords of 54 candidates each under every kind: 216 rows.
const QString Keywords = u"chenglan\nyunzhan\nhaitang\nwanjia"_s;

} // namespace

class FailoverTest final : public QObject {
    Q_OBJECT

    test::TestResolver m_resolver;
    test::PostgresServer m_postgres;
    QString m_database;
    std::array<std::unique_ptr<test::ServicesProcess>, 2> m_services;
    QProcess m_haproxy;
    QString m_front;   // http://127.0.0.1:PORT of HAProxy
    std::shared_ptr<test::DatabaseStack> m_stack;
    QList<SearchRow> m_clean;
    QString m_skip;

    // Status pages take a while, so that the search is still fetching when
    // an instance is killed.
    bool startServices(size_t which, int port, QString *error)
    {
        test::ServicesProcess::Options options;
        options.delayMs = 100;
        options.delayPath = StatusPath;
        options.extraArguments = {u"--db"_s, m_database};
        if (port > 0)
            options.extraArguments << u"--port"_s << QString::number(port);
        m_services[which] = std::make_unique<test::ServicesProcess>(options);
        return m_services[which]->start(error);
    }

    std::optional<QList<SearchRow>> search(const std::function<void()> &breakIt = {})
    {
        const QString status = m_front + StatusPath + u"?domain="_s;
        return test::searchToEnd(makeServerBackend(test::DatabaseStack::shared(m_stack), [status] { return status; }),
                                 Keywords, breakIt);
    }

    int served(size_t which) const { return m_services[which]->requestCount(StatusPath); }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_resolver.start() || !m_resolver.broken(), qPrintable(m_resolver.reason()));
        if (!m_resolver.ready()) {
            m_skip = m_resolver.reason();
            return;
        }
        const QString haproxy = QStandardPaths::findExecutable(u"haproxy"_s);
        if (haproxy.isEmpty()) {
            m_skip = u"haproxy is not installed (scripts/setup.sh installs it)"_s;
            return;
        }
        if (!m_postgres.start(&m_skip))
            return;
        QString error;
        QVERIFY2(m_postgres.execute(u"create database shared_data"_s, &error), qPrintable(error));
        m_database = u"postgresql://%1@127.0.0.1:%2/shared_data"_s.arg(test::PostgresServer::user()).arg(m_postgres.port());
        // One after the other: the first gives the empty database its tables.
        for (size_t i = 0; i < m_services.size(); ++i)
            QVERIFY2(startServices(i, 0, &error), qPrintable(error));

        const int front = test::freeLoopbackPort();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"NORVALE_FRONT"_s, u"127.0.0.1:"_s + QString::number(front));
        for (size_t i = 0; i < m_services.size(); ++i)
            environment.insert(u"NORVALE_SERVICES_%1"_s.arg(i + 1), u"127.0.0.1:"_s + QString::number(m_services[i]->port()));
        test::endWithParent(m_haproxy);
        m_haproxy.setProcessEnvironment(environment);
        m_haproxy.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_haproxy.start(haproxy, {u"-db"_s, u"-f"_s, QStringLiteral(NORVALE_HAPROXY_CONFIG)});
        QVERIFY2(m_haproxy.waitForStarted(10000), qPrintable(m_haproxy.errorString()));
        m_front = u"http://127.0.0.1:"_s + QString::number(front);
        // Up once both instances passed their checks and answer through it.
        const QString page = m_front + u"/query/ip.asp?ip=192.0.2.1"_s;
        QTRY_VERIFY_WITH_TIMEOUT(fetchPage(page).httpStatus == 200, 10000);
        m_stack = std::make_shared<test::DatabaseStack>(m_front + u"/geturl/dataurl.asp?checkin=qomp58x"_s);

        const auto clean = search();
        QVERIFY2(clean, "the search did not end");
        m_clean = *clean;
        QCOMPARE(m_clean.size(), 216);
        QVERIFY(served(0) > 0 && served(1) > 0);
    }

    void cleanupTestCase()
    {
        test::endChild(m_haproxy);
        for (auto &services : m_services)
            services.reset();
    }

    void instanceKilledMidSearch()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        const int port = m_services[0]->port();
        const auto broken = search([&] { ::kill(pid_t(m_services[0]->processId()), SIGKILL); });
        QVERIFY2(broken, "the search did not end");
        QCOMPARE(*broken, m_clean);

        // Started again where it was: HAProxy's check finds it, and both
        // instances take their share of requests again.
        QString error;
        m_services[0]->stop();
        QVERIFY2(startServices(0, port, &error), qPrintable(error));
        const QString page = m_front + StatusPath + u"?domain=chenglan.cn"_s;
        QTRY_VERIFY_WITH_TIMEOUT(fetchPage(page).httpStatus == 200 && served(0) > 0, 15000);
        const std::array<int, 2> before{served(0), served(1)};
        for (int i = 0; i < 10; ++i)
            QCOMPARE(fetchPage(page).httpStatus, 200);
        QVERIFY(served(0) > before[0]);
        QVERIFY(served(1) > before[1]);
    }
};

QTEST_GUILESS_MAIN(FailoverTest)
#include "FailoverTest.moc"
