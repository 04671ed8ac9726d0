#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/lookup/FilingLookup.h"
#include "norvale/core/lookup/IpLookup.h"
#include "norvale/core/lookup/LookupInput.h"
#include "norvale/core/lookup/WhoisLookup.h"

#include "tests/support/ServicesFixture.h"
#include "tests/support/IpLookupRecord.h"
#include "tests/support/SearchToEnd.h"
#include "tests/support/TestSql.h"

#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <memory>

using namespace norvale;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const QString SharedAddress = u"10.20.0.1"_s;

// The reverse-lookup page of SharedAddress lists these, in this order.
const QStringList HostedNames =
    u"one.test two.test one.test nodot .lead.test other.test ghost.test Three.TEST"_s.split(u' ');
const QStringList SharedNames{u"one.test"_s, u"two.test"_s, u"three.test"_s};
const QStringList Location = u"中国 广东省 深圳 22.5431 114.0579 518000 Asia/Shanghai 星河数据中心 86"_s.split(u' ');

// Many names on one address, for the stop.
const QString CrowdedAddress = u"10.20.0.2"_s;
constexpr int CrowdSize = 40;

} // namespace

class LookupTest final : public QObject {
    Q_OBJECT

    void configure(IpLookup &engine) const
    {
        engine.setPages(m_world.page("/query/ip.asp?ip="), m_world.page("/query/ipmess.asp?ip="));
    }

    test::ServicesFixture m_world;

private slots:
    void initTestCase()
    {
        if (!m_world.start() || !m_world.resolverReady())
            return;

        test::TestDnsServer &dns = m_world.dns();
        for (const char *name : {"shared.test", "one.test", "two.test", "three.test"})
            dns.addRecord(QLatin1StringView(name), {SharedAddress});
        dns.addRecord(u"other.test"_s, {u"10.20.0.9"_s});
        dns.addRecord(u"filed.test"_s, {u"10.30.0.1"_s});
        for (int i = 0; i < CrowdSize; ++i)
            dns.addRecord(u"crowd%1.test"_s.arg(i), {CrowdedAddress});

        const bool filled = test::fillDatabase(m_world.services.databasePath(), [](QSqlDatabase &db) {
            bool ok = true;
            for (const QString &name : HostedNames)
                ok = ok && test::execSql(db, u"insert into svc_hosts values (?, ?)"_s, {name, SharedAddress});
            for (int i = 0; i < CrowdSize; ++i)
                ok = ok && test::execSql(db, u"insert into svc_hosts values (?, ?)"_s, {u"crowd%1.test"_s.arg(i), CrowdedAddress});
            QVariantList geo{SharedAddress};
            for (const QString &value : Location)
                geo << value;
            ok = ok && test::execSql(db, u"insert into svc_geo values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s, geo);
            ok = ok && test::execSql(db, QStringLiteral("insert into svc_whois values ('example.com', 'Registrar A', "
                                                        "'张三', 'a@example.com', '2001-02-03', '2031-02-03', "
                                                        "'ok', 'ns1.example.com', '')"));
            // NULL must be possible in a real server's table.
            ok = ok && test::execSql(db, u"drop table ldomainlist"_s);
            ok = ok && test::execSql(db, QStringLiteral("create table ldomainlist (lname, lextend, lallname, lbackweb, "
                                                        "lback, lbacktime, lbackhost, lbackhostkind, lbackname)"));
            const QString row = u"insert into ldomainlist values ('', '', ?, ?, ?, ?, ?, ?, ?)"_s;
            ok = ok && test::execSql(db, row, {u"filed.test"_s, u"粤ICP备1号-1"_s, u"粤ICP备1号"_s, u"2020-01-02"_s, u"某公司"_s, u"企业"_s, u"某站"_s});
            ok = ok && test::execSql(db, row, {u"filed.test"_s, u"second"_s, u"x"_s, u"x"_s, u"x"_s, u"x"_s, u"x"_s});
            ok = ok && test::execSql(db, row, {u"nulls.test"_s, u"京ICP备2号"_s, QVariant(), u"2021-01-01"_s, QVariant(), u"个人"_s, QVariant()});
            return ok;
        });
        QVERIFY(filled);
    }

    void cleanup()
    {
        if (m_world.resolverReady())
            m_world.dns().setDelay(0ms);
    }

    void cleaning_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("domain");   // whois and filing
        QTest::addColumn<QString>("ipText");   // IP lookup
        QTest::addColumn<bool>("dotted");      // the filing and IP dot test on the domain

        QTest::newRow("prefix, case, spaces") << u"  HTTP://WWW.Example.COM  "_s << u"example.com"_s << u"http://www.example.com"_s << true;
        QTest::newRow("www. inside the name") << u"my www.site.com"_s << u"mysite.com"_s << u"mywww.site.com"_s << true;
        QTest::newRow("leading dot") << u".com"_s << u".com"_s << u".com"_s << false;
        QTest::newRow("no dot") << u"Example"_s << u"example"_s << u"example"_s << false;
        QTest::newRow("address") << u" 10.0.0.1"_s << u"10.0.0.1"_s << u"10.0.0.1"_s << true;
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
        QCOMPARE(whoisText(u"<pre>|whois|Domain: A\r\nStatus: ok|whois|</pre>"_s), u"Domain: A\r\nStatus: ok"_s);
        QCOMPARE(whoisText(u"x|whois||whois|y"_s), QString());
        QCOMPARE(whoisText(u"|WHOIS|a|WHOIS|"_s), QString::fromUtf16(lookuptext::whoisNotFound));

        QCOMPARE(sharedCandidates(QStringLiteral("head|cite|a.test|/cite|x|cite|b.test|cite|a.test|/cite|"
                                                 "|cite|nodot|/cite||cite|.c.test|/cite||cite||/cite|")),
                 (QStringList{u"a.test"_s, u"b.test"_s}));

        // A value runs to its closing marker, or to the end of the page.
        QStringList expected(9, QString());
        expected[0] = u"cn"_s;
        expected[2] = u"xiamen |isp"_s;
        QCOMPARE(locationValues(u"|country|cn|country| gap |city|xiamen |isp"_s), expected);
        // Markers in any letter case; the values as the page spells them.
        expected[0] = u"United States"_s;
        expected[2] = u"Los Angeles"_s;
        expected[6] = u"America/Los_Angeles"_s;
        expected[7] = u"Harbor Cloud"_s;
        QCOMPARE(locationValues(u"|Country|United States|COUNTRY||city|Los Angeles|City|"
                                u"|TimeZone|America/Los_Angeles|timezone||ISP|Harbor Cloud"_s),
                 expected);
    }

