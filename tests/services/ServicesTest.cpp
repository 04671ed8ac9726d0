// norvale-services as a separate process, over real HTTP and a real SQLite file.
#include "tests/support/ServicesProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <httplib.h>

#include <atomic>
#include <thread>

using norvale::test::ServicesProcess;

namespace {

const QStringList kConfigColumns{
    QStringLiteral("lver"),        QStringLiteral("lhomeurl"),    QStringLiteral("ldownurl"),
    QStringLiteral("lqq"),         QStringLiteral("lqqimg"),      QStringLiteral("lqqurl"),
    QStringLiteral("ltaobaoimg"),  QStringLiteral("ltaobaourl"),  QStringLiteral("lmailurl"),
    QStringLiteral("lmail"),       QStringLiteral("lbuyurl"),     QStringLiteral("llinkurl"),
    QStringLiteral("lbaidupage"),  QStringLiteral("lbaidulink"),  QStringLiteral("lgooglelink"),
    QStringLiteral("lgooglepage"), QStringLiteral("lyahoopage"),  QStringLiteral("lyahoolink"),
    QStringLiteral("lyoudaopage"), QStringLiteral("lyoudaolink"), QStringLiteral("lsosopage"),
    QStringLiteral("lbingpage"),   QStringLiteral("lsougoupage"), QStringLiteral("lalexa"),
    QStringLiteral("lwhoisurl"),   QStringLiteral("ldomainurl"),  QStringLiteral("lipurl"),
    QStringLiteral("lipmessurl"),  QStringLiteral("lweburl"),     QStringLiteral("lbbsurl"),
    QStringLiteral("lchaturl"),    QStringLiteral("lgbookurl")};

const QStringList kKinds{
    QStringLiteral(".com"), QStringLiteral(".net"), QStringLiteral(".org"), QStringLiteral(".info"),
    QStringLiteral(".name"), QStringLiteral(".biz"), QStringLiteral(".us"), QStringLiteral(".uk"),
    QStringLiteral(".eu"), QStringLiteral(".de"), QStringLiteral(".es"), QStringLiteral(".in"),
    QStringLiteral(".co"), QStringLiteral(".asia"), QStringLiteral(".tk"), QStringLiteral(".cn"),
    QStringLiteral(".other")};

// A connection of the test's own to the service's database file.
class Database final {
public:
    explicit Database(const QString &path)
        : m_name(QStringLiteral("test-") + QString::number(++s_counter))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        db.open();
    }
    ~Database()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    Q_DISABLE_COPY_MOVE(Database)

    bool exec(const QString &sql, const QVariantList &values = {}) const
    {
        QSqlQuery query(QSqlDatabase::database(m_name));
        query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (!query.exec()) {
            qWarning() << query.lastError().text() << sql;
            return false;
        }
        return true;
    }
    QVariant value(const QString &sql, const QVariantList &values = {}) const
    {
        QSqlQuery query(QSqlDatabase::database(m_name));
        query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (query.exec() && query.next())
            return query.value(0);
        return {};
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name); }

private:
    static inline int s_counter = 0;
    QString m_name;
};

// GET of a full address on the service.
httplib::Result fetch(const QString &address)
{
    const QUrl url(address);
    httplib::Client client(url.host().toStdString(), url.port(80));
    client.set_read_timeout(30, 0);
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    return client.Get(target.toStdString());
}

// The body of a successful fetch; empty when nothing came back.
std::string bodyOf(const QString &address)
{
    const auto result = fetch(address);
    return result ? result->body : std::string();
}

int statusOf(const QString &address)
{
    const auto result = fetch(address);
    return result ? result->status : -1;
}

QString gb2312(const std::string &bytes)
{
    QStringDecoder decoder("GB2312");
    return decoder.decode(QByteArray::fromStdString(bytes));
}

QString utf8(const std::string &bytes)
{
    return QString::fromUtf8(QByteArray::fromStdString(bytes));
}

