#include "norvale/about/Fabout.h"
#include "norvale/data/ServerDatabase.h"
#include "norvale/main/Fdomain.h"
#include "norvale/main/ResultGridView.h"
#include "norvale/startup/FontSubstitutes.h"
#include "norvale/startup/StartupSequence.h"
#include "norvale/startup/fload.h"
#include "norvale/web/GetBody.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace norvale;

namespace {

QWidgetList visibleWindows()
{
    QWidgetList shown;
    const QWidgetList all = QApplication::topLevelWidgets();
    for (QWidget *w : all) {
        if (w->isVisible())
            shown.append(w);
    }
    return shown;
}

// Runs one statement on a services database from outside.
void changeDatabase(const QString &path, const QString &statement)
{
    const QString name = QStringLiteral("changer");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
}

QString configValue(const QString &path, const QString &column)
{
    const QString name = QStringLiteral("reader");
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT ") + column + QStringLiteral(" FROM lconfig_all"), db);
            if (query.next())
                value = query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

} // namespace

class StartupTest final : public QObject {
    Q_OBJECT

private:
    struct Run {
        explicit Run(const QString &serviceAddress, const QString &folder)
            : database(platform, serviceAddress, QStringLiteral("ops@norvale.test")),
              sequence(database, platform, folder)
        {
        }
        test::RecordingPlatform platform;
        ServerDatabase database;
        StartupSequence sequence;
    };

    QTemporaryDir m_folder;  // the program folder, without a marker

private slots:
    void initTestCase()
    {
        installFontSubstitutes();
        QVERIFY(m_folder.isValid());
    }

    void splashLooksAsDrawn()
    {
        fload splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        QCOMPARE(splash.windowTitle(), QStringLiteral("Norvale"));
        QCOMPARE(splash.size(), QSize(4845 / 15, 2880 / 15));

        struct Expected {
            const char *name;
            QString text;
            qreal points;
            QColor colour;
            QPoint topLeft;
        };
        const Expected labels[] = {
            {"Label2", QStringLiteral("正在连接域名数据库。。。。"), 15.75, QColor(128, 0, 0), {32, 32}},
            {"Label1", QStringLiteral("请稍候"), 14.25, QColor(128, 0, 128), {120, 88}},
        };
        for (const Expected &e : labels) {
            auto *label = splash.findChild<QLabel *>(QLatin1StringView(e.name));
            QVERIFY2(label, e.name);
            QCOMPARE(label->text(), e.text);
            QCOMPARE(label->font().pointSizeF(), e.points);
            QCOMPARE(label->palette().color(QPalette::WindowText), e.colour);
            QCOMPARE(label->pos(), e.topLeft);
            // 宋体 is not installed here: the substitute must be a CJK face.
            QVERIFY2(QFontInfo(label->font()).family().contains(QStringLiteral("CJK")),
                     qPrintable(QFontInfo(label->font()).family()));
            // Nothing of the text is cut, neither by the label nor by the window.
            const QFontMetrics metrics(label->font());
            const QRect text = metrics.boundingRect(label->rect(), int(label->alignment()), e.text);
            QVERIFY(label->contentsRect().contains(text));
            QVERIFY(splash.rect().contains(text.translated(label->pos())));
        }

        QDir().mkpath(QStringLiteral("/tmp/norvale-shots"));
        QVERIFY(splash.grab().save(QStringLiteral("/tmp/norvale-shots/fload.png")));
    }

    void normalStart()
    {
        test::ServicesProcess services;
        QString why;
        QVERIFY2(services.start(&why), qPrintable(why));
        Run run(services.dataServiceUrl(), m_folder.path());
        QSignalSpy ready(&run.sequence, &StartupSequence::ready);

        run.sequence.start();
        QVERIFY(run.sequence.splash()->isVisible());
        QVERIFY(ready.wait(60000));

        StartupSequence &s = run.sequence;
        QCOMPARE(s.state(), StartupSequence::State::Ready);
        QVERIFY(!s.splash()->isVisible());
        Fdomain *main = s.mainWindow();
        QVERIFY(main);
        QCOMPARE(visibleWindows(), QWidgetList{main});
        QVERIFY(main->lload()->isHidden());
        QTRY_VERIFY(main->lfind()->hasFocus());
        QCOMPARE(main->grid1()->grid().rows(), 1);
        QVERIFY(main->lextendnum1()->isChecked());
        for (int i = 0; i < Fdomain::ExtensionCount; ++i)
            QVERIFY(!main->lextendnum(i)->isChecked());
        QVERIFY(!main->lshowbak()->isChecked());

        // The configuration is in the hidden about window, as the table holds it.
        Fabout *about = s.about();
        QVERIFY(about);
        QVERIFY(!about->isVisible());
        const QString lver = configValue(services.databasePath(), QStringLiteral("lver"));
        QVERIFY(!lver.isEmpty());
        QCOMPARE(about->value(u"lver"), lver);
        QCOMPARE(about->value(u"lwhoisurl"), configValue(services.databasePath(), QStringLiteral("lwhoisurl")));
        QCOMPARE(!about->findChild<QPushButton *>(QStringLiteral("ldownact"))->isHidden(),
                 offersUpgrade(lver));

        QVERIFY(run.platform.messages().isEmpty());
        QCOMPARE(run.platform.exitRequests(), 0);
        QVERIFY(!s.isBusy());
    }

