#include "norvale/gui/about/Fabout.h"
#include "norvale/gui/about/Fhelp.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/gui/platform/DesktopPlatform.h"
#include "norvale/gui/platform/FontSubstitutes.h"
#include "norvale/gui/startup/StartupSequence.h"
#include "norvale/gui/startup/fload.h"
#include "norvale/core/web/GetBody.h"
#include "tests/support/Controls.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestSql.h"
#include "tests/support/TestText.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace norvale;
using namespace Qt::StringLiterals;

namespace {

QWidgetList visibleWindows()
{
    QWidgetList shown = QApplication::topLevelWidgets();
    shown.removeIf([](const QWidget *w) { return !w->isVisible(); });
    return shown;
}

} // namespace

class StartupTest final : public QObject {
    Q_OBJECT

private:
    struct Run {
        explicit Run(const QString &serviceAddress, const QString &folder)
            : database(platform, serviceAddress, u"ops@norvale.test"_s), sequence(database, platform, folder)
        {
        }
        test::RecordingPlatform platform;
        ServerDatabase database;
        StartupSequence sequence;
    };

    QTemporaryDir m_folder;  // the program folder, without a marker
    test::ServicesProcess m_services;

private slots:
    void initTestCase()
    {
        installFontSubstitutes();
        QVERIFY(m_folder.isValid());
        VERIFY_STARTED(m_services);
    }

    // The splash's texts are drawn whole in a face that stands in for 宋体.
    void splashTextsFit()
    {
        fload splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        for (const char *name : {"Label1", "Label2"}) {
            auto *label = splash.findChild<QLabel *>(QLatin1StringView(name));
            QVERIFY2(label, name);
            QVERIFY2(QFontInfo(label->font()).family().contains(u"CJK"_s),
                     qPrintable(QFontInfo(label->font()).family()));
            const QRect text = QFontMetrics(label->font()).boundingRect(label->rect(), int(label->alignment()), label->text());
            QVERIFY(label->contentsRect().contains(text));
            QVERIFY(splash.rect().contains(text.translated(label->pos())));
        }
    }

    // The program up and its help menu used: the about window with its
    // pictures and the served upgrade, and the readme shipped beside it.
    void normalStart()
    {
        Run run(m_services.dataServiceUrl(), m_folder.path());
        StartupSequence &s = run.sequence;
        QSignalSpy ready(&s, &StartupSequence::ready);
        s.start();
        QVERIFY(s.splash()->isVisible());
        QVERIFY(ready.wait(60000));

        QCOMPARE(s.state(), StartupSequence::State::Ready);
        Fdomain *main = s.mainWindow();
        QVERIFY(main && !s.splash()->isVisible());
        QCOMPARE(visibleWindows(), QWidgetList{main});
        QVERIFY(test::control<QLabel>(*main, "lload")->isHidden());
        QTRY_VERIFY(test::control<KeywordBox>(*main, "lfind")->hasFocus());
        QCOMPARE(test::control<ResultGridView>(*main, "grid1")->grid().rows(), 1);

        // The configuration as the table holds it, shown by the hidden about window.
        const Configuration &config = s.configuration();
        Fabout *about = s.about();
        QVERIFY(config.isLoaded() && about && !about->isVisible());
        const QString db = m_services.databasePath();
        const QString lver = test::sqlValue(db, u"SELECT lver FROM lconfig_all"_s).toString();
        QVERIFY(!lver.isEmpty());
        QCOMPARE(config.text(ConfigKey::Version), lver);
        QCOMPARE(about->findChild<QLabel *>(u"lver"_s)->text(), lver);
        QCOMPARE(config.text(ConfigKey::WhoisPage), test::sqlValue(db, u"SELECT lwhoisurl FROM lconfig_all"_s).toString());
        QCOMPARE(!about->findChild<QPushButton *>(u"ldownact"_s)->isHidden(), offersUpgrade(lver));
        QVERIFY(run.platform.messages().isEmpty());
        QCOMPARE(run.platform.exitRequests(), 0);
        QVERIFY(!s.isBusy());

        test::control<QAction>(*main, "mabout")->trigger();
        QVERIFY(about->isVisible());
        QTRY_VERIFY(!about->findChild<QLabel *>(u"limgqq"_s)->pixmap().isNull());
        QTest::mouseClick(about->findChild<QPushButton *>(u"ldownact"_s), Qt::LeftButton);
        QTRY_COMPARE(run.platform.questions().size(), 1);
        QVERIFY(QFile::exists(m_folder.filePath(config.text(ConfigKey::DownloadAddress).section(u'/', -1))));
        QCOMPARE(run.platform.exitRequests(), 0);   // the recording platform answers No

        test::control<QAction>(*main, "mtext")->trigger();
        test::control<QAction>(*main, "mtext")->trigger();
        const QList<Fhelp *> viewers = main->findChildren<Fhelp *>();
        QCOMPARE(viewers.size(), 1);
        QVERIFY(viewers.first()->isVisible());
        const QString text = viewers.first()->ltext()->toPlainText();
        QVERIFY2(text.startsWith(u"Norvale 域名查询工具"_s), qPrintable(text.left(80)));
    }