// The text between the first two occurrences of marker, or a null string.
QString between(const QString &page, const QString &marker)
{
    const qsizetype first = page.indexOf(marker);
    if (first < 0)
        return {};
    const qsizetype start = first + marker.size();
    const qsizetype next = page.indexOf(marker, start);
    return page.mid(start, next < 0 ? -1 : next - start);
}

QString configValue(const ServicesProcess &services, const QString &column)
{
    Database db(services.databasePath());
    return db.value(QStringLiteral("SELECT ") + column + QStringLiteral(" FROM lconfig_all")).toString();
}

} // namespace

class ServicesTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void freshStartCreatesDatabase();
    void restartRewritesBaseAddress();
    void staleTemporaryFileIsReplaced();

    void dataAddressCarriesConnectionText();
    void dataAddressFollowsSettingsEdits();
    void dataAddressRefusesWrongCheckin_data();
    void dataAddressRefusesWrongCheckin();

    void domainStatus_data();
    void domainStatus();
    void whoisPage_data();
    void whoisPage();
    void ipReverseListsHostedDomains();
    void ipLocationCarriesNineFields();

    void installerWithAndWithoutLength();
    void installerFollowsConfiguration();
    void picturesAndLinkPages();

    void statsCountRequests();
    void terminateEndsCleanlyDuringDelay();
    void badOptionsExitWithTwo_data();
    void badOptionsExitWithTwo();

private:
    ServicesProcess m_services;
};

void ServicesTest::initTestCase()
{
    QString error;
    QVERIFY2(m_services.start(&error), qPrintable(error));
}

void ServicesTest::freshStartCreatesDatabase()
{
    QVERIFY(QFileInfo::exists(m_services.databasePath()));
    QVERIFY(!QFileInfo::exists(m_services.databasePath() + QStringLiteral(".tmp")));
    Database db(m_services.databasePath());

    QStringList kinds;
    QSqlQuery query(db.db());
    QVERIFY(query.exec(QStringLiteral("SELECT DISTINCT lextendkind FROM ldomainprice ORDER BY rowid")));
    while (query.next())
        kinds << query.value(0).toString();
    QCOMPARE(kinds, kKinds);
    QVERIFY(db.value(QStringLiteral("SELECT count(*) FROM ldomainprice WHERE lextendkind = '.cn'")).toInt() >= 8);
    QVERIFY(db.value(QStringLiteral("SELECT count(*) FROM ldomainprice WHERE lextendkind = '.other'")).toInt() >= 12);
    QVERIFY(db.value(QStringLiteral("SELECT count(*) FROM ldomainlist")).toInt() >= 200);

    QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM lconfig_all")).toInt(), 1);
    QVERIFY(query.exec(QStringLiteral("SELECT * FROM lconfig_all")));
    QVERIFY(query.next());
    const QSqlRecord record = query.record();
    QStringList columns;
    for (int i = 0; i < record.count(); ++i)
        columns << record.fieldName(i);
    QCOMPARE(columns, kConfigColumns);
    for (const QString &key : {QStringLiteral("ldomainurl"), QStringLiteral("lwhoisurl"),
                               QStringLiteral("lipurl"), QStringLiteral("lipmessurl"),
                               QStringLiteral("ldownurl"), QStringLiteral("lbuyurl")}) {
        QVERIFY2(record.value(key).toString().startsWith(m_services.baseUrl() + u'/'), qPrintable(key));
    }
}

