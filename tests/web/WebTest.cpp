#include "norvale/web/GetBody.h"
#include "norvale/web/Marker.h"
#include "tests/support/TestHttpServer.h"

#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using norvale::test::TestHttpServer;

namespace {

// "中文域名已注册" in GB2312.
const QByteArray kGbText("\xd6\xd0\xce\xc4\xd3\xf2\xc3\xfb\xd2\xd1\xd7\xa2\xb2\xe1");
const QString kChinese = QStringLiteral("中文域名已注册");

std::string str(const QByteArray &bytes)
{
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// A loopback port that is bound but not listening: connections to it are
// refused at once, and nobody else can take it while the socket is open.
class RefusingPort final {
public:
    RefusingPort()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), len) == 0
            && ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~RefusingPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(RefusingPort)
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace

class WebTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void markerValue_data();
    void markerValue();
    void bytesToBstr_data();
    void bytesToBstr();
    void unknownCharacterSet_data();
    void unknownCharacterSet();

    void gb2312Page();
    void errorPageBodyIsReturned();
    void emptyBody();
    void sendsIfModifiedSinceZero();
    void addressIsEncoded_data();
    void addressIsEncoded();
    void redirects_data();
    void redirects();
    void unusableAddresses_data();
    void unusableAddresses();
    void hostThatDoesNotExist();
    void refusedConnection();
    void idleServerIsAbandoned_data();
    void idleServerIsAbandoned();
    void bodyLimit_data();
    void bodyLimit();
    void hugeBodyFails_data();
    void hugeBodyFails();
    void unknownCharsetOnGoodPage();
    void concurrentFetches();

private:
    TestHttpServer m_server;
};

void WebTest::initTestCase()
{
    TestHttpServer *server = &m_server;
    server->get("/gb", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(str(kGbText + "\r\n"), "text/plain; charset=gb2312");
    });
    server->get("/missing", [](const httplib::Request &, httplib::Response &res) {
        res.status = 404;
        res.set_content(str(QStringLiteral("页面不存在").toUtf8()), "text/html; charset=utf-8");
    });
    server->get("/empty", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("", "text/plain");
    });
    server->get("/echo", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content(req.get_param_value("d"), "text/plain; charset=utf-8");
    });
    server->get(R"(/hop/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
        const int left = std::stoi(req.matches[1]);
        if (left == 0) {
            res.set_content("arrived", "text/plain");
            return;
        }
        res.set_redirect("/hop/" + std::to_string(left - 1));
        res.set_content("still moving", "text/plain");
    });
    server->get("/loop", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("/loop");
    });
    server->get("/to-file", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("file:///etc/hostname");
    });
    server->get("/to-ftp", [server](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("ftp://127.0.0.1:" + std::to_string(server->port()) + "/");
    });
    // Headers and one byte, then nothing until the server stops.
    server->get("/trickle", [server](const httplib::Request &, httplib::Response &res) {
        res.set_chunked_content_provider("text/plain", [server](size_t offset, httplib::DataSink &sink) {
            if (offset == 0)
                return sink.write("x", 1);
            server->holdUntilStopped();
            return false;
        });
    });
    // Accepts the request and never answers.
    server->get("/silent", [server](const httplib::Request &, httplib::Response &res) {
        server->holdUntilStopped();
        res.set_content("too late", "text/plain");
    });
    // /size/N/FRAMING: N bytes, streamed with Content-Length, chunked, or ended
    // by closing the connection.
    server->get(R"(/size/(\d+)/(length|chunked|close))", [](const httplib::Request &req, httplib::Response &res) {
        const size_t total = std::stoull(req.matches[1]);
        const std::string piece(64 * 1024, 'a');
        if (req.matches[2] == "length") {
            res.set_content_provider(total, "application/octet-stream",
                                     [piece](size_t, size_t length, httplib::DataSink &sink) {
                                         return sink.write(piece.data(), std::min(length, piece.size()));
                                     });
        } else if (req.matches[2] == "chunked") {
            res.set_chunked_content_provider("application/octet-stream",
                                             [piece, total](size_t offset, httplib::DataSink &sink) {
                                                 if (offset >= total) {
                                                     sink.done();
                                                     return true;
                                                 }
                                                 return sink.write(piece.data(), std::min(total - offset, piece.size()));
                                             });
        } else {
            res.set_content_provider("application/octet-stream",
                                     [piece, total](size_t offset, httplib::DataSink &sink) {
                                         if (offset >= total) {
                                             sink.done();
                                             return true;
                                         }
                                         return sink.write(piece.data(), std::min(total - offset, piece.size()));
                                     });
        }
    });
    server->get(R"(/n/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
        const QString text = QStringLiteral("第%1页").arg(QString::fromStdString(req.matches[1]));
        res.set_content(str(text.toUtf8()), "text/plain; charset=utf-8");
    });

    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
}

