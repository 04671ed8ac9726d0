#include "norvale/core/startup/FirstRun.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TestText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace norvale;
using namespace Qt::StringLiterals;

class FirstRunTest final : public QObject {
    Q_OBJECT

private slots:
    void marker_data()
    {
        // Entries, blank-separated: "name" an empty file, "name/" a folder,
        // "a->b" a symbolic link a to b.
        QTest::addColumn<QString>("entries");
        QTest::addColumn<bool>("initialiserStarts");
        QTest::addColumn<bool>("handedOff");
        QTest::addColumn<QString>("left");  // what remains afterwards

        QTest::newRow("no marker") << "readme.txt" << true << false << "readme.txt";
        QTest::newRow("marker") << "set.ini readme.txt" << true << true << "readme.txt";
        QTest::newRow("mixed case") << "Set.Ini" << true << true << "";
        QTest::newRow("two spellings, both go") << "set.ini SET.ini" << true << true << "";
        QTest::newRow("initialiser missing: still ends") << "set.ini" << false << true << "";
        QTest::newRow("folder of that name") << "set.ini/" << true << false << "set.ini";
        QTest::newRow("longer names") << "set.ini.bak xset.ini" << true << false << "set.ini.bak xset.ini";
        QTest::newRow("link to a folder") << "cfg/ set.ini->cfg" << true << false << "cfg set.ini";
        QTest::newRow("link to a file counts, the target stays")
            << "real.txt set.ini->real.txt" << true << true << "real.txt";
    }

    void marker()
    {
        QFETCH(QString, entries);
        QFETCH(bool, initialiserStarts);
        QFETCH(bool, handedOff);
        QFETCH(QString, left);

        QTemporaryDir folder;
        QDir dir(folder.path());
        for (const QString &entry : entries.split(u' ', Qt::SkipEmptyParts)) {
            const QStringList link = entry.split(u"->"_s);
            if (entry.endsWith(u'/'))
                QVERIFY(dir.mkdir(entry.chopped(1)));
            else if (link.size() == 2)
                QVERIFY(QFile::link(dir.filePath(link.at(1)), dir.filePath(link.at(0))));
            else
                QVERIFY(test::writeFile(dir.filePath(entry), "[setup]\n"));
        }
        test::RecordingPlatform platform;
        platform.setStartSucceeds(initialiserStarts);

        QCOMPARE(handOffFirstRun(folder.path(), platform), handedOff);
        QCOMPARE(platform.exitRequests(), handedOff ? 1 : 0);
        QCOMPARE(platform.startedPrograms(), handedOff ? QStringList{dir.filePath(u"kestrup"_s)} : QStringList{});
        QVERIFY(platform.messages().isEmpty());
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
                 left.split(u' ', Qt::SkipEmptyParts));

        // The marker is gone, so the next start runs normally.
        QVERIFY(!handOffFirstRun(folder.path(), platform));
        QCOMPARE(platform.exitRequests(), handedOff ? 1 : 0);
    }

    void sharedInstallation()
    {
        // An installed program folder is not the user's to change: the marker
        // stays for everyone, and each user hands off once.
        QTemporaryDir root;
        const QString program = root.filePath(u"program"_s);
        QVERIFY(QDir().mkpath(program));
        QVERIFY(QFile(program + u"/set.ini"_s).open(QIODevice::WriteOnly));
        const auto userOf = [&](const char *name) {
            return FirstRunPlaces{program, true, root.filePath(QLatin1StringView(name) + u"/.config/norvale"_s)};
        };

        test::RecordingPlatform platform;
        QVERIFY(handOffFirstRun(userOf("ann"), platform));
        QVERIFY(!handOffFirstRun(userOf("ann"), platform));
        QVERIFY(handOffFirstRun(userOf("bob"), platform));
        QCOMPARE(platform.exitRequests(), 2);
        QCOMPARE(platform.startedPrograms(), QStringList(2, program + u"/kestrup"_s));
        QVERIFY(QFileInfo::exists(program + u"/set.ini"_s));
        QVERIFY(QFileInfo::exists(userOf("bob").userFolder + u"/first-run-done"_s));

        // Without a marker the installation wants no first run at all.
        QVERIFY(QFile::remove(program + u"/set.ini"_s));
        QVERIFY(!handOffFirstRun(userOf("cat"), platform));
        QVERIFY(!QFileInfo::exists(userOf("cat").userFolder));
    }

    void unrecordableFirstRunRunsNormally_data()
    {
        QTest::addColumn<QString>("userFolder");  // relative to a temporary folder; "" for none
        QTest::newRow("user folder under a file") << u"file/norvale"_s;
        QTest::newRow("no configuration folder") << QString();
    }

    void unrecordableFirstRunRunsNormally()
    {
        // A hand-off that cannot be recorded would come back with every start
        // that the initialiser makes, without end.
        QFETCH(QString, userFolder);
        QTemporaryDir root;
        QVERIFY(QFile(root.filePath(u"set.ini"_s)).open(QIODevice::WriteOnly));
        QVERIFY(QFile(root.filePath(u"file"_s)).open(QIODevice::WriteOnly));
        test::RecordingPlatform platform;
        const FirstRunPlaces places{root.path(), true, userFolder.isEmpty() ? QString() : root.filePath(userFolder)};
        QVERIFY(!handOffFirstRun(places, platform));
        QCOMPARE(platform.exitRequests(), 0);
        QVERIFY(platform.startedPrograms().isEmpty());
    }

    void readOnlyMarkerMeansShared_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("marker the owner may change: the folder's own") << false;
        QTest::newRow("read-only marker: an installation for everyone") << true;
    }

    void readOnlyMarkerMeansShared()
    {
        // Root can write any folder; the installation's read-only marker is
        // what keeps root from taking the first run away from other users.
        QFETCH(bool, readOnly);
        QTemporaryDir program, config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        QFile marker(program.filePath(u"set.ini"_s));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        if (readOnly)
            QVERIFY(marker.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

        const FirstRunPlaces places = firstRunPlaces(program.path());
        QCOMPARE(places.shared, readOnly);
        test::RecordingPlatform platform;
        QVERIFY(handOffFirstRun(program.path(), platform));
        QCOMPARE(marker.exists(), readOnly);
        QCOMPARE(QFileInfo::exists(config.filePath(u"norvale/first-run-done"_s)), readOnly);
        QCOMPARE(handOffFirstRun(program.path(), platform), false);
    }

    void missingFolderIsNoMarker()
    {
        test::RecordingPlatform platform;
        QVERIFY(!handOffFirstRun(u"/nonexistent/norvale"_s, platform));
        QCOMPARE(platform.exitRequests(), 0);
    }
};

QTEST_GUILESS_MAIN(FirstRunTest)
#include "FirstRunTest.moc"
