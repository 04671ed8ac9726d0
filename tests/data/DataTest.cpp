#include "norvale/data/Adodc1.h"
#include "norvale/data/ConnectionText.h"
#include "norvale/data/ServerDatabase.h"
#include "norvale/data/ThreadConnections.h"
#include "norvale/data/fdata.h"
#include "tests/data/DataFixtures.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>
#include <vector>

using namespace norvale;
using namespace norvale::test;

namespace {

const QString DataPath = QStringLiteral("/geturl/dataurl.asp");
const QString AdminMail = QStringLiteral("dba@example.test");
const QString FailureMessage = QStringLiteral("Norvale|域名数据库无法访问，请稍后再访问或联系管理员(mail:dba@example.test)");

} // namespace

class DataTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void mapsConnectionText_data();
    void mapsConnectionText();

    void queryfirstCounts_data();
    void queryfirstCounts();
    void keywordsAreBound_data();
    void keywordsAreBound();
    void shortStatementIsNotRun();
    void missingDatabaseFileIsAnError();
    void badStatementReportsLayerMessage();
    void replacedDatabaseFileIsReopened();
    void workersQueryAtOnce();
    void odbcPassThroughReachesRealDriver();

    void sqlServerUnreachableReportsDriverMessage();

    void adodc1Navigates();
    void adodc1ReportsFailure();

    void removesFillersInOrder_data();
    void removesFillersInOrder();

    void firstGetconnstrAsksOnce();
    void concurrentFirstCallsAskOnce();
    void capitalisedProviderAsksEveryTime();
    void markerOnlyOnceTakesTheRest();
    void emptyValueIsStoredAndAskedAgain();
    void noMarkerEndsTheProgram_data();
    void noMarkerEndsTheProgram();
    void workersWithCapitalisedProvider();

private:
    QTemporaryDir m_dir;
    QString m_db;
};

void DataTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_db = m_dir.filePath(QStringLiteral("seed.db"));
    QString error;
    const QString insert = QStringLiteral("insert into ldomainprice values (?, ?, ?)");
    QVERIFY2(execWritable(m_db,
                          {{QStringLiteral("create table ldomainprice (lextendkind text, lextend text, lprice text)"), {}},
                           // Out of alphabetical order: the first row is the table's own first.
                           {insert, {QStringLiteral(".com"), QStringLiteral(".net"), QStringLiteral("55")}},
                           {insert, {QStringLiteral(".com"), QStringLiteral(".com"), QStringLiteral("60")}},
                           {insert, {QStringLiteral(".com"), QStringLiteral(".org"), QVariant()}},
                           {insert, {QStringLiteral(".cn"), QStringLiteral(".cn"), QStringLiteral("40")}},
                           {insert, {QStringLiteral("it's%"), QStringLiteral(".odd"), QStringLiteral("1")}},
                           {insert, {QStringLiteral(".nul"), QVariant(), QVariant()}}},
                          &error),
             qPrintable(error));
}