void WebTest::cleanupTestCase()
{
    m_server.stop();
}

void WebTest::markerValue_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("value");

    const QString m = QStringLiteral("|data|");
    QTest::newRow("between two") << QStringLiteral("abc|data|value|data|rest") << m << true << QStringLiteral("value");
    QTest::newRow("only once") << QStringLiteral("abc|data|value") << m << true << QStringLiteral("value");
    QTest::newRow("marker last") << QStringLiteral("abc|data|") << m << true << QString();
    QTest::newRow("capitals only") << QStringLiteral("abc|DATA|value|DATA|") << m << false << QString();
    QTest::newRow("absent") << QStringLiteral("no marker here") << m << false << QString();
    QTest::newRow("first pair wins") << QStringLiteral("|data|a|data|b|data|c") << m << true << QStringLiteral("a");
    QTest::newRow("adjacent markers") << QStringLiteral("x|data||data|y") << m << true << QString();
    QTest::newRow("line breaks kept") << QStringLiteral("|whois|\r\nline1\nline2 |whois|") << QStringLiteral("|whois|")
                                      << true << QStringLiteral("\r\nline1\nline2 ");
    QTest::newRow("overlapping text") << QStringLiteral("||data|data|x") << m << true << QStringLiteral("data|x");
    QTest::newRow("chinese") << QStringLiteral("状态|domain|已注册|domain|") << QStringLiteral("|domain|") << true
                             << QStringLiteral("已注册");
    QTest::newRow("empty marker") << QStringLiteral("abc") << QString() << false << QString();
    QTest::newRow("empty page") << QString() << m << false << QString();
}

void WebTest::markerValue()
{
    QFETCH(QString, page);
    QFETCH(QString, marker);
    QFETCH(bool, found);
    QFETCH(QString, value);

    const auto result = norvale::markerValue(page, marker);
    QCOMPARE(result.has_value(), found);
    if (found)
        QCOMPARE(*result, value);
}

void WebTest::bytesToBstr_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QString>("text");

    QTest::newRow("gb2312") << kGbText << QStringLiteral("GB2312") << kChinese;
    QTest::newRow("gb2312 lower case") << kGbText << QStringLiteral("gb2312") << kChinese;
    // 0x8140 exists only in GBK; a strict GB2312 table would lose it.
    QTest::newRow("gbk-only character") << QByteArray("\x81\x40") << QStringLiteral("GB2312") << QStringLiteral("丂");
    QTest::newRow("code page 936 euro") << QByteArray("\x80") << QStringLiteral("GB2312") << QStringLiteral("€");
    QTest::newRow("utf-8") << kChinese.toUtf8() << QStringLiteral("UTF-8") << kChinese;
    QTest::newRow("utf-8 lower case") << kChinese.toUtf8() << QStringLiteral("utf-8") << kChinese;
    QTest::newRow("nothing trimmed") << QByteArray(" \r\nA\tB\r\n ") << QStringLiteral("UTF-8")
                                     << QStringLiteral(" \r\nA\tB\r\n ");
    QTest::newRow("embedded nul kept") << QByteArray("a\0b", 3) << QStringLiteral("GB2312")
                                       << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    QTest::newRow("invalid utf-8 replaced") << QByteArray("a\xff" "b") << QStringLiteral("UTF-8")
                                            << QString(QStringLiteral("a") + QChar(QChar::ReplacementCharacter) + QStringLiteral("b"));
    QTest::newRow("empty body") << QByteArray() << QStringLiteral("UTF-8") << QString();
}

void WebTest::bytesToBstr()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, charset);
    QFETCH(QString, text);

    const auto decoded = norvale::BytesToBstr(bytes, charset);
    QVERIFY(decoded.has_value());
    QCOMPARE(*decoded, text);
}

void WebTest::unknownCharacterSet_data()
{
    QTest::addColumn<QString>("charset");
    QTest::newRow("made up") << QStringLiteral("no-such-charset");
    QTest::newRow("empty") << QString();
    QTest::newRow("trailing nul") << QString(QStringLiteral("UTF-8") + QChar(0) + QStringLiteral("x"));
    QTest::newRow("non-ascii") << QStringLiteral("中文");
    QTest::newRow("padded") << QStringLiteral(" UTF-8");
}

