#include "norvale/net/cPing.h"
#include "tests/support/TestResolver.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

using namespace std::chrono_literals;

namespace norvale::test {

namespace {

QByteArray memoryBytes(quint32 number)
{
    return QByteArray(reinterpret_cast<const char *>(&number), sizeof number);
}

bool icmpPermitted()
{
    for (const int type : {SOCK_RAW, SOCK_DGRAM}) {
        const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

bool writeProcFile(const char *path, QByteArrayView value)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly) && file.write(value.toByteArray()) == value.size();
}

struct PingRun {
    int result = 0;
    QString address;
    QList<QVariant> reported;   // PingReturn's arguments
    qsizetype reports = 0;
};

PingRun ping(cPing &pinger, const QString &address)
{
    QSignalSpy spy(&pinger, &cPing::PingReturn);
    PingRun run;
    run.address = address;
    run.result = pinger.Ping(run.address);
    run.reports = spy.count();
    if (!spy.isEmpty())
        run.reported = spy.first();
    return run;
}

} // namespace

class TestNet final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void addressTextToNumber_data();
    void addressTextToNumber();

    void funcGetIPFromHostName_data();
    void funcGetIPFromHostName();
    void firstOfSeveralAddresses();
    void concurrentLookupsGetTheirOwnAnswers();
    void dnsServerSurvivesMalformedQueries();

    void pingLoopbackSucceeds();
    void pingResolvesNamesFirst();
    void pingWithoutAnAddressSendsNothing_data();
    void pingWithoutAnAddressSendsNothing();
    void pingUnansweredFails();

private:
    TestResolver m_resolver;
};

void TestNet::initTestCase()
{
    m_resolver.start();
    QVERIFY2(!m_resolver.broken(), qPrintable(m_resolver.reason()));
    if (!m_resolver.ready())
        return;
    TestDnsServer &dns = m_resolver.server();
    dns.addRecord(QStringLiteral("example.test"), {QStringLiteral("198.51.100.1")});
    dns.addRecord(QStringLiteral("www.example.test"), {QStringLiteral("198.51.100.2")});
    dns.addRecord(QStringLiteral("bare.test"), {QStringLiteral("198.51.100.3")});
    dns.addRecord(QStringLiteral("www.bare.test"), {QStringLiteral("198.51.100.4")});
    dns.addRecord(QStringLiteral("www.x"), {QStringLiteral("198.51.100.5")});
    dns.addRecord(QStringLiteral("xn--fiq228c.test"), {QStringLiteral("198.51.100.6")});
    dns.addRecord(QStringLiteral("multi.test"),
                  {QStringLiteral("203.0.113.30"), QStringLiteral("198.51.100.31"),
                   QStringLiteral("203.0.113.32")});
    dns.addRecord(QStringLiteral("www.loop.test"), {QStringLiteral("127.0.0.1")});
    dns.addWildcard(QStringLiteral(".tk"), QStringLiteral("203.0.113.9"));
}

#define REQUIRE_RESOLVER()                                                                    \
    do {                                                                                      \
        if (!m_resolver.ready())                                                              \
            QSKIP(qPrintable(m_resolver.reason()));                                           \
    } while (false)

void TestNet::addressTextToNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray zero(4, '\0');
    QTest::newRow("network order") << QStringLiteral("10.0.0.1") << QByteArray("\x0a\x00\x00\x01", 4);
    QTest::newRow("high bytes") << QStringLiteral("192.168.0.1") << QByteArray("\xc0\xa8\x00\x01", 4);
    QTest::newRow("part above 255 keeps its lowest byte")
        << QStringLiteral("256.1.2.300") << QByteArray("\x00\x01\x02\x2c", 4);
    QTest::newRow("very long part") << QStringLiteral("1.2.3.123456789012345678901234567890")
                                    << QByteArray("\x01\x02\x03\xd2", 4);
    QTest::newRow("three parts") << QStringLiteral("10.0.1") << zero;
    QTest::newRow("five parts") << QStringLiteral("1.2.3.4.5") << zero;
    QTest::newRow("letters") << QStringLiteral("1.2.3.x") << zero;
    QTest::newRow("hexadecimal") << QStringLiteral("0x1.2.3.4") << zero;
    QTest::newRow("negative") << QStringLiteral("1.-2.3.4") << zero;
    QTest::newRow("empty part") << QStringLiteral("1..3.4") << zero;
    QTest::newRow("empty") << QString() << zero;
    QTest::newRow("host name") << QStringLiteral("www.example.test") << zero;
}

