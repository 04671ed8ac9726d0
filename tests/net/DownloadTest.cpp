// The installer download against the real norvale-services over loopback,
// into real files.
#include "norvale/core/net/Cls_DownLoad.h"
#include "norvale/core/net/DownloadRules.h"
#include "norvale/core/web/GetBody.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestConfig.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace norvale;
using namespace Qt::StringLiterals;
namespace ds = norvale::downloadstatus;

namespace {

QList<int> statuses(const QSignalSpy &spy)
{
    QList<int> codes;
    for (const QList<QVariant> &args : spy)
        codes.append(args.at(0).toInt());
    return codes;
}

// Collects what a download on its worker reports, on this thread.
struct Watch final : QObject {
    explicit Watch(Cls_DownLoad &download)
    {
        connect(&download, &Cls_DownLoad::entDLFileDowning, this,
                [this](const QString &, qint64 done) { progress.append(done); });
        connect(&download, &Cls_DownLoad::finished, this, [this](const DownloadResult &r) { result = r; });
    }
    QList<qint64> progress;
    std::optional<DownloadResult> result;
};

} // namespace

class DownloadTest final : public QObject {
    Q_OBJECT

    test::ServicesProcess m_services;
    QByteArray m_installer;
    QString m_name;

    QString url(const QString &path) const { return m_services.baseUrl() + path; }

private slots:
    void initTestCase()
    {
        VERIFY_STARTED(m_services);
        QVERIFY(m_services.execSql(QStringLiteral(
            "INSERT INTO svc_files VALUES ('/download/empty.exe', 'application/octet-stream', x'')")));
        m_name = installerFileName(test::servedConfiguration(m_services).value(ConfigKey::DownloadAddress));
        m_installer = fetchPage(url(u"/download/"_s + m_name)).body;
        QVERIFY(m_installer.size() > 100 * 1024);
    }

