#include "norvale/core/web/GetBody.h"
#include "norvale/core/web/Marker.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/Started.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestText.h"

#include <QTest>

#include <algorithm>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using norvale::test::TestHttpServer;
using norvale::test::s;

namespace {

// "中文域名已注册" in GB2312.
const QByteArray kGbText("\xd6\xd0\xce\xc4\xd3\xf2\xc3\xfb\xd2\xd1\xd7\xa2\xb2\xe1");
const QString kChinese = QStringLiteral("中文域名已注册");

} // namespace

class WebTest final : public QObject {
    Q_OBJECT

    TestHttpServer m_server;
    int m_closedPort = 0;

private slots:
    void initTestCase()
    {
        TestHttpServer *server = &m_server;
        server->get("/gb", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(kGbText.toStdString() + "\r\n", "text/plain; charset=gb2312");
        });
        // /echo?d=TEXT&status=N answers TEXT with status N.
        server->get("/echo", [](const httplib::Request &req, httplib::Response &res) {
            res.status = req.has_param("status") ? std::stoi(req.get_param_value("status")) : 200;
            res.set_content(req.get_param_value("d"), "text/plain; charset=utf-8");
        });
        server->get("/ims", [](const httplib::Request &req, httplib::Response &res) {
            res.set_content(req.get_header_value("If-Modified-Since"), "text/plain");
        });
        server->get(R"(/hop/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            const int left = std::stoi(req.matches[1]);
            res.set_content(left == 0 ? "arrived" : "still moving", "text/plain");
            if (left > 0)
                res.set_redirect("/hop/" + std::to_string(left - 1));
        });
        server->get("/loop", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/loop"); });
        server->get("/to", [](const httplib::Request &req, httplib::Response &res) { res.set_redirect(req.get_param_value("u")); });
        // Headers and one byte, then nothing until the server stops.
        server->get("/trickle", [server](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain", [server](size_t offset, httplib::DataSink &sink) {
                if (offset == 0)
                    return sink.write("x", 1);
                server->holdUntilStopped();
                return false;
            });
        });
        // A byte every tenth of a second, for ever: never idle, never done.
        server->get("/dribble", [server](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain", [server](size_t, httplib::DataSink &sink) {
                return !server->holdUntilStopped(100ms) && sink.write("x", 1);
            });
        });
        server->get("/silent", [server](const httplib::Request &, httplib::Response &res) {
            server->holdUntilStopped();
            res.set_content("too late", "text/plain");
        });
        // /size/N/FRAMING: N bytes with Content-Length, chunked, or ended by closing.
        server->get(R"(/size/(\d+)/(length|chunked|close))", [](const httplib::Request &req, httplib::Response &res) {
            const size_t total = std::stoull(req.matches[1]);
            const std::string piece(64 * 1024, 'a');
            const auto provide = [piece, total](size_t offset, httplib::DataSink &sink) {
                return offset >= total ? (sink.done(), true) : sink.write(piece.data(), std::min(total - offset, piece.size()));
            };
            if (req.matches[2] == "length")
                res.set_content_provider(total, "application/octet-stream",
                                         [provide](size_t offset, size_t, httplib::DataSink &sink) { return provide(offset, sink); });
            else if (req.matches[2] == "chunked")
                res.set_chunked_content_provider("application/octet-stream", provide);
            else
                res.set_content_provider("application/octet-stream", provide);
        });
        VERIFY_STARTED(m_server);
        m_closedPort = norvale::test::freeLoopbackPort();   // refuses connections
    }

    void markerValue_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("value");

        const QString m = s("|data|");
        QTest::newRow("between two") << s("abc|data|value|data|rest") << m << true << s("value");
        QTest::newRow("only once") << s("abc|data|value") << m << true << s("value");
        QTest::newRow("marker last") << s("abc|data|") << m << true << QString();
        QTest::newRow("capitals only") << s("abc|DATA|value|DATA|") << m << false << QString();
        QTest::newRow("first pair wins") << s("|data|a|data|b|data|c") << m << true << s("a");
        QTest::newRow("line breaks kept") << s("|w|\r\nline1\nline2 |w|") << s("|w|") << true << s("\r\nline1\nline2 ");
        QTest::newRow("overlapping text") << s("||data|data|x") << m << true << s("data|x");
        QTest::newRow("empty marker") << s("abc") << QString() << false << QString();
    }

    void markerValue()
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

    void bytesToBstr_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("charset");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("text");

        QTest::newRow("gb2312") << kGbText << s("GB2312") << true << kChinese;
        QTest::newRow("gb2312 lower case") << kGbText << s("gb2312") << true << kChinese;
        // 0x8140 exists only in GBK; a strict GB2312 table would lose it.
        QTest::newRow("gbk-only character") << QByteArray("\x81\x40") << s("GB2312") << true << s("丂");
        QTest::newRow("utf-8") << kChinese.toUtf8() << s("UTF-8") << true << kChinese;
        QTest::newRow("nothing trimmed") << QByteArray(" \r\nA\tB\r\n ") << s("UTF-8") << true << s(" \r\nA\tB\r\n ");
        QTest::newRow("embedded nul kept") << QByteArray("a\0b", 3) << s("GB2312") << true << QString(s("a") + QChar(0) + u'b');
        QTest::newRow("invalid utf-8 replaced") << QByteArray("a\xff" "b") << s("UTF-8") << true
                                                << QString(s("a") + QChar(QChar::ReplacementCharacter) + u'b');
        QTest::newRow("unfinished gb2312 character at the end") << QByteArray("ab\xd6") << s("GB2312") << true
                                                                << QString(s("ab") + QChar(QChar::ReplacementCharacter));
        QTest::newRow("made up charset") << kGbText << s("no-such-charset") << false << QString();
        QTest::newRow("empty charset") << kGbText << QString() << false << QString();
        QTest::newRow("nul inside charset") << kGbText << QString(s("UTF-8") + QChar(0) + u'x') << false << QString();
        QTest::newRow("padded charset") << kGbText << s(" UTF-8") << false << QString();
    }

    void bytesToBstr()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, charset);
        QFETCH(bool, known);
        QFETCH(QString, text);

        const auto decoded = norvale::BytesToBstr(bytes, charset);
        QCOMPARE(decoded.has_value(), known);
        if (known)
            QCOMPARE(*decoded, text);
    }

    void fetches_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("coding");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");

        QTest::newRow("gb2312 page") << s("/gb") << s("GB2312") << 200 << QString(kChinese + s("\r\n"));
        QTest::newRow("error page body") << s("/echo?status=404&d=页面不存在") << s("UTF-8") << 404 << s("页面不存在");
        QTest::newRow("empty body") << s("/echo?d=") << s("GB2312") << 200 << QString();
        QTest::newRow("unknown charset") << s("/gb") << s("bogus") << 200 << QString();
        QTest::newRow("If-Modified-Since: 0") << s("/ims") << s("UTF-8") << 200 << s("0");
        // Only the final page's body, none of the redirects' bodies.
        QTest::newRow("one redirect") << s("/hop/1") << s("UTF-8") << 200 << s("arrived");
        QTest::newRow("ten redirects") << s("/hop/10") << s("UTF-8") << 200 << s("arrived");
        // Candidate names built from Chinese keywords go straight into addresses.
        QTest::newRow("chinese in address") << s("/echo?d=中文.com") << s("UTF-8") << 200 << s("中文.com");
        QTest::newRow("space in address") << s("/echo?d=a b") << s("UTF-8") << 200 << s("a b");
        QTest::newRow("already encoded") << s("/echo?d=%E4%B8%AD") << s("UTF-8") << 200 << s("中");
    }

    void fetches()
    {
        QFETCH(QString, path);
        QFETCH(QString, coding);
        QFETCH(int, status);
        QFETCH(QString, text);

        const norvale::PageText page = norvale::fetchText(m_server.url(path), coding);
        QVERIFY(page.transportOk);
        QCOMPARE(page.httpStatus, long(status));
        QCOMPARE(page.text, text);
        QCOMPARE(norvale::GetBody(m_server.url(path), coding), text);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("stalls");

        QTest::newRow("empty") << QString() << false;
        QTest::newRow("garbage") << s("::not an address::") << false;
        QTest::newRow("no scheme") << QString(m_server.baseUrl().mid(7) + s("/gb")) << false;
        QTest::newRow("file") << s("file:///etc/hostname") << false;
        QTest::newRow("no such host") << s("http://norvale-no-such-host.invalid/gb") << false;
        QTest::newRow("refused") << s("http://127.0.0.1:%1/").arg(m_closedPort) << false;
        QTest::newRow("eleven redirects") << m_server.url(s("/hop/11")) << false;
        QTest::newRow("redirect loop") << m_server.url(s("/loop")) << false;
        QTest::newRow("redirect to file") << m_server.url(s("/to?u=file:///etc/hostname")) << false;
        QTest::newRow("body over 32 MiB") << m_server.url(s("/size/%1/chunked").arg(32 * 1024 * 1024 + 1)) << false;
        QTest::newRow("stalls mid-body") << m_server.url(s("/trickle")) << true;
        QTest::newRow("never answers") << m_server.url(s("/silent")) << true;
        QTest::newRow("dribbles for ever") << m_server.url(s("/dribble")) << true;
    }

    void failures()
    {
        QFETCH(QString, url);
        QFETCH(bool, stalls);

        norvale::FetchLimits limits;
        if (stalls) {
            limits.idleTimeout = 1s;
            limits.totalTimeout = 2s;
        }
        const norvale::PageFetch page = norvale::fetchPage(url, limits);
        QVERIFY(!page.transportOk);
        QCOMPARE(page.httpStatus, 0L);
        QVERIFY(page.body.isEmpty());
        QVERIFY(!page.error.isEmpty());
        if (!stalls)
            QCOMPARE(norvale::GetBody(url, s("UTF-8")), QString());
    }

    void bodyLimit_data()
    {
        QTest::addColumn<QString>("framing");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("ok");

        for (const char *framing : {"length", "chunked", "close"}) {
            QTest::addRow("%s at limit", framing) << s(framing) << 100000 << true;
            QTest::addRow("%s one over", framing) << s(framing) << 100001 << false;
        }
    }

    void bodyLimit()
    {
        QFETCH(QString, framing);
        QFETCH(int, size);
        QFETCH(bool, ok);

        norvale::FetchLimits limits;
        limits.maxBodyBytes = 100000;
        const norvale::PageFetch page = norvale::fetchPage(m_server.url(s("/size/%1/%2").arg(size).arg(framing)), limits);
        QCOMPARE(page.transportOk, ok);
        QCOMPARE(page.body.size(), ok ? qsizetype(size) : 0);
    }

    void concurrentFetches()
    {
        constexpr int threads = 6;
        std::vector<QString> got(threads * 8);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (size_t n = size_t(t); n < got.size(); n += threads)
                    got[n] = norvale::GetBody(m_server.url(s("/echo?d=第%1页").arg(n)), s("UTF-8"));
            });
        for (auto &w : workers)
            w.join();
        for (size_t n = 0; n < got.size(); ++n)
            QCOMPARE(got[n], s("第%1页").arg(n));
    }
};

QTEST_GUILESS_MAIN(WebTest)
#include "WebTest.moc"