void TestNet::addressTextToNumber()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(memoryBytes(norvale::addressTextToNumber(text)).toHex(' '), bytes.toHex(' '));
}

void TestNet::funcGetIPFromHostName_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("address");
    QTest::newRow("dotted address") << QStringLiteral("10.1.2.3") << QStringLiteral("10.1.2.3");
    QTest::newRow("www name") << QStringLiteral("www.example.test") << QStringLiteral("198.51.100.2");
    QTest::newRow("http:// gains www.") << QStringLiteral("http://example.test") << QStringLiteral("198.51.100.2");
    QTest::newRow("http://www. keeps it") << QStringLiteral("http://www.example.test") << QStringLiteral("198.51.100.2");
    QTest::newRow("prefix in capitals") << QStringLiteral("HTTP://WWW.Example.TEST") << QStringLiteral("198.51.100.2");
    QTest::newRow("bare name unchanged") << QStringLiteral("bare.test") << QStringLiteral("198.51.100.3");
    QTest::newRow("wildcard") << QStringLiteral("anything.tk") << QStringLiteral("203.0.113.9");
    QTest::newRow("international name") << QStringLiteral("中文.test") << QStringLiteral("198.51.100.6");
    QTest::newRow("known only to the test server") << QStringLiteral("multi.test") << QStringLiteral("203.0.113.30");
    QTest::newRow("no such name") << QStringLiteral("nosuch.test") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("http:// alone") << QStringLiteral("http://") << QString();
    // The first 7 characters go whatever they are.
    QTest::newRow("https://") << QStringLiteral("https://example.test") << QString();
    // A leading blank defeats the prefix test; the blank stays in the name.
    QTest::newRow("leading blank") << QStringLiteral(" www.x") << QString();
}

void TestNet::funcGetIPFromHostName()
{
    QFETCH(QString, host);
    QFETCH(QString, address);
    REQUIRE_RESOLVER();
    const cPing pinger;
    QCOMPARE(pinger.funcGetIPFromHostName(host), address);
}

void TestNet::firstOfSeveralAddresses()
{
    REQUIRE_RESOLVER();
    const cPing pinger;
    QCOMPARE(pinger.funcGetIPFromHostName(QStringLiteral("multi.test")), QStringLiteral("203.0.113.30"));
    QVERIFY(m_resolver.server().queriedNames().contains(QStringLiteral("multi.test")));
}

void TestNet::concurrentLookupsGetTheirOwnAnswers()
{
    REQUIRE_RESOLVER();
    constexpr int kThreads = 8;
    TestDnsServer &dns = m_resolver.server();
    for (int i = 0; i < kThreads; ++i)
        dns.addRecord(QStringLiteral("host%1.test").arg(i), {QStringLiteral("198.51.100.%1").arg(100 + i)});
    // Each answer waits; a server or resolver that serialised the lookups
    // would run past the resolver's one-second time-out.
    dns.setDelay(300ms);
    const auto noDelay = qScopeGuard([&dns] { dns.setDelay(0ms); });

    const cPing pinger;
    QStringList results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&pinger, &results, i] {
            results[i] = pinger.funcGetIPFromHostName(QStringLiteral("host%1.test").arg(i));
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int i = 0; i < kThreads; ++i)
        QCOMPARE(results[i], QStringLiteral("198.51.100.%1").arg(100 + i));
}

