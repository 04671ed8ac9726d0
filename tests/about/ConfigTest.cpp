#include "norvale/about/ConfigLoad.h"
#include "norvale/about/ConfigRecord.h"
#include "norvale/data/ServerDatabase.h"
#include "norvale/web/GetBody.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace norvale;

using Values = QHash<QString, QString>;
using Rows = QList<QVariantList>;

namespace {

QStringList allKeys()
{
    QStringList keys;
    for (const QLatin1StringView key : kConfigKeys)
        keys.append(QString(key));
    return keys;
}

// One row whose every value names its key and row, e.g. "lwhoisurl#1".
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

private:
    // Writes a SQLite file with lconfig_all made of the given columns and rows.
    QString makeDatabase(const QStringList &columns, const Rows &rows)
    {
        const QString path = m_dir.filePath(QStringLiteral("config%1.db").arg(++m_files));
        const QString name = QStringLiteral("writer%1").arg(m_files);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            if (!db.open())
                qFatal("cannot create a test database");
            QSqlQuery query(db);
            if (!columns.isEmpty()) {
                QStringList defs;
                for (const QString &column : columns)
                    defs.append(column + QStringLiteral(" TEXT"));
                if (!query.exec(QStringLiteral("CREATE TABLE lconfig_all (") + defs.join(u',') + u')'))
                    qFatal("%s", qPrintable(query.lastError().text()));
            }
            for (const QVariantList &row : rows) {
                QStringList marks(columns.size(), QStringLiteral("?"));
                query.prepare(QStringLiteral("INSERT INTO lconfig_all VALUES (") + marks.join(u',') + u')');
                for (const QVariant &v : row)
                    query.addBindValue(v);
                if (!query.exec())
                    qFatal("%s", qPrintable(query.lastError().text()));
            }
        }
        QSqlDatabase::removeDatabase(name);
        return path;
    }

    static QString sqliteText(const QString &path)
    {
        return QStringLiteral("Provider=SQLite;Data Source=") + path;
    }

    QTemporaryDir m_dir;
    int m_files = 0;