void DataTest::mapsConnectionText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("driver");       // empty: the text is refused
    QTest::addColumn<QString>("databaseName");
    QTest::addColumn<QString>("options");

    const QString tds = QStringLiteral(";TDS_Version=7.4;ClientCharset=UTF-8");
    const QString login = QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=60");
    const QString odbc = QStringLiteral("QODBC");

    QTest::newRow("sqloledb host")
        << QStringLiteral("Provider=SQLOLEDB;Data Source=db.example;DATABASE=dom;UID=sa;pwd=secret")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=db.example;DATABASE=dom;UID=sa;PWD=secret") + tds << login;
    QTest::newRow("host,port")
        << QStringLiteral("Provider=SQLOLEDB;Data Source=db.example, 1533;DATABASE=dom;UID=sa;pwd=secret")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=db.example;PORT=1533;DATABASE=dom;UID=sa;PWD=secret") + tds << login;
    QTest::newRow("host\\instance")
        << QStringLiteral("Provider=SQLOLEDB;Data Source=db.example\\SQLEXPRESS;DATABASE=dom;UID=sa;pwd=secret")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=db.example\\SQLEXPRESS;DATABASE=dom;UID=sa;PWD=secret") + tds << login;
    QTest::newRow("instance and port: port wins")
        << QStringLiteral("Provider=SQLOLEDB;Data Source=db.example\\SQLEXPRESS,1444;UID=sa;pwd=secret")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=db.example;PORT=1444;UID=sa;PWD=secret") + tds << login;
    QTest::newRow("tcp:host,port")
        << QStringLiteral("Provider=SQLOLEDB.1;Data Source=tcp:10.1.2.3,1433;DATABASE=dom;UID=sa;pwd=secret")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=10.1.2.3;PORT=1433;DATABASE=dom;UID=sa;PWD=secret") + tds << login;
    QTest::newRow("(local)")
        << QStringLiteral("Provider=SQLOLEDB;Data Source=(local);UID=sa;pwd=secret")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=localhost;UID=sa;PWD=secret") + tds << login;
    QTest::newRow("SQLNCLI11 with long key names and odd spacing")
        << QStringLiteral(" provider = SQLNCLI11 ;  data source=db.example ; Initial Catalog = dom;User ID=sa; Password = secret ;")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=db.example;DATABASE=dom;UID=sa;PWD=secret") + tds << login;
    QTest::newRow("MSOLEDBSQL19")
        << QStringLiteral("Provider=MSOLEDBSQL19;Server=db.example;Database=dom;UID=sa;PWD=secret")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=db.example;DATABASE=dom;UID=sa;PWD=secret") + tds << login;
    QTest::newRow("quoted values, ';' and '}' in the password")
        << QStringLiteral("Provider=SQLOLEDB;Data Source=\"db.example\";UID='sa';pwd='se;c}ret'")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=db.example;UID=sa;PWD={se;c}}ret}") + tds << login;
    QTest::newRow("doubled quote inside a quoted value")
        << QStringLiteral("Provider=SQLOLEDB;Data Source=db.example;UID=sa;pwd=\"it\"\"s = {x\" ")
        << odbc << QStringLiteral("DRIVER={FreeTDS};SERVER=db.example;UID=sa;PWD={it\"s = {x}") + tds << login;

    QTest::newRow("msdasql driver") << QStringLiteral("Provider=MSDASQL;Driver=SQLite3;Database=/tmp/x.db")
                                    << odbc << QStringLiteral("Driver=SQLite3;Database=/tmp/x.db") << QString();
    QTest::newRow("msdasql braces what ODBC would cut")
        << QStringLiteral("Provider=MSDASQL.1;Driver='SQLite3';Database='/tmp/a;b.db'")
        << odbc << QStringLiteral("Driver=SQLite3;Database={/tmp/a;b.db}") << QString();
    // QODBC puts "DSN=" in front itself when the text names no driver.
    QTest::newRow("msdasql data source names the DSN")
        << QStringLiteral("Provider=MSDASQL;UID=u;Data Source=nightly;PWD=secret")
        << odbc << QStringLiteral("nightly;UID=u;PWD=secret") << QString();
    QTest::newRow("msdasql with DSN and SERVER key")
        << QStringLiteral("Provider=MSDASQL;DSN=nightly;Server=db.example")
        << odbc << QStringLiteral("DSN=nightly;Server=db.example") << QString();

    QTest::newRow("sqlite") << QStringLiteral("provider=SQLite;Data Source=/var/lib/norvale/a b.db")
                            << QStringLiteral("QSQLITE") << QStringLiteral("/var/lib/norvale/a b.db")
                            << QStringLiteral("QSQLITE_OPEN_READONLY");
    QTest::newRow("sqlite quoted path with ';'") << QStringLiteral("Provider=SQLite;Data Source='/tmp/x;y.db'")
                                                 << QStringLiteral("QSQLITE") << QStringLiteral("/tmp/x;y.db")
                                                 << QStringLiteral("QSQLITE_OPEN_READONLY");

    const QString refused;
    QTest::newRow("missing provider") << QStringLiteral("Data Source=db.example;UID=sa;pwd=secret") << refused << QString() << QString();
    QTest::newRow("design-time text") << QStringLiteral("ldataurl") << refused << QString() << QString();
    QTest::newRow("empty text") << QString() << refused << QString() << QString();
    QTest::newRow("unknown provider") << QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=a.mdb;pwd=secret")
                                      << refused << QString() << QString();
    QTest::newRow("no server") << QStringLiteral("Provider=SQLOLEDB;UID=sa;pwd=secret") << refused << QString() << QString();
    QTest::newRow("port not a number") << QStringLiteral("Provider=SQLOLEDB;Data Source=db,14x3;pwd=secret") << refused << QString() << QString();
    QTest::newRow("named pipe") << QStringLiteral("Provider=SQLOLEDB;Data Source=np:\\\\db\\pipe\\sql\\query;pwd=secret")
                                << refused << QString() << QString();
    QTest::newRow("unterminated quote") << QStringLiteral("Provider=SQLOLEDB;Data Source=db;pwd='secret") << refused << QString() << QString();
    // QODBC would read a text holding ".dsn" as a file DSN.
    QTest::newRow(".dsn in the password") << QStringLiteral("Provider=SQLOLEDB;Data Source=db;pwd=my.dsn.secret") << refused << QString() << QString();
    QTest::newRow("msdasql without driver") << QStringLiteral("Provider=MSDASQL;Database=/tmp/x.db;PWD=secret") << refused << QString() << QString();
    QTest::newRow("sqlite without file") << QStringLiteral("Provider=SQLite;pwd=secret") << refused << QString() << QString();
}