void WebTest::unknownCharacterSet()
{
    QFETCH(QString, charset);
    QVERIFY(!norvale::BytesToBstr(kGbText, charset).has_value());
}

void WebTest::gb2312Page()
{
    const QString url = m_server.url(QStringLiteral("/gb"));
    QCOMPARE(norvale::GetBody(url, QStringLiteral("GB2312")), QString(kChinese + QStringLiteral("\r\n")));

    const QString asUtf8 = norvale::GetBody(url, QStringLiteral("UTF-8"));
    QVERIFY(!asUtf8.isEmpty());
    QVERIFY(!asUtf8.contains(kChinese.left(2)));
}

void WebTest::errorPageBodyIsReturned()
{
    const QString url = m_server.url(QStringLiteral("/missing"));
    const norvale::PageFetch page = norvale::fetchPage(url);
    QVERIFY2(page.transportOk, qPrintable(page.error));
    QCOMPARE(page.httpStatus, 404L);
    QCOMPARE(page.body, QStringLiteral("页面不存在").toUtf8());
    QCOMPARE(norvale::GetBody(url, QStringLiteral("UTF-8")), QStringLiteral("页面不存在"));
}

void WebTest::emptyBody()
{
    const QString url = m_server.url(QStringLiteral("/empty"));
    const norvale::PageText page = norvale::fetchText(url, QStringLiteral("GB2312"));
    QVERIFY(page.transportOk);
    QCOMPARE(page.httpStatus, 200L);
    QVERIFY(page.text.isEmpty());
}

void WebTest::sendsIfModifiedSinceZero()
{
    const QString path = QStringLiteral("/echo?d=headers");
    QCOMPARE(norvale::GetBody(m_server.url(path), QStringLiteral("UTF-8")), QStringLiteral("headers"));

    const auto requests = m_server.requests();
    const auto it = std::find_if(requests.rbegin(), requests.rend(), [](const auto &r) {
        return r.path == "/echo" && r.params.count("d") && r.params.find("d")->second == "headers";
    });
    QVERIFY(it != requests.rend());
    QCOMPARE(it->method, std::string("GET"));
    QCOMPARE(it->headers.count("If-Modified-Since"), size_t(1));
    QCOMPARE(it->headers.find("If-Modified-Since")->second, std::string("0"));
}

void WebTest::addressIsEncoded_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("received");
    // Candidate names built from Chinese keywords go straight into addresses.
    QTest::newRow("chinese domain") << QStringLiteral("中文.com") << QStringLiteral("中文.com");
    QTest::newRow("space") << QStringLiteral("a b") << QStringLiteral("a b");
    QTest::newRow("already encoded") << QStringLiteral("%E4%B8%AD") << QStringLiteral("中");
}

void WebTest::addressIsEncoded()
{
    QFETCH(QString, query);
    QFETCH(QString, received);
    const QString url = m_server.url(QStringLiteral("/echo?d=")) + query;
    QCOMPARE(norvale::GetBody(url, QStringLiteral("UTF-8")), received);
}

void WebTest::redirects_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("ok");

    QTest::newRow("one hop") << QStringLiteral("/hop/1") << true;
    QTest::newRow("ten hops") << QStringLiteral("/hop/10") << true;
    QTest::newRow("eleven hops") << QStringLiteral("/hop/11") << false;
    QTest::newRow("loop") << QStringLiteral("/loop") << false;
    QTest::newRow("to file") << QStringLiteral("/to-file") << false;
    QTest::newRow("to ftp") << QStringLiteral("/to-ftp") << false;
}

void WebTest::redirects()
{
    QFETCH(QString, path);
    QFETCH(bool, ok);

    const norvale::PageFetch page = norvale::fetchPage(m_server.url(path));
    QCOMPARE(page.transportOk, ok);
    if (ok) {
        QCOMPARE(page.httpStatus, 200L);
        // Only the final page's body, none of the redirects' bodies.
        QCOMPARE(page.body, QByteArray("arrived"));
    } else {
        QCOMPARE(page.httpStatus, 0L);
        QVERIFY(page.body.isEmpty());
        QVERIFY(!page.error.isEmpty());
    }
}

void WebTest::unusableAddresses_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("empty") << QString();
    QTest::newRow("garbage") << QStringLiteral("::not an address::");
    QTest::newRow("no scheme") << QStringLiteral("127.0.0.1:%1/gb").arg(m_server.port());
    QTest::newRow("file") << QStringLiteral("file:///etc/hostname");
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1:%1/").arg(m_server.port());
    QTest::newRow("no host") << QStringLiteral("http:///gb");
}

