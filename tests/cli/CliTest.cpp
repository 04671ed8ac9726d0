#include "norvale/core/config/ConfigLoad.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/KeywordList.h"
#include "norvale/core/search/ResultExport.h"
#include "norvale/core/search/SearchBackend.h"
#include "norvale/core/search/SearchBoxes.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ServicesFixture.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestText.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>

#include <optional>

using namespace norvale;

namespace {

struct Run {
    int status = -1;   // -1: it crashed, or did not end in time
    QByteArray out;
    QString err;
};

} // namespace

// norvale-cli as a user runs it: a process of its own against the real
// services, with its output parsed.
class CliTest final : public QObject {
    Q_OBJECT

    Run cli(QStringList arguments, const QByteArray &input = {}, const QString &service = {})
    {
        arguments << QStringLiteral("--data-service") << (service.isEmpty() ? m_world.services.baseUrl() : service);
        const test::ProgramRun run = test::runProgram(QStringLiteral(NORVALE_CLI_EXE), arguments, input);
        return {run.exitCode, run.out, QString::fromUtf8(run.err)};
    }

    // The rows the window's engine gives for the same search, as JSON
    // objects; nullopt when the search did not end.
    std::optional<QJsonArray> engineRows(const QStringList &keywords, int kind, bool related)
    {
        auto boxes = std::make_shared<SearchBoxes>();
        boxes->setAll(false);
        boxes->setKind(kind, true);
        boxes->setShowRelated(related);
        DomainSearch engine(m_world.searches(m_config.value(ConfigKey::StatusPage)), boxes);
        QList<ResultRecord> records;
        connect(&engine, &DomainSearch::rowReady, this,
                [&](quint64, const SearchRow &row) { records << resultRecord(row); });
        QSignalSpy finished(&engine, &DomainSearch::finished);
        engine.startList(keywords);
        if (!finished.wait(60000))
            return std::nullopt;
        return QJsonDocument::fromJson(ResultWriter::write(ResultFormat::Json, records)).array();
    }

    test::ServicesFixture m_world;
    ConfigRecord m_config;

private slots:
    void initTestCase()
    {
        if (!m_world.start())
            return;
        REQUIRE_TEST_RESOLVER(m_world);
        m_world.dns().addRecord(QStringLiteral("chenglan.cn"), {QStringLiteral("192.0.2.21")});
        m_world.dns().addRecord(QStringLiteral("example.com"), {QStringLiteral("93.184.216.34")});
        ConfigLoadResult config = loadConfigRecord(m_world.stack->database);
        QCOMPARE(config.outcome, ConfigLoadResult::Outcome::Loaded);
        m_config = config.record;
    }

    void searchGivesTheWindowsRows()
    {
        // Two keywords, one from the arguments and one from the input, and
        // a repeat that is searched once.
        const Run run = cli(test::words("search chenglan - --kinds .cn --related --format json"), "example.com\nCHENGLAN\n");
        QCOMPARE(run.status, 0);
        QJsonParseError error;
        const QJsonArray rows = QJsonDocument::fromJson(run.out, &error).array();
        QCOMPARE(error.error, QJsonParseError::NoError);
        const auto expected = engineRows(test::words("chenglan example"), 15, true);
        QVERIFY2(expected, "the engine's search did not end");
        QCOMPARE(rows, *expected);

        const QJsonObject first = rows.first().toObject();
        QCOMPARE(first[u"domain"].toString(), QStringLiteral("chenglan.cn"));
        QCOMPARE(first[u"status"].toString(), QStringLiteral("已注册"));
        QCOMPARE(first[u"address"].toString(), QStringLiteral("192.0.2.21"));
        QVERIFY(first[u"filed"].toBool() && !first[u"filing"].toString().isEmpty());
        const auto free = std::find_if(rows.cbegin(), rows.cend(), [](const QJsonValue &v) { return v[u"free"].toBool(); });
        QVERIFY(free != rows.cend());
        QCOMPARE((*free)[u"status"].toString(), QStringLiteral("未注册"));
        QVERIFY(!(*free)[u"price"].toString().isEmpty());
        QVERIFY(std::any_of(rows.cbegin(), rows.cend(),
                            [](const QJsonValue &v) { return v[u"domain"] == QStringLiteral("example.cn"); }));
    }

