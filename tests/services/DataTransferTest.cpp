// The operator's data in and out: `norvale-services import` and `export`
// against the database of a serving instance, whose next answers must show
// what an import applied, and nothing of a file it refused.
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpGet.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestText.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using norvale::test::ServicesProcess;

namespace {

using norvale::test::ProgramRun;

// What a run wrote, on either stream.
QString said(const ProgramRun &run)
{
    return QString::fromUtf8(run.err) + QString::fromUtf8(run.out);
}

QByteArray gbk(const char *utf8)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(QString::fromUtf8(utf8));
}

} // namespace

class DataTransferTest final : public QObject {
    Q_OBJECT

    ServicesProcess m_services;
    QTemporaryDir m_dir;

    QString write(const QByteArray &bytes)
    {
        static int counter = 0;
        const QString path = m_dir.filePath(QStringLiteral("in-%1.csv").arg(++counter));
        [&] { QVERIFY(norvale::test::writeFile(path, bytes)); }();
        return path;
    }

    ProgramRun transfer(const QStringList &words)
    {
        return norvale::test::runProgram(QStringLiteral(NORVALE_SERVICES_EXE),
                                         QStringList{QStringLiteral("--db"), m_services.databasePath()} + words);
    }

    QByteArray exported(const QString &table)
    {
        const QString path = m_dir.filePath(table + QStringLiteral("-out.csv"));
        const ProgramRun run = transfer({QStringLiteral("export"), table, path});
        [&] { QVERIFY2(run.exitCode == 0, qPrintable(said(run))); }();
        return norvale::test::readFile(path);
    }

    // Whether the status page, asked now, marks name as registered.
    bool registered(const QString &name)
    {
        const auto result = norvale::test::httpGet(m_services.baseUrl() + QStringLiteral("/query/domain.asp?domain=")
                                                   + QString::fromLatin1(QUrl::toPercentEncoding(name)));
        return result && result->body.find("|domain|") != std::string::npos;
    }

private slots:
    void initTestCase()
    {
        VERIFY_STARTED(m_services);
        QVERIFY(m_dir.isValid());
    }

