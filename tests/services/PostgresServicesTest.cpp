// The operator's tables on a real PostgreSQL server: norvale-services serves
// its pages from it, and Norvale reads the same tables through the ODBC
// driver, with the same answers as from the embedded file.
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/lookup/FilingLookup.h"
#include "norvale/core/lookup/IpLookup.h"
#include "norvale/core/lookup/WhoisLookup.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/SearchRules.h"
#include "norvale/core/web/GetBody.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/DatabaseStack.h"
#include "tests/support/IpLookupRecord.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SearchToEnd.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestRegistries.h"
#include "tests/support/TestResolver.h"
#include "tests/support/TestText.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

using namespace norvale;

namespace {

// One served database and Norvale's view of it.
struct Operator {
    std::unique_ptr<test::ServicesProcess> services;
    std::shared_ptr<test::DatabaseStack> stack;

    bool start(const QStringList &arguments, QString *error)
    {
        test::ServicesProcess::Options options;
        options.extraArguments = arguments;
        services = std::make_unique<test::ServicesProcess>(options);
        if (!services->start(error))
            return false;
        stack = std::make_shared<test::DatabaseStack>(services->dataServiceUrl());
        return true;
    }
    QString page(const char *path) const { return services->baseUrl() + QLatin1StringView(path); }
    LookupBackend lookups() const { return makeServerLookupBackend(test::DatabaseStack::shared(stack)); }

    // The rows of one search, nullopt when it did not end.
    std::optional<QList<SearchRow>> search(const QString &keyword, const std::function<void()> &atFirstRow = {}) const
    {
        const QString status = page("/query/domain.asp?domain=");
        return test::searchToEnd(
            makeServerBackend(test::DatabaseStack::shared(stack), [status] { return status; }), keyword, atFirstRow);
    }

    // Whois text, IP lookup reports and filing boxes for one name, nullopt
    // when a lookup did not end.
    std::optional<QStringList> lookUp(const QString &name) const
    {
        WhoisLookup whois(lookups());
        whois.setPageBase(page("/query/whois.asp?domain="));
        QSignalSpy whoisDone(&whois, &WhoisLookup::finished);
        whois.start(name);
        IpLookup ip(lookups());
        ip.setPages(page("/query/ip.asp?ip="), page("/query/ipmess.asp?ip="));
        test::IpLookupRecord record(ip);
        const quint64 generation = ip.start(name);
        FilingLookup filing(lookups());
        QSignalSpy filingDone(&filing, &FilingLookup::finished);
        filing.start(name);
        if (!QTest::qWaitFor([&] { return whoisDone.count() == 1 && filingDone.count() == 1 && record.ended(generation); },
                             60000))
            return std::nullopt;
        return QStringList{whoisDone.first().at(1).toString()} << record.of(generation)
                                                                 << filingDone.first().at(1).toStringList();
    }
};

// What a row may read while the database is away: no status verdict from
// the service, and no filing number.
bool degradedFormOf(const SearchRow &row, const SearchRow &healthy)
{
    for (int c = 0; c < column::Count; ++c) {
        const bool same = row.cells[c] == healthy.cells[c];
        const bool allowed = (c == column::Status && row.cells[c] == QStringLiteral("查询失败"))
                             || ((c == column::Price || c == column::Filing) && row.cells[c].isEmpty());
        if (!same && !allowed)
            return false;
    }
    return true;
}

} // namespace

class PostgresServicesTest final : public QObject {
    Q_OBJECT