    // A pattern's keywords, made one by one, give the rows their list gives.
    void searchPattern()
    {
        const Run run = cli(test::words("search --pattern {example,cheng}lan --kinds .cn --format json"));
        QCOMPARE(run.status, 0);
        const QJsonArray rows = QJsonDocument::fromJson(run.out).array();
        QVERIFY(!rows.isEmpty());
        const auto expected = engineRows(test::words("examplelan chenglan"), 15, false);
        QVERIFY2(expected, "the engine's search did not end");
        QCOMPARE(rows, *expected);
    }

    // A run killed mid-way and resumed writes the very file an uncut run
    // writes: a torn last row is dropped and written again, the rows there
    // are not searched again, and a finished file stays as it is.
    void resumeAfterKill_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("torn");
        QTest::newRow("csv") << "csv" << QByteArray("00.cn,\"已注");
        QTest::newRow("json") << "json" << QByteArray(",\n{\"domain\":\"00.c");
    }

    void resumeAfterKill()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, torn);
        QTemporaryDir folder;
        auto search = [&](const QString &file, const QString &pattern = QStringLiteral("{数字:2}")) {
            return test::words("search --kinds .cn --pattern") << pattern << QStringLiteral("--format") << format
                                                                 << QStringLiteral("--resume") << folder.filePath(file);
        };
        // Slow answers, so that the cut lands mid-way.
        m_world.dns().setDelay(std::chrono::milliseconds(10));
        QCOMPARE(cli(search(QStringLiteral("whole"))).status, 0);
        const QByteArray whole = test::readFile(folder.filePath(QStringLiteral("whole")));
        QVERIFY(whole.count('\n') > 1000);

        QProcess cut;
        cut.start(QStringLiteral(NORVALE_CLI_EXE), search(QStringLiteral("cut"))
                                                       << QStringLiteral("--data-service") << m_world.services.baseUrl());
        const QFileInfo written(folder.filePath(QStringLiteral("cut")));
        while (cut.state() != QProcess::NotRunning && QFileInfo(written.filePath()).size() < whole.size() / 2)
            QThread::msleep(2);
        cut.kill();
        QVERIFY(cut.waitForFinished());
        m_world.dns().setDelay(std::chrono::milliseconds(0));
        QByteArray kept = test::readFile(written.filePath());
        QVERIFY2(kept.size() < whole.size(), "the run ended before it was cut");
        QFile file(written.filePath());
        QVERIFY(file.open(QIODevice::Append));
        file.write(torn);
        file.close();

        QCOMPARE(cli(search(QStringLiteral("cut"))).status, 0);
        QCOMPARE(test::readFile(written.filePath()), whole);
        QCOMPARE(cli(search(QStringLiteral("cut"))).status, 0);
        QCOMPARE(test::readFile(written.filePath()), whole);
        // Another search's file is left alone.
        const Run other = cli(search(QStringLiteral("cut"), QStringLiteral("{数字:3}")));
        QCOMPARE(other.status, 2);
        QVERIFY2(other.err.contains(QStringLiteral("not from this search")), qPrintable(other.err));
        QCOMPARE(test::readFile(written.filePath()), whole);
    }

    void generate_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QString>("said");
        QTest::newRow("shape") << QStringLiteral("{数字:AABB}") << 0 << 90
                               << QStringList{QStringLiteral("0011"), QStringLiteral("0022")} << QString();
        QTest::newRow("prefixes and pinyin")
            << QStringLiteral("{前缀:my,get}{拼音:海棠}") << 0 << 4
            << QStringList{QStringLiteral("myhaitang"), QStringLiteral("myht"), QStringLiteral("gethaitang"),
                           QStringLiteral("getht")}
            << QString();
        QTest::newRow("invalid dropped") << QStringLiteral("{前缀:-,a}b") << 0 << 1 << QStringList{QStringLiteral("ab")}
                                         << QStringLiteral("1 个组合不能作域名");
        QTest::newRow("bad pattern") << QStringLiteral("{数字") << 2 << 0 << QStringList()
                                     << QStringLiteral("第 1 个字符：");
    }

    void generate()
    {
        QFETCH(QString, pattern);
        QFETCH(int, status);
        QFETCH(int, lines);
        QFETCH(QStringList, first);
        QFETCH(QString, said);
        // Needs no service: the address given goes unasked.
        const Run run = cli({QStringLiteral("generate"), pattern}, {}, QStringLiteral("http://127.0.0.1:9"));
        QCOMPARE(run.status, status);
        const QStringList out = QString::fromUtf8(run.out).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(out.size(), lines);
        QCOMPARE(out.mid(0, first.size()), first);
        QVERIFY2(said.isEmpty() ? run.err.isEmpty() : run.err.contains(said), qPrintable(run.err));
    }

    void csvAndTable()
    {
        const Run csv = cli(test::words("search example --kinds com --format csv"));
        QCOMPARE(csv.status, 0);
        // Into a pipe: no byte-order mark and no progress.
        QCOMPARE(QString::fromUtf8(csv.out).section(QStringLiteral("\r\n"), 0, 1),
                 QStringLiteral("域名地址,注册状态,拟售价,备案号,IP,可注册,已备案\r\n"
                                "example.com,已注册,,,93.184.216.34,否,否"));
        QVERIFY(csv.err.isEmpty());
        const Run table = cli(test::words("search example --kinds=.com"));
        QCOMPARE(table.status, 0);
        QVERIFY(table.out.contains("example.com") && !table.out.contains('\x1b'));
    }

    // Text from pages and the database: a terminal sees control characters
    // as escapes, files keep them exactly, and a spreadsheet runs nothing.
    void hostileCellsPerFormat_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("holds");
        QTest::addColumn<QByteArray>("lacks");
        QTest::newRow("table") << int(ResultFormat::Table) << QByteArray("\\x1b]52;c;SGk=\\x07") << QByteArray("\x1b");
        QTest::newRow("csv") << int(ResultFormat::Csv) << QByteArray("\"'\r=1\",\x1b]52;c;SGk=\x07,'\tcmd") << QByteArray("\\x1b");
        QTest::newRow("json") << int(ResultFormat::Json) << QByteArray("\\u001b]52;c;SGk=\\u0007") << QByteArray("\x1b");
    }

    void hostileCellsPerFormat()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, holds);
        QFETCH(QByteArray, lacks);
        ResultRecord record;
        record.domain = QStringLiteral("x.com");
        record.filing = QStringLiteral("\x1b]52;c;SGk=\x07");
        record.address = QStringLiteral("\tcmd");
        record.price = QStringLiteral("\r=1");
        const QByteArray out = ResultWriter::write(ResultFormat(format), {record});
        QVERIFY2(out.contains(holds) && !out.contains(lacks), out.constData());
        const QString csi(QChar(0x9b));
        QCOMPARE(terminalText(QStringLiteral("a\r\nb") + csi + QStringLiteral("2J\tc\n")), QStringLiteral("a\nb\\x9b2J\tc\n"));
    }

    // Standard input is read as the search goes: rows come while it is
    // still open, and a line too long for a keyword is passed over.
    void readsInputAsTheSearchGoes()
    {
        QProcess process;
        process.start(QStringLiteral(NORVALE_CLI_EXE),
                      test::words("search --kinds .cn --format csv --data-service") << m_world.services.baseUrl());
        QVERIFY(process.waitForStarted(10000));
        process.write("chenglan\n" + QByteArray(100000, 'x') + "\nyunzhan\nhaitang\n");
        QByteArray out;
        QDeadlineTimer deadline(60000);
        while (!out.contains("yunzhan.cn") && !deadline.hasExpired() && process.waitForReadyRead(int(deadline.remainingTime())))
            out += process.readAllStandardOutput();
        QVERIFY2(out.contains("chenglan.cn") && out.contains("yunzhan.cn"), out.constData());
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(60000));
        out += process.readAllStandardOutput();
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(out.contains("haitang.cn") && !out.contains("xxxx"));
    }

    void keywordReader_data()
    {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("keywords");
        const QStringList none;
        QTest::newRow("given, then the input, repeats once")
            << QStringList{QStringLiteral("Alpha"), QStringLiteral("beta")} << QByteArray("ALPHA\r\ngamma\n\n  beta \ndelta")
            << QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("gamma"), QStringLiteral("delta")};
        QTest::newRow("byte-order mark and GBK lines") << none << QByteArray("\xef\xbb\xbf\xe6\xb5\xb7\n\xba\xa3\xcc\xc4\n")
                                                       << QStringList{QStringLiteral("海"), QStringLiteral("海棠")};
        QTest::newRow("UTF-16") << none << QByteArray("\xff\xfe" "a\0\n\0b\0", 8) << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("a line too long") << none << QByteArray("a\n") + QByteArray(10000, 'y') + "\nb"
                                         << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    }

    void keywordReader()
    {
        QFETCH(QStringList, given);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, keywords);
        QBuffer device(&input);
        QVERIFY(device.open(QIODevice::ReadOnly));
        KeywordReader reader(given, &device);
        QStringList read;
        while (const std::optional<QString> keyword = reader.next())
            read << *keyword;
        QCOMPARE(read, keywords);
    }

    void lookups_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("whois") << test::words("whois WWW.chenglan.cn") << "name" << "chenglan.cn";
        QTest::newRow("filing") << test::words("filing chenglan.cn") << "address" << "192.0.2.21";
        QTest::newRow("ip") << test::words("ip chenglan.cn") << "address" << "192.0.2.21";
    }

    void lookups()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const Run run = cli(arguments << QStringLiteral("--format") << QStringLiteral("json"));
        QCOMPARE(run.status, 0);
        const QJsonObject object = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(object[key].toString(), value);
        if (arguments.first() == u"ip")
            QVERIFY(!object[u"location"][u"country"].toString().isEmpty());
        else
            QVERIFY(object[u"found"].toBool());
    }

    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("service");  // "dead", "bad database" or the services
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const QStringList search = test::words("search example");
        QTest::newRow("data service down") << search << "dead" << 1
                                           << "域名数据库无法访问，请稍后再访问或联系管理员(mail:admin@norvale.test)";
        QTest::newRow("database unreachable") << search << "bad database" << 1 << "";
        QTest::newRow("no keyword") << QStringList{QStringLiteral("search"), QStringLiteral(" .com")} << "" << 2
                                    << "no keyword";
        QTest::newRow("unknown kind") << test::words("search example --kinds .zz") << "" << 2 << "unknown kind";
        QTest::newRow("unknown command") << test::words("register") << "" << 2 << "unknown command";
    }

    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, service);
        QFETCH(int, status);
        QFETCH(QString, said);
        // A data service that names a database nobody can open.
        const QString missing = QStringLiteral("Provider=SQLite;Data Source=/nonexistent/norvale/x.db");
        test::TestHttpServer badDatabase;
        badDatabase.get("/geturl/dataurl.asp", [&](const httplib::Request &, httplib::Response &res) {
            res.set_content("|data|" + missing.toStdString() + "|data|", "text/html");
        });
        QVERIFY(badDatabase.start());
        if (service == u"bad database") {
            said = loadConfigRecord(missing).error;  // what the window shows before it ends
            QVERIFY(!said.isEmpty());
        }
        const QString address = service == u"dead" ? QStringLiteral("http://127.0.0.1:9")
                                : service == u"bad database" ? badDatabase.url(QString())
                                                             : QString();
        const Run run = cli(arguments, {}, address);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "CliTest.moc"