    void badFileRefusedWhole_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("price not a number") << "prices" << QByteArray("lextendkind,lextend,lprice\n.com,.com,70\n.cn,.cn,abc\n")
                                            << "line 3: lprice is not a number";
        QTest::newRow("kind not an extension") << "prices" << QByteArray("lextendkind,lextend,lprice\ncom,.com,70\n")
                                               << "line 2: lextendkind";
        QTest::newRow("unknown column") << "prices" << QByteArray("lextendkind,lextend,lprice,note\n.com,.com,1,x\n")
                                        << "line 1: no column of ldomainprice: note";
        QTest::newRow("required column missing") << "filings" << QByteArray("lname,lextend\nfoo,.com\n")
                                                 << "line 1: the column lallname is missing";
        QTest::newRow("column twice") << "registered" << QByteArray("ldomain,LDOMAIN\na.com,b.com\n") << "named twice";
        QTest::newRow("short row") << "prices" << QByteArray("lextendkind,lextend,lprice\r\n.com,.com\r\n")
                                   << "line 2: 2 fields where the header has 3";
        QTest::newRow("not a host name") << "registered" << QByteArray("ldomain\nfine.com\nno space.com\n")
                                         << "line 3: ldomain is not a host name";
        QTest::newRow("one label") << "registered" << QByteArray("ldomain\nlocalhost\n") << "line 2: ldomain";
        QTest::newRow("full name not name and extension")
            << "filings" << QByteArray("lname,lextend,lallname,lback\nfoo,.com,bar.com,京ICP备1号\n")
            << "line 2: lallname is not lname followed by lextend";
        QTest::newRow("filing number empty") << "filings" << QByteArray("lname,lextend,lallname,lback\nfoo,.com,foo.com,\n")
                                             << "line 2: lback, the filing number, is empty";
        QTest::newRow("same name twice, Unicode and ACE")
            << "registered" << QByteArray("ldomain\n中文.cn\nxn--fiq228c.cn\n") << "line 3: the same ldomain as line 2";
        QTest::newRow("quote never closes") << "registered" << QByteArray("ldomain\n\"a.com\nb.com\n")
                                            << "line 2: a quoted field never closes";
        QTest::newRow("neither UTF-8 nor GBK") << "registered" << QByteArray("ldomain\n\xff\xfe\xff.com\n")
                                               << "neither UTF-8 nor GBK";
        QTest::newRow("empty") << "registered" << QByteArray() << "no header row";
    }

    void badFileRefusedWhole()
    {
        QFETCH(QString, table);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QByteArray before = exported(table);
        for (const char *mode : {"--merge", "--replace"}) {
            const ProgramRun run = transfer({QStringLiteral("import"), table, write(bytes), QLatin1StringView(mode)});
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(said(run).contains(reason), qPrintable(said(run)));
        }
        QCOMPARE(exported(table), before);
        QVERIFY(!registered(QStringLiteral("fine.com")) && !registered(QStringLiteral("a.com")));
    }

    // A good file is applied while the service runs, seen by its next answer.
    void goodFileApplied_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<QString>("shown");   // now registered
        QTest::addColumn<QString>("gone");    // registered before, not now; empty: none
        QTest::newRow("registered, GBK, CRLF, merged")
            << "registered" << gbk("ldomain\r\n新名字.cn\r\n") << false << "新名字.cn" << "";
        QTest::newRow("registered, BOM, replaced")
            << "registered" << QByteArray("\xEF\xBB\xBFldomain\r\nonly-this.com\r\n") << true << "only-this.com"
            << "新名字.cn";
        QTest::newRow("filings, quoted fields, merged")
            << "filings"
            << QByteArray("LNAME, lextend ,lallname,lback,lbackname\n"
                          "haoming,.com.cn,haoming.com.cn,京ICP备12345号,\"好名, \"\"第一\"\"\"\n")
            << false << "haoming.com.cn" << "";
    }

    void goodFileApplied()
    {
        QFETCH(QString, table);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, replace);
        QFETCH(QString, shown);
        QFETCH(QString, gone);
        QVERIFY(!registered(shown));
        QVERIFY(gone.isEmpty() || registered(gone));
        QStringList words{QStringLiteral("import"), table, write(bytes)};
        if (replace)
            words << QStringLiteral("--replace");
        const ProgramRun run = transfer(words);
        QVERIFY2(run.exitCode == 0, qPrintable(said(run)));
        QVERIFY(registered(shown));
        QVERIFY(gone.isEmpty() || !registered(gone));
    }

    void pricesMergedOrReplaced()
    {
        const QString file = write("lextendkind,lextend,lprice\n.com,.com,70.5\n.other,.新,12\n");
        QVERIFY(transfer({QStringLiteral("import"), QStringLiteral("prices"), file}).exitCode == 0);
        const QString merged = QString::fromUtf8(exported(QStringLiteral("prices")));
        QVERIFY(merged.contains(QStringLiteral("\r\n.com,.com,70.5\r\n")) && merged.contains(QStringLiteral(".other,.新,12")));
        QCOMPARE(merged.count(QStringLiteral("\r\n")), 1 + 54 + 1);   // the header, the seed's kinds, one new
        QVERIFY(transfer({QStringLiteral("import"), QStringLiteral("prices"), file, QStringLiteral("--replace")}).exitCode == 0);
        QCOMPARE(exported(QStringLiteral("prices")).count("\r\n"), 3);
    }

    // What export writes, import takes back unchanged, odd values included.
    void exportRoundTrips_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("prices") << "prices";
        QTest::newRow("filings") << "filings";
        QTest::newRow("registered") << "registered";
    }

    void exportRoundTrips()
    {
        QFETCH(QString, table);
        const QByteArray first = exported(table);
        QVERIFY(first.startsWith("\xEF\xBB\xBF") && first.count("\r\n") > 1);
        const QString file = write(first);
        const ProgramRun run = transfer({QStringLiteral("import"), table, file, QStringLiteral("--replace")});
        QVERIFY2(run.exitCode == 0, qPrintable(said(run)));
        QCOMPARE(exported(table), first);
    }
};

QTEST_GUILESS_MAIN(DataTransferTest)
#include "DataTransferTest.moc"
