#include "norvale/platform/DesktopPlatform.h"

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

} // namespace

void DesktopPlatform::openUrl(const QString &address)
{
    onInterfaceThread([address] { QDesktopServices::openUrl(QUrl::fromUserInput(address)); });
}

void DesktopPlatform::setClipboardText(const QString &text)
{
    onInterfaceThread([text] { QGuiApplication::clipboard()->setText(text); });
}

void DesktopPlatform::showMessage(const QString &title, const QString &text)
{
    onInterfaceThread([title, text] {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
        // The text may come from a database or a server: never markup.
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
}

bool DesktopPlatform::startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool DesktopPlatform::askYesNo(const QString &title, const QString &text)
{
    bool yes = false;
    onInterfaceThread([title, text, &yes] {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No);
        box.setTextFormat(Qt::PlainText);
        yes = box.exec() == QMessageBox::Yes;
    });
    return yes;
}

QString DesktopPlatform::chooseOpenFile(const QString &title, const QStringList &filters)
{
    QString path;
    onInterfaceThread([&] {
        path = QFileDialog::getOpenFileName(QApplication::activeWindow(), title, QString(),
                                            filters.join(QStringLiteral(";;")));
    });
    return path;
}

QString DesktopPlatform::chooseSaveFile(const QString &title, const QString &suggested,
                                        const QStringList &filters, int *filter)
{
    QString path;
    onInterfaceThread([&] {
        QString chosen = filters.value(0);
        path = QFileDialog::getSaveFileName(QApplication::activeWindow(), title, suggested,
                                            filters.join(QStringLiteral(";;")), &chosen);
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
