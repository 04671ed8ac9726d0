#include "norvale/data/ServerDatabase.h"
#include "norvale/lookup/FilingLookup.h"
#include "norvale/lookup/IpLookup.h"
#include "norvale/lookup/LookupInput.h"
#include "norvale/lookup/WhoisLookup.h"

#include "tests/support/DatabaseStack.h"
#include "tests/support/IpLookupRecord.h"
#include "tests/support/SearchToEnd.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"
#include "tests/support/TestSql.h"

#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <memory>

using namespace norvale;
using namespace std::chrono_literals;

namespace {

const QString SharedAddress = QStringLiteral("10.20.0.1");

// The reverse-lookup page of SharedAddress lists these, in this order.
const QStringList HostedNames{
    QStringLiteral("one.test"),   QStringLiteral("two.test"),   QStringLiteral("one.test"),
    QStringLiteral("nodot"),      QStringLiteral(".lead.test"), QStringLiteral("other.test"),
    QStringLiteral("ghost.test"), QStringLiteral("Three.TEST"),
};
const QStringList SharedNames{QStringLiteral("one.test"), QStringLiteral("two.test"),
                              QStringLiteral("three.test")};
const QStringList Location{
    QStringLiteral("中国"),      QStringLiteral("广东省"), QStringLiteral("深圳"),
    QStringLiteral("22.5431"),   QStringLiteral("114.0579"), QStringLiteral("518000"),
    QStringLiteral("asia/shanghai"), QStringLiteral("星河数据中心"), QStringLiteral("86"),
};

// Many names on one address, for the stop.
const QString CrowdedAddress = QStringLiteral("10.20.0.2");
constexpr int CrowdSize = 40;

} // namespace

#define REQUIRE_RESOLVER()   \
    if (!m_resolver.ready()) \
    QSKIP(qPrintable(m_resolver.reason()))

class LookupTest final : public QObject {
    Q_OBJECT

    LookupBackend backend() const
    {
        return makeServerLookupBackend(test::DatabaseStack::shared(m_stack));
    }
    QString page(const char *path) const { return m_services.baseUrl() + QLatin1StringView(path); }
    void configure(IpLookup &engine) const
    {
        engine.setPages(page("/query/ip.asp?ip="), page("/query/ipmess.asp?ip="));
    }