private slots:
    void keysAreTheTable()
    {
        const QStringList keys = allKeys();
        QCOMPARE(keys.size(), 32);
        QCOMPARE(keys.first(), QStringLiteral("lver"));
        QCOMPARE(keys.at(10), QStringLiteral("lbuyurl"));
        QCOMPARE(keys.at(24), QStringLiteral("lwhoisurl"));
        QCOMPARE(keys.last(), QStringLiteral("lgbookurl"));
        QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), 32);
    }

    void upgradeOffer_data()
    {
        QTest::addColumn<QString>("lver");
        QTest::addColumn<bool>("offered");

        QTest::newRow("1.1") << QStringLiteral("1.1") << true;
        QTest::newRow("1.01") << QStringLiteral("1.01") << true;
        QTest::newRow("2") << QStringLiteral("2") << true;
        QTest::newRow("1.10") << QStringLiteral("1.10") << true;
        QTest::newRow("1.05") << QStringLiteral("1.05") << true;
        QTest::newRow("10") << QStringLiteral("10") << true;
        QTest::newRow("tiny step above") << QStringLiteral("1.0000000000000000001") << true;
        QTest::newRow("leading zeros") << QStringLiteral("001.1") << true;
        QTest::newRow("leading blanks") << QStringLiteral("  \t1.2") << true;
        QTest::newRow("blanks inside") << QStringLiteral("1 .2") << true;
        QTest::newRow("text after") << QStringLiteral("1.2beta") << true;
        QTest::newRow("1") << QStringLiteral("1") << false;
        QTest::newRow("1.0") << QStringLiteral("1.0") << false;
        QTest::newRow("1.00") << QStringLiteral("1.00") << false;
        QTest::newRow("1.") << QStringLiteral("1.") << false;
        QTest::newRow("many zeros") << QStringLiteral("1.000000000000000000000") << false;
        QTest::newRow("0.9") << QStringLiteral("0.9") << false;
        QTest::newRow(".9") << QStringLiteral(".9") << false;
        QTest::newRow("second point stops") << QStringLiteral("1.0.5") << false;
        QTest::newRow("V1.1") << QStringLiteral("V1.1") << false;
        QTest::newRow("sign") << QStringLiteral("+1.1") << false;
        QTest::newRow("abc") << QStringLiteral("abc") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("comma is no point") << QStringLiteral("1,5") << false;
        QTest::newRow("full-width digits") << QStringLiteral("２") << false;
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
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<Values>("expected");   // some values when loaded
        QTest::addColumn<QString>("errorPart"); // part of the message when not

        const QStringList keys = allKeys();

        QTest::newRow("one row") << keys << Rows{rowFor(keys, 1)} << true
                                 << Values{{QStringLiteral("lver"), QStringLiteral("lver#1")},
                                           {QStringLiteral("lgbookurl"), QStringLiteral("lgbookurl#1")}}
                                 << QString();
        QTest::newRow("two rows: the first counts")
            << keys << Rows{rowFor(keys, 1), rowFor(keys, 2)} << true
            << Values{{QStringLiteral("lwhoisurl"), QStringLiteral("lwhoisurl#1")}} << QString();

        QStringList shuffled = keys;
        std::reverse(shuffled.begin(), shuffled.end());
        shuffled.insert(5, QStringLiteral("lextra"));
        shuffled.append(QStringLiteral("lnotes"));
        QTest::newRow("extra columns in another order")
            << shuffled << Rows{rowFor(shuffled, 1)} << true
            << Values{{QStringLiteral("lver"), QStringLiteral("lver#1")},
                      {QStringLiteral("ldomainurl"), QStringLiteral("ldomainurl#1")}}
            << QString();

        QStringList capitals;
        for (const QString &key : keys)
            capitals.append(key.toUpper());
        QTest::newRow("column names in capitals")
            << capitals << Rows{rowFor(keys, 1)} << true
            << Values{{QStringLiteral("lipurl"), QStringLiteral("lipurl#1")}} << QString();

        QVariantList untouched = rowFor(keys, 1);
        untouched[0] = QStringLiteral(" 1.10 ");
        untouched[25] = QStringLiteral("");
        untouched[24] = QStringLiteral("http://whois.test/?d=中文 ");
        QTest::newRow("values as stored: blanks, empty, Chinese")
            << keys << Rows{untouched} << true
            << Values{{QStringLiteral("lver"), QStringLiteral(" 1.10 ")},
                      {QStringLiteral("ldomainurl"), QString()},
                      {QStringLiteral("lwhoisurl"), QStringLiteral("http://whois.test/?d=中文 ")}}
            << QString();

        QStringList withoutAlexa = keys;
        withoutAlexa.removeAll(QStringLiteral("lalexa"));
        QTest::newRow("an unused column missing")
            << withoutAlexa << Rows{rowFor(withoutAlexa, 1)} << false << Values{}
            << QStringLiteral("lalexa");
        QStringList withoutLast = keys.mid(0, 31);
        QTest::newRow("the last column missing")
            << withoutLast << Rows{rowFor(withoutLast, 1)} << false << Values{}
            << QStringLiteral("lgbookurl");

        QVariantList withNull = rowFor(keys, 1);
        withNull[24] = QVariant(QMetaType::fromType<QString>());
        QTest::newRow("NULL") << keys << Rows{withNull} << false << Values{}
                              << QStringLiteral("lwhoisurl");
        QVariantList nullInSecond = rowFor(keys, 2);
        nullInSecond[0] = QVariant(QMetaType::fromType<QString>());
        QTest::newRow("NULL in an ignored row")
            << keys << Rows{rowFor(keys, 1), nullInSecond} << true
            << Values{{QStringLiteral("lver"), QStringLiteral("lver#1")}} << QString();

        QTest::newRow("no row") << keys << Rows{} << false << Values{}
                                << QStringLiteral("lconfig_all");
        QTest::newRow("no table") << QStringList() << Rows{} << false << Values{}
                                  << QStringLiteral("lconfig_all");
    }

    void load()
    {
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        QFETCH(bool, loaded);
        QFETCH(Values, expected);
        QFETCH(QString, errorPart);

        const ConfigLoadResult result = loadConfigRecord(sqliteText(makeDatabase(columns, rows)));
        if (!loaded) {
            QCOMPARE(result.outcome, ConfigLoadResult::Outcome::Failed);
            QVERIFY2(result.error.contains(errorPart), qPrintable(result.error));
            QVERIFY(result.record.isEmpty());
            return;
        }
        QCOMPARE(result.outcome, ConfigLoadResult::Outcome::Loaded);
        QVERIFY(result.error.isEmpty());
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(result.record.value(it.key()), it.value());
        // Every key was read from the first row, not just the ones checked.
        for (const QLatin1StringView key : kConfigKeys) {
            if (!expected.contains(QString(key)))
                QCOMPARE(result.record.value(key), QString(key) + QStringLiteral("#1"));
        }
        QCOMPARE(result.record.value(u"lnotakey"), QString());
    }

    void unreachableDatabaseGivesTheLayersMessage()
    {
        const QString missing = m_dir.filePath(QStringLiteral("absent.db"));
        const ConfigLoadResult result = loadConfigRecord(sqliteText(missing));
        QCOMPARE(result.outcome, ConfigLoadResult::Outcome::Failed);
        QVERIFY(!result.error.isEmpty());
        QVERIFY(!QFile::exists(missing));
    }

    void failedDiscoveryIsNotReportedTwice()
    {
        QString closed;
        {
            // A port that just served and is now closed.
            test::ServicesProcess services;
            QString why;
            QVERIFY2(services.start(&why), qPrintable(why));
            closed = services.dataServiceUrl();
            QVERIFY(!GetBody(closed, QStringLiteral("GB2312")).isEmpty());
        }
        test::RecordingPlatform platform;
        ServerDatabase database(platform, closed, QStringLiteral("ops@example.test"));
        const ConfigLoadResult result = loadConfigRecord(database);
        QCOMPARE(result.outcome, ConfigLoadResult::Outcome::Ending);
        QCOMPARE(platform.messages().size(), 1);
        QCOMPARE(platform.exitRequests(), 1);
    }
};

QTEST_GUILESS_MAIN(ConfigTest)
#include "ConfigTest.moc"
