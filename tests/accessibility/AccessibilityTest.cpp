#include "kestrup/Form1.h"
#include "norvale/about/Fabout.h"
#include "norvale/about/Fhelp.h"
#include "norvale/data/ServerDatabase.h"
#include "norvale/main/Fdomain.h"
#include "norvale/main/ResultGridView.h"
#include "norvale/startup/FontSubstitutes.h"
#include "norvale/startup/fload.h"
#include "norvale/tools/Fip.h"
#include "norvale/tools/Fwhois.h"
#include "norvale/tools/fback.h"
#include "tests/accessibility/AccessibleTree.h"
#include "tests/support/RecordingPlatform.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace norvale;
using norvale::test::RecordingPlatform;

namespace {

// Nothing listens there: a window that asked it anything would end the run.
const QString kDeadService = QStringLiteral("http://127.0.0.1:9/geturl/dataurl.asp?checkin=x");

ConfigRecord sampleConfig()
{
    QStringList values;
    for (const QLatin1StringView key : kConfigKeys)
        values << QStringLiteral("https://norvale.test/") + QString(key);
    values[0] = QStringLiteral("1.1");  // lver: an upgrade is offered
    values[3] = QStringLiteral("12345678");  // lqq
    values[9] = QStringLiteral("admin@norvale.test");  // lmail
    return ConfigRecord(values);
}

// A main window with two result rows, one of them red, and a search under way.
struct MainWindow {
    RecordingPlatform platform;
    ServerDatabase database{platform, kDeadService};
    Fdomain window{database, platform};

    MainWindow()
    {
        window.Load();
        ResultGridModel &grid = window.grid1()->grid();
        grid.setRows(3);
        const QStringList rows[] = {
            {QStringLiteral("chenglan.cn"), {}, {}, QStringLiteral("chenglan.cn"), QStringLiteral("已注册"), {},
             QStringLiteral("鲁ICP备86620649号-2"), QStringLiteral("192.0.2.21")},
            {QStringLiteral("chenglan.net"), {}, {}, QStringLiteral("chenglan.net"), QStringLiteral("未注册"),
             QStringLiteral("60"), {}, {}},
        };
        for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < rows[r].size(); ++c)
                grid.setCellText(r + 1, c, rows[r][c]);
        }
        grid.setCellColor(2, 4, 255);
        window.show();
    }
};

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The first line where two trees differ, for a readable failure.
QString firstDifference(const QString &expected, const QString &actual)
{
    const QStringList want = expected.split(u'\n');
    const QStringList got = actual.split(u'\n');
    for (qsizetype i = 0; i < std::max(want.size(), got.size()); ++i) {
        if (want.value(i) != got.value(i))
            return QStringLiteral("line %1\n  expected: %2\n  actual:   %3")
                .arg(i + 1)
                .arg(want.value(i), got.value(i));
    }
    return {};
}

} // namespace

class AccessibilityTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }

    // Each window as a screen reader reads it, kept beside this test. After a
    // deliberate change, NORVALE_WRITE_TREES=1 writes the trees anew, to be
    // read over and committed.
    void treeOfEachWindow_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name :
             {"Fdomain", "menus", "Fwhois", "Fip", "fback", "Fabout", "fdownload", "Fhelp", "fload", "Form1"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void treeOfEachWindow()
    {
        QFETCH(QString, name);
        const Shown shown = make(name);
        shown.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown.window));
        if (auto *main = qobject_cast<Fdomain *>(shown.window)) {
            // As during a search: the progress bar shows.
            main->fslide3()->show();
            main->setslide(40);
        }

        const QString tree = name == u"menus" ? menuTrees(*qobject_cast<Fdomain *>(shown.window))
                                              : test::accessibleTree(shown.window);
        QVERIFY2(test::unnamedNodes(tree).isEmpty(), qPrintable(test::unnamedNodes(tree).join(u'\n')));
        const QString path = QStringLiteral(NORVALE_TREES_FOLDER "/") + name + QStringLiteral(".txt");
        if (qEnvironmentVariableIntValue("NORVALE_WRITE_TREES") == 1) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(tree.toUtf8());
            return;
        }
        const QString expected = readFile(path);
        QVERIFY2(expected == tree, qPrintable(path + u'\n' + firstDifference(expected, tree)));
    }

    // A kind is ticked from the keyword box without leaving it; the menus
    // open and act from the keyboard.
    void mainWindowKeys()
    {
        MainWindow m;
        Fdomain &w = m.window;
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTRY_VERIFY(w.lfind()->hasFocus());

        QTest::keyClick(w.lfind(), Qt::Key_2, Qt::AltModifier);
        QTRY_VERIFY(w.lextendnum(1)->isChecked());
        QVERIFY(!w.lextendnum1()->isChecked());
        QTRY_VERIFY(w.lfind()->hasFocus());
        QTest::keyClick(w.lfind(), Qt::Key_U, Qt::AltModifier);
        QTRY_VERIFY(w.lextendnum(15)->isChecked());
        QTest::keyClick(w.lfind(), Qt::Key_O, Qt::AltModifier);
        QTRY_VERIFY(w.lextendnum1()->isChecked());
        QVERIFY(!w.lextendnum(1)->isChecked() && !w.lextendnum(15)->isChecked());
        QTRY_VERIFY(w.lfind()->hasFocus());

        QSignalSpy whois(w.mwhois(), &QAction::triggered);
        QTest::keyClick(w.lfind(), Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(whois.count(), 1);

        auto *tools = w.findChild<QMenu *>(QStringLiteral("mtool"));
        QTest::keyClick(w.lfind(), Qt::Key_F10);
        QTRY_VERIFY(tools->isVisible());
        QTest::keyClick(tools, Qt::Key_Escape);
        QTRY_VERIFY(!tools->isVisible());
    }

    // The arrows move the active cell over the shown columns; Enter is a
    // click there, Ctrl+Enter a click on the column's header.
    void gridKeys()
    {
        MainWindow m;
        ResultGridView &grid = *m.window.grid1();
        m.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m.window));
        grid.setFocus();
        QTRY_VERIFY(grid.hasFocus());

        QList<QList<int>> clicks;
        connect(&grid, &ResultGridView::cellClicked, &grid, [&](int row, int col) {
            clicks.append({row, col, grid.activeRow(), grid.activeCol(), grid.mouseRow(), grid.mouseCol()});
        });
        QTest::keyClick(&grid, Qt::Key_Down);
        QTest::keyClick(&grid, Qt::Key_Right);
        QTest::keyClick(&grid, Qt::Key_Return);
        QCOMPARE(clicks, (QList<QList<int>>{{1, 4, 1, 4, 1, 4}}));

        QTest::keyClick(&grid, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
        QCOMPARE(grid.order().sortColumn(), 4);
        QCOMPARE(clicks.size(), 1);

        // The cell's press action is the same click, once the request is answered.
        QAccessibleInterface *table = QAccessible::queryAccessibleInterface(&grid);
        QCOMPARE(table->tableInterface()->columnCount(), 5);
        QAccessibleInterface *price = table->tableInterface()->cellAt(grid.order().viewRow(2), 2);
        QCOMPARE(price->text(QAccessible::Name), QStringLiteral("60"));
        price->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(clicks.size(), 2);
        QCOMPARE(clicks.last(), (QList<int>{2, 5, 2, 5, 2, 5}));

        // A column hidden later leaves the tree too; its cells keep their texts.
        QVERIFY(grid.setColWidth(3, 0));
        QCOMPARE(table->tableInterface()->columnCount(), 4);
        QCOMPARE(table->tableInterface()->columnDescription(0), QStringLiteral("注册状态"));
        QCOMPARE(grid.grid().cellText(1, 3), QStringLiteral("chenglan.cn"));
    }

    // A link of the about window opens from the keyboard.
    void aboutLinksFromTheKeyboard()
    {
        RecordingPlatform platform;
        Fabout about(sampleConfig(), platform);
        about.show();
        about.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        auto *mail = about.findChild<QWidget *>(QStringLiteral("lmail"));
        mail->setFocus();
        QTRY_VERIFY(mail->hasFocus());
        QTest::keyClick(mail, Qt::Key_Return);
        QCOMPARE(platform.openedUrls(), QStringList{QStringLiteral("https://norvale.test/lmailurl")});
        QTest::keyClick(mail, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("lqq"));
        QTest::keyClick(&about, Qt::Key_Escape);
        QTRY_VERIFY(!about.isVisible());
    }

private:
    // The menus of the main window, each as it reads while open.
    static QString menuTrees(Fdomain &window)
    {
        QString trees;
        for (const char *name : {"mtool", "mcommun", "mhelp"}) {
            auto *menu = window.findChild<QMenu *>(QLatin1StringView(name));
            menu->popup(window.mapToGlobal(QPoint(0, 0)));
            if (!QTest::qWaitForWindowExposed(menu))
                return {};
            trees += test::accessibleTree(menu);
            menu->hide();
        }
        return trees;
    }

    // A window as the program shows it, with what keeps it alive.
    struct Shown {
        std::shared_ptr<void> owner;
        QWidget *window = nullptr;
    };

    template <typename W>
    static Shown owned(std::shared_ptr<W> window)
    {
        QWidget *shown = window.get();
        return {std::move(window), shown};
    }

    Shown make(const QString &name)
    {
        if (name == u"Fdomain" || name == u"menus") {
            auto main = std::make_shared<MainWindow>();
            return {main, &main->window};
        }
        if (name == u"Fwhois")
            return owned(std::make_shared<Fwhois>(LookupBackend{}));
        if (name == u"Fip")
            return owned(std::make_shared<Fip>(LookupBackend{}));
        if (name == u"fback")
            return owned(std::make_shared<fback>(LookupBackend{}));
        if (name == u"Fabout" || name == u"fdownload") {
            auto about = std::make_shared<Fabout>(sampleConfig(), m_platform);
            about->findChild<QWidget *>(QStringLiteral("fdownload"))->setVisible(name == u"fdownload");
            return owned(about);
        }
        if (name == u"Fhelp") {
            QFile readme(m_folder.filePath(QStringLiteral("readme.txt")));
            if (readme.open(QIODevice::WriteOnly))
                readme.write("Norvale 使用说明\r\n");
            return owned(std::make_shared<Fhelp>(m_folder.path()));
        }
        if (name == u"fload")
            return owned(std::make_shared<fload>());
        return owned(std::make_shared<kestrup::Form1>());
    }

    RecordingPlatform m_platform;
    QTemporaryDir m_folder;
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