    test::TestResolver m_resolver;
    test::ServicesProcess m_services;
    std::shared_ptr<test::DatabaseStack> m_stack;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_resolver.start() || !m_resolver.broken(), qPrintable(m_resolver.reason()));
        if (!m_resolver.ready())
            return;
        QString error;
        QVERIFY2(m_services.start(&error), qPrintable(error));

        test::TestDnsServer &dns = m_resolver.server();
        for (const char *name : {"shared.test", "one.test", "two.test", "three.test"})
            dns.addRecord(QLatin1StringView(name), {SharedAddress});
        dns.addRecord(QStringLiteral("other.test"), {QStringLiteral("10.20.0.9")});
        dns.addRecord(QStringLiteral("filed.test"), {QStringLiteral("10.30.0.1")});
        for (int i = 0; i < CrowdSize; ++i)
            dns.addRecord(QStringLiteral("crowd%1.test").arg(i), {CrowdedAddress});

        const bool filled = test::fillDatabase(m_services.databasePath(), [](QSqlDatabase &db) {
            bool ok = true;
            for (const QString &name : HostedNames)
                ok = ok && test::execSql(db, QStringLiteral("insert into svc_hosts values (?, ?)"), {name, SharedAddress});
            for (int i = 0; i < CrowdSize; ++i) {
                ok = ok && test::execSql(db, QStringLiteral("insert into svc_hosts values (?, ?)"),
                                         {QStringLiteral("crowd%1.test").arg(i), CrowdedAddress});
            }
            QVariantList geo{SharedAddress};
            for (const QString &value : Location)
                geo << (value == u"asia/shanghai" ? QStringLiteral("Asia/Shanghai") : value);
            ok = ok && test::execSql(db, QStringLiteral("insert into svc_geo values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"), geo);
            ok = ok && test::execSql(db, QStringLiteral("insert into svc_whois values ('example.com', 'Registrar A', "
                                                        "'张三', 'a@example.com', '2001-02-03', '2031-02-03', "
                                                        "'ok', 'ns1.example.com', '')"));
            // NULL must be possible in a real server's table.
            ok = ok && test::execSql(db, QStringLiteral("drop table ldomainlist"));
            ok = ok && test::execSql(db, QStringLiteral("create table ldomainlist (lname, lextend, lallname, lbackweb, "
                                                        "lback, lbacktime, lbackhost, lbackhostkind, lbackname)"));
            const QString row = QStringLiteral("insert into ldomainlist values ('', '', ?, ?, ?, ?, ?, ?, ?)");
            ok = ok && test::execSql(db, row, {QStringLiteral("filed.test"), QStringLiteral("粤ICP备1号-1"),
                                               QStringLiteral("粤ICP备1号"), QStringLiteral("2020-01-02"),
                                               QStringLiteral("某公司"), QStringLiteral("企业"), QStringLiteral("某站")});
            ok = ok && test::execSql(db, row, {QStringLiteral("filed.test"), QStringLiteral("second"), QStringLiteral("x"),
                                               QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x")});
            ok = ok && test::execSql(db, row, {QStringLiteral("nulls.test"), QStringLiteral("京ICP备2号"), QVariant(),
                                               QStringLiteral("2021-01-01"), QVariant(), QStringLiteral("个人"), QVariant()});
            return ok;
        });
        QVERIFY(filled);
        m_stack = std::make_shared<test::DatabaseStack>(m_services.dataServiceUrl());
    }

    void cleanup()
    {
        if (m_resolver.ready())
            m_resolver.server().setDelay(0ms);
    }

    void cleaning_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("domain");   // whois and filing
        QTest::addColumn<QString>("ipText");   // IP lookup
        QTest::addColumn<bool>("dotted");      // the filing and IP dot test on the domain

        QTest::newRow("prefix, case, spaces") << QStringLiteral("  HTTP://WWW.Example.COM  ")
                                              << QStringLiteral("example.com")
                                              << QStringLiteral("http://www.example.com") << true;
        QTest::newRow("www. inside the name") << QStringLiteral("my www.site.com") << QStringLiteral("mysite.com")
                                              << QStringLiteral("mywww.site.com") << true;
        QTest::newRow("leading dot") << QStringLiteral(".com") << QStringLiteral(".com") << QStringLiteral(".com")
                                     << false;
        QTest::newRow("no dot") << QStringLiteral("Example") << QStringLiteral("example") << QStringLiteral("example")
                                << false;
        QTest::newRow("address") << QStringLiteral(" 10.0.0.1") << QStringLiteral("10.0.0.1")
                                 << QStringLiteral("10.0.0.1") << true;
    }

    void cleaning()
    {
        QFETCH(QString, typed);
        QFETCH(QString, domain);
        QFETCH(QString, ipText);
        QFETCH(bool, dotted);
        QCOMPARE(cleanDomainName(typed), domain);
        QCOMPARE(cleanLookupText(typed), ipText);
        QCOMPARE(hasNameDot(domain), dotted);
    }

    void pages()
    {
        QCOMPARE(whoisText(QStringLiteral("<pre>|whois|Domain: A\r\nStatus: ok|whois|</pre>")),
                 QStringLiteral("Domain: A\r\nStatus: ok"));
        QCOMPARE(whoisText(QStringLiteral("x|whois||whois|y")), QString());
        QCOMPARE(whoisText(QStringLiteral("|WHOIS|a|WHOIS|")), QString::fromUtf16(lookuptext::whoisNotFound));

        QCOMPARE(sharedCandidates(QStringLiteral("head|cite|a.test|/cite|x|cite|b.test|cite|a.test|/cite|"
                                                 "|cite|nodot|/cite||cite|.c.test|/cite||cite||/cite|")),
                 (QStringList{QStringLiteral("a.test"), QStringLiteral("b.test")}));

        // A value runs to its closing marker, or to the end of the page.
        QStringList expected(9, QString());
        expected[0] = QStringLiteral("cn");
        expected[2] = QStringLiteral("xiamen |isp");
        QCOMPARE(locationValues(QStringLiteral("|country|cn|country| gap |city|xiamen |isp")), expected);
    }

    void whois_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("requested");
        QTest::addColumn<QString>("text");   // the whole text, or its first line

        QTest::newRow("known, typed loosely") << QStringLiteral(" WWW.Example.Com ") << true
                                              << QStringLiteral("Domain Name: EXAMPLE.COM");
        QTest::newRow("unknown") << QStringLiteral("nowhere.test") << true
                                 << QString::fromUtf16(lookuptext::whoisNotFound);
        QTest::newRow("no dot: no request") << QStringLiteral("example") << false
                                            << QString::fromUtf16(lookuptext::whoisNotFound);
    }

    void whois()
    {
        QFETCH(QString, typed);
        QFETCH(bool, requested);
        QFETCH(QString, text);
        REQUIRE_RESOLVER();

        WhoisLookup engine(backend());
        engine.setPageBase(page("/query/whois.asp?domain="));
        QSignalSpy lookingUp(&engine, &WhoisLookup::lookingUp);
        QSignalSpy finished(&engine, &WhoisLookup::finished);
        const quint64 generation = engine.start(typed);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(lookingUp.count(), requested ? 1 : 0);
        QCOMPARE(finished.at(0).at(0).toULongLong(), generation);
        const QStringList lines = finished.at(0).at(1).toString().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.first(), text);
        if (requested && text.startsWith(u"Domain"))
            QVERIFY(lines.size() > 5);
    }

    void filing_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("boxes");

        const QStringList empty(FilingLookup::boxCount, QString());
        QTest::newRow("first of two rows, prefix taken off")
            << QStringLiteral("  HTTP://WWW.Filed.TEST ")
            << QStringList{QStringLiteral("粤ICP备1号"), QStringLiteral("2020-01-02"), QStringLiteral("某公司"),
                           QStringLiteral("企业"), QStringLiteral("某站"), QStringLiteral("粤ICP备1号-1"),
                           QStringLiteral("filed.test"), QStringLiteral("10.30.0.1")};
        QTest::newRow("NULL columns, no address")
            << QStringLiteral("nulls.test")
            << QStringList{QString(), QStringLiteral("2021-01-01"), QString(), QStringLiteral("个人"), QString(),
                           QStringLiteral("京ICP备2号"), QStringLiteral("nulls.test"), QString()};
        QTest::newRow("no row") << QStringLiteral("unknown.test") << empty;
        QTest::newRow("quote") << QStringLiteral("o'filed.test") << empty;
        QTest::newRow("leading dot") << QStringLiteral(".test") << empty;
    }

    void filing()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, boxes);
        REQUIRE_RESOLVER();

        FilingLookup engine(backend());
        QSignalSpy finished(&engine, &FilingLookup::finished);
        engine.start(QStringLiteral("filed.test"));  // superseded at once: never reported
        const quint64 generation = engine.start(typed);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toULongLong(), generation);
        QCOMPARE(finished.at(0).at(1).toStringList(), boxes);
        test::drainWorkers();
        QCOMPARE(finished.count(), 1);
    }

    void ipLookup_data()
    {
        QTest::addColumn<int>("parallelism");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("in parallel") << IpLookup::defaultParallelism;
    }

    void ipLookup()
    {
        QFETCH(int, parallelism);
        REQUIRE_RESOLVER();
        test::TestDnsServer &dns = m_resolver.server();
        dns.setDelay(20ms);

        IpLookup engine(backend());
        configure(engine);
        engine.setParallelism(parallelism);
        test::IpLookupRecord record(engine);
        const qsizetype asked = dns.queriedNames().size();
        const quint64 generation = engine.start(QStringLiteral("  Shared.TEST "));
        QTRY_VERIFY_WITH_TIMEOUT(record.ended(generation), 20000);

        QStringList expected{QStringLiteral("lip shared.test"), u"lip " % SharedAddress};
        for (const QString &name : SharedNames)
            expected << u"list " % name;
        expected << QStringLiteral("count 3") << u"geo " % Location.join(u'|') << QStringLiteral("end");
        QCOMPARE(record.of(generation), expected);

        // One query per distinct name: the input and the five candidates
        // that pass the dot test.
        QStringList queried = dns.queriedNames().mid(asked);
        queried.sort();
        QCOMPARE(queried, (QStringList{QStringLiteral("ghost.test"), QStringLiteral("one.test"),
                                       QStringLiteral("other.test"), QStringLiteral("shared.test"),
                                       QStringLiteral("three.test"), QStringLiteral("two.test")}));
    }

    // "停止" ends the candidate check; the count and geolocation still come.
    void ipLookupStops()
    {
        REQUIRE_RESOLVER();
        m_resolver.server().setDelay(30ms);
        IpLookup engine(backend());
        configure(engine);
        engine.setParallelism(2);
        test::IpLookupRecord record(engine);
        QObject::connect(&engine, &IpLookup::sharedDomain, &record.scope(), [&engine] { engine.stop(); });

        const quint64 generation = engine.start(CrowdedAddress);
        QTRY_VERIFY_WITH_TIMEOUT(record.ended(generation), 20000);
        const QStringList events = record.of(generation);
        const QStringList listed = events.filter(QStringLiteral("list "));
        QCOMPARE(listed, QStringList{QStringLiteral("list crowd0.test")});
        QCOMPARE(events.mid(events.size() - 3, 2),
                 (QStringList{QStringLiteral("count 1"), QStringLiteral("geo ||||||||")}));
    }

    // A second lookup while one runs: the first writes nothing more, and a
    // lookup asked for before the configuration waits for it.
    void ipLookupSupersedes()
    {
        REQUIRE_RESOLVER();
        m_resolver.server().setDelay(30ms);
        IpLookup engine(backend());
        engine.setParallelism(2);
        test::IpLookupRecord record(engine);
        const quint64 older = engine.start(CrowdedAddress);
        QCoreApplication::processEvents();
        QCOMPARE(record.of(older), QStringList{u"lip " % CrowdedAddress});

        configure(engine);
        QTRY_VERIFY(!record.of(older).filter(QStringLiteral("list ")).isEmpty());
        QVERIFY(!record.ended(older));
        const qsizetype before = record.of(older).size();
        const quint64 newer = engine.start(QStringLiteral("shared.test"));
        QTRY_VERIFY_WITH_TIMEOUT(record.ended(newer), 20000);
        QVERIFY(record.of(newer).contains(QStringLiteral("count 3")));

        test::drainWorkers();
        QCOMPARE(record.of(older).size(), before);
    }
};

QTEST_GUILESS_MAIN(LookupTest)
#include "LookupTest.moc"