    test::TestResolver m_resolver;
    test::PostgresServer m_server;
    Operator m_file;      // the embedded SQLite database, for comparison
    Operator m_postgres;
    QString m_address;   // of m_postgres's database
    QString m_skip;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_resolver.start() || !m_resolver.broken(), qPrintable(m_resolver.reason()));
        if (!m_resolver.ready()) {
            m_skip = m_resolver.reason();
            return;
        }
        if (!m_server.start(&m_skip))
            return;
        QString error;
        QVERIFY2(m_server.execute(QStringLiteral("create database operator_data"), &error), qPrintable(error));
        for (const char *name : {"chenglan.com", "chenglan.cn", "wanjia.cn"})
            m_resolver.server().addRecord(QLatin1StringView(name), {QStringLiteral("192.0.2.21")});

        QVERIFY2(m_file.start({}, &error), qPrintable(error));
        m_address = QStringLiteral("postgresql://%1@127.0.0.1:%2/operator_data")
                        .arg(test::PostgresServer::user())
                        .arg(m_server.port());
        QVERIFY2(m_postgres.start({QStringLiteral("--db"), m_address}, &error), qPrintable(error));
        const std::optional<QString> announced = m_postgres.stack->database.getconnstr();
        QVERIFY(announced);
        QVERIFY2(announced->startsWith(QStringLiteral("Provider=MSDASQL;Driver=PostgreSQL Unicode;")),
                 qPrintable(*announced));
    }

    void init()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
    }

    void sameAnswersAsTheFile_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::newRow("as filed") << QStringLiteral("chenglan");
        // Names ignore letter case in both databases.
        QTest::newRow("capitals") << QStringLiteral("ChengLan");
    }

    void sameAnswersAsTheFile()
    {
        QFETCH(QString, keyword);
        const auto rows = m_postgres.search(keyword);
        const auto fileRows = m_file.search(keyword);
        QVERIFY2(rows && fileRows, "a search did not end");
        QCOMPARE(*rows, *fileRows);
        QVERIFY(std::any_of(rows->cbegin(), rows->cend(), [](const SearchRow &row) {
            return row.cells[column::Filing].startsWith(QStringLiteral("鲁ICP备"));
        }));
        const auto lookedUp = m_postgres.lookUp(keyword.toUpper() + QStringLiteral(".cn"));
        const auto fileLookedUp = m_file.lookUp(keyword.toUpper() + QStringLiteral(".cn"));
        QVERIFY2(lookedUp && fileLookedUp, "a lookup did not end");
        const QStringList &looked = *lookedUp;
        QCOMPARE(looked, *fileLookedUp);
        QVERIFY2(looked.join(u'\n').contains(QStringLiteral("Starlight Domains")), qPrintable(looked.join(u'\n')));
        QVERIFY(looked.contains(QStringLiteral("list chenglan.cn")));
        QVERIFY(looked.contains(QStringLiteral("鲁ICP备86620649号")));
    }

    // The server stopped mid-search and started again: the kept connections
    // of Norvale and of the services recover without a restart of either.
    void databaseServerRestarts()
    {
        const auto fileRows = m_file.search(QStringLiteral("chenglan"));
        QVERIFY2(fileRows, "the search did not end");
        const QList<SearchRow> &healthy = *fileRows;
        QString why;
        bool resumed = false;
        const auto broken = m_postgres.search(QStringLiteral("chenglan"), [&] {
            m_server.shutDown();
            resumed = m_server.resume(&why);
        });
        QVERIFY2(resumed, qPrintable(why));
        QVERIFY2(broken, "the search did not end");
        const QList<SearchRow> &rows = *broken;
        // Rows of a kind whose price list could not be read are missing;
        // every row shown is true or says what it lacks.
        qsizetype next = 0;
        for (const SearchRow &row : rows) {
            while (next < healthy.size() && healthy[next].cells[column::Domain] != row.cells[column::Domain])
                ++next;
            QVERIFY2(next < healthy.size(), qPrintable(QStringLiteral("not in order, or invented: ") + test::describe(row)));
            QVERIFY2(row == healthy[next] || degradedFormOf(row, healthy[next]), qPrintable(test::describe(row)));
            ++next;
        }
        const auto again = m_postgres.search(QStringLiteral("chenglan"));
        QVERIFY2(again, "the search did not end");
        QCOMPARE(*again, healthy);
        const auto lookedUp = m_postgres.lookUp(QStringLiteral("chenglan.cn"));
        const auto fileLookedUp = m_file.lookUp(QStringLiteral("chenglan.cn"));
        QVERIFY2(lookedUp && fileLookedUp, "a lookup did not end");
        QCOMPARE(*lookedUp, *fileLookedUp);
    }

    // An import into the database a running instance serves: refused whole
    // when one row is bad, seen by the instance's next answer when good.
    void importsReachTheNextAnswer()
    {
        QTemporaryDir dir;
        // norvale-services import or export TABLE FILE, FILE in dir holding bytes.
        auto transfer = [&](const char *command, const char *file, const QByteArray &bytes = {}) {
            const QString path = dir.filePath(QLatin1StringView(file));
            if (!bytes.isNull() && !test::writeFile(path, bytes))
                return -1;
            return test::runProgram(QStringLiteral(NORVALE_SERVICES_EXE), {QStringLiteral("--db"), m_address, QLatin1StringView(command),
                                                                         QStringLiteral("registered"), path}).exitCode;
        };
        const QString status = m_postgres.page("/query/domain.asp?domain=imported-name.cn");
        for (int i = 0; i < 2; ++i)
            QVERIFY(!fetchPage(status).body.contains("|domain|"));
        QCOMPARE(transfer("import", "bad.csv", "ldomain\nimported-name.cn\nnot a name\n"), 1);
        QVERIFY(!fetchPage(status).body.contains("|domain|"));
        QCOMPARE(transfer("import", "good.csv", "\xEF\xBB\xBFldomain\r\nimported-name.cn\r\n"), 0);
        QVERIFY(fetchPage(status).body.contains("|domain|imported-name.cn|domain|"));
        QCOMPARE(transfer("export", "out.csv"), 0);
        QVERIFY(test::readFile(dir.filePath(QStringLiteral("out.csv"))).contains("\r\nimported-name.cn\r\n"));
    }

    // Instances that share one database share the registries' answers: what
    // one asked, the other does not ask again.
    void registryCacheIsShared()
    {
        test::TestRegistries registries;
        registries.addZone(QStringLiteral("rtest"), test::TestRegistries::Protocol::Rdap);
        registries.setAnswer(QStringLiteral("taken.rtest"), test::RegistryAnswer::Registered);
        VERIFY_STARTED(registries);
        QString error;
        QVERIFY2(m_server.execute(QStringLiteral("create database operator_registry"), &error), qPrintable(error));
        const QStringList arguments = QStringList{QStringLiteral("--db"),
                                                  QStringLiteral("postgresql://%1@127.0.0.1:%2/operator_registry")
                                                      .arg(test::PostgresServer::user())
                                                      .arg(m_server.port())}
                                      + registries.servicesArguments();
        Operator first;
        Operator second;
        QVERIFY2(first.start(arguments, &error), qPrintable(error));
        QVERIFY2(second.start(arguments, &error), qPrintable(error));
        for (const Operator *instance : {&first, &second}) {
            for (const char *name : {"taken.rtest", "free.rtest"}) {
                const PageFetch page = fetchPage(instance->page("/query/domain.asp?domain=") + QLatin1StringView(name));
                QCOMPARE(page.httpStatus, 200L);
                QCOMPARE(page.body.contains("|domain|"), QByteArrayView(name) == "taken.rtest");
            }
            QCOMPARE(registries.queries(), 2);
        }
    }
};

QTEST_GUILESS_MAIN(PostgresServicesTest)
#include "PostgresServicesTest.moc"
