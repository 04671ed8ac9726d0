// The upgrade offer of the about window, end to end: the real panel, a real
// download from norvale-services over loopback into a real folder, and the
// recording platform in place of the desktop.
#include "norvale/gui/about/DownloadPanel.h"
#include "norvale/gui/about/Fabout.h"
#include "norvale/core/net/Cls_DownLoad.h"
#include "norvale/core/net/DownloadRules.h"
#include "norvale/core/web/GetBody.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestConfig.h"
#include "tests/support/TestText.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace norvale;

class DownloadPanelTest final : public QObject {
    Q_OBJECT

    test::ServicesProcess m_services;
    QTemporaryDir m_config;  // the user's settings folder, where downloads are recorded
    ConfigRecord m_served;
    QString m_name;         // the installer's file name
    QByteArray m_installer;

    // One about window offering the installer at address, saving into folder.
    struct Window {
        test::RecordingPlatform platform;
        std::unique_ptr<Configuration> config;
        std::unique_ptr<Fabout> about;
        DownloadPanel *panel = nullptr;
        QPushButton *ldownact = nullptr;

        Window(const ConfigRecord &served, const QString &address, const QString &folder)
        {
            config = std::make_unique<Configuration>(test::withValues(served, {{"ldownurl", address}}));
            about = std::make_unique<Fabout>(*config, platform, folder);
            panel = about->fdownload();
            ldownact = about->findChild<QPushButton *>(QStringLiteral("ldownact"));
            about->show();
        }
        QString status() const { return panel->lstat()->text(); }
    };