    void failureEnds_data()
    {
        QTest::addColumn<bool>("discovery");   // else the configuration
        QTest::addColumn<QString>("message");  // what the one message holds
        QTest::newRow("discovery") << true << "域名数据库无法访问，请稍后再访问或联系管理员(mail:ops@norvale.test)";
        QTest::newRow("configuration") << false << "lalexa";
    }

    void failureEnds()
    {
        QFETCH(bool, discovery);
        QFETCH(QString, message);
        auto services = std::make_unique<test::ServicesProcess>();
        VERIFY_STARTED(*services);
        const QString address = services->dataServiceUrl();
        if (discovery) {
            // A port that just served and is now closed.
            QVERIFY(GetBody(address, u"GB2312"_s).contains(u"|data|"_s));
            services.reset();
        } else {
            QVERIFY(services->execSql(u"ALTER TABLE lconfig_all DROP COLUMN lalexa"_s));
        }
        Run run(address, m_folder.path());
        QSignalSpy ended(&run.sequence, &StartupSequence::ended);
        QSignalSpy ready(&run.sequence, &StartupSequence::ready);

        run.sequence.start();
        QVERIFY(ended.wait(60000));
        const QStringList messages = run.platform.messages();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().startsWith(u"Norvale|"_s) && messages.first().contains(message),
                 qPrintable(messages.first()));
        QCOMPARE(run.platform.exitRequests(), 1);
        QCOMPARE(run.sequence.state(), StartupSequence::State::Ended);
        QVERIFY(!run.sequence.configuration().isLoaded());
        QVERIFY(!discovery || !run.sequence.mainWindow());
        QVERIFY(visibleWindows().isEmpty());
        QCOMPARE(ready.count(), 0);
    }

    void givingUpOnTheSplashEnds_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Escape") << true;
        QTest::newRow("close button") << false;
    }

    void givingUpOnTheSplashEnds()
    {
        QFETCH(bool, byEscape);
        Run run(m_services.dataServiceUrl(), m_folder.path());
        QSignalSpy ended(&run.sequence, &StartupSequence::ended);
        run.sequence.start();
        fload *splash = run.sequence.splash();
        QVERIFY(QTest::qWaitForWindowExposed(splash));
        if (byEscape)
            QTest::keyClick(splash, Qt::Key_Escape);
        else
            splash->close();
        QCOMPARE(ended.count(), 1);
        QCOMPARE(run.platform.exitRequests(), 1);
        QVERIFY(!splash->isVisible());

        // The address arrives afterwards and is dropped: no main window.
        QTRY_VERIFY_WITH_TIMEOUT(!run.sequence.isBusy(), 60000);
        QVERIFY(!run.sequence.mainWindow());
        QVERIFY(visibleWindows().isEmpty());
        QVERIFY(run.platform.messages().isEmpty());
    }

    // The data-service address can be changed without a new build; the
    // program says how before it needs a display.
    void helpNamesTheDataService()
    {
        QProcess norvale;
        norvale.setProcessEnvironment(QProcessEnvironment());
        norvale.start(QStringLiteral(NORVALE_EXE), {u"--help"_s});
        QVERIFY(norvale.waitForFinished(30000));
        QCOMPARE(norvale.exitCode(), 0);
        const QString help = QString::fromLocal8Bit(norvale.readAllStandardOutput());
        QVERIFY2(help.contains(u"--data-service <address>"_s) && help.contains(u"NORVALE_DATA_SERVICE"_s),
                 qPrintable(help));
    }

    // A database's error text can carry markup; the message shows it as it is.
    void messageIsPlainText()
    {
        const QString text = u"no such table: <a href=\"http://x.test\">lconfig_all</a>"_s;
        Qt::TextFormat shown = Qt::RichText;
        QTimer::singleShot(0, this, [&] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (auto *box = qobject_cast<QMessageBox *>(window); box && box->text() == text) {
                    shown = box->textFormat();
                    box->accept();
                }
            }
        });
        DesktopPlatform().showMessage(u"Norvale"_s, text, nullptr);
        QCOMPARE(shown, Qt::PlainText);
    }

    // The marker hands off before anything is asked of the network.
    void firstRunHandsOff()
    {
        QTemporaryDir folder;
        const QString marker = QDir(folder.path()).filePath(u"Set.ini"_s);
        QVERIFY(test::writeFile(marker, {}));
        Run run(m_services.dataServiceUrl(), folder.path());
        QSignalSpy ended(&run.sequence, &StartupSequence::ended);
        run.sequence.start();
        QCOMPARE(ended.count(), 1);
        QCOMPARE(run.platform.startedPrograms(), QStringList{QDir(folder.path()).filePath(u"kestrup"_s)});
        QCOMPARE(run.platform.exitRequests(), 1);
        QVERIFY(!QFile::exists(marker) && !run.sequence.splash() && !run.sequence.isBusy());
        QVERIFY(visibleWindows().isEmpty());
        QVERIFY(run.database.connstr().isEmpty());
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
