// norvale-services as a separate process, over real HTTP and a real SQLite file.
#include "norvale/core/config/ConfigRecord.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpGet.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/MaxMindDbWriter.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestSql.h"
#include "tests/support/TestText.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <httplib.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace norvale::test;

namespace {

// The body of a successful fetch; empty when nothing came back.
std::string bodyOf(const QString &address)
{
    const auto result = httpGet(address);
    return result ? result->body : std::string();
}

int statusOf(const QString &address)
{
    const auto result = httpGet(address);
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

// The connection text in a data-address page, without the padding mixed into it.
QString connectionText(const QString &page)
{
    return between(page, QStringLiteral("|data|")).remove(QStringLiteral("58_tovrak")).remove(QStringLiteral("3plenix9"));
}

// What the server sends on fd until it closes it, or a null array when it
// has not closed it within the time.
QByteArray untilClosed(int fd, int withinMs)
{
    QByteArray seen("");
    QDeadlineTimer deadline(withinMs);
    for (;;) {
        pollfd one{fd, POLLIN, 0};
        if (::poll(&one, 1, int(deadline.remainingTime())) <= 0)
            return {};
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return seen;
        seen.append(buffer, n);
    }
}

// Connections that send a request one byte at a time, a byte to each every
// half second, for as long as they live.
class SlowClients final {
public:
    SlowClients(int port, int count)
    {
        for (int i = 0; i < count; ++i)
            m_fds.push_back(connectToLoopback(port));
        m_sender = std::thread([this] {
            const char request[] = "GET /query/domain.asp?domain=example.com HTTP/1.1\r\nHost: x\r\nX-Slow: ";
            for (size_t at = 0; !m_done; at = (at + 1) % (sizeof request - 1)) {
                for (const int fd : m_fds)
                    ::send(fd, request + at, 1, MSG_NOSIGNAL);
                for (int i = 0; i < 10 && !m_done; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~SlowClients()
    {
        m_done = true;
        m_sender.join();
        for (const int fd : m_fds)
            ::close(fd);
    }
    Q_DISABLE_COPY_MOVE(SlowClients)
    const std::vector<int> &fds() const { return m_fds; }

private:
    std::vector<int> m_fds;
    std::atomic<bool> m_done = false;
    std::thread m_sender;
};

QString configValue(const ServicesProcess &services, const QString &column)
{
    return sqlValue(services.databasePath(), QStringLiteral("SELECT ") + column + QStringLiteral(" FROM lconfig_all")).toString();
}

} // namespace

class ServicesTest final : public QObject {
    Q_OBJECT

    ServicesProcess m_services;
    QTemporaryDir m_geoDir;
    std::unique_ptr<ServicesProcess> m_geoServices;

private slots:
    void initTestCase()
    {
        VERIFY_STARTED(m_services);
    }

    void freshStartCreatesDatabase()
    {
        QVERIFY(QFileInfo::exists(m_services.databasePath()));
        QVERIFY(!QFileInfo::exists(m_services.databasePath() + QStringLiteral(".tmp")));
        const QString db = m_services.databasePath();
        QCOMPARE(sqlValue(db, QStringLiteral("SELECT count(DISTINCT lextendkind) FROM ldomainprice")).toInt(), 17);
        QCOMPARE(sqlValue(db, QStringLiteral("SELECT count(*) FROM lconfig_all")).toInt(), 1);
        QStringList columns;
        for (const QLatin1StringView key : norvale::kConfigKeys)
            columns << QString(key);
        QCOMPARE(sqlValue(db, QStringLiteral("SELECT group_concat(name, ' ') FROM pragma_table_info('lconfig_all')")),
                 QVariant(columns.join(u' ')));
        for (const QString &key : words("ldomainurl lwhoisurl lipurl lipmessurl ldownurl lbuyurl"))
            QVERIFY2(configValue(m_services, key).startsWith(m_services.baseUrl() + u'/'), qPrintable(key));
    }

    void restartRewritesBaseAddress()
    {
        QTemporaryDir dir;
        ServicesProcess::Options options;
        options.databasePath = dir.filePath(QStringLiteral("kept.db"));
        // Half a database from a start that was killed is replaced, not used.
        const QString stale = options.databasePath + QStringLiteral(".tmp");
        QVERIFY(writeFile(stale, "half a database"));
        QString firstBase;
        {
            ServicesProcess first(options);
            VERIFY_STARTED(first);
            firstBase = first.baseUrl();
        }
        QVERIFY(!QFile::exists(stale));
        {
            // As if the row had been written for another port, plus operator edits.
            const QString db = options.databasePath;
            QCOMPARE(sqlValue(db, QStringLiteral("SELECT count(DISTINCT lextendkind) FROM ldomainprice")).toInt(), 17);
            for (const QLatin1StringView column : norvale::kConfigKeys) {
                QVERIFY(execSql(db, QStringLiteral("UPDATE lconfig_all SET %1 = replace(%1, ?, 'http://127.0.0.1:1')").arg(column),
                                {firstBase}));
            }
            QVERIFY(execSql(db, QStringLiteral("UPDATE svc_settings SET lvalue = 'http://127.0.0.1:1' WHERE lkey = 'base'")));
            QVERIFY(execSql(db, QStringLiteral(
                "UPDATE lconfig_all SET ldomainurl = 'http://127.0.0.1:1/query/domain.asp?domain=', "
                "lweburl = 'http://127.0.0.1:1', lhomeurl = 'http://127.0.0.1:10/home', lbbsurl = 'http://bbs.norvale.test/'")));
            // A table from before names compared without letter case.
            QVERIFY(execSql(db, QStringLiteral("ALTER TABLE ldomainlist RENAME TO lkept")));
            QVERIFY(execSql(db, QStringLiteral("CREATE TABLE ldomainlist AS SELECT * FROM lkept")));
            QVERIFY(execSql(db, QStringLiteral("DROP TABLE lkept")));
        }
        ServicesProcess second(options);
        VERIFY_STARTED(second);
        const QString base = second.baseUrl();
        QCOMPARE(configValue(second, QStringLiteral("ldomainurl")), base + QStringLiteral("/query/domain.asp?domain="));
        QCOMPARE(configValue(second, QStringLiteral("lweburl")), base);
        QCOMPARE(configValue(second, QStringLiteral("lhomeurl")), QStringLiteral("http://127.0.0.1:10/home"));
        QCOMPARE(configValue(second, QStringLiteral("lbbsurl")), QStringLiteral("http://bbs.norvale.test/"));
        QCOMPARE(sqlValue(options.databasePath, QStringLiteral("SELECT lvalue FROM svc_settings WHERE lkey = 'base'")), QVariant(base));
        QCOMPARE(statusOf(configValue(second, QStringLiteral("lwhoisurl")) + QStringLiteral("x.test")), 200);
        // Upgraded with its rows: names now compare as SQL Server's do.
        const int rows = sqlValue(options.databasePath, QStringLiteral("SELECT count(*) FROM ldomainlist")).toInt();
        QVERIFY(rows >= 200);
        QCOMPARE(sqlValue(options.databasePath, QStringLiteral("SELECT count(*) FROM ldomainlist WHERE lallname = "
                                                              "upper(lallname) AND lname = upper(lname)")).toInt(), rows);
    }

    void dataAddressCarriesConnectionText()
    {
        const auto result = httpGet(m_services.dataServiceUrl());
        QVERIFY(result);
        QCOMPARE(result->status, 200);
        QVERIFY(QString::fromStdString(result->get_header_value("Content-Type")).contains(QStringLiteral("gb2312")));
        const QString page = gb2312(result->body);
        QVERIFY(page.contains(QStringLiteral("数据")));
        QCOMPARE(page.count(QStringLiteral("|data|")), 2);
        // Padding mixed in, once even nested, so that removing it in the wrong order fails.
        QVERIFY(between(page, QStringLiteral("|data|")).contains(QStringLiteral("3ple58_tovraknix9")));
        QCOMPARE(connectionText(page),
                 QStringLiteral("provider=SQLite;Data Source=") + QFileInfo(m_services.databasePath()).absoluteFilePath());
    }

    void dataAddressFollowsSettingsEdits()
    {
        ServicesProcess services;
        VERIFY_STARTED(services);
        const QString db = services.databasePath();
        const QString text = QStringLiteral("Provider=SQLOLEDB;Data Source=db.norvale.test,1433;DATABASE=domains;UID=reader;pwd=s3cret");
        QVERIFY(execSql(db, QStringLiteral("UPDATE svc_settings SET lvalue = ? WHERE lkey = 'connection'"), {text}));
        QCOMPARE(connectionText(gb2312(bodyOf(services.dataServiceUrl()))), text);

        // A page of the operator's own making: the marker once, then the rest.
        QVERIFY(execSql(db, QStringLiteral("UPDATE svc_settings SET lvalue = '<p>说明 |data|{data}</p>' WHERE lkey = 'datatemplate'")));
        const QString page = gb2312(bodyOf(services.dataServiceUrl()));
        QCOMPARE(page.count(QStringLiteral("|data|")), 1);
        QVERIFY(page.startsWith(QStringLiteral("<p>说明 |data|58_tovrak")));

        QVERIFY(execSql(db, QStringLiteral("UPDATE svc_settings SET lvalue = 'letmein' WHERE lkey = 'checkin'")));
        QVERIFY(!gb2312(bodyOf(services.dataServiceUrl())).contains(QStringLiteral("|data|")));
        QVERIFY(gb2312(bodyOf(services.baseUrl() + QStringLiteral("/geturl/dataurl.asp?checkin=letmein")))
                    .contains(QStringLiteral("|data|")));

        // This instance has served exactly those four requests.
        const QString stats = utf8(bodyOf(services.baseUrl() + QStringLiteral("/stats")));
        QVERIFY2(stats.split(u'\n').contains(QStringLiteral("/geturl/dataurl.asp 4")), qPrintable(stats));
        QVERIFY(!stats.contains(QStringLiteral("/query/")));
    }

    void dataAddressRefusesWrongCheckin_data()
    {
        QTest::addColumn<QString>("query");
        QTest::newRow("missing") << "";
        QTest::newRow("empty") << "?checkin=";
        QTest::newRow("wrong case") << "?checkin=QOMP58X";
        QTest::newRow("longer") << "?checkin=qomp58xx";
        QTest::newRow("other parameter") << "?check=qomp58x";
    }

    void dataAddressRefusesWrongCheckin()
    {
        QFETCH(QString, query);
        const auto result = httpGet(m_services.baseUrl() + QStringLiteral("/geturl/dataurl.asp") + query);
        QVERIFY(result);
        QCOMPARE(result->status, 200);
        const QString page = gb2312(result->body);
        QVERIFY(page.contains(QStringLiteral("<html>")));
        QVERIFY(!page.contains(QStringLiteral("|data|")) && !page.contains(QStringLiteral("provider")));
    }

    void domainStatus_data()
    {
        const QString db = m_services.databasePath();
        const QString filed = sqlValue(db, QStringLiteral("SELECT lallname FROM ldomainlist LIMIT 1")).toString();
        const QString registered = sqlValue(db, QStringLiteral("SELECT ldomain FROM svc_registered LIMIT 1")).toString();
        QVERIFY(m_services.execSql(QStringLiteral("INSERT INTO svc_registered VALUES ('added-while-running.test')")));

        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("expected");   // the marked value, empty for none
        QTest::newRow("filed") << filed << filed;
        QTest::newRow("filed, capitals") << filed.toUpper() << filed;
        QTest::newRow("registered, not filed") << registered << registered;
        QTest::newRow("added while running") << "added-while-running.test" << "added-while-running.test";
        QTest::newRow("unknown") << "surely-free-q7x.com" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("marker echoed") << "|domain|" << "";
        QTest::newRow("quote") << "o'neil.com" << "";
    }

    void domainStatus()
    {
        QFETCH(QString, domain);
        QFETCH(QString, expected);
        const auto result = httpGet(configValue(m_services, QStringLiteral("ldomainurl"))
                                  + QString::fromLatin1(QUrl::toPercentEncoding(domain)));
        QVERIFY(result);
        QCOMPARE(result->status, 200);
        QVERIFY(QString::fromStdString(result->get_header_value("Content-Type")).contains(QStringLiteral("gb2312")));
        const QString page = gb2312(result->body);
        QCOMPARE(page.count(QStringLiteral("|domain|")), expected.isEmpty() ? 0 : 2);
        QCOMPARE(between(page, QStringLiteral("|domain|")), expected);
    }

    // Pages are kept between requests; an edit from another program shows
    // on the very next one, in either of SQLite's journal modes. A file cut
    // short under its header leaves a service that still answers.
    void editsShowOnTheNextRequest_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("edit");   // SQL, or "cut" to truncate the file to nothing
        QTest::addColumn<QByteArray>("gone");   // on the page before the edit only
        QTest::addColumn<QByteArray>("came");   // after it only
        QTest::addColumn<bool>("wal");
        const QString status = QStringLiteral("/query/domain.asp?domain=fresh-name.test");
        const QString added = QStringLiteral("INSERT INTO svc_registered VALUES ('fresh-name.test')");
        const QByteArray marked = "|domain|fresh-name.test|domain|";
        QTest::newRow("status") << status << added << QByteArray() << marked << false;
        QTest::newRow("status, WAL") << status << added << QByteArray() << marked << true;
        QTest::newRow("whois") << "/query/whois.asp?domain=chenglan.cn"
                               << "UPDATE svc_whois SET lregistrar = 'Edited Registrar' WHERE ldomain = 'chenglan.cn'"
                               << QByteArray("Starlight") << QByteArray("Registrar: Edited Registrar") << false;
        QTest::newRow("geolocation") << "/query/ipmess.asp?ip=192.0.2.157"
                                     << "UPDATE svc_geo SET lisp = 'Edited ISP' WHERE lip = '192.0.2.157'"
                                     << QByteArray("|isp|Harbor Cloud|isp|") << QByteArray("|isp|Edited ISP|isp|") << true;
        QTest::newRow("link page") << "/chat/" << "UPDATE svc_pages SET lbody = '<p>edited-chat</p>' WHERE lpath = '/chat/'"
                                   << QByteArray() << QByteArray("edited-chat") << false;
        QTest::newRow("data address") << "/geturl/dataurl.asp?checkin=qomp58x"
                                      << "UPDATE svc_settings SET lvalue = 'letmein' WHERE lkey = 'checkin'"
                                      << QByteArray("|data|") << QByteArray() << false;
        QTest::newRow("file cut short") << "/query/domain.asp?domain=chenglan.cn" << "cut"
                                        << QByteArray("|domain|chenglan.cn|domain|") << QByteArray() << false;
    }

    void editsShowOnTheNextRequest()
    {
        QFETCH(QString, page);
        QFETCH(QString, edit);
        QFETCH(QByteArray, gone);
        QFETCH(QByteArray, came);
        QFETCH(bool, wal);
        ServicesProcess services;
        VERIFY_STARTED(services);
        if (wal)
            QCOMPARE(sqlValue(services.databasePath(), QStringLiteral("PRAGMA journal_mode=WAL")), QVariant(QStringLiteral("wal")));
        auto shows = [&](const QByteArray &text) {
            const QByteArray body = QByteArray::fromStdString(bodyOf(services.baseUrl() + page));
            return !body.isEmpty() && body.contains(text);
        };
        // Asked again and again, so that the page is kept and served as kept.
        for (int i = 0; i < 3; ++i) {
            QVERIFY(gone.isEmpty() || shows(gone));
            QVERIFY(came.isEmpty() || !shows(came));
        }
        if (edit == QLatin1StringView("cut"))
            QVERIFY(QFile::resize(services.databasePath(), 0));   // the header's page gone: SIGBUS on a mapping
        else
            QVERIFY(execSql(services.databasePath(), edit));
        QVERIFY(gone.isEmpty() || !shows(gone));
        QVERIFY(came.isEmpty() || shows(came));
        QCOMPARE(statusOf(services.baseUrl() + QStringLiteral("/stats")), 200);
    }

    // The geolocation page from a MaxMind DB file, svc_geo for what it lacks.
    void geolocationFromFile_data()
    {
        using norvale::test::MaxMindDbWriter;
        auto names = [](const char *english, const char *chinese = nullptr) {
            QVariantMap byLanguage{{QStringLiteral("en"), QString::fromUtf8(english)}};
            if (chinese)
                byLanguage.insert(QStringLiteral("zh-CN"), QString::fromUtf8(chinese));
            return QVariantMap{{QStringLiteral("names"), byLanguage}};
        };
        MaxMindDbWriter writer;
        writer.add(QStringLiteral("198.51.100.0"), 24,
                   {{QStringLiteral("country"), names("China", "中国")},
                    {QStringLiteral("subdivisions"), QVariantList{names("Zhejiang", "浙江省")}},
                    {QStringLiteral("city"), names("Hangzhou", "杭州")},
                    {QStringLiteral("location"), QVariantMap{{QStringLiteral("latitude"), 30.2936},
                                                             {QStringLiteral("longitude"), 120.1614},
                                                             {QStringLiteral("time_zone"), QStringLiteral("Asia/Shanghai")}}},
                    {QStringLiteral("postal"), QVariantMap{{QStringLiteral("code"), QStringLiteral("310000")}}}});
        // English names only, nothing but the country.
        writer.add(QStringLiteral("203.0.113.0"), 25, {{QStringLiteral("country"), names("Japan")}});
        // The seed has this address too: the file answers first.
        writer.add(QStringLiteral("192.0.2.127"), 32, {{QStringLiteral("country"), names("Iceland")}});
        // A provider's file names the provider.
        writer.add(QStringLiteral("100.64.0.0"), 10, {{QStringLiteral("isp"), QStringLiteral("Carrier Grade Net")}});
        QVERIFY(m_geoDir.isValid() && writer.write(m_geoDir.filePath(QStringLiteral("city.mmdb"))));

        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("fields");   // the nine, joined by ";"; "-" for no markers at all
        QTest::newRow("all the file has") << "198.51.100.77" << "中国;浙江省;杭州;30.2936;120.1614;310000;Asia/Shanghai;;";
        QTest::newRow("English only, country only") << "203.0.113.5" << "Japan;;;;;;;;";
        QTest::newRow("file before the table") << "192.0.2.127" << "Iceland;;;;;;;;";
        QTest::newRow("provider") << "100.127.255.254" << ";;;;;;;Carrier Grade Net;";
        QTest::newRow("table when the file has none") << "192.0.2.157"
                                                      << "日本;东京都;东京;35.6762;139.6503;100-0001;Asia/Tokyo;Harbor Cloud;81";
        QTest::newRow("neither") << "203.0.113.200" << "-";
        QTest::newRow("IPv6 in an IPv4 file") << "2001:db8::1" << "-";
        QTest::newRow("not an address") << "example.com" << "-";
    }

    void geolocationFromFile()
    {
        QFETCH(QString, address);
        QFETCH(QString, fields);
        if (!m_geoServices) {
            ServicesProcess::Options options;
            options.extraArguments = {QStringLiteral("--geo-db"), m_geoDir.filePath(QStringLiteral("city.mmdb"))};
            m_geoServices = std::make_unique<ServicesProcess>(options);
            QString error;
            QVERIFY2(m_geoServices->start(&error), qPrintable(error));
        }
        const QString page = utf8(bodyOf(m_geoServices->baseUrl() + QStringLiteral("/query/ipmess.asp?ip=")
                                         + QString::fromLatin1(QUrl::toPercentEncoding(address))));
        QVERIFY(page.contains(QStringLiteral("<html>")));
        QStringList seen;
        for (const char *marker : {"country", "region", "city", "latitude", "longitude", "zipcode", "timezone", "isp", "iddcode"}) {
            const QString value = between(page, u'|' + QLatin1StringView(marker) + u'|');
            if (!value.isNull())
                seen << value;
        }
        QCOMPARE(seen.isEmpty() ? QStringLiteral("-") : seen.join(u';'), fields);
    }

    void installer()
    {
        const QString address = configValue(m_services, QStringLiteral("ldownurl"));
        const QString name = address.section(u'/', -1);
        QVERIFY(!name.isEmpty());
        const auto sized = httpGet(address);
        QVERIFY(sized && sized->status == 200);
        QCOMPARE(sized->get_header_value("Content-Length"), std::to_string(sized->body.size()));
        QVERIFY(sized->body.size() >= 100 * 1024);
        const auto chunked = httpGet(m_services.baseUrl() + QStringLiteral("/download/chunked/") + name);
        QVERIFY(chunked && chunked->status == 200);
        QVERIFY(!chunked->has_header("Content-Length"));
        QCOMPARE(chunked->get_header_value("Transfer-Encoding"), std::string("chunked"));
        QVERIFY(chunked->body == sized->body);
        const auto trickled = httpGet(m_services.baseUrl() + QStringLiteral("/download/trickle/") + name
                                    + QStringLiteral("?bytes=65536&every=1"));
        QVERIFY(trickled && trickled->body == sized->body);
        // Cut short: the whole length announced, half of it sent.
        QVERIFY(!httpGet(m_services.baseUrl() + QStringLiteral("/download/short/") + name));
        // Made as it is sent: any size, the installer's bytes over and over.
        const auto large = httpGet(m_services.baseUrl() + QStringLiteral("/download/large/x.bin?size=200000"));
        QVERIFY(large && large->status == 200 && large->body.size() == 200000);
        QCOMPARE(large->get_header_value("Content-Length"), std::string("200000"));
        QVERIFY(large->body.compare(0, 65521, sized->body, 0, 65521) == 0);
        QVERIFY(large->body.compare(65521, 65521, sized->body, 0, 65521) == 0);
        QCOMPARE(statusOf(m_services.baseUrl() + QStringLiteral("/download/large/x.bin")), 400);

        // The same bytes on every start; name and size follow the configuration.
        ServicesProcess services;
        VERIFY_STARTED(services);
        QVERIFY(bodyOf(services.baseUrl() + QStringLiteral("/download/") + name) == sized->body);
        QVERIFY(execSql(services.databasePath(), QStringLiteral("UPDATE lconfig_all SET ldownurl = ?"),
                        {QString(services.baseUrl() + QStringLiteral("/download/Setup2.exe"))}));
        QVERIFY(services.execSql(QStringLiteral("UPDATE svc_settings SET lvalue = '0' WHERE lkey = 'installer_size'")));
        const auto renamed = httpGet(services.baseUrl() + QStringLiteral("/download/Setup2.exe"));
        QVERIFY(renamed && renamed->status == 200);
        QCOMPARE(renamed->get_header_value("Content-Length"), std::string("0"));
        QVERIFY(renamed->body.empty());
        const auto emptyChunked = httpGet(services.baseUrl() + QStringLiteral("/download/chunked/Setup2.exe"));
        QVERIFY(emptyChunked && emptyChunked->status == 200 && emptyChunked->body.empty());
        QCOMPARE(statusOf(services.baseUrl() + QStringLiteral("/download/") + name), 404);
    }

    void picturesAndLinkPages()
    {
        for (const QString &key : words("lqqimg ltaobaoimg")) {
            const auto picture = httpGet(configValue(m_services, key));
            QVERIFY2(picture && picture->status == 200, qPrintable(key));
            QCOMPARE(picture->get_header_value("Content-Type"), std::string("image/png"));
            QVERIFY(picture->body.starts_with("\x89PNG\r\n\x1a\n"));
        }
        for (const QString &key : words("lhomeurl lweburl lbbsurl lchaturl lgbookurl lqqurl ltaobaourl llinkurl lbaidupage")) {
            const auto page = httpGet(configValue(m_services, key));
            QVERIFY2(page && page->status == 200, qPrintable(key));
            QVERIFY(utf8(page->body).contains(QStringLiteral("<h1>")));
        }
        const QString buy = configValue(m_services, QStringLiteral("lbuyurl"));
        QVERIFY(utf8(bodyOf(buy + QStringLiteral("example.com"))).contains(QStringLiteral("<b>example.com</b>")));
        QVERIFY(!utf8(bodyOf(buy + QStringLiteral("%3Cscript%3E"))).contains(QStringLiteral("<script>")));
        // A name that is the whois page's own marker is not echoed as one.
        QVERIFY(!utf8(bodyOf(configValue(m_services, QStringLiteral("lwhoisurl")) + QStringLiteral("%7Cwhois%7C")))
                     .contains(QStringLiteral("|whois|")));
        QCOMPARE(statusOf(m_services.baseUrl() + QStringLiteral("/no/such/page.asp")), 404);
    }

    // No request can make the service hold much memory.
    void requestsStayBounded()
    {
        const QUrl installer(configValue(m_services, QStringLiteral("ldownurl")));
        httplib::Client client(installer.host().toStdString(), installer.port());
        const std::string path = installer.path().toStdString();
        const auto one = client.Get(path, {{"Range", "bytes=0-99"}});
        QVERIFY(one && one->body.size() == 100);
        // Twenty copies of the whole file in one reply: refused.
        std::string ranges = "bytes=0-";
        for (int i = 0; i < 19; ++i)
            ranges += ",0-";
        const auto many = client.Get(path, {{"Range", ranges}});
        QVERIFY(many);
        QCOMPARE(many->status, 416);
        QVERIFY(many->body.size() < 1024);
        const auto posted = client.Post("/geturl/dataurl.asp", std::string(1 << 20, 'x'), "text/plain");
        QVERIFY(posted && posted->status == 413);
        // A request line too long to read: refused, and the connection closed.
        const int fd = connectToLoopback(m_services.port());
        const std::string tooLong = "GET /" + std::string(10000, 'a') + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        QVERIFY(fd >= 0 && ::send(fd, tooLong.data(), tooLong.size(), MSG_NOSIGNAL) == ssize_t(tooLong.size()));
        const QByteArray answer = untilClosed(fd, 5000);
        ::close(fd);
        QVERIFY2(answer.startsWith("HTTP/1.1 414"), answer.left(80).constData());
        // Only the paths it serves are counted.
        for (int i = 0; i < 3; ++i)
            QCOMPARE(statusOf(m_services.baseUrl() + QStringLiteral("/no/such/%1.asp").arg(i)), 404);
        QVERIFY(!utf8(bodyOf(m_services.baseUrl() + QStringLiteral("/stats"))).contains(QStringLiteral("/no/such/")));
    }

    // One log line for each request that failed or was refused, and none of
    // the values, headers or body the client sent.
    void refusalsAreLogged_data()
    {
        QTest::addColumn<QByteArray>("request");   // sent on a connection of its own
        QTest::addColumn<QByteArray>("line");      // empty: no line at all
        const QByteArray close = " HTTP/1.1\r\nHost: x\r\nAuthorization: Basic c2VjcmV0\r\nConnection: close\r\n";
        QTest::newRow("served") << "GET /query/domain.asp?domain=secret.cn" + close + "\r\n" << QByteArray();
        QTest::newRow("no such page") << "GET /no/such.asp?token=secret&secret2&x=" + close + "\r\n"
                                      << QByteArray("GET /no/such.asp?token=&x= 404 no such page");
        QTest::newRow("bad parameter") << "GET /download/large/NorvaleSetup.exe?sizes=secret" + close + "\r\n"
                                       << QByteArray("GET /download/large/NorvaleSetup.exe?sizes= 400 bad parameter");
        QTest::newRow("body too large") << "POST /geturl/dataurl.asp?checkin=secret" + close
                                               + "Content-Length: 100000\r\n\r\npassword=secret"
                                        << QByteArray("POST /geturl/dataurl.asp?checkin= 413 body over 64 KiB");
        QTest::newRow("body in pieces") << "GET /x" + close + "Transfer-Encoding: chunked\r\n\r\n6\r\nsecret\r\n"
                                        << QByteArray("GET /x 501 body sent in pieces");
        QTest::newRow("head too long") << "GET /?q=secret" + close + "X-Pad: " + QByteArray(17000, 'a')
                                       << QByteArray("- - 431 head over 16 KiB");
    }

    void refusalsAreLogged()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, line);
        // The log reaches the test a while after the server writes it, so the
        // case's lines are found between two pages of its own, not by where
        // the log ended when the case began.
        static int cases = 0;
        const QByteArray number = QByteArray::number(++cases);
        const QByteArray start = "GET /start-of-case-" + number, end = "GET /end-of-case-" + number;
        const QByteArray head = " HTTP/1.1\r\nConnection: close\r\n\r\n";
        for (const QByteArray &sent : {QByteArray(start + head), request, QByteArray(end + head)}) {
            const int fd = connectToLoopback(m_services.port());
            QVERIFY(fd >= 0 && ::send(fd, sent.data(), size_t(sent.size()), MSG_NOSIGNAL) == sent.size());
            untilClosed(fd, 10000);
            ::close(fd);
        }
        QByteArray log;
        QTRY_VERIFY((log = m_services.log()).contains(QByteArray(end + " 404")));
        const qsizetype from = log.indexOf('\n', log.indexOf(QByteArray(start + " 404"))) + 1;
        const QByteArray logged = log.mid(from, log.indexOf(QByteArray("norvale-services: " + end)) - from);
        const QByteArray expected = line.isEmpty() ? QByteArray() : "norvale-services: " + line + '\n';
        QCOMPARE(logged, expected);
        QVERIFY(!logged.contains("secret") && !logged.contains("c2VjcmV0"));
    }

    // More slow clients than the server has workers: the others are still
    // served, and a slow one is let go at its deadline.
    void slowClientsStarveNoOne()
    {
        SlowClients slow(m_services.port(), 140);
        QVERIFY(std::all_of(slow.fds().cbegin(), slow.fds().cend(), [](int fd) { return fd >= 0; }));
        for (int i = 0; i < 20; ++i)
            QCOMPARE(statusOf(m_services.baseUrl() + QStringLiteral("/query/domain.asp?domain=a%1.com").arg(i)), 200);

        ServicesProcess::Options options;
        options.extraArguments = words("--request-deadline 1");
        ServicesProcess strict(options);
        VERIFY_STARTED(strict);
        SlowClients late(strict.port(), 1);
        const QByteArray answer = untilClosed(late.fds().front(), 10000);
        QVERIFY2(answer.startsWith("HTTP/1.1 408"), answer.constData());
    }

    void connectionsPerAddressAreBounded()
    {
        ServicesProcess::Options options;
        options.extraArguments = words("--connections-per-address 4");
        ServicesProcess bounded(options);
        VERIFY_STARTED(bounded);
        std::vector<int> held;
        for (int i = 0; i < 4; ++i)
            held.push_back(connectToLoopback(bounded.port()));
        const int extra = connectToLoopback(bounded.port());
        const QByteArray refused = untilClosed(extra, 10000);
        QVERIFY2(refused.startsWith("HTTP/1.1 503"), refused.constData());
        ::close(extra);
        ::close(held.back());
        held.pop_back();
        // Asked until served once: a connection just answered may count a moment longer.
        bool served = false;
        QTRY_VERIFY_WITH_TIMEOUT(served || (served = statusOf(bounded.baseUrl() + QStringLiteral("/stats")) == 200), 10000);
        for (const int fd : held)
            ::close(fd);
    }

    void terminateEndsCleanlyDuringDelay()
    {
        QTemporaryDir dir;
        QProcess process;
        norvale::test::endWithParent(process);
        process.start(QStringLiteral(NORVALE_SERVICES_EXE),
                      words("--port 0 --registries off --delay 600000 --delay-path /query/ --db") << dir.filePath(QStringLiteral("d.db")));
        QVERIFY(process.waitForStarted());
        QByteArray line;
        while (!line.contains('\n') && process.waitForReadyRead(60000))
            line += process.readAllStandardOutput();
        QVERIFY2(line.startsWith("norvale-services listening on http://127.0.0.1:"), line.constData());
        const QString base = QString::fromLatin1(line.trimmed()).section(u' ', -1);

        // Paths outside the prefix are answered at once; this one waits.
        std::atomic<bool> answered = false;
        std::thread waiting([&] {
            httpGet(base + QStringLiteral("/query/whois.asp?domain=a.test"));
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
        QTRY_VERIFY_WITH_TIMEOUT(utf8(bodyOf(base + QStringLiteral("/stats"))).contains(QStringLiteral("/query/whois.asp 1")), 20000);
        QVERIFY(!answered);
        process.terminate();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    void badOptionsExitWithTwo_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::newRow("unknown option") << "--verbose";
        QTest::newRow("port not a number") << "--port abc";
        QTest::newRow("port too large") << "--port 70000";
        QTest::newRow("negative delay") << "--delay=-5";
        QTest::newRow("value missing") << "--db";
        QTest::newRow("stray argument") << "extra";
        // The data-address page could not announce it (GB2312 has no ö).
        QTest::newRow("database path GB2312 cannot carry") << "--db /tmp/norvale-ö/services.db";
        QTest::newRow("postgresql address without a database") << "--db postgresql://reader@127.0.0.1:1/";
        QTest::newRow("registries neither on nor off") << "--registries maybe";
        QTest::newRow("server limit without a rate") << "--registry-limit whois.cnnic.cn";
        QTest::newRow("bootstrap file missing") << "--bootstrap /nonexistent/dns.json";
        QTest::newRow("geolocation file missing") << "--geo-db /nonexistent/city.mmdb";
        QTest::newRow("geolocation file of another format") << "--geo-db " NORVALE_SERVICES_DATA "/dns.json";
        QTest::newRow("settings file missing") << "--config /nonexistent/services.conf";
        QTest::newRow("settings file not NAME = VALUE") << "--config " NORVALE_SERVICES_DATA "/dns.json";
        QTest::newRow("import without a file") << "import prices";
        QTest::newRow("import into a table of no import") << "import lconfig_all x.csv";
        QTest::newRow("import in both modes") << "import prices x.csv --replace --merge";
        QTest::newRow("a mode on export") << "export prices x.csv --replace";
    }

    void badOptionsExitWithTwo()
    {
        QFETCH(QString, arguments);
        const ProgramRun run = runProgram(QStringLiteral(NORVALE_SERVICES_EXE), arguments.split(u' '));
        QCOMPARE(run.exitCode, 2);
        QVERIFY(!run.err.isEmpty() && run.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(ServicesTest)
#include "ServicesTest.moc"
