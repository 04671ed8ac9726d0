#include "norvale/startup/FirstRun.h"
#include "tests/support/RecordingPlatform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace norvale;

namespace {

// Entries to create: a plain name is an empty file, a name ending in "/" a
// folder, "a->b" a symbolic link a pointing at b.
void populate(const QString &folder, const QStringList &entries)
{
    QDir dir(folder);
    for (const QString &entry : entries) {
        if (entry.endsWith(u'/')) {
            QVERIFY(dir.mkdir(entry.chopped(1)));
        } else if (entry.contains(QStringLiteral("->"))) {
            const QStringList parts = entry.split(QStringLiteral("->"));
            QVERIFY(QFile::link(dir.filePath(parts.at(1)), dir.filePath(parts.at(0))));
        } else {
            QFile file(dir.filePath(entry));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[setup]\n");
        }
    }
}

} // namespace

class FirstRunTest final : public QObject {
    Q_OBJECT

private slots:
    void marker_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("handedOff");
        QTest::addColumn<QStringList>("left");  // what remains afterwards

        QTest::newRow("no marker") << QStringList{QStringLiteral("readme.txt")} << false
                                   << QStringList{QStringLiteral("readme.txt")};
        QTest::newRow("marker") << QStringList{QStringLiteral("set.ini"), QStringLiteral("readme.txt")}
                                << true << QStringList{QStringLiteral("readme.txt")};
        QTest::newRow("capitals") << QStringList{QStringLiteral("SET.INI")} << true << QStringList{};
        QTest::newRow("mixed case") << QStringList{QStringLiteral("Set.Ini")} << true << QStringList{};
        QTest::newRow("two spellings, both go")
            << QStringList{QStringLiteral("set.ini"), QStringLiteral("SET.ini")} << true << QStringList{};
        QTest::newRow("folder of that name")
            << QStringList{QStringLiteral("set.ini/")} << false << QStringList{QStringLiteral("set.ini")};
        QTest::newRow("hidden lookalike")
            << QStringList{QStringLiteral(".set.ini")} << false << QStringList{QStringLiteral(".set.ini")};
        QTest::newRow("longer name")
            << QStringList{QStringLiteral("set.ini.bak"), QStringLiteral("xset.ini")} << false
            << QStringList{QStringLiteral("set.ini.bak"), QStringLiteral("xset.ini")};
        QTest::newRow("trailing blank")
            << QStringList{QStringLiteral("set.ini ")} << false << QStringList{QStringLiteral("set.ini ")};
        QTest::newRow("link to a folder")
            << QStringList{QStringLiteral("cfg/"), QStringLiteral("set.ini->cfg")} << false
            << QStringList{QStringLiteral("cfg"), QStringLiteral("set.ini")};
        QTest::newRow("dangling link")
            << QStringList{QStringLiteral("set.ini->gone")} << false << QStringList{QStringLiteral("set.ini")};
        QTest::newRow("link to a file counts, the target stays")
            << QStringList{QStringLiteral("real.txt"), QStringLiteral("set.ini->real.txt")} << true
            << QStringList{QStringLiteral("real.txt")};
    }

    void marker()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, handedOff);
        QFETCH(QStringList, left);

        QTemporaryDir folder;
        populate(folder.path(), entries);
        test::RecordingPlatform platform;

        QCOMPARE(handOffFirstRun(folder.path(), platform), handedOff);
        QCOMPARE(platform.exitRequests(), handedOff ? 1 : 0);
        QCOMPARE(platform.startedPrograms(),
                 handedOff ? QStringList{QDir(folder.path()).filePath(QStringLiteral("kestrup"))}
                           : QStringList{});
        QVERIFY(platform.messages().isEmpty());
        QDir dir(folder.path());
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name),
                 left);

        // The marker is gone, so the next start runs normally.
        QVERIFY(!handOffFirstRun(folder.path(), platform));
        QCOMPARE(platform.exitRequests(), handedOff ? 1 : 0);
    }

    void missingInitialiserStillEnds()
    {
        QTemporaryDir folder;
        populate(folder.path(), {QStringLiteral("set.ini")});
        test::RecordingPlatform platform;
        platform.setStartSucceeds(false);

        QVERIFY(handOffFirstRun(folder.path(), platform));
        QCOMPARE(platform.startedPrograms().size(), 1);
        QCOMPARE(platform.exitRequests(), 1);
        QVERIFY(!QFile::exists(QDir(folder.path()).filePath(QStringLiteral("set.ini"))));
        QVERIFY(platform.messages().isEmpty());
        QVERIFY(!handOffFirstRun(folder.path(), platform));
    }

    void missingFolderIsNoMarker()
    {
        test::RecordingPlatform platform;
        QVERIFY(!handOffFirstRun(QStringLiteral("/nonexistent/norvale"), platform));
        QCOMPARE(platform.exitRequests(), 0);
    }
};

QTEST_GUILESS_MAIN(FirstRunTest)
#include "FirstRunTest.moc"