void TestNet::dnsServerSurvivesMalformedQueries()
{
    REQUIRE_RESOLVER();
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    QVERIFY(fd >= 0);
    const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(53);
    QVERIFY(::inet_pton(AF_INET, qgetenv("NORVALE_TEST_DNS_ADDRESS").constData(), &to.sin_addr) == 1);

    const QByteArray packets[] = {
        QByteArray("\x12", 1),                                                  // shorter than a header
        QByteArray("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12),      // question missing
        QByteArray("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x3f" "ab", 15), // label runs past the end
        QByteArray("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\xc0\x0c\x00\x01\x00\x01", 18), // pointer loop
        QByteArray("\x12\x34\x01\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x01", 17),     // five questions
        QByteArray("\x12\x34\x81\x80\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x01", 17),     // a response
        QByteArray(1500, '\xff'),
    };
    for (const QByteArray &packet : packets) {
        QVERIFY(::sendto(fd, packet.constData(), size_t(packet.size()), 0,
                         reinterpret_cast<const sockaddr *>(&to), sizeof to) == packet.size());
    }
    const cPing pinger;
    QCOMPARE(pinger.funcGetIPFromHostName(QStringLiteral("www.example.test")), QStringLiteral("198.51.100.2"));
}

void TestNet::pingLoopbackSucceeds()
{
    cPing pinger;
    const PingRun run = ping(pinger, QStringLiteral("127.0.0.1"));
    QCOMPARE(run.reports, 1);
    QCOMPARE(run.address, QStringLiteral("127.0.0.1"));
    QCOMPARE(run.reported.value(0).toString(), QStringLiteral("127.0.0.1"));
    if (!icmpPermitted()) {
        // Neither a raw nor a datagram ICMP socket: the echo cannot be sent.
        QCOMPARE(run.reported.value(1).toString(), QStringLiteral("failure"));
        QCOMPARE(run.result, 0);
        QSKIP("this process may open no ICMP socket (see net.ipv4.ping_group_range)");
    }
    QCOMPARE(run.reported.value(1).toString(), QStringLiteral("success"));
    QVERIFY(run.result >= 0);
    QCOMPARE(run.reported.value(2).toInt(), run.result);
}

void TestNet::pingResolvesNamesFirst()
{
    REQUIRE_RESOLVER();
    if (!icmpPermitted())
        QSKIP("this process may open no ICMP socket (see net.ipv4.ping_group_range)");
    cPing pinger;
    const PingRun run = ping(pinger, QStringLiteral("http://loop.test"));
    QCOMPARE(run.reports, 1);
    QCOMPARE(run.address, QStringLiteral("127.0.0.1"));
    QCOMPARE(run.reported.value(0).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(run.reported.value(1).toString(), QStringLiteral("success"));
    QVERIFY(run.result >= 0);
}

void TestNet::pingWithoutAnAddressSendsNothing_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("pinged");
    QTest::addColumn<bool>("needsResolver");
    QTest::newRow("three parts") << QStringLiteral("1.2.3") << QStringLiteral("1.2.3") << false;
    QTest::newRow("zero address") << QStringLiteral("0.0.0.0") << QStringLiteral("0.0.0.0") << false;
    QTest::newRow("not an address") << QStringLiteral("localhost") << QStringLiteral("localhost") << false;
    QTest::newRow("name that does not resolve") << QStringLiteral("www.nosuch.test") << QString() << true;
}

// An address that converts to 0 would mean this host on the network; it is
// reported as a failed echo without being sent.
void TestNet::pingWithoutAnAddressSendsNothing()
{
    QFETCH(QString, address);
    QFETCH(QString, pinged);
    QFETCH(bool, needsResolver);
    if (needsResolver)
        REQUIRE_RESOLVER();
    cPing pinger;
    const PingRun run = ping(pinger, address);
    QCOMPARE(run.reports, 1);
    QCOMPARE(run.address, pinged);
    QCOMPARE(run.reported.value(0).toString(), pinged);
    QCOMPARE(run.reported.value(1).toString(), QStringLiteral("failure"));
    QCOMPARE(run.reported.value(2).toInt(), 0);
    QCOMPARE(run.result, -echostatus::BadDestination);
}

void TestNet::pingUnansweredFails()
{
    if (!TestResolver::privateNetwork())
        QSKIP("needs a private network namespace (with-test-resolver --netns)");
    if (!icmpPermitted())
        QSKIP("this process may open no ICMP socket (see net.ipv4.ping_group_range)");
    QVERIFY(writeProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"));
    const auto answerAgain = qScopeGuard([] {
        writeProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "0");
    });

    cPing pinger;
    QCOMPARE(pinger.pingTimeout(), 1000);
    pinger.setPingTimeout(300);
    const PingRun run = ping(pinger, QStringLiteral("127.0.0.1"));
    QCOMPARE(run.reports, 1);
    QCOMPARE(run.reported.value(0).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(run.reported.value(1).toString(), QStringLiteral("failure"));
    QCOMPARE(run.result, -echostatus::TimedOut);
}

} // namespace norvale::test

QTEST_GUILESS_MAIN(norvale::test::TestNet)
#include "test_net.moc"
