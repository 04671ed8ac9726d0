#include "kestrup/Form1.h"
#include "norvale/core/config/Configuration.h"
#include "norvale/gui/about/Fabout.h"
#include "norvale/gui/about/Fhelp.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/gui/platform/FontSubstitutes.h"
#include "norvale/gui/startup/fload.h"
#include "norvale/gui/tools/Fip.h"
#include "norvale/gui/tools/Fwhois.h"
#include "norvale/gui/tools/fback.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/TestText.h"

#include <QAccessible>
#include <QGroupBox>
#include <QMenu>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace norvale;
using namespace Qt::StringLiterals;
using norvale::test::RecordingPlatform;

namespace {

// How a screen reader reads a window: one line a node, indented by depth.
QString roleName(QAccessible::Role role)
{
    return QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(role));
}

QString oneLine(QString text)
{
    return text.replace(u'\n', QStringLiteral("\\n"));
}

void describe(QAccessibleInterface *node, int depth, QStringList &lines)
{
    const QAccessible::State state = node->state();
    if (state.invisible)
        return;
    QString line = QString(depth * 2, u' ') + roleName(node->role()) + u" \"" + oneLine(node->text(QAccessible::Name))
                   + u'"';
    if (const QString value = node->text(QAccessible::Value); !value.isEmpty())
        line += u" = " + oneLine(value);
    if (const QString description = node->text(QAccessible::Description); !description.isEmpty())
        line += u" — " + oneLine(description);
    if (state.checked)
        line += QStringLiteral(" [checked]");
    if (state.disabled)
        line += QStringLiteral(" [disabled]");
    // Keys come with an action or, for menu entries, as the accelerator.
    QStringList keys{node->text(QAccessible::Accelerator)};
    if (QAccessibleActionInterface *actions = node->actionInterface()) {
        for (const QString &action : actions->actionNames())
            keys << actions->keyBindingsForAction(action);
    }
    keys.removeAll(QString());
    keys.removeDuplicates();
    if (!keys.isEmpty())
        line += u" (" + keys.join(QStringLiteral(", ")) + u')';
    if (QAccessibleTableInterface *table = node->tableInterface())
        line += u" {" + QString::number(table->columnCount()) + QStringLiteral(" columns}");
    lines << line;
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface *child = node->child(i))
            describe(child, depth + 1, lines);
    }
}

QString accessibleTree(QObject *root)
{
    QStringList lines;
    if (QAccessibleInterface *node = QAccessible::queryAccessibleInterface(root))
        describe(node, 0, lines);
    return lines.join(u'\n') + u'\n';
}

QStringList unnamedNodes(const QString &tree)
{
    // Containers and drawing need no name: a listener meets what is inside.
    static const QRegularExpression unnamed(
        QStringLiteral(R"(^\s*(?!Client |Pane |Separator |Border |ScrollBar |Filler |Cell )\w+ "\s*")"));
    QStringList found;
    for (const QString &line : tree.split(u'\n')) {
        if (unnamed.match(line).hasMatch())
            found << line;
    }
    return found;
}

ConfigRecord sampleConfig()
{
    QStringList values;
    for (const QLatin1StringView key : kConfigKeys)
        values << u"https://norvale.test/"_s + key;
    values[0] = u"1.1"_s;                 // lver: an upgrade is offered
    values[3] = u"12345678"_s;            // lqq
    values[9] = u"admin@norvale.test"_s;  // lmail
    return ConfigRecord(values);
}