void ServicesTest::restartRewritesBaseAddress()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ServicesProcess::Options options;
    options.databasePath = dir.filePath(QStringLiteral("kept.db"));
    QString firstBase;
    {
        ServicesProcess first(options);
        QString error;
        QVERIFY2(first.start(&error), qPrintable(error));
        firstBase = first.baseUrl();
    }
    {
        // As if the row had been written for another port, plus operator edits.
        Database db(options.databasePath);
        for (const QString &column : kConfigColumns) {
            QVERIFY(db.exec(QStringLiteral("UPDATE lconfig_all SET ") + column + QStringLiteral(" = replace(")
                                + column + QStringLiteral(", ?, 'http://127.0.0.1:1')"),
                            {firstBase}));
        }
        QVERIFY(db.exec(QStringLiteral("UPDATE svc_settings SET lvalue = 'http://127.0.0.1:1' WHERE lkey = 'base'")));
        QVERIFY(db.exec(QStringLiteral(
            "UPDATE lconfig_all SET ldomainurl = 'http://127.0.0.1:1/query/domain.asp?domain=', "
            "lweburl = 'http://127.0.0.1:1', lhomeurl = 'http://127.0.0.1:10/home', "
            "lbbsurl = 'http://bbs.norvale.test/'")));
    }
    ServicesProcess second(options);
    QString error;
    QVERIFY2(second.start(&error), qPrintable(error));
    const QString base = second.baseUrl();
    QCOMPARE(configValue(second, QStringLiteral("ldomainurl")), base + QStringLiteral("/query/domain.asp?domain="));
    QCOMPARE(configValue(second, QStringLiteral("lweburl")), base);
    QCOMPARE(configValue(second, QStringLiteral("lhomeurl")), QStringLiteral("http://127.0.0.1:10/home"));
    QCOMPARE(configValue(second, QStringLiteral("lbbsurl")), QStringLiteral("http://bbs.norvale.test/"));
    Database db(options.databasePath);
    QCOMPARE(db.value(QStringLiteral("SELECT lvalue FROM svc_settings WHERE lkey = 'base'")).toString(), base);

    // And the rewritten address really serves.
    const auto result = fetch(configValue(second, QStringLiteral("lwhoisurl")) + QStringLiteral("x.test"));
    QVERIFY(result);
    QCOMPARE(result->status, 200);
}

void ServicesTest::staleTemporaryFileIsReplaced()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ServicesProcess::Options options;
    options.databasePath = dir.filePath(QStringLiteral("new.db"));
    QFile stale(options.databasePath + QStringLiteral(".tmp"));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("half a database from a start that was killed");
    stale.close();

    ServicesProcess services(options);
    QString error;
    QVERIFY2(services.start(&error), qPrintable(error));
    QVERIFY(!QFileInfo::exists(stale.fileName()));
    Database db(options.databasePath);
    QCOMPARE(db.value(QStringLiteral("SELECT count(DISTINCT lextendkind) FROM ldomainprice")).toInt(), 17);
}

void ServicesTest::dataAddressCarriesConnectionText()
{
    const auto result = fetch(m_services.dataServiceUrl());
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QVERIFY(QString::fromStdString(result->get_header_value("Content-Type")).contains(QStringLiteral("gb2312")));
    const QString page = gb2312(result->body);
    QVERIFY(page.contains(QStringLiteral("数据")));
    QCOMPARE(page.count(QStringLiteral("|data|")), 2);

    QString value = between(page, QStringLiteral("|data|"));
    QVERIFY(value.count(QStringLiteral("58_tovrak")) >= 2);
    QVERIFY(value.count(QStringLiteral("3plenix9")) >= 2);
    QVERIFY(value.contains(QStringLiteral("3ple58_tovraknix9")));
    value.remove(QStringLiteral("58_tovrak"));
    value.remove(QStringLiteral("3plenix9"));
    QCOMPARE(value, QStringLiteral("provider=SQLite;Data Source=")
                        + QFileInfo(m_services.databasePath()).absoluteFilePath());
}