void DataTest::mapsConnectionText()
{
    QFETCH(QString, text);
    QFETCH(QString, driver);
    QFETCH(QString, databaseName);
    QFETCH(QString, options);

    const SqlConnectionSettings settings = mapConnectionText(text);
    if (driver.isEmpty()) {
        QVERIFY(!settings.isValid());
        QVERIFY(!settings.error.isEmpty());
        QVERIFY2(!settings.error.contains(QLatin1StringView("secret")), qPrintable(settings.error));
        return;
    }
    QVERIFY2(settings.isValid(), qPrintable(settings.error));
    QCOMPARE(settings.driver, driver);
    QCOMPARE(settings.databaseName, databaseName);
    QCOMPARE(settings.connectOptions, options);
}

void DataTest::queryfirstCounts_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariantList>("params");
    QTest::addColumn<int>("rowcount");
    QTest::addColumn<QString>("firstvalue");

    const QString byKind = QStringLiteral("select lextend, lprice from ldomainprice where lextendkind=?");
    QTest::newRow("no row") << byKind << QVariantList{QStringLiteral(".info")} << 0 << QString();
    QTest::newRow("several rows, first in table order") << byKind << QVariantList{QStringLiteral(".com")} << 3 << QStringLiteral(".net");
    QTest::newRow("one row") << byKind << QVariantList{QStringLiteral(".cn")} << 1 << QStringLiteral(".cn");
    QTest::newRow("NULL first value") << QStringLiteral("select lextend from ldomainprice where lextendkind='.nul'")
                                      << QVariantList{} << 1 << QString();
    QTest::newRow("number") << QStringLiteral("select count(*) from ldomainprice") << QVariantList{} << 1 << QStringLiteral("6");
}

void DataTest::queryfirstCounts()
{
    QFETCH(QString, sql);
    QFETCH(QVariantList, params);
    QFETCH(int, rowcount);
    QFETCH(QString, firstvalue);

    const QueryResult result = queryFirstOn(sqliteText(m_db), sql, params);
    QVERIFY2(result.ok, qPrintable(result.error));
    QVERIFY(result.ran);
    QCOMPARE(result.rowcount, rowcount);
    QCOMPARE(result.firstvalue, firstvalue);
    QVERIFY(result.error.isEmpty());
}

void DataTest::keywordsAreBound_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("rowcount");

    QTest::newRow("quote that would close the literal") << QStringLiteral(".com' or '1'='1") << 0;
    QTest::newRow("percent is no wildcard") << QStringLiteral("%") << 0;
    QTest::newRow("quote and percent, stored as such") << QStringLiteral("it's%") << 1;
    QTest::newRow("statement separator") << QStringLiteral("x'; drop table ldomainprice; --") << 0;
}

