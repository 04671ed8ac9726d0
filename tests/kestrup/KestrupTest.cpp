#include "kestrup/ComponentInstaller.h"
#include "kestrup/Components.h"
#include "kestrup/Form1.h"
#include "kestrup/KestrupPlatform.h"
#include "kestrup/KestrupRun.h"
#include "tests/support/TestText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace kestrup;
using namespace norvale::test;

namespace {

// Answers every message at once and notes, in order, what Kestrup asked for:
// "message <title>|<text>" and "start <program> <argument>...".
class RecordingPlatform final : public KestrupPlatform {
public:
    void showMessage(const QString &title, const QString &text, QWidget *over) override
    {
        QMutexLocker lock(&m_mutex);
        m_events.append(s("message ") + title + u'|' + text);
        m_owners.append(over);
    }
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        QMutexLocker lock(&m_mutex);
        m_events.append((QStringList{s("start"), program} + arguments).join(u' '));
        return m_startSucceeds;
    }
    QStringList events() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }
    QList<const QWidget *> owners() const
    {
        QMutexLocker lock(&m_mutex);
        return m_owners;
    }
    bool m_startSucceeds = true;

private:
    mutable QMutex m_mutex;
    QStringList m_events;
    QList<const QWidget *> m_owners;
};

// Really starts each program, as a child the test can wait for.
class ChildProcessPlatform final : public KestrupPlatform {
public:
    void showMessage(const QString &, const QString &, QWidget *) override {}
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        auto &process = m_children.emplace_back(std::make_unique<QProcess>());
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(program, arguments);
        return process->waitForStarted();
    }
    // Waits for every child; the exit codes, in order of start.
    QList<int> waitForAll()
    {
        QList<int> codes;
        for (const auto &process : m_children) {
            process->waitForFinished(60000);
            codes.append(process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1);
        }
        m_children.clear();
        return codes;
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_children;
};

// A small list of the same shape as the real one, registered by a tool that
// the recording platform only notes.
ComponentLists testLists()
{
    const QStringList reg{s("register"), s("--"), QString(kFileToken)};
    return {{s("A.tpl"), s("b.ini")}, {{s("Drv.so"), reg}, {s("font.ttc"), reg}, {s("third.dat"), reg}}};
}

constexpr const char *kAllTestFiles = "A.tpl b.ini Drv.so font.ttc third.dat";

// Entries, blank-separated: "name" a file, "name/" a folder, "name->" a link
// that leads nowhere.
bool makeEntries(const QString &folder, const QString &entries, const QByteArray &content)
{
    for (const QString &entry : entries.split(u' ', Qt::SkipEmptyParts)) {
        const QString path = folder + u'/' + entry;
        bool made = false;
        if (entry.endsWith(u'/'))
            made = QDir().mkdir(path.chopped(1));
        else if (entry.endsWith(s("->")))
            made = QFile::link(folder + s("/nowhere"), path.chopped(2));
        else
            made = writeFile(path, content);
        if (!made)
            return false;
    }
    return true;
}

} // namespace

class KestrupTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    ComponentPlaces m_places;

    void freshPlaces()
    {
        static int run = 0;
        const QString base = m_root.filePath(s("run%1").arg(++run));
        m_places = {base + s("/setup"), base + s("/components"), base + s("/fonts"), base + s("/odbc")};
        QVERIFY(QDir().mkpath(m_places.setupFolder) && QDir().mkpath(m_places.componentFolder));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // The user's folders, ODBC and font configuration all live in here, so
        // nothing of the machine's or the real user's is read or written. The
        // names carry spaces and a leading "-".
        const QString home = m_root.filePath(s("home dir"));
        const QString data = m_root.filePath(s("-data dir"));
        QVERIFY(QDir().mkpath(home) && QDir().mkpath(data));
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_DATA_HOME", QFile::encodeName(data));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_root.filePath(s("cache"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(s("config"))));
        qunsetenv("ODBCSYSINI");
        qunsetenv("ODBCINSTINI");
        // Only the user's own font folder, and its cache in XDG_CACHE_HOME even
        // for root, who would otherwise write the machine's cache.
        const QString fontsConf = m_root.filePath(s("fonts.conf"));
        QVERIFY(writeFile(fontsConf, "<?xml version=\"1.0\"?>\n<fontconfig>\n"
                                     "  <dir prefix=\"xdg\">fonts</dir>\n"
                                     "  <cachedir prefix=\"xdg\">fontconfig</cachedir>\n"
                                     "</fontconfig>\n"));
        qputenv("FONTCONFIG_FILE", QFile::encodeName(fontsConf));
    }

    void install_data()
    {
        QTest::addColumn<QString>("present");     // in the component folder before
        QTest::addColumn<QString>("inSetup");     // in the setup folder
        QTest::addColumn<QStringList>("copied");  // names that must hold the setup's content after
        QTest::addColumn<QStringList>("registered");
        QTest::addColumn<bool>("allPresent");
        QTest::addColumn<bool>("stopped");        // stopped before it begins

        const auto row = [](const char *name, const char *present, const char *inSetup, const char *copied,
                            const char *registered, bool allPresent, bool stopped = false) {
            QTest::newRow(name) << s(present) << s(inSetup) << s(copied).split(u' ', Qt::SkipEmptyParts)
                                << s(registered).split(u' ', Qt::SkipEmptyParts) << allPresent << stopped;
        };
        const char *all = kAllTestFiles;
        const char *allRegistered = "Drv.so font.ttc third.dat";
        row("all present: nothing copied, all registered", all, all, "", allRegistered, true);
        row("another letter case counts and is what gets registered", "A.TPL b.ini DRV.SO font.ttc third.dat", all,
            "", "DRV.SO font.ttc third.dat", true);
        row("missing ones are copied", "b.ini font.ttc", all, "A.tpl Drv.so third.dat", allRegistered, true);
        row("first list: missing in setup too", "", "A.tpl Drv.so font.ttc third.dat",
            "A.tpl Drv.so font.ttc third.dat", allRegistered, false);
        row("second list: one cannot be copied, the others are registered", "", "A.tpl b.ini Drv.so third.dat",
            "A.tpl b.ini Drv.so third.dat", "Drv.so third.dat", false);
        row("a folder of the name does not count and is kept", "A.tpl b.ini Drv.so/ font.ttc third.dat", all, "",
            "font.ttc third.dat", false);
        row("a link that leads nowhere gives way to the copy", "A.tpl b.ini Drv.so-> font.ttc third.dat", all,
            "Drv.so", allRegistered, true);
        row("setup folder missing", "", "", "", "", false);
        row("stopped: nothing copied or registered", "", all, "", "", true, true);
    }

    void install()
    {
        QFETCH(QString, present);
        QFETCH(QString, inSetup);
        QFETCH(QStringList, copied);
        QFETCH(QStringList, registered);
        QFETCH(bool, allPresent);
        QFETCH(bool, stopped);

        freshPlaces();
        if (inSetup.isEmpty())
            QVERIFY(QDir(m_places.setupFolder).removeRecursively());
        QVERIFY(makeEntries(m_places.setupFolder, inSetup, "from setup"));
        QVERIFY(makeEntries(m_places.componentFolder, present, "already there"));

        RecordingPlatform platform;
        const std::atomic_bool stop{stopped};
        QCOMPARE(installComponents(testLists(), m_places, platform, stop).isEmpty(), allPresent);

        QStringList expected;
        for (const QString &name : registered)
            expected.append(s("start register -- ") + m_places.componentFolder + u'/' + name);
        QCOMPARE(platform.events(), expected);

        // A file is copied only when it was missing; what was there stays as it was.
        const QDir components(m_places.componentFolder);
        for (const QString &name : components.entryList(QDir::Files)) {
            const QByteArray content = readFile(components.filePath(name));
            QCOMPARE(content, QByteArray(copied.contains(name) ? "from setup" : "already there"));
        }
        for (const QString &name : copied)
            QVERIFY2(components.exists(name), qPrintable(name));
        if (present.contains(s("Drv.so/")))
            QVERIFY(QFileInfo(components.filePath(s("Drv.so"))).isDir());
        if (stopped)
            QVERIFY(components.isEmpty());
    }

    void setupLinksAreCopiedAsLinks()
    {
        // The setup folder of an installation links to the drivers and faces
        // that the system's packages keep; the user's copy must lead there too,
        // even when the setup's link is relative.
        freshPlaces();
        const QString real = m_root.filePath(s("system/driver.so"));
        QVERIFY(QDir().mkpath(QFileInfo(real).path()) && writeFile(real, "driver"));
        const QString setupLink = m_places.setupFolder + s("/Drv.so");
        QVERIFY(QFile::link(QDir(m_places.setupFolder).relativeFilePath(real), setupLink));
        QVERIFY(QFileInfo(setupLink).isFile());

        RecordingPlatform platform;
        const std::atomic_bool stop{false};
        installComponents({{}, {{s("Drv.so"), {s("register"), QString(kFileToken)}}}}, m_places, platform, stop);
        const QFileInfo copy(m_places.componentFolder + s("/Drv.so"));
        QVERIFY(copy.isSymLink());
        QCOMPARE(copy.symLinkTarget(), QFileInfo(real).canonicalFilePath());
    }

    void pathsStayWholeArguments_data()
    {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<bool>("registered");
        QTest::newRow("spaces") << s("my components") << true;
        QTest::newRow("leading dash") << s("-rf") << true;
        QTest::newRow("quotes and a semicolon") << s("a\";b'c") << true;
        QTest::newRow("line break") << s("a\n[Evil]") << false;
    }

    void pathsStayWholeArguments()
    {
        QFETCH(QString, folderName);
        QFETCH(bool, registered);
        freshPlaces();
        m_places.componentFolder = m_root.filePath(folderName);
        QVERIFY(makeEntries(m_places.setupFolder, s(kAllTestFiles), "x"));

        RecordingPlatform platform;
        const std::atomic_bool stop{false};
        QCOMPARE(installComponents(testLists(), m_places, platform, stop).isEmpty(), registered);
        QCOMPARE(platform.events().size(), registered ? 3 : 0);

        const ComponentLists real = linuxComponentLists();
        for (const RegisteredComponent &component : real.copyAndRegister) {
            const QString path = m_places.componentFolder + u'/' + component.fileName;
            const QStringList command = registrationCommand(component.registration, path, m_places);
            QCOMPARE(command.first(), s("/bin/sh"));
            QCOMPARE(command.at(1), s("-c"));
            // Every path arrives as one positional parameter, not in the script.
            QVERIFY(command.contains(path));
            QVERIFY(!command.at(2).contains(folderName));
        }
    }

    void realRegistration()
    {
        // The build's setup folder, the real lists, the real odbcinst, flock and
        // fc-cache, in the user's own configuration under HOME and XDG_DATA_HOME.
        const QString machineOdbc = s("/etc/odbcinst.ini");
        const QDateTime machineOdbcChanged = QFileInfo(machineOdbc).lastModified();
        const ComponentPlaces places = userComponentPlaces(s(KESTRUP_PROGRAM_FOLDER));
        QVERIFY(places.componentFolder.startsWith(QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"))));
        const ComponentLists lists = linuxComponentLists();

        for (int run = 1; run <= 2; ++run) {
            ChildProcessPlatform platform;
            const std::atomic_bool stop{false};
            QCOMPARE(installComponents(lists, places, platform, stop), QStringList());
            QCOMPARE(platform.waitForAll(), QList<int>(lists.copyAndRegister.size(), 0));
        }

        const QSettings odbc(QDir::home().filePath(s(".odbcinst.ini")), QSettings::IniFormat);
        QCOMPARE(odbc.childGroups(), (QStringList{s("FreeTDS"), s("SQLite3")}));
        QCOMPARE(odbc.value(s("FreeTDS/Driver")).toString(), places.componentFolder + s("/libtdsodbc.so"));
        QCOMPARE(odbc.value(s("SQLite3/Driver")).toString(), places.componentFolder + s("/libsqlite3odbc.so"));
        QVERIFY(QFileInfo(odbc.value(s("SQLite3/Driver")).toString()).isFile());
        QCOMPARE(QFileInfo(machineOdbc).lastModified(), machineOdbcChanged);

        // fontconfig now knows both faces from the user's font folder.
        QProcess fcList;
        fcList.start(s("fc-list"), {s(":"), s("file")});
        QVERIFY(fcList.waitForFinished(60000));
        const QString listed = QString::fromLocal8Bit(fcList.readAllStandardOutput());
        for (const char *face : {"NotoSerifCJK-Regular.ttc", "NotoSansCJK-Regular.ttc"})
            QVERIFY2(listed.contains(places.fontFolder + u'/' + QLatin1StringView(face)), qPrintable(listed));
    }

    void runReportsOnceThenStartsNorvale_data()
    {
        QTest::addColumn<QString>("inSetup");
        QTest::addColumn<bool>("norvaleStarts");
        QTest::addColumn<QString>("missing");
        QTest::newRow("all there") << s(kAllTestFiles) << true << QString();
        QTest::newRow("two missing: one message naming them")
            << s("A.tpl Drv.so third.dat") << true << s("b.ini\nfont.ttc");
        QTest::newRow("Norvale missing: nothing said about it") << s(kAllTestFiles) << false << QString();
    }

    void runReportsOnceThenStartsNorvale()
    {
        QFETCH(QString, inSetup);
        QFETCH(bool, norvaleStarts);
        QFETCH(QString, missing);
        freshPlaces();
        QVERIFY(makeEntries(m_places.setupFolder, inSetup, "x"));

        RecordingPlatform platform;
        platform.m_startSucceeds = norvaleStarts;
        Form1 window;
        KestrupRun run(window, platform, s("/opt/norvale dir"), testLists(), m_places);
        QSignalSpy finished(&run, &KestrupRun::finished);
        run.start();
        QVERIFY(window.isVisible());
        QVERIFY(finished.wait(10000));
        QVERIFY(!window.isVisible());

        const QStringList events = platform.events();
        QCOMPARE(events.last(), s("start /opt/norvale dir/norvale"));
        const QStringList messages = events.filter(QRegularExpression(s("^message ")));
        // The fixed text as it always read, then what is missing, one a line.
        const QString expected = s("message Kestrup|部分文件缺失或安装受阻，请将目录下的.ocx和.dll文件手工复制到")
                                 + m_places.componentFolder + s("目录下\n") + missing;
        QCOMPARE(messages, missing.isEmpty() ? QStringList{} : QStringList{expected});
        if (missing.isEmpty())
            return;
        // Over Kestrup's window, after every registration has been started.
        QCOMPARE(platform.owners(), QList<const QWidget *>{&window});
        QCOMPARE(events.indexOf(messages.first()), events.size() - 2);
    }

    void closingByHandStopsTheWork()
    {
        Form1 window;
        QSignalSpy stop(&window, &Form1::stopRequested);
        window.show();
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QCOMPARE(stop.size(), 1);
        window.finish();
        QVERIFY(!window.isVisible());
    }

    // The label's text is drawn whole inside the window.
    void windowTextFits()
    {
        Form1 window;
        window.show();
        auto *label = window.findChild<QLabel *>(s("Label1"));
        QVERIFY(label);
        const QRect text = label->fontMetrics().boundingRect(label->rect(), int(label->alignment()), label->text());
        QVERIFY(label->contentsRect().contains(text));
        QVERIFY(window.rect().contains(text.translated(label->pos())));
    }
};

QTEST_MAIN(KestrupTest)
#include "KestrupTest.moc"