void WebTest::unusableAddresses()
{
    QFETCH(QString, url);
    const norvale::PageFetch page = norvale::fetchPage(url);
    QVERIFY(!page.transportOk);
    QVERIFY(page.body.isEmpty());
    QVERIFY(!page.error.isEmpty());
    QCOMPARE(norvale::GetBody(url, QStringLiteral("GB2312")), QString());
}

void WebTest::hostThatDoesNotExist()
{
    const QString url = QStringLiteral("http://norvale-no-such-host.invalid/gb");
    const norvale::PageText page = norvale::fetchText(url, QStringLiteral("GB2312"));
    QVERIFY(!page.transportOk);
    QCOMPARE(page.httpStatus, 0L);
    QCOMPARE(norvale::GetBody(url, QStringLiteral("GB2312")), QString());
}

void WebTest::refusedConnection()
{
    RefusingPort refusing;
    QVERIFY(refusing.port() > 0);
    const norvale::PageFetch page = norvale::fetchPage(QStringLiteral("http://127.0.0.1:%1/").arg(refusing.port()));
    QVERIFY(!page.transportOk);
    QCOMPARE(page.httpStatus, 0L);
    QVERIFY(page.body.isEmpty());
}

void WebTest::idleServerIsAbandoned_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("stalls mid-body") << QStringLiteral("/trickle");
    QTest::newRow("never answers") << QStringLiteral("/silent");
}

void WebTest::idleServerIsAbandoned()
{
    QFETCH(QString, path);
    norvale::FetchLimits limits;
    limits.idleTimeout = 1s;
    const norvale::PageFetch page = norvale::fetchPage(m_server.url(path), limits);
    QVERIFY(!page.transportOk);
    QVERIFY(page.body.isEmpty());
}

void WebTest::bodyLimit_data()
{
    QTest::addColumn<QString>("framing");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("ok");

    for (const char *framing : {"length", "chunked", "close"}) {
        const QString f = QString::fromLatin1(framing);
        QTest::addRow("%s at limit", framing) << f << 100000 << true;
        QTest::addRow("%s one over", framing) << f << 100001 << false;
    }
}

void WebTest::bodyLimit()
{
    QFETCH(QString, framing);
    QFETCH(int, size);
    QFETCH(bool, ok);

    norvale::FetchLimits limits;
    limits.maxBodyBytes = 100000;
    const norvale::PageFetch page =
        norvale::fetchPage(m_server.url(QStringLiteral("/size/%1/%2").arg(size).arg(framing)), limits);
    QCOMPARE(page.transportOk, ok);
    QCOMPARE(page.body.size(), ok ? qsizetype(size) : 0);
}

void WebTest::hugeBodyFails_data()
{
    QTest::addColumn<QString>("framing");
    QTest::newRow("with length") << QStringLiteral("length");
    QTest::newRow("chunked") << QStringLiteral("chunked");
    QTest::newRow("until close") << QStringLiteral("close");
}

void WebTest::hugeBodyFails()
{
    QFETCH(QString, framing);
    const qint64 size = 32 * 1024 * 1024 + 64 * 1024;
    const QString url = m_server.url(QStringLiteral("/size/%1/%2").arg(size).arg(framing));
    const norvale::PageFetch page = norvale::fetchPage(url);
    QVERIFY(!page.transportOk);
    QVERIFY(page.body.isEmpty());
    QCOMPARE(norvale::GetBody(url, QStringLiteral("UTF-8")), QString());
}

void WebTest::unknownCharsetOnGoodPage()
{
    // The fetch worked; only the decoding did not.
    const norvale::PageText page = norvale::fetchText(m_server.url(QStringLiteral("/gb")), QStringLiteral("bogus"));
    QVERIFY(page.transportOk);
    QCOMPARE(page.httpStatus, 200L);
    QVERIFY(page.text.isEmpty());
}

void WebTest::concurrentFetches()
{
    constexpr int threads = 6;
    constexpr int perThread = 8;
    std::vector<QString> got(threads * perThread);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const int n = t * perThread + i;
                got[size_t(n)] = norvale::GetBody(m_server.url(QStringLiteral("/n/%1").arg(n)), QStringLiteral("UTF-8"));
            }
        });
    }
    for (auto &w : workers)
        w.join();
    for (int n = 0; n < threads * perThread; ++n)
        QCOMPARE(got[size_t(n)], QStringLiteral("第%1页").arg(n));
}

QTEST_GUILESS_MAIN(WebTest)
#include "WebTest.moc"