void ServicesTest::dataAddressFollowsSettingsEdits()
{
    ServicesProcess services;
    QString error;
    QVERIFY2(services.start(&error), qPrintable(error));
    Database db(services.databasePath());

    const QString text = QStringLiteral("Provider=SQLOLEDB;Data Source=db.norvale.test,1433;DATABASE=domains;UID=reader;pwd=s3cret");
    QVERIFY(db.exec(QStringLiteral("UPDATE svc_settings SET lvalue = ? WHERE lkey = 'connection'"), {text}));
    QString value = between(gb2312(bodyOf(services.dataServiceUrl())), QStringLiteral("|data|"));
    value.remove(QStringLiteral("58_tovrak"));
    value.remove(QStringLiteral("3plenix9"));
    QCOMPARE(value, text);

    // A page of the operator's own making: the marker once, then the rest.
    QVERIFY(db.exec(QStringLiteral("UPDATE svc_settings SET lvalue = '<p>说明 |data|{data}</p>' WHERE lkey = 'datatemplate'")));
    const QString page = gb2312(bodyOf(services.dataServiceUrl()));
    QCOMPARE(page.count(QStringLiteral("|data|")), 1);
    QVERIFY(page.startsWith(QStringLiteral("<p>说明 |data|58_tovrak")));

    QVERIFY(db.exec(QStringLiteral("UPDATE svc_settings SET lvalue = 'letmein' WHERE lkey = 'checkin'")));
    QVERIFY(!gb2312(bodyOf(services.dataServiceUrl())).contains(QStringLiteral("|data|")));
    QVERIFY(gb2312(bodyOf(services.baseUrl() + QStringLiteral("/geturl/dataurl.asp?checkin=letmein")))
                .contains(QStringLiteral("|data|")));
}

void ServicesTest::dataAddressRefusesWrongCheckin_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("missing") << QString();
    QTest::newRow("empty") << QStringLiteral("?checkin=");
    QTest::newRow("wrong case") << QStringLiteral("?checkin=QOMP58X");
    QTest::newRow("longer") << QStringLiteral("?checkin=qomp58xx");
    QTest::newRow("other parameter") << QStringLiteral("?check=qomp58x");
}

void ServicesTest::dataAddressRefusesWrongCheckin()
{
    QFETCH(QString, query);
    const auto result = fetch(m_services.baseUrl() + QStringLiteral("/geturl/dataurl.asp") + query);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    const QString page = gb2312(result->body);
    QVERIFY(page.contains(QStringLiteral("<html>")));
    QVERIFY(!page.contains(QStringLiteral("|data|")));
    QVERIFY(!page.contains(QStringLiteral("provider")));
}

void ServicesTest::domainStatus_data()
{
    Database db(m_services.databasePath());
    const QString filed = db.value(QStringLiteral("SELECT lallname FROM ldomainlist LIMIT 1")).toString();
    const QString registered = db.value(QStringLiteral("SELECT ldomain FROM svc_registered LIMIT 1")).toString();
    QVERIFY(db.exec(QStringLiteral("INSERT INTO svc_registered VALUES ('added-while-running.test')")));

    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("expected");   // the marked value, null for none
    QTest::newRow("filed") << filed << filed;
    QTest::newRow("filed, capitals") << filed.toUpper() << filed;
    QTest::newRow("registered, not filed") << registered << registered;
    QTest::newRow("added while running") << QStringLiteral("added-while-running.test")
                                         << QStringLiteral("added-while-running.test");
    QTest::newRow("unknown") << QStringLiteral("surely-free-q7x.com") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("marker echoed") << QStringLiteral("|domain|") << QString();
    QTest::newRow("quote") << QStringLiteral("o'neil.com") << QString();
}

void ServicesTest::domainStatus()
{
    QFETCH(QString, domain);
    QFETCH(QString, expected);
    const auto result = fetch(configValue(m_services, QStringLiteral("ldomainurl"))
                              + QString::fromLatin1(QUrl::toPercentEncoding(domain)));
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QVERIFY(QString::fromStdString(result->get_header_value("Content-Type")).contains(QStringLiteral("gb2312")));
    const QString page = gb2312(result->body);
    if (expected.isNull()) {
        QVERIFY(!page.contains(QStringLiteral("|domain|")));
    } else {
        QCOMPARE(page.count(QStringLiteral("|domain|")), 2);
        QCOMPARE(between(page, QStringLiteral("|domain|")), expected);
    }
}

