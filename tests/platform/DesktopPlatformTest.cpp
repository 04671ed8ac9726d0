#include "norvale/gui/platform/DesktopPlatform.h"
#include "norvale/gui/platform/QtTranslations.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace norvale;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::function<void(Platform &, QObject *)>)

namespace {

using Ask = std::function<void(Platform &, QObject *)>;

// The dialog the desktop is showing now, closed once its owner is noted.
QWidget *shownDialog()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && (qobject_cast<QMessageBox *>(window) || qobject_cast<QFileDialog *>(window)))
            return window;
    }
    return nullptr;
}

} // namespace

class DesktopPlatformTest final : public QObject {
    Q_OBJECT

private slots:
    // Qt's own captions read in Chinese whatever the system's language; the
    // test runs under the C locale like a bare desktop session.
    void stockTextsSpeakChinese()
    {
        QVERIFY2(installQtTranslations(*qApp), "qtbase_zh_CN.qm not found: install qt6-translations-l10n");

        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Norvale"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
        QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));

        QFileDialog dialog(nullptr, QString(), QString(), QString());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lookInLabel"))->text(), QStringLiteral("查找范围："));

        QLineEdit edit(QStringLiteral("example"));
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList captions;
        for (const QAction *action : menu->actions()) {
            if (!action->isSeparator())
                captions << action->text().section(u'\t', 0, 0);
        }
        QVERIFY2(captions.contains(QStringLiteral("复制(&C)")), qPrintable(captions.join(u' ')));
    }

    void dialogsOpenOverTheirWindow_data()
    {
        QTest::addColumn<Ask>("ask");
        QTest::newRow("message") << Ask([](Platform &p, QObject *over) { p.showMessage(u"N"_s, u"t"_s, over); });
        QTest::newRow("question") << Ask([](Platform &p, QObject *over) { p.askYesNo(u"N"_s, u"t"_s, over); });
        QTest::newRow("file to read")
            << Ask([](Platform &p, QObject *over) { p.chooseOpenFile(u"N"_s, {u"所有文件 (*)"_s}, over); });
        QTest::newRow("file to write") << Ask([](Platform &p, QObject *over) {
            int filter = 0;
            p.chooseSaveFile(u"N"_s, u"a.csv"_s, {u"CSV 文件 (*.csv)"_s}, &filter, over);
        });
    }

    // Over the window of the widget that asks, not in the middle of the screen.
    void dialogsOpenOverTheirWindow()
    {
        QFETCH(Ask, ask);
        QWidget window;
        auto *inside = new QLineEdit(&window);
        window.show();

        const QWidget *owner = nullptr;
        bool native = true;
        QTimer::singleShot(0, this, [&] {
            QWidget *dialog = shownDialog();
            if (!dialog)
                return;
            owner = dialog->parentWidget();
            if (auto *files = qobject_cast<QFileDialog *>(dialog))
                native = !files->testOption(QFileDialog::DontUseNativeDialog);
            else
                native = false;
            dialog->close();
        });
        DesktopPlatform platform;
        ask(platform, inside);
        QCOMPARE(owner, &window);
        QVERIFY(!native);
    }
};

QTEST_MAIN(DesktopPlatformTest)
#include "DesktopPlatformTest.moc"