void DataTest::keywordsAreBound()
{
    QFETCH(QString, keyword);
    QFETCH(int, rowcount);

    const QueryResult result = queryFirstOn(
        sqliteText(m_db), QStringLiteral("select lextend from ldomainprice where lextendkind=?"), {keyword});
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.rowcount, rowcount);
    const QueryResult all = queryFirstOn(sqliteText(m_db), QStringLiteral("select count(*) from ldomainprice"));
    QCOMPARE(all.firstvalue, QStringLiteral("6"));
}

void DataTest::shortStatementIsNotRun()
{
    // Not run, but the connection is still opened: a bad text still shows.
    const QueryResult shortOne = queryFirstOn(sqliteText(m_db), QStringLiteral("sel 1"));
    QVERIFY(shortOne.ok);
    QVERIFY(!shortOne.ran);
    QCOMPARE(shortOne.rowcount, 0);

    const QueryResult badText = queryFirstOn(QStringLiteral("Provider=Nothing"), QStringLiteral("x"));
    QVERIFY(!badText.ok);
    QVERIFY(!badText.error.isEmpty());
}

void DataTest::missingDatabaseFileIsAnError()
{
    const QString missing = m_dir.filePath(QStringLiteral("missing.db"));
    const QueryResult result = queryFirstOn(sqliteText(missing), QStringLiteral("select count(*) from ldomainprice"));
    QVERIFY(!result.ok);
    QVERIFY(!result.ran);
    QCOMPARE(result.rowcount, 0);
    QVERIFY(result.firstvalue.isEmpty());
    QVERIFY(!result.error.isEmpty());
    // Reading must never leave an empty database behind.
    QVERIFY(!QFile::exists(missing));

    // A failed connection is not kept: once the file exists, the same text works.
    QVERIFY(QFile::copy(m_db, missing));
    const QueryResult later = queryFirstOn(sqliteText(missing), QStringLiteral("select count(*) from ldomainprice"));
    QVERIFY2(later.ok, qPrintable(later.error));
    QCOMPARE(later.firstvalue, QStringLiteral("6"));
}

void DataTest::badStatementReportsLayerMessage()
{
    const QString text = sqliteText(m_db);
    const QueryResult result = queryFirstOn(text, QStringLiteral("select lnothing from ldomainprice"));
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(QLatin1StringView("lnothing")), qPrintable(result.error));
    QCOMPARE(result.rowcount, 0);

    // Read-only: the layer refuses writes rather than changing the server's data.
    const QueryResult write = queryFirstOn(text, QStringLiteral("delete from ldomainprice"));
    QVERIFY(!write.ok);
    QVERIFY(!write.error.isEmpty());
    QCOMPARE(queryFirstOn(text, QStringLiteral("select count(*) from ldomainprice")).firstvalue, QStringLiteral("6"));
}

void DataTest::replacedDatabaseFileIsReopened()
{
    const QString path = m_dir.filePath(QStringLiteral("swap.db"));
    QVERIFY(execWritable(path, {{QStringLiteral("create table lold (x text)"), {}}}));
    QVERIFY(queryFirstOn(sqliteText(path), QStringLiteral("select count(*) from lold")).ok);

    // The operator puts a new file in place; the kept connection still reads
    // the old one, so the layer must fall back to a fresh connection.
    QVERIFY(QFile::remove(path));
    QVERIFY(execWritable(path, {{QStringLiteral("create table lnew (x text)"), {}},
                                {QStringLiteral("insert into lnew values (?)"), {QStringLiteral("fresh")}}}));
    const QueryResult result = queryFirstOn(sqliteText(path), QStringLiteral("select x from lnew"));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.firstvalue, QStringLiteral("fresh"));
}