void ServicesTest::whoisPage_data()
{
    Database db(m_services.databasePath());
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("registrant");   // null: no whois text expected
    QTest::newRow("filed")
        << db.value(QStringLiteral("SELECT lallname FROM ldomainlist ORDER BY rowid LIMIT 1")).toString()
        << db.value(QStringLiteral("SELECT lbackhost FROM ldomainlist ORDER BY rowid LIMIT 1")).toString();
    QTest::newRow("unknown") << QStringLiteral("surely-free-q7x.com") << QString();
    QTest::newRow("marker echoed") << QStringLiteral("|whois|") << QString();
}

void ServicesTest::whoisPage()
{
    QFETCH(QString, domain);
    QFETCH(QString, registrant);
    const auto result = fetch(configValue(m_services, QStringLiteral("lwhoisurl"))
                              + QString::fromLatin1(QUrl::toPercentEncoding(domain)));
    QVERIFY(result);
    const QString page = utf8(result->body);
    if (registrant.isNull()) {
        QVERIFY(!page.contains(QStringLiteral("|whois|")));
        return;
    }
    const QString text = between(page, QStringLiteral("|whois|"));
    QCOMPARE(page.count(QStringLiteral("|whois|")), 2);
    QVERIFY(text.count(QStringLiteral("\n")) >= 5);
    QVERIFY(text.contains(QStringLiteral("Domain Name: ") + domain.toUpper()));
    QVERIFY2(text.contains(registrant), qPrintable(text));
}

void ServicesTest::ipReverseListsHostedDomains()
{
    Database db(m_services.databasePath());
    QVERIFY(db.exec(QStringLiteral("INSERT INTO svc_hosts VALUES ('one.test', '127.0.0.9'), "
                                   "('two.test', '127.0.0.9'), ('elsewhere.test', '127.0.0.10')")));
    const QString lookup = configValue(m_services, QStringLiteral("lipurl"));

    const QString page = utf8(bodyOf(lookup + QStringLiteral("127.0.0.9")));
    const QStringList pieces = page.split(QStringLiteral("|cite|"));
    QCOMPARE(pieces.size(), 3);
    QVERIFY(pieces.at(1).startsWith(QStringLiteral("one.test|/cite|")));
    QVERIFY(pieces.at(2).startsWith(QStringLiteral("two.test|/cite|")));

    // Seeded addresses carry several domains each.
    const QString shared = db.value(QStringLiteral(
        "SELECT lip FROM svc_hosts GROUP BY lip HAVING count(*) > 2 LIMIT 1")).toString();
    QVERIFY(!shared.isEmpty());
    QVERIFY(utf8(bodyOf(lookup + shared)).count(QStringLiteral("|cite|")) > 2);

    QVERIFY(!utf8(bodyOf(lookup + QStringLiteral("127.0.0.99"))).contains(QStringLiteral("|cite|")));
    QVERIFY(!utf8(bodyOf(lookup)).contains(QStringLiteral("|cite|")));
}

void ServicesTest::ipLocationCarriesNineFields()
{
    Database db(m_services.databasePath());
    QSqlQuery query(db.db());
    QVERIFY(query.exec(QStringLiteral("SELECT lip, lcountry, lregion, lcity, llatitude, llongitude, "
                                      "lzipcode, ltimezone, lisp, liddcode FROM svc_geo "
                                      "WHERE lcountry <> '' LIMIT 1")));
    QVERIFY(query.next());
    const QString lookup = configValue(m_services, QStringLiteral("lipmessurl"));
    const QString page = utf8(bodyOf(lookup + query.value(0).toString()));
    const QStringList markers{QStringLiteral("country"),  QStringLiteral("region"),   QStringLiteral("city"),
                              QStringLiteral("latitude"), QStringLiteral("longitude"), QStringLiteral("zipcode"),
                              QStringLiteral("timezone"), QStringLiteral("isp"),      QStringLiteral("iddcode")};
    for (int i = 0; i < markers.size(); ++i) {
        const QString marker = u'|' + markers.at(i) + u'|';
        QCOMPARE(page.count(marker), 2);
        QCOMPARE(between(page, marker), query.value(i + 1).toString());
    }

    const QString unknown = utf8(bodyOf(lookup + QStringLiteral("127.0.0.99")));
    QVERIFY(!unknown.contains(QStringLiteral("|country|")));
}

