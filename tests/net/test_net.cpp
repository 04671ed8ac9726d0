#include "norvale/core/net/HostsFile.h"
#include "norvale/core/net/cPing.h"
#include "norvale/core/web/CurlTransfer.h"
#include "norvale/core/web/GetBody.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestResolver.h"
#include "tests/support/TestText.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace std::chrono_literals;

namespace norvale::test {

namespace {

bool icmpPermitted()
{
    for (const int type : {SOCK_RAW, SOCK_DGRAM}) {
        if (const int fd = ::socket(AF_INET, type, IPPROTO_ICMP); fd >= 0)
            return ::close(fd) == 0;
    }
    return false;
}

const char *const NoIcmp = "this process may open no ICMP socket (see net.ipv4.ping_group_range)";

// Sets stop after a while, on a thread of its own: a lookup under way.
std::thread stopSoon(StopFlag &stop, std::chrono::milliseconds after = 100ms)
{
    return std::thread([&stop, after] {
        std::this_thread::sleep_for(after);
        stop = true;
    });
}

} // namespace

class TestNet final : public QObject {
    Q_OBJECT

    TestResolver m_resolver;

private slots:
    void initTestCase()
    {
        m_resolver.start();
        QVERIFY2(!m_resolver.broken(), qPrintable(m_resolver.reason()));
        if (!m_resolver.ready())
            return;
        TestDnsServer &dns = m_resolver.server();
        dns.addRecord(s("example.test"), {s("198.51.100.1")});
        dns.addRecord(s("www.example.test"), {s("198.51.100.2")});
        dns.addRecord(s("bare.test"), {s("198.51.100.3")});
        dns.addRecord(s("www.bare.test"), {s("198.51.100.4")});
        dns.addRecord(s("www.x"), {s("198.51.100.5")});
        dns.addRecord(s("httpwatch.test"), {s("198.51.100.7")});
        dns.addRecord(s("www.tch.test"), {s("198.51.100.8")});
        dns.addRecord(s("xn--fiq228c.test"), {s("198.51.100.6")});
        dns.addRecord(s("multi.test"), {s("203.0.113.30"), s("198.51.100.31"), s("203.0.113.32")});
        dns.addRecord(s("www.loop.test"), {s("127.0.0.1")});
        dns.addRecord(s("near.test"), {s("203.0.113.50"), s("127.0.0.5")});
        dns.addWildcard(s(".tk"), s("203.0.113.9"));
        // The hosts file comes first, as the system's configuration says; the
        // file is the wrapper's private copy.
        dns.addRecord(s("listed.test"), {s("198.51.100.40")});
        QFile hosts(s("/etc/hosts"));
        QVERIFY(hosts.open(QIODevice::Append));
        QVERIFY(hosts.write("192.0.2.41\tlisted.test\n") > 0);
    }

    void addressTextToNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");  // in memory order
        const QByteArray zero(4, '\0');
        QTest::newRow("network order") << s("10.0.0.1") << QByteArray("\x0a\x00\x00\x01", 4);
        QTest::newRow("high bytes") << s("192.168.0.1") << QByteArray("\xc0\xa8\x00\x01", 4);
        QTest::newRow("part above 255 keeps its lowest byte") << s("256.1.2.300") << QByteArray("\x00\x01\x02\x2c", 4);
        QTest::newRow("very long part") << s("1.2.3.123456789012345678901234567890") << QByteArray("\x01\x02\x03\xd2", 4);
        QTest::newRow("three parts") << s("10.0.1") << zero;
        QTest::newRow("five parts") << s("1.2.3.4.5") << zero;
        QTest::newRow("letters") << s("1.2.3.x") << zero;
        QTest::newRow("hexadecimal") << s("0x1.2.3.4") << zero;
        QTest::newRow("negative") << s("1.-2.3.4") << zero;
        QTest::newRow("empty part") << s("1..3.4") << zero;
        QTest::newRow("empty") << QString() << zero;
    }

