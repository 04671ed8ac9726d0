#include "norvale/gui/platform/DesktopPlatform.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdlib>

namespace norvale {

namespace {

// Runs f on the interface thread and waits for it; directly when already there.
template <typename F>
void onInterfaceThread(F &&f)
{
    auto *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(app, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

// The window a dialog opens over, so that it stands in front of that window
// rather than in the middle of the screen. Called on the interface thread.
QWidget *ownerWindow(QObject *over)
{
    if (auto *widget = qobject_cast<QWidget *>(over))
        return widget->window();
    return QApplication::activeWindow();
}

// Qt's own file dialog, whatever the desktop offers: its captions come from
// the program's Chinese translations, not from the system's language.
constexpr QFileDialog::Options dialogOptions = QFileDialog::DontUseNativeDialog;

} // namespace

void DesktopPlatform::openUrl(const QString &address)
{
    onInterfaceThread([address] { QDesktopServices::openUrl(QUrl::fromUserInput(address)); });
}

void DesktopPlatform::setClipboardText(const QString &text)
{
    onInterfaceThread([text] { QGuiApplication::clipboard()->setText(text); });
}

void DesktopPlatform::showMessage(const QString &title, const QString &text, QObject *over)
{
    onInterfaceThread([title, text, over] {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, ownerWindow(over));
        // The text may come from a database or a server: never markup.
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
}

bool DesktopPlatform::startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool DesktopPlatform::askYesNo(const QString &title, const QString &text, QObject *over)
{
    bool yes = false;
    onInterfaceThread([title, text, over, &yes] {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No,
                        ownerWindow(over));
        box.setTextFormat(Qt::PlainText);
        yes = box.exec() == QMessageBox::Yes;
    });
    return yes;
}

QString DesktopPlatform::chooseOpenFile(const QString &title, const QStringList &filters, QObject *over)
{
    QString path;
    onInterfaceThread([&] {
        path = QFileDialog::getOpenFileName(ownerWindow(over), title, QString(),
                                            filters.join(QStringLiteral(";;")), nullptr, dialogOptions);
    });
    return path;
}

QString DesktopPlatform::chooseSaveFile(const QString &title, const QString &suggested,
                                        const QStringList &filters, int *filter, QObject *over)
{
    QString path;
    onInterfaceThread([&] {
        QString chosen = filters.value(0);
        path = QFileDialog::getSaveFileName(ownerWindow(over), title, suggested,
                                            filters.join(QStringLiteral(";;")), &chosen, dialogOptions);
        if (filter)
            *filter = std::max(0, int(filters.indexOf(chosen)));
    });
    return path;
}

void DesktopPlatform::exitNow(int code)
{
    // _Exit skips static destructors and atexit handlers: no closing steps run.
    std::_Exit(code);
}

} // namespace norvale