// A main window with two result rows, one of them red.
struct MainWindow : test::OfflineMainWindow {
    MainWindow()
    {
        window.Load();
        test::writeRows(view().grid(),
                        {{u"chenglan.cn"_s, {}, {}, u"chenglan.cn"_s, u"已注册"_s, {}, u"鲁ICP备86620649号-2"_s, u"192.0.2.21"_s},
                         {u"chenglan.net"_s, {}, {}, u"chenglan.net"_s, u"未注册"_s, u"60"_s, {}, {}}});
        view().grid().setCellColor(2, 4, 255);
        window.show();
    }
};

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
        auto *main = qobject_cast<Fdomain *>(shown.window);
        if (main) {
            // As during a search: the progress bar shows.
            test::control<QGroupBox>(*main, "fslide3")->show();
            main->setslide(40);
        }

        const QString tree = name == u"menus" ? menuTrees(*main) : accessibleTree(shown.window);
        QVERIFY2(unnamedNodes(tree).isEmpty(), qPrintable(unnamedNodes(tree).join(u'\n')));
        const QString file = QStringLiteral(NORVALE_TREES_FOLDER "/") + name + u".txt"_s;
        if (qEnvironmentVariableIntValue("NORVALE_WRITE_TREES") == 1) {
            QVERIFY(test::writeFile(file, tree.toUtf8()));
            return;
        }
        QCOMPARE(tree.split(u'\n'), QString::fromUtf8(test::readFile(file)).split(u'\n'));
    }

    // Ctrl+Enter on a cell sorts as a click on its header does; a cell's
    // press action is a click on it; a column hidden later leaves the table.
    // (Enter, the arrows and what a screen reader hears: test_e2e.)
    void gridFromTheKeyboard()
    {
        MainWindow m;
        ResultGridView &grid = m.view();
        QList<QList<int>> clicks;  // row, column, active row, active column, pointer row, pointer column
        connect(&grid, &ResultGridView::cellClicked, &grid, [&](int row, int col) {
            clicks.append({row, col, grid.activeRow(), grid.activeCol(), grid.mouseRow(), grid.mouseCol()});
        });
        grid.setCurrentIndex(grid.model()->index(0, 4));
        QTest::keyClick(&grid, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
        QCOMPARE(grid.order().sortColumn(), 4);
        QVERIFY(clicks.isEmpty());

        QAccessibleTableInterface *table = QAccessible::queryAccessibleInterface(&grid)->tableInterface();
        QAccessibleInterface *price = table->cellAt(grid.order().viewRow(2), 2);
        QCOMPARE(price->text(QAccessible::Name), u"60"_s);
        price->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(clicks, (QList<QList<int>>{{2, 5, 2, 5, 2, 5}}));

        QVERIFY(grid.setColWidth(3, 0));
        QCOMPARE(table->columnCount(), 4);
        QCOMPARE(table->columnDescription(0), u"注册状态"_s);
        QCOMPARE(grid.grid().cellText(1, 3), u"chenglan.cn"_s);
    }

    // The about window's links open from the keyboard; Escape closes it.
    void aboutLinksFromTheKeyboard()
    {
        RecordingPlatform platform;
        Configuration config(sampleConfig());
        Fabout about(config, platform);
        about.show();
        about.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QWidget *mail = about.findChild<QWidget *>(u"lmail"_s);
        mail->setFocus();
        QTest::keyClick(mail, Qt::Key_Return);
        QCOMPARE(platform.openedUrls(), QStringList{u"https://norvale.test/lmailurl"_s});
        QTest::keyClick(mail, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), u"lqq"_s);
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
            trees += accessibleTree(menu);
            menu->hide();
        }
        return trees;
    }

    // A window as the program shows it, with what keeps it alive.
    struct Shown {
        std::shared_ptr<void> owner;
        QWidget *window = nullptr;
    };

    template <typename W, typename... Arguments>
    static Shown made(Arguments &&...arguments)
    {
        auto window = std::make_shared<W>(std::forward<Arguments>(arguments)...);
        QWidget *shown = window.get();
        return {std::move(window), shown};
    }

    Shown make(const QString &name)
    {
        if (name == u"Fdomain" || name == u"menus") {
            auto main = std::make_shared<MainWindow>();
            return {main, &main->window};
        }
        if (name == u"Fabout" || name == u"fdownload") {
            Shown about = made<Fabout>(m_config, m_platform);
            about.window->findChild<QWidget *>(u"fdownload"_s)->setVisible(name == u"fdownload");
            return about;
        }
        if (name == u"Fhelp") {
            test::writeFile(m_folder.filePath(u"readme.txt"_s), "Norvale 使用说明\r\n");
            return made<Fhelp>(m_folder.path());
        }
        if (name == u"Fwhois")
            return made<Fwhois>(LookupBackend{});
        if (name == u"Fip")
            return made<Fip>(LookupBackend{});
        if (name == u"fback")
            return made<fback>(LookupBackend{});
        if (name == u"fload")
            return made<fload>();
        return made<kestrup::Form1>();
    }

    RecordingPlatform m_platform;
    Configuration m_config{sampleConfig()};
    QTemporaryDir m_folder;
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
