#include "norvale/core/config/ConfigLoad.h"
#include "norvale/core/config/ConfigRecord.h"
#include "norvale/core/data/ServerDatabase.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TestSql.h"

#include <QTemporaryDir>
#include <QTest>

using namespace norvale;

using Values = QHash<QString, QString>;
using Rows = QList<QVariantList>;

namespace {

// One row whose every value names its column and row, e.g. "lwhoisurl#1".
QVariantList rowFor(const QStringList &columns, int row)
{
    QVariantList values;
    for (const QString &column : columns)
        values.append(QString(column + u'#' + QString::number(row)));
    return values;
}

} // namespace

class ConfigTest final : public QObject {
    Q_OBJECT

    // The connection text of a SQLite file whose lconfig_all has these columns
    // and rows; no table without columns.
    QString makeDatabase(const QStringList &columns, const Rows &rows)
    {
        const QString path = m_dir.filePath(QStringLiteral("config%1.db").arg(++m_files));
        const bool written = test::fillDatabase(path, [&](QSqlDatabase &db) {
            bool ok = columns.isEmpty()
                      || test::execSql(db, u"CREATE TABLE lconfig_all (" % columns.join(QStringLiteral(" TEXT,")) % u" TEXT)");
            for (const QVariantList &row : rows) {
                ok = ok && test::execSql(db, u"INSERT INTO lconfig_all VALUES (" % QStringList(columns.size(), QStringLiteral("?")).join(u',') % u')',
                                         row);
            }
            return ok;
        });
        if (!written)
            qFatal("cannot write the test database");
        return QStringLiteral("Provider=SQLite;Data Source=") + path;
    }

    QTemporaryDir m_dir;
    int m_files = 0;

private slots:
    void upgradeOffer_data()
    {
        QTest::addColumn<QString>("lver");
        QTest::addColumn<bool>("offered");
        const std::pair<const char *, bool> cases[] = {
            {"1.1", true}, {"1.10", true}, {"10", true}, {"1.0000000000000000001", true},
            {"001.1", true}, {"  \t1.2", true}, {"1 .2", true}, {"1.2beta", true},
            {"1", false}, {"1.0", false}, {"1.", false}, {"1.000000000000000000000", false},
            {"0.9", false}, {".9", false}, {"1.0.5", false}, {"V1.1", false}, {"+1.1", false},
            {"", false}, {"1,5", false}, {"２", false},
        };
        for (const auto &[lver, offered] : cases)
            QTest::addRow("'%s'", lver) << QString::fromUtf8(lver) << offered;
    }

    void upgradeOffer()
    {
        QFETCH(QString, lver);
        QFETCH(bool, offered);
        QCOMPARE(offersUpgrade(lver), offered);
    }

    void load_data()
    {
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<Values>("expected");   // besides "<key>#1" for every other key
        QTest::addColumn<QString>("errorPart"); // empty: the load succeeds

        QStringList keys;
        for (const QLatin1StringView key : kConfigKeys)
            keys.append(QString(key));
        const QVariant null(QMetaType::fromType<QString>());
        QStringList other; // reversed, in capitals, with a column of its own
        for (const QString &key : keys)
            other.prepend(key.toUpper());
        other.insert(5, QStringLiteral("lextra"));
        QVariantList otherRow = rowFor(other, 1);
        for (QVariant &v : otherRow)
            v = v.toString().toLower();
        QVariantList asStored = rowFor(keys, 1);
        asStored[0] = QStringLiteral(" 1.10 ");
        asStored[24] = QStringLiteral("http://whois.test/?d=中文 ");
        asStored[25] = QStringLiteral("");
        QVariantList nullInSecond = rowFor(keys, 2);
        nullInSecond[0] = null;
        QVariantList withNull = rowFor(keys, 1);
        withNull[24] = null;
        const QStringList withoutLast = keys.mid(0, 31);
        QVariantList atBound = rowFor(keys, 1);
        atBound[3] = QString(kConfigValueLimit, u'9');
        QVariantList overBound = rowFor(keys, 1);
        overBound[3] = QString(kConfigValueLimit + 1, u'9');

        QTest::newRow("the first of two rows counts, a NULL in the second is ignored")
            << keys << Rows{rowFor(keys, 1), nullInSecond} << Values{} << QString();
        QTest::newRow("columns by name, in any order and case")
            << other << Rows{otherRow} << Values{} << QString();
        QTest::newRow("values as stored: blanks, empty, Chinese")
            << keys << Rows{asStored}
            << Values{{QStringLiteral("lver"), QStringLiteral(" 1.10 ")},
                      {QStringLiteral("lwhoisurl"), QStringLiteral("http://whois.test/?d=中文 ")},
                      {QStringLiteral("ldomainurl"), QString()}}
            << QString();
        QTest::newRow("the last column missing")
            << withoutLast << Rows{rowFor(withoutLast, 1)} << Values{} << QStringLiteral("lgbookurl");
        QTest::newRow("a value at the bound")
            << keys << Rows{atBound} << Values{{QStringLiteral("lqq"), QString(kConfigValueLimit, u'9')}} << QString();
        QTest::newRow("a value over the bound") << keys << Rows{overBound} << Values{} << QStringLiteral("lqq");
        QTest::newRow("NULL") << keys << Rows{withNull} << Values{} << QStringLiteral("lwhoisurl");
        QTest::newRow("no row") << keys << Rows{} << Values{} << QStringLiteral("lconfig_all");
        QTest::newRow("no table") << QStringList() << Rows{} << Values{} << QStringLiteral("lconfig_all");
    }

    void load()
    {
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        QFETCH(Values, expected);
        QFETCH(QString, errorPart);

        const ConfigLoadResult result = loadConfigRecord(makeDatabase(columns, rows));
        if (!errorPart.isEmpty()) {
            QCOMPARE(result.outcome, ConfigLoadResult::Outcome::Failed);
            QVERIFY2(result.error.contains(errorPart), qPrintable(result.error));
            QVERIFY(result.record.isEmpty());
            return;
        }
        QCOMPARE(result.outcome, ConfigLoadResult::Outcome::Loaded);
        QVERIFY(result.error.isEmpty());
        for (const ConfigKey key : allConfigKeys()) {
            const QString column(configColumn(key));
            QCOMPARE(result.record.value(key), expected.value(column, column + QStringLiteral("#1")));
        }
    }

    void unreachableDatabaseGivesTheLayersMessage()
    {
        const QString missing = m_dir.filePath(QStringLiteral("absent.db"));
        const ConfigLoadResult result = loadConfigRecord(QStringLiteral("Provider=SQLite;Data Source=") + missing);
        QCOMPARE(result.outcome, ConfigLoadResult::Outcome::Failed);
        QVERIFY(!result.error.isEmpty());
        QVERIFY(!QFile::exists(missing));
    }

    void failedDiscoveryIsNotReportedTwice()
    {
        const QString closed = QStringLiteral("http://127.0.0.1:%1/geturl/dataurl.asp?checkin=qomp58x").arg(test::freeLoopbackPort());
        test::RecordingPlatform platform;
        ServerDatabase database(platform, closed, QStringLiteral("ops@example.test"));
        QCOMPARE(loadConfigRecord(database).outcome, ConfigLoadResult::Outcome::Ending);
        QCOMPARE(platform.messages().size(), 1);
        QCOMPARE(platform.exitRequests(), 1);
    }
};

QTEST_GUILESS_MAIN(ConfigTest)
#include "ConfigTest.moc"