void ServicesTest::installerWithAndWithoutLength()
{
    const QString address = configValue(m_services, QStringLiteral("ldownurl"));
    const QString name = address.section(u'/', -1);
    QVERIFY(!name.isEmpty());

    const auto sized = fetch(address);
    QVERIFY(sized);
    QCOMPARE(sized->status, 200);
    QVERIFY(sized->has_header("Content-Length"));
    QCOMPARE(sized->get_header_value("Content-Length"), std::to_string(sized->body.size()));
    QVERIFY(sized->body.size() >= 100 * 1024);

    const auto chunked = fetch(m_services.baseUrl() + QStringLiteral("/download/chunked/") + name);
    QVERIFY(chunked);
    QCOMPARE(chunked->status, 200);
    QVERIFY(!chunked->has_header("Content-Length"));
    QCOMPARE(chunked->get_header_value("Transfer-Encoding"), std::string("chunked"));
    QVERIFY(chunked->body == sized->body);

    // The same bytes on every start.
    ServicesProcess other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(bodyOf(other.baseUrl() + QStringLiteral("/download/") + name) == sized->body);
}

void ServicesTest::installerFollowsConfiguration()
{
    ServicesProcess services;
    QString error;
    QVERIFY2(services.start(&error), qPrintable(error));
    Database db(services.databasePath());
    QVERIFY(db.exec(QStringLiteral("UPDATE lconfig_all SET ldownurl = ?"),
                    {QString(services.baseUrl() + QStringLiteral("/download/Setup2.exe"))}));
    QVERIFY(db.exec(QStringLiteral("UPDATE svc_settings SET lvalue = '0' WHERE lkey = 'installer_size'")));

    const auto renamed = fetch(services.baseUrl() + QStringLiteral("/download/Setup2.exe"));
    QVERIFY(renamed);
    QCOMPARE(renamed->status, 200);
    QCOMPARE(renamed->get_header_value("Content-Length"), std::string("0"));
    QVERIFY(renamed->body.empty());
    const auto emptyChunked = fetch(services.baseUrl() + QStringLiteral("/download/chunked/Setup2.exe"));
    QVERIFY(emptyChunked);
    QCOMPARE(emptyChunked->status, 200);
    QVERIFY(emptyChunked->body.empty());
    QCOMPARE(statusOf(services.baseUrl() + QStringLiteral("/download/NorvaleSetup.exe")), 404);
}

void ServicesTest::picturesAndLinkPages()
{
    for (const QString &key : {QStringLiteral("lqqimg"), QStringLiteral("ltaobaoimg")}) {
        const auto picture = fetch(configValue(m_services, key));
        QVERIFY(picture);
        QCOMPARE(picture->status, 200);
        QCOMPARE(picture->get_header_value("Content-Type"), std::string("image/png"));
        QVERIFY(picture->body.starts_with("\x89PNG\r\n\x1a\n"));
    }
    for (const QString &key : {QStringLiteral("lhomeurl"), QStringLiteral("lweburl"), QStringLiteral("lbbsurl"),
                               QStringLiteral("lchaturl"), QStringLiteral("lgbookurl"), QStringLiteral("lqqurl"),
                               QStringLiteral("ltaobaourl"), QStringLiteral("llinkurl"),
                               QStringLiteral("lbaidupage")}) {
        const auto page = fetch(configValue(m_services, key));
        QVERIFY2(page && page->status == 200, qPrintable(key));
        QVERIFY(utf8(page->body).contains(QStringLiteral("<h1>")));
    }
    const QString buy = configValue(m_services, QStringLiteral("lbuyurl"));
    QCOMPARE(statusOf(buy + QStringLiteral("example.com")), 200);
    QVERIFY(utf8(bodyOf(buy + QStringLiteral("example.com"))).contains(QStringLiteral("<b>example.com</b>")));
    QVERIFY(!utf8(bodyOf(buy + QStringLiteral("%3Cscript%3E"))).contains(QStringLiteral("<script>")));

    QCOMPARE(statusOf(m_services.baseUrl() + QStringLiteral("/no/such/page.asp")), 404);
}