void DataTest::workersQueryAtOnce()
{
    const QString text = sqliteText(m_db);
    const int before = heldConnections();
    constexpr int Workers = 8;
    constexpr int Rounds = 25;
    std::vector<int> wrong(Workers, 0);
    std::vector<int> held(Workers, 0);
    {
        std::vector<std::thread> threads;
        for (int w = 0; w < Workers; ++w) {
            threads.emplace_back([&, w] {
                for (int i = 0; i < Rounds; ++i) {
                    const bool com = (i + w) % 2 == 0;
                    const QueryResult r = queryFirstOn(
                        text, QStringLiteral("select lextend from ldomainprice where lextendkind=?"),
                        {com ? QStringLiteral(".com") : QStringLiteral(".cn")});
                    if (!r.ok || r.rowcount != (com ? 3 : 1)
                        || r.firstvalue != (com ? QStringLiteral(".net") : QStringLiteral(".cn")))
                        ++wrong[w];
                }
                held[w] = threadConnectionCount();
            });
        }
        for (auto &thread : threads)
            thread.join();
    }
    for (int w = 0; w < Workers; ++w) {
        QCOMPARE(wrong[w], 0);
        QCOMPARE(held[w], 1);  // reused, not one per query
    }
    // Each worker's connection went away with its thread.
    QCOMPARE(heldConnections(), before);
}

void DataTest::odbcPassThroughReachesRealDriver()
{
    const QString text = QStringLiteral("Provider=MSDASQL;Driver=SQLite3;Database=") + m_db;
    const QueryResult rows = queryFirstOn(
        text, QStringLiteral("select lextend from ldomainprice where lextendkind=?"), {QStringLiteral(".com")});
    QVERIFY2(rows.ok, qPrintable(rows.error));
    QCOMPARE(rows.rowcount, 3);
    QCOMPARE(rows.firstvalue, QStringLiteral(".net"));

    const QueryResult quoted = queryFirstOn(
        text, QStringLiteral("select lextend from ldomainprice where lextendkind=?"), {QStringLiteral("it's%")});
    QVERIFY2(quoted.ok, qPrintable(quoted.error));
    QCOMPARE(quoted.rowcount, 1);
    QCOMPARE(quoted.firstvalue, QStringLiteral(".odd"));

    // "=" and blanks in a value pass as they are: this driver reads braces literally.
    const QString oddPath = m_dir.filePath(QStringLiteral("odd = name.db"));
    QVERIFY(QFile::copy(m_db, oddPath));
    const QueryResult odd = queryFirstOn(QStringLiteral("Provider=MSDASQL;Driver=SQLite3;Database='") + oddPath + u'\'',
                                         QStringLiteral("select count(*) from ldomainprice"));
    QVERIFY2(odd.ok, qPrintable(odd.error));
    QCOMPARE(odd.firstvalue, QStringLiteral("6"));

    const QueryResult badDriver = queryFirstOn(QStringLiteral("Provider=MSDASQL;Driver=NoSuchDriver;pwd=secret"),
                                               QStringLiteral("select 1 as one"));
    QVERIFY(!badDriver.ok);
    QVERIFY(!badDriver.error.isEmpty());
    QVERIFY2(!badDriver.error.contains(QLatin1StringView("secret")), qPrintable(badDriver.error));
}

void DataTest::sqlServerUnreachableReportsDriverMessage()
{
    // A loopback port that surely has no listener: the service's, once it stopped.
    ServicesProcess services;
    QString why;
    QVERIFY2(services.start(&why), qPrintable(why));
    QCOMPARE(requestCount(services, DataPath), 0);
    services.stop();

    const QString text = QStringLiteral("Provider=SQLOLEDB;Data Source=127.0.0.1,%1;DATABASE=dom;UID=sa;pwd='se;c}ret'")
                             .arg(services.port());
    const int before = threadConnectionCount();
    const QueryResult result = queryFirstOn(text, QStringLiteral("select lextend from ldomainprice"));
    QVERIFY(!result.ok);
    // FreeTDS itself answered: the mapped text reached the driver intact.
    QVERIFY2(result.error.contains(QLatin1StringView("FreeTDS")), qPrintable(result.error));
    QVERIFY2(!result.error.contains(QLatin1StringView("c}ret")), qPrintable(result.error));
    QCOMPARE(threadConnectionCount(), before);  // a failed connection is not kept
}