    void whois_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("requested");
        QTest::addColumn<QString>("text");   // the whole text, or its first line

        const QString notFound = QString::fromUtf16(lookuptext::whoisNotFound);
        QTest::newRow("known, typed loosely") << u" WWW.Example.Com "_s << true << u"Domain Name: EXAMPLE.COM"_s;
        QTest::newRow("unknown") << u"nowhere.test"_s << true << notFound;
        QTest::newRow("no dot: no request") << u"example"_s << false << notFound;
    }

    void whois()
    {
        QFETCH(QString, typed);
        QFETCH(bool, requested);
        QFETCH(QString, text);
        REQUIRE_TEST_RESOLVER(m_world);

        WhoisLookup engine(m_world.lookups());
        engine.setPageBase(m_world.page("/query/whois.asp?domain="));
        QSignalSpy lookingUp(&engine, &WhoisLookup::lookingUp);
        QSignalSpy finished(&engine, &WhoisLookup::finished);
        const quint64 generation = engine.start(typed);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(lookingUp.count(), requested ? 1 : 0);
        QCOMPARE(finished.at(0).at(0).toULongLong(), generation);
        const QStringList lines = finished.at(0).at(1).toString().split(u"\r\n"_s);
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
            << u"  HTTP://WWW.Filed.TEST "_s << u"粤ICP备1号|2020-01-02|某公司|企业|某站|粤ICP备1号-1|filed.test|10.30.0.1"_s.split(u'|');
        QTest::newRow("NULL columns, no address") << u"nulls.test"_s << u"|2021-01-01||个人||京ICP备2号|nulls.test|"_s.split(u'|');
        QTest::newRow("no row") << u"unknown.test"_s << empty;
        QTest::newRow("quote") << u"o'filed.test"_s << empty;
        QTest::newRow("leading dot") << u".test"_s << empty;
    }

    void filing()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, boxes);
        REQUIRE_TEST_RESOLVER(m_world);

        FilingLookup engine(m_world.lookups());
        QSignalSpy finished(&engine, &FilingLookup::finished);
        engine.start(u"filed.test"_s);  // superseded at once: never reported
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
        REQUIRE_TEST_RESOLVER(m_world);
        test::TestDnsServer &dns = m_world.dns();
        dns.setDelay(20ms);

        IpLookup engine(m_world.lookups());
        configure(engine);
        engine.setParallelism(parallelism);
        test::IpLookupRecord record(engine);
        const qsizetype asked = dns.queriedNames().size();
        const quint64 generation = engine.start(u"  Shared.TEST "_s);
        QTRY_VERIFY_WITH_TIMEOUT(record.ended(generation), 20000);

        QStringList expected{u"lip shared.test"_s, u"lip " % SharedAddress};
        for (const QString &name : SharedNames)
            expected << u"list " % name;
        expected << u"count 3"_s << u"geo " % Location.join(u'|') << u"end"_s;
        QCOMPARE(record.of(generation), expected);

        // One query per distinct name: the input and the five candidates
        // that pass the dot test.
        QStringList queried = dns.queriedNames().mid(asked);
        queried.sort();
        QCOMPARE(queried, u"ghost.test one.test other.test shared.test three.test two.test"_s.split(u' '));
    }

    // "停止" ends the candidate check; the count and geolocation still come.
    void ipLookupStops()
    {
        REQUIRE_TEST_RESOLVER(m_world);
        m_world.dns().setDelay(30ms);
        IpLookup engine(m_world.lookups());
        configure(engine);
        engine.setParallelism(2);
        test::IpLookupRecord record(engine);
        QStringList firstBatch;
        QObject::connect(&engine, &IpLookup::sharedDomains, &record.scope(), [&](quint64, const QStringList &names) {
            if (firstBatch.isEmpty())
                firstBatch = names;
            engine.stop();
        });

        const quint64 generation = engine.start(CrowdedAddress);
        QTRY_VERIFY_WITH_TIMEOUT(record.ended(generation), 20000);
        const QStringList events = record.of(generation);
        // The first batch (the names listed before the stop), in page order, and no more.
        QVERIFY(!firstBatch.isEmpty() && firstBatch.size() < CrowdSize);
        QCOMPARE(firstBatch.first(), u"crowd0.test"_s);
        QCOMPARE(events.filter(u"list "_s).size(), firstBatch.size());
        QCOMPARE(events.mid(events.size() - 3, 2), (QStringList{u"count %1"_s.arg(firstBatch.size()), u"geo ||||||||"_s}));
    }

    // A second lookup while one runs: the first writes nothing more, and a
    // lookup asked for before the configuration waits for it.
    void ipLookupSupersedes()
    {
        REQUIRE_TEST_RESOLVER(m_world);
        m_world.dns().setDelay(30ms);
        IpLookup engine(m_world.lookups());
        engine.setParallelism(2);
        test::IpLookupRecord record(engine);
        const quint64 older = engine.start(CrowdedAddress);
        QCoreApplication::processEvents();
        QCOMPARE(record.of(older), QStringList{u"lip " % CrowdedAddress});

        configure(engine);
        QTRY_VERIFY(!record.of(older).filter(u"list "_s).isEmpty());
        QVERIFY(!record.ended(older));
        const qsizetype before = record.of(older).size();
        const quint64 newer = engine.start(u"shared.test"_s);
        QTRY_VERIFY_WITH_TIMEOUT(record.ended(newer), 20000);
        QVERIFY(record.of(newer).contains(u"count 3"_s));

        test::drainWorkers();
        QCOMPARE(record.of(older).size(), before);
    }
};

QTEST_GUILESS_MAIN(LookupTest)
#include "LookupTest.moc"