void ServicesTest::statsCountRequests()
{
    ServicesProcess services;
    QString error;
    QVERIFY2(services.start(&error), qPrintable(error));
    for (int i = 0; i < 3; ++i)
        QVERIFY(fetch(services.dataServiceUrl()));
    QVERIFY(fetch(services.baseUrl() + QStringLiteral("/query/whois.asp?domain=a.test")));

    const auto stats = fetch(services.baseUrl() + QStringLiteral("/stats"));
    QVERIFY(stats);
    QCOMPARE(stats->status, 200);
    const QStringList lines = utf8(stats->body).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.contains(QStringLiteral("/geturl/dataurl.asp 3")), qPrintable(lines.join(u'|')));
    QVERIFY(lines.contains(QStringLiteral("/query/whois.asp 1")));
    QVERIFY(!utf8(stats->body).contains(QStringLiteral("/query/ip.asp")));
}

void ServicesTest::terminateEndsCleanlyDuringDelay()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess process;
    process.start(QStringLiteral(NORVALE_SERVICES_EXE),
                  {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                   dir.filePath(QStringLiteral("d.db")), QStringLiteral("--delay"), QStringLiteral("600000"),
                   QStringLiteral("--delay-path"), QStringLiteral("/query/")});
    QVERIFY(process.waitForStarted());
    QByteArray line;
    while (!line.contains('\n') && process.waitForReadyRead(60000))
        line += process.readAllStandardOutput();
    QVERIFY2(line.startsWith("norvale-services listening on http://127.0.0.1:"), line.constData());
    const QString base = QString::fromLatin1(line.trimmed()).section(u' ', -1);

    // Paths outside the prefix are answered at once; this one waits.
    std::atomic<bool> answered = false;
    std::thread waiting([&] {
        fetch(base + QStringLiteral("/query/whois.asp?domain=a.test"));
        answered = true;
    });
    // On an early failure the process must go before the thread can be joined.
    auto joinWaiting = qScopeGuard([&] {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
        waiting.join();
    });
    QTRY_VERIFY_WITH_TIMEOUT(utf8(bodyOf(base + QStringLiteral("/stats")))
                                 .contains(QStringLiteral("/query/whois.asp 1")), 20000);
    QVERIFY(!answered);

    process.terminate();
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void ServicesTest::badOptionsExitWithTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--verbose")};
    QTest::newRow("port not a number") << QStringList{QStringLiteral("--port"), QStringLiteral("abc")};
    QTest::newRow("port too large") << QStringList{QStringLiteral("--port"), QStringLiteral("70000")};
    QTest::newRow("negative delay") << QStringList{QStringLiteral("--delay=-5")};
    QTest::newRow("value missing") << QStringList{QStringLiteral("--db")};
    QTest::newRow("stray argument") << QStringList{QStringLiteral("extra")};
}

void ServicesTest::badOptionsExitWithTwo()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(QStringLiteral(NORVALE_SERVICES_EXE), arguments);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(!process.readAllStandardError().isEmpty());
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(ServicesTest)
#include "ServicesTest.moc"