void DataTest::adodc1Navigates()
{
    Adodc1 adodc;
    adodc.setConnectionString(sqliteText(m_db));
    adodc.setRecordSource(QStringLiteral("select lextend, LPrice from ldomainprice where lextendkind=?"),
                          {QStringLiteral(".com")});
    QVERIFY2(adodc.Refresh(), qPrintable(adodc.error()));
    QCOMPARE(adodc.RecordCount(), 3);
    QCOMPARE(adodc.fieldNames().join(u',').toLower(), QStringLiteral("lextend,lprice"));
    QVERIFY(!adodc.bof());
    QVERIFY(!adodc.eof());
    QCOMPARE(adodc.value(QStringLiteral("LEXTEND")), QStringLiteral(".net"));
    QCOMPARE(adodc.value(QStringLiteral("lprice")), QStringLiteral("55"));

    QStringList seen;
    for (adodc.MoveFirst(); !adodc.eof(); adodc.MoveNext())
        seen << adodc.value(QStringLiteral("lextend")) + u'=' + adodc.value(QStringLiteral("lprice"));
    QCOMPARE(seen, (QStringList{QStringLiteral(".net=55"), QStringLiteral(".com=60"), QStringLiteral(".org=")}));
    QVERIFY(adodc.value(QStringLiteral("lextend")).isEmpty());  // no current row at the end
    adodc.MoveNext();
    QVERIFY(adodc.eof());

    adodc.Move(-2);
    QCOMPARE(adodc.value(QStringLiteral("lextend")), QStringLiteral(".com"));
    adodc.Move(-5);
    QVERIFY(adodc.bof());
    QVERIFY(!adodc.eof());
    adodc.Move(2);
    QCOMPARE(adodc.value(QStringLiteral("lextend")), QStringLiteral(".com"));
    QVERIFY(adodc.value(QStringLiteral("nosuchcolumn")).isEmpty());
    QVERIFY(!adodc.hasField(QStringLiteral("nosuchcolumn")));

    adodc.setRecordSource(QStringLiteral("select lextend from ldomainprice where lextendkind=?"), {QStringLiteral(".none")});
    QVERIFY(adodc.Refresh());
    QCOMPARE(adodc.RecordCount(), 0);
    QVERIFY(adodc.bof());
    QVERIFY(adodc.eof());
    adodc.MoveNext();
    adodc.Move(3);
    QVERIFY(adodc.eof());
    QVERIFY(adodc.value(QStringLiteral("lextend")).isEmpty());
}

void DataTest::adodc1ReportsFailure()
{
    Adodc1 adodc;
    adodc.setConnectionString(sqliteText(m_db));
    adodc.setRecordSource(QStringLiteral("select lextend from ldomainprice"));
    QVERIFY(adodc.Refresh());
    QCOMPARE(adodc.RecordCount(), 6);

    // A failed refresh leaves no stale rows behind.
    adodc.setRecordSource(QStringLiteral("select lextend from lnotable"));
    QVERIFY(!adodc.Refresh());
    QVERIFY2(adodc.error().contains(QLatin1StringView("lnotable")), qPrintable(adodc.error()));
    QCOMPARE(adodc.RecordCount(), 0);
    QVERIFY(adodc.eof());

    adodc.setConnectionString(sqliteText(m_dir.filePath(QStringLiteral("gone.db"))));
    adodc.setRecordSource(QStringLiteral("select lextend from ldomainprice"));
    QVERIFY(!adodc.Refresh());
    QVERIFY(!adodc.error().isEmpty());
}

void DataTest::removesFillersInOrder_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("between characters") << QStringLiteral("pro58_tovrakvider=3plenix9SQLite;Data 58_tovrakSource=x3plenix9")
                                        << QStringLiteral("provider=SQLite;Data Source=x");
    QTest::newRow("joined by the first removal") << QStringLiteral("ab3ple58_tovraknix9cd") << QStringLiteral("abcd");
    QTest::newRow("not the other way round") << QStringLiteral("ab58_to3plenix9vrakcd") << QStringLiteral("ab58_tovrakcd");
    QTest::newRow("case matters") << QStringLiteral("58_TOVRAK3Plenix9") << QStringLiteral("58_TOVRAK3Plenix9");
    QTest::newRow("only fillers") << QStringLiteral("58_tovrak3plenix958_tovrak") << QString();
}

