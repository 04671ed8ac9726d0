// The status and whois pages of norvale-services against registries of our
// own on loopback: RDAP over HTTP, port-43 whois over TCP, a server that
// stalls and one that is down.
#include "services/registry/RegistryDirectory.h"
#include "services/registry/RegistryProtocols.h"
#include "tests/support/HttpGet.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestRegistries.h"
#include "tests/support/TestText.h"

#include <QStringDecoder>
#include <QTest>
#include <QUrl>

#include <future>
#include <vector>

using norvale::test::between;
using norvale::test::RegistryAnswer;
using norvale::test::ServicesProcess;
using norvale::test::TestRegistries;
using Protocol = TestRegistries::Protocol;

namespace {

struct Page {
    int status = -1;
    QString text;
};

Page fetchPage(const QString &address, const QString &name, const char *charset)
{
    const auto result = norvale::test::httpGet(address + QString::fromLatin1(QUrl::toPercentEncoding(name)));
    if (!result)
        return {};
    QStringDecoder decoder(charset);
    return {result->status, decoder.decode(QByteArray::fromStdString(result->body))};
}

} // namespace

class RegistryTest final : public QObject {
    Q_OBJECT

    TestRegistries m_registries;
    std::unique_ptr<ServicesProcess> m_services;

    Page status(const QString &name) const
    {
        return fetchPage(m_services->baseUrl() + QStringLiteral("/query/domain.asp?domain="), name, "GB2312");
    }
    Page whois(const QString &name) const
    {
        return fetchPage(m_services->baseUrl() + QStringLiteral("/query/whois.asp?domain="), name, "UTF-8");
    }

private slots:
    // The shipped tables send each zone to its registry.
    void shippedTables_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("server");   // RDAP base or whois host; empty: none
        QTest::addColumn<QString>("query");
        QTest::newRow("gTLD by RDAP") << "Example.COM" << "https://rdap.verisign.com/com/v1/" << "example.com";
        QTest::newRow(".cn at CNNIC") << "example.cn" << "whois.cnnic.cn" << "example.cn";
        QTest::newRow(".com.cn at CNNIC") << "example.com.cn" << "whois.cnnic.cn" << "example.com.cn";
        QTest::newRow("provincial zone") << "example.bj.cn" << "whois.cnnic.cn" << "example.bj.cn";
        QTest::newRow("private second level beats RDAP's com") << "example.cn.com" << "whois.centralnic.com" << "example.cn.com";
        QTest::newRow("co.uk by the uk registry's RDAP") << "example.co.uk" << "https://rdap.nominet.uk/uk/" << "example.co.uk";
        QTest::newRow("ccTLD by port 43") << "example.de" << "whois.denic.de" << "example.de";
        QTest::newRow("international name in ASCII") << "中文.com" << "https://rdap.verisign.com/com/v1/" << "xn--fiq228c.com";
        QTest::newRow("no registry") << "example.invalid" << "" << "";
        QTest::newRow("no host name") << "a_b.com" << "" << "";
    }

    void shippedTables()
    {
        QFETCH(QString, name);
        QFETCH(QString, server);
        QFETCH(QString, query);
        norvale::RegistryDirectory directory;
        QString error;
        QVERIFY2(directory.readBootstrap(norvale::test::readFile(QStringLiteral(NORVALE_SERVICES_DATA "/dns.json")), &error),
                 qPrintable(error));
        QVERIFY2(directory.readWhoisTable(norvale::test::readFile(QStringLiteral(NORVALE_SERVICES_DATA "/whois-servers.txt")),
                                          &error),
                 qPrintable(error));
        const norvale::RegistrySource source = directory.sourceFor(name);
        QCOMPARE(source.kind == norvale::RegistrySource::Kind::Rdap ? source.rdapBase : source.whois.host, server);
        QCOMPARE(source.query, query);
        if (source.kind == norvale::RegistrySource::Kind::Whois)
            QVERIFY(!source.whois.noMatch.isEmpty());
    }

    void retryAfter_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<qint64>("milliseconds");   // when readable and not a date
        QTest::newRow("seconds") << QByteArray("120") << true << qint64(120000);
        QTest::newRow("a date past") << QByteArray("Wed, 21 Oct 2015 07:28:00 GMT") << true << qint64(0);
        QTest::newRow("nonsense") << QByteArray("soon") << false << qint64(-1);
    }

    void retryAfter()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, readable);
        QFETCH(qint64, milliseconds);
        const auto wait = norvale::readRetryAfter(value);
        QCOMPARE(wait.count() >= 0, readable);
        QCOMPARE(qint64(wait.count()), milliseconds);
    }

    void initTestCase()
    {
        m_registries.addZone(QStringLiteral("rtest"), Protocol::Rdap);
        m_registries.addZone(QStringLiteral("slow"), Protocol::Rdap, {0, 300});
        m_registries.addZone(QStringLiteral("wtest"), Protocol::Whois);
        m_registries.addZone(QStringLiteral("com.wtest"), Protocol::Whois);
        m_registries.addZone(QStringLiteral("stall"), Protocol::Stalled);
        m_registries.addZone(QStringLiteral("down"), Protocol::Down);
        const std::pair<const char *, RegistryAnswer> answers[] = {
            {"taken.rtest", RegistryAnswer::Registered},      {"hold.rtest", RegistryAnswer::ClientHold},
            {"dying.rtest", RegistryAnswer::PendingDelete},   {"busy.rtest", RegistryAnswer::LimitedOnce},
            {"refusing.rtest", RegistryAnswer::AlwaysLimited}, {"failing.rtest", RegistryAnswer::ServerError},
            {"garbled.rtest", RegistryAnswer::Garbled},       {"own.rtest", RegistryAnswer::Registered},
            {"crowd.slow", RegistryAnswer::Registered},       {"taken.wtest", RegistryAnswer::Registered},
            {"gbk.wtest", RegistryAnswer::Gbk},               {"thin.wtest", RegistryAnswer::Referral},
            {"busy.wtest", RegistryAnswer::LimitedOnce},      {"refusing.wtest", RegistryAnswer::AlwaysLimited},
            {"taken.com.wtest", RegistryAnswer::PendingDelete}, {"taken.co.rtest", RegistryAnswer::Registered},
        };
        for (const auto &[name, answer] : answers)
            m_registries.setAnswer(QString::fromLatin1(name), answer);
        m_registries.setRegistrarRecord(QStringLiteral("thin.wtest"), QStringLiteral("Registrant Name: 张三\r\n"));
        VERIFY_STARTED(m_registries);

        ServicesProcess::Options options;
        // A short page bound, so that the stalled server costs seconds.
        options.extraArguments = m_registries.servicesArguments()
                                 << QStringLiteral("--registry-deadline") << QStringLiteral("4");
        m_services = std::make_unique<ServicesProcess>(options);
        VERIFY_STARTED(*m_services);
        QVERIFY(m_services->execSql(QStringLiteral("INSERT INTO svc_registered VALUES ('reserved.rtest')")));
        QVERIFY(m_services->execSql(QStringLiteral(
            "INSERT INTO svc_whois (ldomain, lregistrar) VALUES ('own.rtest', 'The Operator''s Own Registrar')")));
    }

    void cleanupTestCase()
    {
        m_services.reset();
        m_registries.stop();
    }

    void statusPage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QString>("marked");   // the value between the markers; empty: none
        const QString none;
        QTest::newRow("RDAP registered") << "taken.rtest" << 200 << "taken.rtest";
        QTest::newRow("RDAP client hold") << "hold.rtest" << 200 << "hold.rtest";
        QTest::newRow("RDAP pending delete") << "dying.rtest" << 200 << "dying.rtest";
        QTest::newRow("RDAP 404") << "free.rtest" << 200 << none;
        QTest::newRow("RDAP 429, then an answer") << "busy.rtest" << 200 << "busy.rtest";
        QTest::newRow("RDAP 429 every time") << "refusing.rtest" << 503 << none;
        QTest::newRow("RDAP 503") << "failing.rtest" << 503 << none;
        QTest::newRow("RDAP not JSON") << "garbled.rtest" << 503 << none;
        QTest::newRow("second-level zone the tables do not list") << "taken.co.rtest" << 200 << "taken.co.rtest";
        QTest::newRow("capitals") << "TAKEN.RTEST" << 200 << "taken.rtest";
        QTest::newRow("whois registered") << "taken.wtest" << 200 << "taken.wtest";
        QTest::newRow("whois no match") << "free.wtest" << 200 << none;
        QTest::newRow("whois in GBK") << "gbk.wtest" << 200 << "gbk.wtest";
        QTest::newRow("whois refusal, then an answer") << "busy.wtest" << 200 << "busy.wtest";
        QTest::newRow("whois refusal every time") << "refusing.wtest" << 503 << none;
        QTest::newRow("second-level zone, pending delete") << "taken.com.wtest" << 200 << "taken.com.wtest";
        QTest::newRow("second-level zone, free") << "free.com.wtest" << 200 << none;
        QTest::newRow("server stalls") << "any.stall" << 503 << none;
        QTest::newRow("server down") << "any.down" << 503 << none;
        QTest::newRow("no registry for the zone") << "any.nowhere" << 503 << none;
        QTest::newRow("operator's table wins") << "reserved.rtest" << 200 << "reserved.rtest";
        QTest::newRow("no host can carry it") << "o'neil.rtest" << 200 << none;
        QTest::newRow("no zone at all") << "rtest" << 200 << none;
    }

    void statusPage()
    {
        QFETCH(QString, name);
        QFETCH(int, httpStatus);
        QFETCH(QString, marked);
        const Page page = status(name);
        QCOMPARE(page.status, httpStatus);
        QCOMPARE(page.text.count(QStringLiteral("|domain|")), marked.isEmpty() ? 0 : 2);
        if (!marked.isEmpty())
            QCOMPARE(between(page.text, QStringLiteral("|domain|")), marked);
    }

    // Answers are kept (registered and free), unknown ones never; the
    // operator's tables cost no query.
    void cacheKeepsVerdicts()
    {
        QCOMPARE(status(QStringLiteral("taken.rtest")).status, 200);
        QCOMPARE(status(QStringLiteral("free.rtest")).status, 200);
        const int before = m_registries.queries(QStringLiteral("rtest"));
        for (const char *name : {"taken.rtest", "free.rtest", "reserved.rtest", "TAKEN.rtest"})
            QCOMPARE(status(QString::fromLatin1(name)).status, 200);
        QCOMPARE(m_registries.queries(QStringLiteral("rtest")), before);
        QCOMPARE(status(QStringLiteral("failing.rtest")).status, 503);
        QCOMPARE(m_registries.queries(QStringLiteral("rtest")), before + 1);
        QCOMPARE(status(QStringLiteral("failing.rtest")).status, 503);
        QCOMPARE(m_registries.queries(QStringLiteral("rtest")), before + 2);
    }

    // Many traders asking one name at once cost one query.
    void concurrentAsksShareOneQuery()
    {
        std::vector<std::future<Page>> asks;
        for (int i = 0; i < 12; ++i)
            asks.push_back(std::async(std::launch::async, [this] { return status(QStringLiteral("crowd.slow")); }));
        for (auto &ask : asks) {
            const Page page = ask.get();
            QCOMPARE(page.status, 200);
            QCOMPARE(between(page.text, QStringLiteral("|domain|")), QStringLiteral("crowd.slow"));
        }
        QCOMPARE(m_registries.queries(QStringLiteral("slow")), 1);
    }

    void whoisPage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QString>("shown");   // lines the record holds, one per line; empty: no record
        QTest::newRow("RDAP as text") << "taken.rtest" << 200
                                      << "Domain Name: TAKEN.RTEST\nRegistrar: Example Registrar, Inc.\nCreation Date: 2015-03-09T04:11:52Z\nDomain Status: active\nName Server: NS1.EXAMPLE.NET";
        QTest::newRow("RDAP on hold") << "hold.rtest" << 200 << "Domain Status: client hold";
        QTest::newRow("RDAP 404") << "free.rtest" << 200 << "";
        QTest::newRow("port 43") << "taken.wtest" << 200 << "Domain Name: TAKEN.WTEST\nDomain Status: ok";
        QTest::newRow("GBK decoded") << "gbk.wtest" << 200 << "注册商: 北京新网数码信息技术有限公司";
        QTest::newRow("thin registry's referral followed")
            << "thin.wtest" << 200 << "Registrar WHOIS Server: whois.registrar.test\nRegistrant Name: 张三";
        QTest::newRow("operator's row wins") << "own.rtest" << 200 << "Registrar: The Operator's Own Registrar";
        QTest::newRow("server down") << "any.down" << 503 << "";
    }

    void whoisPage()
    {
        QFETCH(QString, name);
        QFETCH(int, httpStatus);
        QFETCH(QString, shown);
        const Page page = whois(name);
        QCOMPARE(page.status, httpStatus);
        QCOMPARE(page.text.count(QStringLiteral("|whois|")), shown.isEmpty() ? 0 : 2);
        const QString record = between(page.text, QStringLiteral("|whois|"));
        for (const QString &line : shown.split(u'\n', Qt::SkipEmptyParts))
            QVERIFY2(record.contains(line), qPrintable(record));
    }
};

QTEST_GUILESS_MAIN(RegistryTest)
#include "RegistryTest.moc"