    void discoveryFailureEnds()
    {
        QString unused;
        {
            // A port that just served and is now closed.
            test::ServicesProcess services;
            QString why;
            QVERIFY2(services.start(&why), qPrintable(why));
            unused = services.dataServiceUrl();
            QVERIFY(GetBody(unused, QStringLiteral("GB2312")).contains(QStringLiteral("|data|")));
        }
        Run run(unused, m_folder.path());
        QSignalSpy ended(&run.sequence, &StartupSequence::ended);

        run.sequence.start();
        QVERIFY(ended.wait(60000));
        QCOMPARE(run.platform.messages(),
                 QStringList{QStringLiteral("Norvale|域名数据库无法访问，请稍后再访问或联系管理员(mail:ops@norvale.test)")});
        QCOMPARE(run.platform.exitRequests(), 1);
        QCOMPARE(run.sequence.state(), StartupSequence::State::Ended);
        QVERIFY(!run.sequence.mainWindow());
        QVERIFY(!run.sequence.about());
        QVERIFY(visibleWindows().isEmpty());
    }

    void configurationFailureEnds()
    {
        test::ServicesProcess services;
        QString why;
        QVERIFY2(services.start(&why), qPrintable(why));
        changeDatabase(services.databasePath(), QStringLiteral("ALTER TABLE lconfig_all DROP COLUMN lalexa"));
        Run run(services.dataServiceUrl(), m_folder.path());
        QSignalSpy ended(&run.sequence, &StartupSequence::ended);
        QSignalSpy ready(&run.sequence, &StartupSequence::ready);

        run.sequence.start();
        QVERIFY(ended.wait(60000));
        QCOMPARE(run.platform.messages().size(), 1);
        QVERIFY2(run.platform.messages().first().startsWith(QStringLiteral("Norvale|"))
                     && run.platform.messages().first().contains(QStringLiteral("lalexa")),
                 qPrintable(run.platform.messages().first()));
        QCOMPARE(run.platform.exitRequests(), 1);
        QVERIFY(!run.sequence.about());
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
        test::ServicesProcess services;
        QString why;
        QVERIFY2(services.start(&why), qPrintable(why));
        Run run(services.dataServiceUrl(), m_folder.path());
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

    void firstRunHandsOff_data()
    {
        QTest::addColumn<QString>("marker");
        QTest::addColumn<bool>("initialiserStarts");
        QTest::newRow("initialiser present") << QStringLiteral("set.ini") << true;
        QTest::newRow("capitals, initialiser missing") << QStringLiteral("SET.INI") << false;
    }

    void firstRunHandsOff()
    {
        QFETCH(QString, marker);
        QFETCH(bool, initialiserStarts);
        test::ServicesProcess services;
        QString why;
        QVERIFY2(services.start(&why), qPrintable(why));

        QTemporaryDir folder;
        QFile file(QDir(folder.path()).filePath(marker));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        {
            Run run(services.dataServiceUrl(), folder.path());
            run.platform.setStartSucceeds(initialiserStarts);
            QSignalSpy ended(&run.sequence, &StartupSequence::ended);
            run.sequence.start();
            QCOMPARE(ended.count(), 1);
            QCOMPARE(run.platform.startedPrograms(),
                     QStringList{QDir(folder.path()).filePath(QStringLiteral("kestrup"))});
            QCOMPARE(run.platform.exitRequests(), 1);
            QVERIFY(!file.exists());
            QVERIFY(!run.sequence.splash());
            QVERIFY(visibleWindows().isEmpty());
            QVERIFY(!run.sequence.isBusy());
            // Nothing was asked of the network either.
            QVERIFY(run.database.connstr().isEmpty());
        }

        // The next start finds no marker and runs normally.
        Run again(services.dataServiceUrl(), folder.path());
        QSignalSpy ready(&again.sequence, &StartupSequence::ready);
        again.sequence.start();
        QVERIFY(ready.wait(60000));
        QVERIFY(again.platform.startedPrograms().isEmpty());
        QCOMPARE(again.platform.exitRequests(), 0);
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