void DataTest::removesFillersInOrder()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(fdata::removeFillers(value), expected);
}

void DataTest::firstGetconnstrAsksOnce()
{
    ServicesProcess services;
    QString why;
    QVERIFY2(services.start(&why), qPrintable(why));
    test::RecordingPlatform platform;
    ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);
    QCOMPARE(database.dataHolder().ldataurl(), QStringLiteral("ldataurl"));
    QVERIFY(database.connstr().isEmpty());

    const std::optional<QString> first = database.getconnstr();
    QVERIFY(first);
    QCOMPARE(*first, servedText(services));
    QCOMPARE(database.connstr(), servedText(services));
    QCOMPARE(database.dataHolder().ldataurl(), servedText(services));
    QCOMPARE(requestCount(services, DataPath), 1);

    QCOMPARE(database.getconnstr().value_or(QString()), servedText(services));
    const QueryResult prices = database.queryfirst(
        QStringLiteral("select lextend from ldomainprice where lextendkind=?"), {QStringLiteral(".com")});
    QVERIFY2(prices.ok, qPrintable(prices.error));
    QVERIFY(prices.rowcount > 0);
    QVERIFY(!prices.firstvalue.isEmpty());
    QCOMPARE(requestCount(services, DataPath), 1);
    QVERIFY(platform.messages().isEmpty());
    QCOMPARE(platform.exitRequests(), 0);
}

void DataTest::concurrentFirstCallsAskOnce()
{
    ServicesProcess services;
    QString why;
    QVERIFY2(services.start(&why), qPrintable(why));
    test::RecordingPlatform platform;
    ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);

    constexpr int Workers = 6;
    std::vector<QString> seen(Workers);
    {
        std::vector<std::thread> threads;
        for (int w = 0; w < Workers; ++w)
            threads.emplace_back([&, w] { seen[w] = database.getconnstr().value_or(QString()); });
        for (auto &thread : threads)
            thread.join();
    }
    for (const QString &text : seen)
        QCOMPARE(text, servedText(services));
    QCOMPARE(requestCount(services, DataPath), 1);
}

void DataTest::capitalisedProviderAsksEveryTime()
{
    ServicesProcess services;
    QString why;
    QVERIFY2(services.start(&why), qPrintable(why));
    QVERIFY(setSetting(services, QStringLiteral("connection"), QStringLiteral("Provider=SQLite;Data Source={database}")));
    test::RecordingPlatform platform;
    ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);

    const QString expected = servedText(services, QStringLiteral("Provider"));
    for (int call = 1; call <= 3; ++call) {
        QCOMPARE(database.getconnstr().value_or(QString()), expected);
        QCOMPARE(requestCount(services, DataPath), call);
    }
    // queryfirst goes through getconnstr, so it asks too, and still reads.
    const QueryResult count = database.queryfirst(QStringLiteral("select count(*) from ldomainprice"));
    QVERIFY2(count.ok, qPrintable(count.error));
    QVERIFY(count.firstvalue.toInt() > 0);
    QCOMPARE(requestCount(services, DataPath), 4);
}

void DataTest::markerOnlyOnceTakesTheRest()
{
    ServicesProcess services;
    QString why;
    QVERIFY2(services.start(&why), qPrintable(why));
    QVERIFY(setSetting(services, QStringLiteral("datatemplate"), QStringLiteral("<p>地址|data|{data}")));
    test::RecordingPlatform platform;
    ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);
    QCOMPARE(database.getconnstr().value_or(QString()), servedText(services));
}

void DataTest::emptyValueIsStoredAndAskedAgain()
{
    ServicesProcess services;
    QString why;
    QVERIFY2(services.start(&why), qPrintable(why));
    QVERIFY(setSetting(services, QStringLiteral("datatemplate"), QStringLiteral("|data||data|{data}")));
    test::RecordingPlatform platform;
    ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);

    QCOMPARE(database.getconnstr().value_or(QStringLiteral("none")), QString());
    QCOMPARE(database.dataHolder().ldataurl(), QString());
    const QueryResult result = database.queryfirst(QStringLiteral("select count(*) from ldomainprice"));
    QVERIFY(!result.ok);
    QVERIFY(!result.error.isEmpty());
    QCOMPARE(requestCount(services, DataPath), 2);
    QVERIFY(platform.messages().isEmpty());
}