    QString url(const QString &path) const { return m_services.baseUrl() + path; }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        VERIFY_STARTED(m_services);
        m_served = test::servedConfiguration(m_services);
        m_name = m_served.value(ConfigKey::DownloadAddress).section(u'/', -1);
        m_installer = fetchPage(m_served.value(ConfigKey::DownloadAddress)).body;
        QVERIFY(m_installer.size() > 100 * 1024);
        QVERIFY(m_services.execSql(QStringLiteral(
            "INSERT INTO svc_files VALUES ('/download/empty.exe', 'application/octet-stream', x'')")));
    }

    void asksToInstall_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }

    void asksToInstall()
    {
        QFETCH(bool, yes);
        QTemporaryDir folder;
        Window w(m_served, m_served.value(ConfigKey::DownloadAddress), folder.path());
        w.platform.setAnswerYes(yes);
        QVERIFY(!w.ldownact->isHidden());
        QVERIFY(w.panel->isHidden() && !w.panel->ldownstop()->isEnabled());

        QTest::mouseClick(w.ldownact, Qt::LeftButton);
        QVERIFY(w.panel->isVisible() && w.panel->ldownstop()->isEnabled());
        QTRY_COMPARE(w.platform.questions().size(), 1);
        QCOMPARE(w.platform.questions().first(), QStringLiteral("成功|安装程序下载完成，是否现在开始安装？"));
        QCOMPARE(w.platform.owners(), QList<const QObject *>{w.panel});

        const QString saved = folder.filePath(m_name);
        QVERIFY(test::readFile(saved) == m_installer);
        QCOMPARE(QFile::permissions(saved) & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser
                                                          | QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
        QVERIFY(w.panel->ltext()->text().startsWith(QStringLiteral("下载进度： 100.0 %\r\n")));
        QCOMPARE(w.status(), QStringLiteral("连接状态： 下载完成"));
        QCOMPARE(w.platform.openedUrls(), yes ? QStringList{saved} : QStringList{});
        QCOMPARE(w.platform.exitRequests(), yes ? 1 : 0);
        if (!yes)
            QVERIFY(w.panel->isHidden() && !w.panel->ldownstop()->isEnabled());
    }

    // What arrived is never offered when it is not the whole installer; the
    // panel says why until the window is hidden.
    void failedDownloadIsNotOffered_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("panelStays");
        QTest::newRow("cut short") << QStringLiteral("/download/short/") + m_name
                                   << QStringLiteral("连接状态： 下载被中止") << true;
        QTest::newRow("error page") << QStringLiteral("/download/nothing.exe")
                                    << QStringLiteral("连接状态： 发送请求失败") << true;
        QTest::newRow("address ends in /") << QStringLiteral("/download/")
                                           << QStringLiteral("连接状态： 下载被中止") << true;
        QTest::newRow("empty file") << QStringLiteral("/download/empty.exe")
                                    << QStringLiteral("连接状态： 下载完成") << false;
    }

    void failedDownloadIsNotOffered()
    {
        QFETCH(QString, path);
        QFETCH(QString, status);
        QFETCH(bool, panelStays);
        QTemporaryDir folder;
        Window w(m_served, url(path), folder.path());
        w.platform.setAnswerYes(true);
        QTest::mouseClick(w.ldownact, Qt::LeftButton);
        QTRY_COMPARE(w.status(), status);
        QTRY_VERIFY(!w.panel->isDownloading());
        QCOMPARE(w.panel->isVisible(), panelStays);
        QVERIFY(!w.panel->ldownstop()->isEnabled());
        QVERIFY(w.platform.questions().isEmpty());
        QCOMPARE(w.platform.exitRequests(), 0);
        const QStringList left = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left, panelStays ? QStringList{} : QStringList{QStringLiteral("empty.exe")});

        w.about->hide();
        QVERIFY(w.panel->isHidden());
    }

    // The installer's name comes from the network: it never takes the name of
    // one of the program's files, a hidden name, or a file no download wrote.
    // An earlier download is replaced, and loses any mode it was given.
    void keepsTheProgramsFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("written");
        for (const char *name : {"norvale", "set.ini", "readme.txt", ".bashrc", "notes.txt"})
            QTest::newRow(name) << QString::fromUtf8(name) << false;
        QTest::newRow("earlier download") << QStringLiteral("installer-1.1.deb") << true;
    }

    void keepsTheProgramsFiles()
    {
        QFETCH(QString, name);
        QFETCH(bool, written);
        QTemporaryDir folder;
        const QString path = folder.filePath(name);
        QVERIFY(test::writeFile(path, "old"));
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
        if (written)
            rememberDownload(path);
        const QString served = QStringLiteral("/download/") + name;
        const QByteArray body = QByteArray("installer ").repeated(100);
        QVERIFY(m_services.execSql(QStringLiteral("INSERT OR REPLACE INTO svc_files VALUES ('%1', 'application/octet-stream', x'%2')")
                                       .arg(served, QString::fromLatin1(body.toHex()))));

        Window w(m_served, url(served), folder.path());
        w.platform.setAnswerYes(false);
        QTest::mouseClick(w.ldownact, Qt::LeftButton);
        if (written) {
            QTRY_COMPARE(w.platform.questions().size(), 1);
            QVERIFY(test::readFile(path) == body);
            QVERIFY(!(QFile::permissions(path) & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)));
        } else {
            QTRY_COMPARE(w.status(), QStringLiteral("连接状态： 下载被中止"));
            QVERIFY(!w.panel->isDownloading() && w.platform.questions().isEmpty());
            QCOMPARE(test::readFile(path), QByteArray("old"));
            QVERIFY(QFile::permissions(path) & QFile::ExeOwner);
        }
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    }

    // Cancel hides the panel at once; a second upgrade click meanwhile does
    // nothing.
    void cancelLeavesNothing()
    {
        QTemporaryDir folder;
        const QString path = QStringLiteral("/download/trickle/") + m_name;
        Window w(m_served, url(path + QStringLiteral("?bytes=2048&every=20")), folder.path());
        w.platform.setAnswerYes(true);
        const int before = m_services.requestCount(path);
        QTest::mouseClick(w.ldownact, Qt::LeftButton);
        QTRY_VERIFY(w.panel->ltext()->text().startsWith(QStringLiteral("下载进度：")));
        const QString shown = w.panel->ltext()->text();
        QTRY_VERIFY(w.panel->ltext()->text() != shown);   // the panel follows the transfer
        QTest::mouseClick(w.ldownact, Qt::LeftButton);
        QCOMPARE(m_services.requestCount(path), before + 1);

        QTest::mouseClick(w.panel->ldownstop(), Qt::LeftButton);
        QVERIFY(w.panel->isHidden() && !w.panel->ldownstop()->isEnabled());
        QTRY_VERIFY(!w.panel->isDownloading());
        QCOMPARE(w.status(), QStringLiteral("连接状态： 停止下载"));
        QVERIFY(w.platform.questions().isEmpty());
        QVERIFY(QDir(folder.path()).isEmpty(QDir::Files | QDir::Hidden));
    }

    // A program folder that cannot be written sends the installer to the
    // user's download folder; the rest works the same.
    void unwritableFolderUsesDownloads()
    {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            qputenv("XDG_CONFIG_HOME", oldConfig);
        });

        Window w(m_served, m_served.value(ConfigKey::DownloadAddress), home.filePath(QStringLiteral("no/such/folder")));
        w.platform.setAnswerYes(true);
        QTest::mouseClick(w.ldownact, Qt::LeftButton);
        QTRY_COMPARE(w.platform.exitRequests(), 1);
        const QString saved = home.filePath(QStringLiteral("Downloads/")) + m_name;
        QCOMPARE(w.platform.openedUrls(), QStringList{saved});
        QVERIFY(test::readFile(saved) == m_installer);
    }
};

QTEST_MAIN(DownloadPanelTest)
#include "DownloadPanelTest.moc"
