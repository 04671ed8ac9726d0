#include "norvale/core/data/Adodc1.h"
#include "norvale/core/data/ConnectionText.h"
#include "norvale/core/data/DataServiceAddress.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/data/ThreadConnections.h"
#include "norvale/core/data/fdata.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestText.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

using namespace norvale;
using namespace norvale::test;

namespace {

const QString DataPath = QStringLiteral("/geturl/dataurl.asp");
const QString AdminMail = QStringLiteral("dba@example.test");
const QString FailureMessage = QStringLiteral("Norvale|域名数据库无法访问，请稍后再访问或联系管理员(mail:dba@example.test)");
const QString ByKind = QStringLiteral("select lextend from ldomainprice where lextendkind=?");
const QString CountAll = QStringLiteral("select count(*) from ldomainprice");

// Writes with the sqlite3 tool, so that only the code under test holds connections.
bool writeSql(const QString &path, const QString &sql)
{
    return QProcess::execute(s("sqlite3"), {s("-bail"), path, sql}) == 0;
}

QString sqliteText(const QString &path)
{
    return s("Provider=SQLite;Data Source=") + path;
}

// Connections the code under test holds, in every thread; each login has a name of its own.
QStringList heldConnections()
{
    QStringList names = QSqlDatabase::connectionNames().filter(s("norvale-db-"));
    names.sort();
    return names;
}

// The service reads its settings on every request.
bool setSetting(const ServicesProcess &services, const QString &key, const QString &value)
{
    const auto quoted = [](QString text) -> QString { return u'\'' + text.replace(u'\'', s("''")) + u'\''; };
    return writeSql(services.databasePath(),
                    s("insert or replace into svc_settings (lkey, lvalue) values (%1, %2)").arg(quoted(key), quoted(value)));
}

bool start(ServicesProcess &services, const QString &key = {}, const QString &value = {})
{
    QString why;
    if (services.start(&why))
        return key.isEmpty() || setSetting(services, key, value);
    qWarning("norvale-services: %s", qPrintable(why));
    return false;
}

// The connection text the service hands out with its seeded settings.
QString servedText(const ServicesProcess &services, const QString &provider = s("provider"))
{
    return provider + s("=SQLite;Data Source=") + QFileInfo(services.databasePath()).absoluteFilePath();
}

} // namespace

class DataTest final : public QObject {
    Q_OBJECT

    PostgresServer m_postgres;
    QString m_noPostgres;  // why the PostgreSQL tests skip
    QTemporaryDir m_dir;
    QString m_db;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath(s("seed.db"));
        // Out of alphabetical order: the first row is the table's own first.
        QVERIFY(writeSql(m_db, s("create table ldomainprice (lextendkind text, lextend text, lprice text);"
                                 "insert into ldomainprice values ('.com', '.net', '55'), ('.com', '.com', '60'),"
                                 " ('.com', '.org', NULL), ('.cn', '.cn', '40'), ('it''s%', '.odd', '1'), ('.nul', NULL, NULL);")));
        QVERIFY(QFile::copy(m_db, m_dir.filePath(s("odd = name.db"))));