    void localName_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("name");
        QTest::newRow("last segment") << u"http://a.test/x/Setup.exe"_s << u"Setup.exe"_s;
        QTest::newRow("query stays") << u"http://a.test/get?f=1"_s << u"get?f=1"_s;
        QTest::newRow("no slash") << u"Setup.exe"_s << u"Setup.exe"_s;
        QTest::newRow("ends in slash") << u"http://a.test/x/"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("dot dot") << u"http://a.test/.."_s << QString();
        QTest::newRow("backslash") << u"http://a.test/..\\evil.exe"_s << QString();
        QTest::newRow("control") << u"http://a.test/a\nb.exe"_s << QString();
        QTest::newRow("direction override") << u"http://a.test/a\u202Etxt.exe"_s << QString();
        QTest::newRow("too long") << u"http://a.test/"_s + QString(200, QChar(0x4e2d)) << QString();
        QTest::newRow("chinese") << u"http://a.test/安装.exe"_s << u"安装.exe"_s;
    }

    void localName()
    {
        QFETCH(QString, address);
        QFETCH(QString, name);
        QCOMPARE(installerFileName(address), name);
    }

    void panelTexts_data()
    {
        QTest::addColumn<qint64>("downloaded");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("text");
        const auto text = [](const char *percent, const char *size, const char *done, const char *speed) {
            return u"下载进度： %1 %\r\n\r\n文件大小： %2\r\n\r\n当前下载： %3\r\n\r\n下载速度： %4"_s
                .arg(QLatin1StringView(percent), QLatin1StringView(size), QLatin1StringView(done),
                     QLatin1StringView(speed));
        };
        QTest::newRow("first second") << qint64(1536) << qint64(4096) << qint64(999)
                                      << text("38.0", "4", "1.5", "1.0009765625");
        QTest::newRow("no length") << qint64(1000) << qint64(0) << qint64(2000)
                                   << text("0.0", "0", "0.9765625", "0.48828125");
        QTest::newRow("halves to even") << qint64(5) << qint64(8) << qint64(2000)
                                        << text("62.0", "0.0078125", "0.0048828125", "0.001953125");
        QTest::newRow("beyond 4 GiB") << (qint64(5) << 32) << (qint64(10) << 32) << qint64(4000)
                                      << text("50.0", "41943040", "20971520", "5242880");
    }

    void panelTexts()
    {
        QFETCH(qint64, downloaded);
        QFETCH(qint64, size);
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, text);
        QCOMPARE(downloadProgressText(downloaded, size, averageSpeed(downloaded, elapsedMs)), text);
    }

    // Synchronous calls: the signals arrive on this thread, in order.
    void downloads_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("existing");       // what the target held before
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QList<int>>("phases");
        QTest::addColumn<bool>("announced");             // progress carries the length

        const QList<int> whole{ds::Connecting, ds::Requesting, ds::Answered, ds::Receiving, ds::ServerEnded, ds::Done};
        const QByteArray longer(m_installer.size() + 4096, 'x');
        QTest::newRow("with length") << u"/download/"_s + m_name << QByteArray() << true << whole << true;
        QTest::newRow("without length") << u"/download/chunked/"_s + m_name << QByteArray() << true << whole << false;
        QTest::newRow("longer file replaced") << u"/download/"_s + m_name << longer << true << whole << true;
        QTest::newRow("empty file") << u"/download/empty.exe"_s << QByteArray() << true << whole << true;
        QTest::newRow("cut short") << u"/download/short/"_s + m_name << QByteArray("old")
                                   << false << QList<int>{1, 2, 3, 4, ds::Broken} << true;
        QTest::newRow("error page") << u"/download/nothing.exe"_s << QByteArray("old")
                                    << false << QList<int>{1, 2, 3, ds::RequestFailed} << false;
    }

    void downloads()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, existing);
        QFETCH(bool, complete);
        QFETCH(QList<int>, phases);
        QFETCH(bool, announced);

        QTemporaryDir dir;
        const QString target = dir.filePath(u"Setup.exe"_s);
        if (!existing.isEmpty())
            QVERIFY(test::writeFile(target, existing));

        Cls_DownLoad download;
        QSignalSpy status(&download, &Cls_DownLoad::entDLFileStatus);
        QSignalSpy progress(&download, &Cls_DownLoad::entDLFileDowning);
        const DownloadResult result = download.DLFile(url(path), target);

        QCOMPARE(statuses(status), phases);
        QCOMPARE(result.complete, complete);
        QCOMPARE(result.status, phases.last());
        const QByteArray expected = fetchPage(url(path)).body;
        if (complete) {
            QCOMPARE(result.bytes, qint64(expected.size()));
            QVERIFY(test::readFile(target) == expected);
        } else {
            QCOMPARE(test::readFile(target), existing.isEmpty() ? QByteArray("<missing>") : existing);
        }
        // Nothing else is left beside the target.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QFile::exists(target) ? QStringList{u"Setup.exe"_s} : QStringList{});
        if (!progress.isEmpty()) {
            const QList<QVariant> last = progress.last();
            QCOMPARE(last.at(0).toString(), url(path));
            QCOMPARE(last.at(1).toLongLong(), result.bytes);
            QCOMPARE(last.at(2).toLongLong(), announced ? qint64(m_installer.size()) : 0);
        }
    }

    void refusesWhatItCannotFetch_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("target");   // in a fresh temporary folder
        QTest::addColumn<int>("status");
        const QString setup = u"Setup.exe"_s;
        QTest::newRow("local file") << u"file:///etc/hostname"_s << setup << ds::RequestFailed;
        QTest::newRow("no server") << u"http://127.0.0.1:1/Setup.exe"_s << setup << ds::RequestFailed;
        QTest::newRow("not an address") << setup << setup << ds::RequestFailed;
        QTest::newRow("unwritable target") << url(u"/download/"_s + m_name) << u"no/such/Setup.exe"_s << ds::Broken;
    }

    void refusesWhatItCannotFetch()
    {
        QFETCH(QString, address);
        QFETCH(QString, target);
        QFETCH(int, status);
        QTemporaryDir dir;
        Cls_DownLoad download;
        const DownloadResult result = download.DLFile(address, dir.filePath(target));
        QCOMPARE(result.status, status);
        QVERIFY(!result.complete);
        QVERIFY(QDir(dir.path()).isEmpty(QDir::Files | QDir::Hidden));
    }

    // Servers and caches on the way see the old client's name and are told
    // not to answer from a cache.
    void asksAsTheOldClient()
    {
        test::TestHttpServer server;
        server.get("/Setup.exe", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("MZ", "application/octet-stream");
        });
        VERIFY_STARTED(server);
        QTemporaryDir dir;
        Cls_DownLoad download;
        QVERIFY(download.DLFile(server.url(u"/Setup.exe"_s), dir.filePath(u"Setup.exe"_s)).complete);
        const auto requests = server.requests();
        QCOMPARE(requests.size(), std::size_t(1));
        const httplib::Headers &headers = requests.front().headers;
        auto header = [&headers](const char *name) {
            const auto it = headers.find(name);
            return it == headers.end() ? std::string() : it->second;
        };
        QCOMPARE(header("User-Agent"), std::string("VB Http"));
        QCOMPARE(header("Cache-Control"), std::string("no-cache"));
    }

    // Stopped from a progress event: nothing more is written after that chunk.
    void stopEndsWithinTheChunk()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(u"Setup.exe"_s);
        Cls_DownLoad download;
        download.setProgressInterval(std::chrono::milliseconds(0));
        qint64 stoppedAt = -1;
        connect(&download, &Cls_DownLoad::entDLFileDowning, &download, [&](const QString &, qint64 done) {
                    if (done >= 4096 && stoppedAt < 0) {
                        stoppedAt = done;
                        download.DLFileStop();
                    }
                }, Qt::DirectConnection);
        Watch watch(download);
        QVERIFY(download.start(url(u"/download/trickle/"_s + m_name + u"?bytes=1024&every=20"_s), target));
        QVERIFY(!download.start(url(u"/download/"_s + m_name), target));   // one at a time
        QTRY_VERIFY_WITH_TIMEOUT(watch.result.has_value(), 20000);
        QCOMPARE(watch.result->status, ds::Stopped);
        QCOMPARE(watch.result->bytes, stoppedAt);
        QVERIFY(!download.bStop());
        QVERIFY(QDir(dir.path()).isEmpty(QDir::Files | QDir::Hidden));
    }

    // A server that has gone quiet neither holds a stop nor the download.
    void stallIsCutShort_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("status");
        QTest::newRow("stopped while waiting") << true << ds::Stopped;
        QTest::newRow("idle limit") << false << ds::Broken;
    }

    void stallIsCutShort()
    {
        QFETCH(bool, stop);
        QFETCH(int, status);
        QTemporaryDir dir;
        Cls_DownLoad download;
        download.setLimits({std::chrono::seconds(60), std::chrono::seconds(1), 10});
        Watch watch(download);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(download.start(url(u"/download/trickle/"_s + m_name + u"?bytes=1024&every=60000"_s),
                               dir.filePath(u"Setup.exe"_s)));
        QTRY_VERIFY_WITH_TIMEOUT(!watch.progress.isEmpty(), 10000);
        if (stop)
            download.DLFileStop();
        QTRY_VERIFY_WITH_TIMEOUT(watch.result.has_value(), 10000);
        QVERIFY2(clock.elapsed() < 8000, "the quiet server held the download");
        QCOMPARE(watch.result->status, status);
        QVERIFY(QDir(dir.path()).isEmpty(QDir::Files | QDir::Hidden));
    }
};

QTEST_GUILESS_MAIN(DownloadTest)
#include "DownloadTest.moc"
