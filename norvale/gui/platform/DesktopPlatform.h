#pragma once

#include "norvale/core/platform/Platform.h"

namespace norvale {

// The real desktop: browser, clipboard, message boxes and the process end.
// Calls from worker threads are carried over to the interface thread.
class DesktopPlatform final : public Platform {
public:
    void openUrl(const QString &address) override;
    void setClipboardText(const QString &text) override;
    void showMessage(const QString &title, const QString &text, QObject *over) override;
    bool askYesNo(const QString &title, const QString &text, QObject *over) override;
    bool startDetached(const QString &program, const QStringList &arguments) override;
    QString chooseOpenFile(const QString &title, const QStringList &filters, QObject *over) override;
    QString chooseSaveFile(const QString &title, const QString &suggested, const QStringList &filters,
                           int *filter, QObject *over) override;
    void exitNow(int code) override;
};

} // namespace norvale