        if (m_postgres.start(&m_noPostgres)) {
            QString why;
            QVERIFY2(m_postgres.execute(s("create table lprices (lextend text); insert into lprices values ('.com');"
                                          "create view lslow as select p.* from lprices p, (select pg_sleep(600)) s;"
                                          "create sequence ltries;"), &why), qPrintable(why));
        }
    }

    void mapsConnectionText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("driver");  // empty: the text is refused
        QTest::addColumn<QString>("databaseName");
        QTest::addColumn<QString>("options");

        const auto row = [](const char *name, const char *text, const char *driver, const QString &database, const char *options) {
            QTest::newRow(name) << s(text) << s(driver) << database << s(options);
        };
        const auto tds = [row](const char *name, const char *text, const char *odbc) {
            row(name, text, "QODBC", s("DRIVER={FreeTDS};") + s(odbc) + s(";TDS_Version=7.4;ClientCharset=UTF-8"),
                "SQL_ATTR_LOGIN_TIMEOUT=60");
        };
        const auto dsn = [row](const char *name, const char *text, const char *odbc) {
            row(name, text, "QODBC", s(odbc), "SQL_ATTR_LOGIN_TIMEOUT=60");
        };
        const auto refused = [row](const char *name, const char *text) { row(name, text, "", QString(), ""); };

        tds("sqloledb", "Provider=SQLOLEDB;Data Source=db;DATABASE=dom;UID=sa;pwd=pw", "SERVER=db;DATABASE=dom;UID=sa;PWD=pw");
        tds("host,port", "Provider=SQLOLEDB;Data Source=db, 1533;pwd=pw", "SERVER=db;PORT=1533;PWD=pw");
        tds("host\\instance", "Provider=SQLOLEDB;Data Source=db\\SQLEXPRESS;pwd=pw", "SERVER=db\\SQLEXPRESS;PWD=pw");
        tds("instance and port: port wins", "Provider=SQLOLEDB;Data Source=db\\SQLEXPRESS,1444", "SERVER=db;PORT=1444");
        tds("tcp:host,port", "Provider=SQLOLEDB.1;Data Source=tcp:10.1.2.3,1433;pwd=pw", "SERVER=10.1.2.3;PORT=1433;PWD=pw");
        tds("(local)", "Provider=SQLOLEDB;Data Source=(local);UID=sa", "SERVER=localhost;UID=sa");
        tds("SQLNCLI11, long key names, odd spacing",
            " provider = SQLNCLI11 ;  data source=db ; Initial Catalog = dom;User ID=sa; Password = pw ;",
            "SERVER=db;DATABASE=dom;UID=sa;PWD=pw");
        tds("MSOLEDBSQL19", "Provider=MSOLEDBSQL19;Server=db;Database=dom;UID=sa;PWD=pw", "SERVER=db;DATABASE=dom;UID=sa;PWD=pw");
        tds("quotes, ';' and '}' in the password", "Provider=SQLOLEDB;Data Source=\"db\";UID='sa';pwd='se;c}ret'",
            "SERVER=db;UID=sa;PWD={se;c}}ret}");
        tds("doubled quote inside quotes", "Provider=SQLOLEDB;Data Source=db;pwd=\"it\"\"s = {x\" ", "SERVER=db;PWD={it\"s = {x}");

        dsn("msdasql driver", "Provider=MSDASQL;Driver=SQLite3;Database=/tmp/x.db", "DRIVER=SQLite3;Database=/tmp/x.db");
        dsn("msdasql driver in ODBC's braces", "Provider=MSDASQL.1;Driver={SQLite3};database='/tmp/a b.db'",
            "DRIVER=SQLite3;Database=/tmp/a b.db");
        // The PostgreSQL driver reads braces, so ";" may stand in a value.
        dsn("msdasql braces what ODBC would cut", "Provider=MSDASQL;Driver=PostgreSQL Unicode;Servername=db;PWD='a;b}'",
            "DRIVER=PostgreSQL Unicode;Servername=db;PWD={a;b}}}");
        dsn("msdasql logs turned off", "Provider=MSDASQL;Driver=PostgreSQL Unicode;Servername=db;CommLog=0;Debug=0",
            "DRIVER=PostgreSQL Unicode;Servername=db;CommLog=0;Debug=0");
        // QODBC puts "DSN=" in front itself when the text names no driver.
        dsn("msdasql data source names the DSN", "Provider=MSDASQL;UID=u;Data Source=nightly;PWD=pw", "nightly;UID=u;PWD=pw");
        dsn("msdasql with DSN and SERVER", "Provider=MSDASQL;DSN=nightly;Server=db", "DSN=nightly;Server=db");

        const char *readOnly = "QSQLITE_OPEN_READONLY";
        row("sqlite", "provider=SQLite;Data Source=/var/a b.db", "QSQLITE", s("/var/a b.db"), readOnly);
        row("sqlite quoted path with ';'", "Provider=SQLite;Data Source='/tmp/x;y.db'", "QSQLITE", s("/tmp/x;y.db"), readOnly);

        refused("missing provider", "Data Source=db.example;UID=sa;pwd=secret");
        refused("design-time text", "ldataurl");
        refused("unknown provider", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=a.mdb;pwd=secret");
        refused("no server", "Provider=SQLOLEDB;UID=sa;pwd=secret");
        refused("port not a number", "Provider=SQLOLEDB;Data Source=db,14x3;pwd=secret");
        refused("named pipe", "Provider=SQLOLEDB;Data Source=np:\\\\db\\pipe\\sql\\query;pwd=secret");
        refused("unterminated quote", "Provider=SQLOLEDB;Data Source=db;pwd='secret");
        // QODBC would read a text holding ".dsn" as a file DSN.
        refused(".dsn in the password", "Provider=SQLOLEDB;Data Source=db;pwd=my.dsn.secret");
        refused("msdasql without driver", "Provider=MSDASQL;Database=/tmp/x.db;PWD=secret");
        // Nothing from the network may make the driver manager load a library of its choosing.
        refused("driver given as a path", "Provider=MSDASQL;Driver=/tmp/evil.so;PWD=secret");
        refused("driver not registered", "Provider=MSDASQL;Driver={libevil.so};PWD=secret");
        refused("a path before the registered driver", "Provider=MSDASQL;Driver=/tmp/evil.so;Driver=SQLite3;PWD=secret");
        refused("file dsn", "Provider=MSDASQL;FILEDSN=/tmp/evil.dsn;PWD=secret");
        refused("dsn naming a file", "Provider=MSDASQL;DSN=/tmp/evil.dsn;PWD=secret");
        // Only the keys a connection needs reach a driver: others load code or write files.
        refused("sqlite extension", "Provider=MSDASQL;Driver=SQLite3;Database=/tmp/x.db;LoadExt=/tmp/evil.so;PWD=secret");
        refused("key hidden in a value the sqlite driver cuts",
                "Provider=MSDASQL;Driver=SQLite3;Database='a;LoadExt=/tmp/evil.so;x=';PWD=secret");
        refused("trace file", "Provider=MSDASQL;Driver=SQLite3;Database=/tmp/x.db;TraceFile=/tmp/x;Trace=Yes");
        refused("freetds dump file", "Provider=MSDASQL;Driver=FreeTDS;Server=db;dump file=/tmp/x");
        refused("postgres log turned on", "Provider=MSDASQL;Driver=PostgreSQL Unicode;Servername=db;CommLog=1");
        refused("unknown driver's own key", "Provider=MSDASQL;DSN=nightly;Server=db;ConnSettings=drop table x");
        refused("sqlite without file", "Provider=SQLite;pwd=secret");
    }

    void mapsConnectionText()
    {
        QFETCH(QString, text);
        QFETCH(QString, driver);
        QFETCH(QString, databaseName);
        QFETCH(QString, options);

        const SqlConnectionSettings settings = mapConnectionText(text);
        if (driver.isEmpty()) {
            QVERIFY(!settings.isValid() && !settings.error.isEmpty());
            QVERIFY2(!settings.error.contains(QLatin1StringView("secret")), qPrintable(settings.error));
            return;
        }
        QVERIFY2(settings.isValid(), qPrintable(settings.error));
        QCOMPARE(settings.driver, driver);
        QCOMPARE(settings.databaseName, databaseName);
        QCOMPARE(settings.connectOptions, options);
    }

    void queryfirst_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QVariantList>("params");
        QTest::addColumn<int>("rowcount");
        QTest::addColumn<QString>("firstvalue");

        const QString seed = sqliteText(m_db);
        const QString odbc = s("Provider=MSDASQL;Driver=SQLite3;Database=") + m_db;
        QTest::newRow("no row") << seed << ByKind << QVariantList{s(".info")} << 0 << QString();
        QTest::newRow("first in table order") << seed << ByKind << QVariantList{s(".com")} << 3 << s(".net");
        QTest::newRow("NULL first value") << seed << ByKind << QVariantList{s(".nul")} << 1 << QString();
        QTest::newRow("number") << seed << CountAll << QVariantList{} << 1 << s("6");
        // Five characters or fewer are not run.
        QTest::newRow("short statement") << seed << s("sel 1") << QVariantList{} << 0 << QString();
        // Keywords are bound, never pasted into the statement.
        QTest::newRow("quote closing the literal") << seed << ByKind << QVariantList{s(".com' or '1'='1")} << 0 << QString();
        QTest::newRow("quote and percent") << seed << ByKind << QVariantList{s("it's%")} << 1 << s(".odd");
        QTest::newRow("odbc driver") << odbc << ByKind << QVariantList{s(".com")} << 3 << s(".net");
        // This driver reads braces literally, so "=" and blanks pass as they are.
        QTest::newRow("odbc '=' in the path") << QString(s("Provider=MSDASQL;Driver=SQLite3;Database='")
                                                         + m_dir.filePath(s("odd = name.db")) + u'\'')
                                              << CountAll << QVariantList{} << 1 << s("6");
    }

    void queryfirst()
    {
        QFETCH(QString, text);
        QFETCH(QString, sql);
        QFETCH(QVariantList, params);
        QFETCH(int, rowcount);
        QFETCH(QString, firstvalue);

        const QueryResult result = queryFirstOn(text, sql, params);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.ran, sql.size() > 5);
        QCOMPARE(result.rowcount, rowcount);
        QCOMPARE(result.firstvalue, firstvalue);
        QCOMPARE(queryFirstOn(sqliteText(m_db), CountAll).firstvalue, s("6"));
    }

    void queryfirstFails_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("reason");

        const QString seed = sqliteText(m_db);
        // Reading must never leave an empty database behind.
        QTest::newRow("missing file") << sqliteText(m_dir.filePath(s("missing.db"))) << CountAll << QString();
        QTest::newRow("unknown column") << seed << s("select lnothing from ldomainprice") << s("lnothing");
        // Read-only: the layer refuses writes rather than changing the server's data.
        QTest::newRow("write") << seed << s("delete from ldomainprice") << QString();
        // Too short to run, but the connection is still opened, so a bad text shows.
        QTest::newRow("bad text, short statement") << s("Provider=Nothing") << s("x") << QString();
        // FreeTDS itself answers: the mapped text reached the driver intact.
        QTest::newRow("sql server unreachable")
            << s("Provider=SQLOLEDB;Data Source=127.0.0.1,%1;UID=sa;pwd='se;c}secret'").arg(freeLoopbackPort())
            << s("select lextend from ldomainprice") << s("FreeTDS");
    }

    void queryfirstFails()
    {
        QFETCH(QString, text);
        QFETCH(QString, sql);
        QFETCH(QString, reason);

        // A refused statement runs once and keeps its connection; a connection
        // that cannot be opened is not kept.
        const QStringList before = heldConnections();
        const QueryResult result = queryFirstOn(text, sql);
        QVERIFY(!result.ok && result.rowcount == 0 && !result.error.isEmpty());
        QCOMPARE(heldConnections(), before);
        QVERIFY2(result.error.contains(reason) && !result.error.contains(QLatin1StringView("secret")), qPrintable(result.error));
        QCOMPARE(queryFirstOn(sqliteText(m_db), CountAll).firstvalue, s("6"));
        QVERIFY(!QFile::exists(m_dir.filePath(s("missing.db"))));
    }

    // Nothing in a connection text makes a driver load a library or write a
    // file of the text's choosing.
    void hostileKeysLoadNothing_data()
    {
        QTest::addColumn<QString>("text");
        const QString library = s(HOSTILE_LIBRARY);
        const QString trace = m_dir.filePath(s("trace.log"));
        const QString odbc = s("Provider=MSDASQL;Driver=SQLite3;Database=") + m_db;
        QTest::newRow("extension") << odbc + s(";LoadExt=") + library;
        QTest::newRow("extension inside a value") << s("Provider=MSDASQL;Driver=SQLite3;Database=\"%1;LoadExt=%2;x=\"").arg(m_db, library);
        QTest::newRow("driver manager trace") << odbc + s(";Trace=Yes;TraceFile=") + trace;
    }

    void hostileKeysLoadNothing()
    {
        QFETCH(QString, text);
        const QString mark = s(HOSTILE_LIBRARY_MARK);
        QFile::remove(mark);
        const QueryResult result = queryFirstOn(text, CountAll);
        QVERIFY(!result.ok);
        QVERIFY(!QFile::exists(mark));
        QVERIFY(!QFile::exists(m_dir.filePath(s("trace.log"))));
    }

    void replacedDatabaseFileIsReopened()
    {
        const QString path = m_dir.filePath(s("swap.db"));
        QVERIFY(writeSql(path, s("create table lold (x text)")));
        QVERIFY(queryFirstOn(sqliteText(path), s("select count(*) from lold")).ok);

        // The kept connection still reads the old file: the layer must fall back
        // to a fresh connection.
        QVERIFY(QFile::remove(path));
        QVERIFY(writeSql(path, s("create table lnew (x text); insert into lnew values ('fresh');")));
        const QueryResult result = queryFirstOn(sqliteText(path), s("select x from lnew"));
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.firstvalue, s("fresh"));
    }

    void workersQueryAtOnce()
    {
        const QStringList before = heldConnections();
        std::atomic<int> wrong{0};
        std::vector<int> held(8, 0);
        std::vector<std::thread> threads;
        for (size_t w = 0; w < held.size(); ++w)
            threads.emplace_back([&, w] {
                for (size_t i = 0; i < 25; ++i) {
                    const bool com = (i + w) % 2 == 0;
                    const QueryResult r = queryFirstOn(sqliteText(m_db), ByKind, {com ? s(".com") : s(".cn")});
                    wrong += (!r.ok || r.rowcount != (com ? 3 : 1) || r.firstvalue != (com ? s(".net") : s(".cn"))) ? 1 : 0;
                }
                held[w] = threadConnectionCount();
            });
        for (auto &thread : threads)
            thread.join();
        QCOMPARE(wrong, 0);
        QCOMPARE(held, std::vector<int>(held.size(), 1));  // reused, not one per query
        // Each worker's connection went away with its thread.
        QCOMPARE(heldConnections(), before);
    }

    void adodc1()
    {
        Adodc1 adodc;
        const auto lextend = [&adodc] { return adodc.value(s("lextend")); };
        adodc.setConnectionString(sqliteText(m_db));
        adodc.setRecordSource(s("select lextend, LPrice from ldomainprice where lextendkind=?"), {s(".com")});
        QVERIFY2(adodc.Refresh(), qPrintable(adodc.error()));
        QCOMPARE(adodc.RecordCount(), 3);
        QCOMPARE(adodc.fieldNames().join(u',').toLower(), s("lextend,lprice"));
        QStringList seen;
        for (adodc.MoveFirst(); !adodc.eof(); adodc.MoveNext())
            seen << lextend() + u'=' + adodc.value(s("lprice"));
        QCOMPARE(seen, (QStringList{s(".net=55"), s(".com=60"), s(".org=")}));
        QVERIFY(lextend().isEmpty());  // no current row at the end
        adodc.MoveNext();
        adodc.Move(-2);
        QCOMPARE(lextend(), s(".com"));
        adodc.Move(-5);
        QVERIFY(adodc.bof() && !adodc.eof());
        adodc.Move(2);
        QCOMPARE(lextend(), s(".com"));
        QVERIFY(adodc.value(s("nosuchcolumn")).isEmpty() && !adodc.hasField(s("nosuchcolumn")));

        // A cap keeps the first rows in the server's order.
        adodc.setMaxRecords(2);
        QVERIFY(adodc.Refresh() && adodc.RecordCount() == 2 && lextend() == s(".net"));
        adodc.setMaxRecords(0);

        // A failed refresh leaves no stale rows behind.
        adodc.setRecordSource(s("select lextend from lnotable"));
        QVERIFY2(!adodc.Refresh() && adodc.error().contains(QLatin1StringView("lnotable")), qPrintable(adodc.error()));
        QCOMPARE(adodc.RecordCount(), 0);

        adodc.setRecordSource(ByKind, {s(".none")});
        QVERIFY(adodc.Refresh() && adodc.RecordCount() == 0 && adodc.bof() && adodc.eof());
        adodc.Move(3);
        QVERIFY(adodc.eof() && lextend().isEmpty());

        adodc.setConnectionString(sqliteText(m_dir.filePath(s("gone.db"))));
        QVERIFY(!adodc.Refresh() && !adodc.error().isEmpty());
    }

    // A real database server through its ODBC driver: what happens to a kept
    // connection when the server refuses a statement, drops the connection, or
    // stops answering.
    void serverMishaps_data()
    {
        QTest::addColumn<QString>("mishap");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("reason");  // in the error; empty: the statement succeeds

        const QString count = s("select count(*) from lprices");
        // Refused once, not run again on a new login: the sequence counts the runs.
        QTest::newRow("refused") << QString() << s("select 1 / (nextval('ltries') * 0)") << s("division by zero");
        QTest::newRow("connection lost") << s("terminate") << count << QString();
        // The driver's own limit: the server cancels the statement.
        QTest::newRow("statement sleeps") << QString() << s("select lextend from lslow") << s("statement timeout");
        // No limit on the server can act: the caller gives up waiting.
        QTest::newRow("server process frozen") << s("freeze") << count << s("did not answer");
    }

    void serverMishaps()
    {
        QFETCH(QString, mishap);
        QFETCH(QString, sql);
        QFETCH(QString, reason);
        if (!m_noPostgres.isEmpty())
            QSKIP(qPrintable(m_noPostgres));

        const std::chrono::milliseconds limit = statementTimeLimit();
        setStatementTimeLimit(std::chrono::seconds(3));
        // All on one thread, and so on one kept connection, while the test
        // waits with a bound: a wait without end fails instead of hanging.
        const QString text = m_postgres.odbcConnectionText();
        const QString pid = s("select pg_backend_pid()");
        std::atomic<int> backend{0};
        QString after;
        QueryResult result;
        std::atomic<bool> done{false};
        std::thread caller([&] {
            backend = queryFirstOn(text, pid).firstvalue.toInt();
            if (mishap == s("terminate"))
                m_postgres.execute(s("select pg_terminate_backend(%1)").arg(backend));
            if (mishap == s("freeze"))
                ::kill(backend, SIGSTOP);
            result = queryFirstOn(text, sql);
            after = queryFirstOn(text, pid).firstvalue;
            done = true;
        });
        // Whatever happened, nothing is left waiting on the server: ended
        // again for as long as the caller still waits.
        const auto release = qScopeGuard([&] {
            for (;;) {
                if (backend > 0)
                    ::kill(backend, SIGCONT);
                m_postgres.execute(s("select pg_terminate_backend(pid) from pg_stat_activity "
                                     "where pid <> pg_backend_pid() and datname is not null"));
                if (done)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            caller.join();
            setStatementTimeLimit(limit);
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 15000);
        QVERIFY(backend > 0 && after.toInt() > 0);
        QCOMPARE(result.ok, reason.isEmpty());
        QVERIFY2(result.error.contains(reason), qPrintable(result.error));
        // The connection is kept where it still serves and replaced where not.
        QCOMPARE(after.toInt() == backend, mishap.isEmpty());
        if (sql.contains(s("ltries"))) {
            QString runs;
            QVERIFY(m_postgres.execute(s("select last_value from ltries"), &runs));
            QCOMPARE(runs, s("1"));
        }
    }

    void removesFillersInOrder_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");

        QTest::newRow("between characters") << s("pro58_tovrakvider=3plenix9SQLite;Data 58_tovrakSource=x3plenix9")
                                            << s("provider=SQLite;Data Source=x");
        QTest::newRow("joined by the first removal") << s("ab3ple58_tovraknix9cd") << s("abcd");
        QTest::newRow("not the other way round") << s("ab58_to3plenix9vrakcd") << s("ab58_tovrakcd");
        QTest::newRow("case matters") << s("58_TOVRAK3Plenix9") << s("58_TOVRAK3Plenix9");
    }

    void removesFillersInOrder()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(fdata::removeFillers(value), expected);
    }

    void dataServiceBase_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("base");  // empty: refused

        const QString builtIn = s(NORVALE_DATA_SERVICE_BASE);
        QTest::newRow("built in") << QString() << QString() << builtIn;
        QTest::newRow("environment") << QString() << s("http://db.example.test:9000/") << s("http://db.example.test:9000");
        QTest::newRow("command line wins") << s("https://10.0.0.2") << s("http://db.example.test:9000") << s("https://10.0.0.2");
        QTest::newRow("not http") << s("ftp://10.0.0.2") << QString() << QString();
        QTest::newRow("no host") << QString() << s("http://") << QString();
        QTest::newRow("query") << s("http://10.0.0.2/?checkin=x") << QString() << QString();
    }

    void dataServiceBase()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, environment);
        QFETCH(QString, base);

        const QByteArray kept = qgetenv(dataServiceVariable);
        const auto restore = qScopeGuard([&] { qputenv(dataServiceVariable, kept); });
        qputenv(dataServiceVariable, environment.toUtf8());
        const DataServiceBase found = effectiveDataServiceBase(commandLine);
        QCOMPARE(found.base, base);
        QCOMPARE(found.error.isEmpty(), !base.isEmpty());
        if (!base.isEmpty())
            QCOMPARE(dataServiceAddress(found.base), base + DataPath + s("?checkin=qomp58x"));
    }

    void discoveryKeepsWhatItFound()
    {
        ServicesProcess services;
        QVERIFY(start(services, s("datatemplate"), s("|data||data|{data}")));
        RecordingPlatform platform;
        ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);
        QCOMPARE(database.dataHolder().ldataurl(), s("ldataurl"));

        // An empty value is stored, lacks "provider", and so is asked for again.
        QCOMPARE(database.getconnstr().value_or(s("none")), QString());
        QCOMPARE(database.dataHolder().ldataurl(), QString());
        QVERIFY(!database.queryfirst(CountAll).error.isEmpty());
        QCOMPARE(services.requestCount(DataPath), 2);

        // With the marker only once the value is the rest of the page.
        QVERIFY(setSetting(services, s("datatemplate"), s("<p>地址|data|{data}")));
        QCOMPARE(database.getconnstr().value_or(QString()), servedText(services));
        QCOMPARE(database.dataHolder().ldataurl(), servedText(services));

        // The found text is kept: neither getconnstr nor queryfirst asks again.
        QCOMPARE(database.getconnstr().value_or(QString()), servedText(services));
        const QueryResult prices = database.queryfirst(ByKind, {s(".com")});
        QVERIFY2(prices.ok && prices.rowcount > 0, qPrintable(prices.error));
        QCOMPARE(database.connstr(), servedText(services));
        QCOMPARE(services.requestCount(DataPath), 3);
        QVERIFY(platform.messages().isEmpty());
        QCOMPARE(platform.exitRequests(), 0);
    }

    void noMarkerEndsTheProgram_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("checkin");
        QTest::addColumn<bool>("serviceDown");

        const QString right = s("qomp58x");
        QTest::newRow("marker in capitals") << s("datamarker") << s("|DATA|") << right << false;
        QTest::newRow("error page") << s("datatemplate") << s("<h1>500</h1>") << right << false;
        QTest::newRow("wrong checkin") << QString() << QString() << s("qomp58y") << false;
        QTest::newRow("service down") << QString() << QString() << right << true;
    }

    void noMarkerEndsTheProgram()
    {
        QFETCH(QString, setting);
        QFETCH(QString, value);
        QFETCH(QString, checkin);
        QFETCH(bool, serviceDown);

        ServicesProcess services;
        QVERIFY(start(services, setting, value));
        const QString address = services.baseUrl() + DataPath + s("?checkin=") + checkin;
        if (serviceDown) {
            // Answered once, so it surely serves before it is told to stop.
            QCOMPARE(services.requestCount(DataPath), 0);
            services.stop();
        }

        RecordingPlatform platform;
        ServerDatabase database(platform, address, AdminMail);
        QVERIFY(!database.getconnstr());
        QCOMPARE(platform.messages(), QStringList{FailureMessage});
        QCOMPARE(platform.exitRequests(), 1);
        QCOMPARE(database.dataHolder().ldataurl(), s("ldataurl"));
        QVERIFY(!database.queryfirst(CountAll).ok);
    }

    // Whatever the word's letter case, the service is asked once per run, even
    // by many workers at once.
    void discoveryOncePerRun_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::newRow("provider") << s("provider");
        QTest::newRow("Provider") << s("Provider");
    }

    void discoveryOncePerRun()
    {
        QFETCH(QString, provider);
        ServicesProcess services;
        QVERIFY(start(services, s("connection"), provider + s("=SQLite;Data Source={database}")));
        RecordingPlatform platform;
        ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);

        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int w = 0; w < 6; ++w)
            threads.emplace_back([&] {
                for (int i = 0; i < 8; ++i) {
                    const QString text = database.getconnstr().value_or(QString());
                    const QueryResult r = database.queryfirst(ByKind, {s(".uk")});
                    wrong += (text != servedText(services, provider) || !r.ok || r.rowcount < 2) ? 1 : 0;
                }
            });
        for (auto &thread : threads)
            thread.join();
        QCOMPARE(wrong, 0);
        QCOMPARE(services.requestCount(DataPath), 1);
        QVERIFY(platform.messages().isEmpty());
    }

    // Reading the text in force must not wait for a discovery that another
    // thread is running: that one may wait for the network, or for the user to
    // close the failure message on the very thread that reads.
    void connstrDoesNotWaitForDiscovery()
    {
        ServicesProcess services({.delayMs = 600000, .delayPath = DataPath, .databasePath = {}, .extraArguments = {}});
        QVERIFY(start(services));
        RecordingPlatform platform;
        ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);

        std::thread discovery([&] { database.getconnstr(); });
        QString seen = s("unread");
        std::atomic<bool> read{false};
        std::thread reader;
        const auto finish = qScopeGuard([&] {
            services.stop();
            discovery.join();
            if (reader.joinable())
                reader.join();
        });
        QTRY_COMPARE(services.requestCount(DataPath), 1);
        reader = std::thread([&] {
            seen = database.connstr();
            read = true;
        });
        QTRY_VERIFY(read);
        QCOMPARE(seen, s("ldataurl"));
    }
};

QTEST_GUILESS_MAIN(DataTest)
#include "DataTest.moc"