    void addressTextToNumber()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const quint32 number = norvale::addressTextToNumber(text);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&number), sizeof number).toHex(' '), bytes.toHex(' '));
    }

    void funcGetIPFromHostName_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("address");
        QTest::newRow("dotted address") << s("10.1.2.3") << s("10.1.2.3");
        QTest::newRow("short address form") << s("127.1") << s("127.0.0.1");
        QTest::newRow("www name") << s("www.example.test") << s("198.51.100.2");
        QTest::newRow("http:// gains www.") << s("http://example.test") << s("198.51.100.2");
        QTest::newRow("http://www. keeps it") << s("http://www.example.test") << s("198.51.100.2");
        QTest::newRow("prefix in capitals") << s("HTTP://WWW.Example.TEST") << s("198.51.100.2");
        QTest::newRow("bare name unchanged") << s("bare.test") << s("198.51.100.3");
        QTest::newRow("wildcard") << s("anything.tk") << s("203.0.113.9");
        QTest::newRow("international name") << s("中文.test") << s("198.51.100.6");
        // Only the test server knows this name; the first of its addresses.
        QTest::newRow("first of several") << s("multi.test") << s("203.0.113.30");
        // Not the one nearest to this machine, as the C library's sorting has it.
        QTest::newRow("answer order") << s("near.test") << s("203.0.113.50");
        QTest::newRow("hosts file first") << s("listed.test") << s("192.0.2.41");
        QTest::newRow("no such name") << s("nosuch.test") << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("http:// alone") << s("http://") << QString();
        QTest::newRow("https://") << s("https://example.test") << s("198.51.100.2");
        // A name that only begins with the letters http is looked up as it is.
        QTest::newRow("name beginning with http") << s("httpwatch.test") << s("198.51.100.7");
        // A leading blank defeats the prefix test; the blank stays in the name.
        QTest::newRow("leading blank") << s(" www.x") << QString();
    }

    void funcGetIPFromHostName()
    {
        QFETCH(QString, host);
        QFETCH(QString, address);
        if (!m_resolver.ready())
            QSKIP(qPrintable(m_resolver.reason()));
        QCOMPARE(cPing().funcGetIPFromHostName(host), address);
    }

    void lookupsAtOnce_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<int>("names");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<double>("loss");
        // Each answer waits longer than a try: the lookups ask again meanwhile,
        // and an answer to an earlier try still counts.
        QTest::newRow("slow answers") << s("host") << 8 << 300 << 0.0;
        // A third of the queries go unanswered; the seed makes it the same ones
        // on every run.
        QTest::newRow("lossy server") << s("lossy") << 16 << 0 << 0.3;
    }

    void lookupsAtOnce()
    {
        QFETCH(QString, prefix);
        QFETCH(int, names);
        QFETCH(int, delayMs);
        QFETCH(double, loss);
        if (!m_resolver.ready())
            QSKIP(qPrintable(m_resolver.reason()));
        TestDnsServer &dns = m_resolver.server();
        auto nameOf = [&](int i) -> QString { return prefix + QString::number(i) + s(".test"); };
        auto addressOf = [](int i) { return s("198.51.100.%1").arg(100 + i); };
        for (int i = 0; i < names; ++i)
            dns.addRecord(nameOf(i), {addressOf(i)});
        dns.setDelay(std::chrono::milliseconds(delayMs));
        dns.setLoss(loss, 3);
        const int droppedBefore = dns.droppedCount();
        const auto restore = qScopeGuard([&dns] {
            dns.setDelay(0ms);
            dns.setLoss(0);
        });

        const cPing pinger;
        QStringList results(names);
        std::vector<std::thread> threads;
        for (int i = 0; i < names; ++i)
            threads.emplace_back([&, i] { results[i] = pinger.funcGetIPFromHostName(nameOf(i)); });
        for (std::thread &thread : threads)
            thread.join();
        for (int i = 0; i < names; ++i)
            QCOMPARE(results[i], addressOf(i));
        if (loss > 0)
            QVERIFY(dns.droppedCount() - droppedBefore >= 3);
    }

    void unansweredLookupEnds_data()
    {
        QTest::addColumn<int>("stopAfterMs");  // -1: never stopped
        QTest::addColumn<int>("withinMs");
        // The lookup gives up within its 3 s deadline (the C library would wait
        // out its own time-outs); a stop ends it at once.
        QTest::newRow("no answer at all") << -1 << 4500;
        QTest::newRow("stopped") << 200 << 800;
    }

    void unansweredLookupEnds()
    {
        QFETCH(int, stopAfterMs);
        QFETCH(int, withinMs);
        if (!m_resolver.ready())
            QSKIP(qPrintable(m_resolver.reason()));
        TestDnsServer &dns = m_resolver.server();
        const QString name = s("silent.test");
        dns.addRecord(name, {s("198.51.100.99")});
        const qsizetype askedBefore = dns.queriedNames().count(name);
        dns.setLoss(1);
        const auto noLoss = qScopeGuard([&dns] { dns.setLoss(0); });

        StopFlag stop{false};
        std::thread stopper = stopAfterMs >= 0 ? stopSoon(stop, std::chrono::milliseconds(stopAfterMs)) : std::thread();
        QElapsedTimer clock;
        clock.start();
        const QString address = cPing().funcGetIPFromHostName(name, &stop);
        const qint64 took = clock.elapsed();
        if (stopper.joinable())
            stopper.join();
        QCOMPARE(address, QString());
        QVERIFY2(took < withinMs, qPrintable(s("%1 ms").arg(took)));
        // It asked again rather than waiting for the one query.
        if (stopAfterMs < 0)
            QVERIFY(dns.queriedNames().count(name) - askedBefore >= 3);
    }

    void hostsFileTable_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("address");
        const QByteArray file = "# comment 10.0.0.9 commented.test\n"
                                "10.0.0.1\tone.test alias.test # trailing comment hidden.test\n"
                                "::1 six.test\n"
                                "10.0.0.2 One.TEST twice.test\n"
                                "10.1 short.test\n"
                                "   10.0.0.3   spaced.test   \n"
                                "10.0.0.4\n"
                                "garbage words.test\n";
        QTest::newRow("name") << file << QByteArray("one.test") << s("10.0.0.1");
        QTest::newRow("alias") << file << QByteArray("alias.test") << s("10.0.0.1");
        QTest::newRow("first line wins, any case") << file << QByteArray("ONE.test") << s("10.0.0.1");
        QTest::newRow("later line") << file << QByteArray("twice.test") << s("10.0.0.2");
        QTest::newRow("blanks around") << file << QByteArray("spaced.test") << s("10.0.0.3");
        QTest::newRow("after a comment sign") << file << QByteArray("hidden.test") << QString();
        QTest::newRow("commented line") << file << QByteArray("commented.test") << QString();
        QTest::newRow("IPv6 only") << file << QByteArray("six.test") << QString();
        QTest::newRow("short address form") << file << QByteArray("short.test") << QString();
        QTest::newRow("not an address") << file << QByteArray("words.test") << QString();
    }

    void hostsFileTable()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, name);
        QFETCH(QString, address);
        QCOMPARE(HostsFile::parsed(file).firstIPv4(name), address);
    }

    // Each thread keeps its resolver channel from one lookup to the next: an
    // answer that comes after its lookup was given up never becomes another
    // name's, and the channel's renewal every so many lookups loses nothing.
    void keptChannelAnswersEachLookupItsOwn()
    {
        if (!m_resolver.ready())
            QSKIP(qPrintable(m_resolver.reason()));
        TestDnsServer &dns = m_resolver.server();
        auto nameOf = [](int i) { return s("kept%1.test").arg(i); };
        auto addressOf = [](int i) { return s("198.51.100.%1").arg(i); };
        for (int i = 1; i <= 3; ++i)
            dns.addRecord(nameOf(i), {addressOf(i)});
        const cPing pinger;

        dns.setDelay(300ms);
        const auto noDelay = qScopeGuard([&dns] { dns.setDelay(0ms); });
        StopFlag stop{false};
        std::thread stopper = stopSoon(stop);
        QCOMPARE(pinger.funcGetIPFromHostName(nameOf(1), &stop), QString());
        stopper.join();
        dns.setDelay(0ms);
        QCOMPARE(pinger.funcGetIPFromHostName(nameOf(2)), addressOf(2));
        std::this_thread::sleep_for(400ms);  // the given-up answer arrives meanwhile
        for (int n = 0; n < 250; ++n)
            QCOMPARE(pinger.funcGetIPFromHostName(nameOf(2 + n % 2)), addressOf(2 + n % 2));

        // The hosts file is kept as a table, and an edit is seen within a second.
        QFile hosts(s("/etc/hosts"));
        QVERIFY(hosts.open(QIODevice::Append));
        QVERIFY(hosts.write("192.0.2.42\tkept2.test\n") > 0);
        hosts.close();
        std::this_thread::sleep_for(1100ms);
        QCOMPARE(pinger.funcGetIPFromHostName(nameOf(2)), s("192.0.2.42"));
    }

    void lookupsInFlightTogether()
    {
        if (!m_resolver.ready())
            QSKIP(qPrintable(m_resolver.reason()));
        TestDnsServer &dns = m_resolver.server();
        dns.addRecord(s("one.together.test"), {s("198.51.100.11")});
        dns.addRecord(s("www.two.together.test"), {s("198.51.100.12")});
        dns.addRecord(s("inner.together.test"), {s("198.51.100.13")});
        const QStringList names{s("one.together.test"), s("nobody.together.test"), s("192.0.2.7"), s(""),
                                s("http://two.together.test"), s("one.together.test")};
        const QStringList expected{s("198.51.100.11"), s(""), s("192.0.2.7"), s(""), s("198.51.100.12"),
                                   s("198.51.100.11")};
        const cPing pinger;
        QStringList got(names.size(), s("(none)"));
        QString inner;
        pinger.funcGetIPsFromHostNames(names, nullptr, [&](qsizetype i, const QString &address) {
            QCOMPARE(got[i], s("(none)"));  // each name once
            got[i] = address;
            // A lookup from an answer, while the others are still in flight.
            if (i == 0)
                inner = pinger.funcGetIPFromHostName(s("inner.together.test"));
        });
        QCOMPARE(got, expected);
        QCOMPARE(inner, s("198.51.100.13"));

        // A stop ends the batch at once and hands over none of the waiting names.
        dns.setDelay(10s);
        const auto noDelay = qScopeGuard([&dns] { dns.setDelay(0ms); });
        StopFlag stop{false};
        std::thread stopper = stopSoon(stop);
        int handed = 0;
        QElapsedTimer clock;
        clock.start();
        pinger.funcGetIPsFromHostNames({s("one.together.test"), s("192.0.2.8")}, &stop,
                                       [&](qsizetype, const QString &) { ++handed; });
        stopper.join();
        QCOMPARE(handed, 1);  // the address, answered on the spot
        QVERIFY2(clock.elapsed() < 2000, "held until the lookup's own deadline");
    }

    void ping_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("pinged");
        QTest::addColumn<bool>("needsResolver");
        QTest::addColumn<int>("status");
        QTest::newRow("loopback") << s("127.0.0.1") << s("127.0.0.1") << false << echostatus::Success;
        QTest::newRow("name resolved first") << s("http://loop.test") << s("127.0.0.1") << true << echostatus::Success;
        // An address that converts to 0 would mean this host; it is not sent.
        const int bad = echostatus::BadDestination;
        QTest::newRow("three parts") << s("1.2.3") << s("1.2.3") << false << bad;
        QTest::newRow("zero address") << s("0.0.0.0") << s("0.0.0.0") << false << bad;
        QTest::newRow("not an address") << s("localhost") << s("localhost") << false << bad;
        QTest::newRow("name that does not resolve") << s("www.nosuch.test") << QString() << true << bad;
    }

    void ping()
    {
        QFETCH(QString, address);
        QFETCH(QString, pinged);
        QFETCH(bool, needsResolver);
        QFETCH(int, status);
        if (needsResolver && !m_resolver.ready())
            QSKIP(qPrintable(m_resolver.reason()));

        cPing pinger;
        QSignalSpy spy(&pinger, &cPing::PingReturn);
        const int result = pinger.Ping(address);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(address, pinged);
        QCOMPARE(spy.first().value(0).toString(), pinged);
        const bool sent = status == echostatus::Success && icmpPermitted();
        QCOMPARE(spy.first().value(1).toString(), sent ? s("success") : s("failure"));
        if (status == echostatus::Success && !sent) {
            QCOMPARE(result, 0);
            QSKIP(NoIcmp);
        }
        QCOMPARE(spy.first().value(2).toInt(), sent ? result : 0);
        QCOMPARE(result, sent ? qMax(result, 0) : -status);
    }

    // A page from the open internet cannot send the program into this
    // machine or its private network; a local page (the services) may.
    void redirectsIntoPrivateNetworks_data()
    {
        QTest::addColumn<bool>("fromPublic");
        QTest::addColumn<QString>("target");  // LOCAL: the local server's port; AWAY: the public one
        QTest::addColumn<bool>("arrives");
        QTest::newRow("public to public") << true << s("http://AWAY/page") << true;
        QTest::newRow("public to loopback") << true << s("http://127.0.0.1LOCAL/page") << false;
        QTest::newRow("public to a name on loopback") << true << s("http://www.loop.testLOCAL/page") << false;
        QTest::newRow("public to mapped loopback") << true << s("http://[::ffff:127.0.0.1]LOCAL/page") << false;
        QTest::newRow("local to local") << false << s("http://127.0.0.1LOCAL/page") << true;
    }

    void redirectsIntoPrivateNetworks()
    {
        const QString publicAddress = qEnvironmentVariable("NORVALE_TEST_PUBLIC_ADDRESS");
        if (!TestResolver::privateNetwork() || publicAddress.isEmpty())
            QSKIP("needs a private network namespace (with-test-resolver --netns)");
        QFETCH(bool, fromPublic);
        QFETCH(QString, target);
        QFETCH(bool, arrives);
        TestHttpServer local;
        TestHttpServer away;
        for (TestHttpServer *server : {&local, &away}) {
            server->get("/page", [](const httplib::Request &, httplib::Response &res) { res.set_content("arrived", "text/plain"); });
            server->get("/to", [](const httplib::Request &req, httplib::Response &res) { res.set_redirect(req.get_param_value("u")); });
        }
        QVERIFY(local.start());
        QVERIFY(away.start(nullptr, publicAddress));
        const QString to = QString(target)
                               .replace(s("LOCAL"), s(":%1").arg(local.port()))
                               .replace(s("AWAY"), s("%1:%2").arg(publicAddress).arg(away.port()));
        TestHttpServer &first = fromPublic ? away : local;
        const PageFetch fetched = fetchPage(first.url(s("/to?u=")) + QString::fromLatin1(QUrl::toPercentEncoding(to)));
        QCOMPARE(fetched.transportOk, arrives);
        QCOMPARE(fetched.body, arrives ? QByteArray("arrived") : QByteArray());
    }

    void privateAddresses_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<bool>("isPrivate");
        for (const char *ip : {"127.0.0.1", "127.255.0.9", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.1",
                               "169.254.169.254", "0.0.0.0", "::1", "fc00::1", "fdff::2", "fe80::1", "::ffff:10.0.0.1"})
            QTest::newRow(ip) << s(ip) << true;
        for (const char *ip : {"172.32.0.1", "172.15.255.255", "192.0.2.80", "8.8.8.8", "2001:db8::1", "::ffff:8.8.8.8", "not an ip"})
            QTest::newRow(ip) << s(ip) << false;
    }

    void privateAddresses()
    {
        QFETCH(QString, ip);
        QFETCH(bool, isPrivate);
        QCOMPARE(curltransfer::isPrivateAddress(ip.toLatin1().constData()), isPrivate);
    }

    void pingUnansweredFails()
    {
        if (!TestResolver::privateNetwork())
            QSKIP("needs a private network namespace (with-test-resolver --netns)");
        if (!icmpPermitted())
            QSKIP(NoIcmp);
        const QString ignoreEcho = s("/proc/sys/net/ipv4/icmp_echo_ignore_all");
        QVERIFY(writeFile(ignoreEcho, "1"));
        const auto answerAgain = qScopeGuard([&] { writeFile(ignoreEcho, "0"); });

        cPing pinger;
        pinger.setPingTimeout(300);
        QSignalSpy spy(&pinger, &cPing::PingReturn);
        QString address = s("127.0.0.1");
        QCOMPARE(pinger.Ping(address), -echostatus::TimedOut);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().value(1).toString(), s("failure"));
    }
};

} // namespace norvale::test

QTEST_GUILESS_MAIN(norvale::test::TestNet)
#include "test_net.moc"