void DataTest::noMarkerEndsTheProgram_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("checkin");
    QTest::addColumn<bool>("serviceDown");

    const QString right = QStringLiteral("qomp58x");
    QTest::newRow("marker in capitals") << QStringLiteral("datamarker") << QStringLiteral("|DATA|") << right << false;
    QTest::newRow("error page") << QStringLiteral("datatemplate") << QStringLiteral("<h1>500</h1>") << right << false;
    QTest::newRow("wrong checkin") << QString() << QString() << QStringLiteral("qomp58y") << false;
    QTest::newRow("service down") << QString() << QString() << right << true;
}

void DataTest::noMarkerEndsTheProgram()
{
    QFETCH(QString, setting);
    QFETCH(QString, value);
    QFETCH(QString, checkin);
    QFETCH(bool, serviceDown);

    ServicesProcess services;
    QString why;
    QVERIFY2(services.start(&why), qPrintable(why));
    if (!setting.isEmpty())
        QVERIFY(setSetting(services, setting, value));
    const QString address = services.baseUrl() + DataPath + QStringLiteral("?checkin=") + checkin;
    if (serviceDown) {
        // Answered once, so it surely serves before it is told to stop.
        QCOMPARE(requestCount(services, DataPath), 0);
        services.stop();  // nothing listens on its port any more
    }

    test::RecordingPlatform platform;
    ServerDatabase database(platform, address, AdminMail);
    QVERIFY(!database.getconnstr());
    QCOMPARE(platform.messages(), QStringList{FailureMessage});
    QCOMPARE(platform.exitRequests(), 1);
    QCOMPARE(database.dataHolder().ldataurl(), QStringLiteral("ldataurl"));

    const QueryResult result = database.queryfirst(QStringLiteral("select count(*) from ldomainprice"));
    QVERIFY(!result.ok);
    QCOMPARE(result.rowcount, 0);
}

void DataTest::workersWithCapitalisedProvider()
{
    ServicesProcess services;
    QString why;
    QVERIFY2(services.start(&why), qPrintable(why));
    QVERIFY(setSetting(services, QStringLiteral("connection"), QStringLiteral("Provider=SQLite;Data Source={database}")));
    test::RecordingPlatform platform;
    ServerDatabase database(platform, services.dataServiceUrl(), AdminMail);

    const QueryResult expected = database.queryfirst(
        QStringLiteral("select lextend from ldomainprice where lextendkind=?"), {QStringLiteral(".uk")});
    QVERIFY2(expected.ok, qPrintable(expected.error));
    QVERIFY(expected.rowcount > 1);

    constexpr int Workers = 6;
    constexpr int Rounds = 8;
    std::vector<int> wrong(Workers, 0);
    {
        std::vector<std::thread> threads;
        for (int w = 0; w < Workers; ++w) {
            threads.emplace_back([&, w] {
                for (int i = 0; i < Rounds; ++i) {
                    const QString text = database.getconnstr().value_or(QString());
                    const QueryResult r = database.queryfirst(
                        QStringLiteral("select lextend from ldomainprice where lextendkind=?"), {QStringLiteral(".uk")});
                    if (!text.startsWith(QLatin1StringView("Provider=SQLite;Data Source=/")) || !r.ok
                        || r.rowcount != expected.rowcount || r.firstvalue != expected.firstvalue)
                        ++wrong[w];
                }
            });
        }
        for (auto &thread : threads)
            thread.join();
    }
    for (int w = 0; w < Workers; ++w)
        QCOMPARE(wrong[w], 0);
    QCOMPARE(requestCount(services, DataPath), 1 + 2 * Workers * Rounds);
    QVERIFY(platform.messages().isEmpty());
}

QTEST_GUILESS_MAIN(DataTest)
#include "DataTest.moc"
