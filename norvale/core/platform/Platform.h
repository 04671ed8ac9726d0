#pragma once

#include <QString>
#include <QStringList>

class QObject;

namespace norvale {

// The thin layer over the desktop: everything that would open something,
// block on the user or end the process goes through here, so that tests can
// answer and record instead. Every call may be made from any thread.
//
// What asks the user something opens over the window it belongs to: `over`
// is that window or a widget inside it, nullptr where no window is concerned
// (the desktop then takes the active window, if any).
class Platform {
public:
    virtual ~Platform() = default;

    // Opens an address or a file with the desktop's "open" action; the
    // outcome is not examined.
    virtual void openUrl(const QString &address) = 0;
    // Replaces the clipboard's text.
    virtual void setClipboardText(const QString &text) = 0;
    // Shows a modal message with one OK button and no icon, and returns when
    // the user has closed it.
    virtual void showMessage(const QString &title, const QString &text, QObject *over) = 0;
    // Asks a modal question with the buttons Yes and No and no icon, and
    // returns whether the user chose Yes.
    virtual bool askYesNo(const QString &title, const QString &text, QObject *over) = 0;
    // Starts a program detached, minimised where the desktop supports it,
    // without waiting. Returns whether it started.
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
    // Asks the user for a file to read or to write, modally; the empty text
    // when the user cancels. filters are dialog filters such as
    // "CSV 文件 (*.csv)"; for a file to write, *filter gets the index of the
    // one chosen. Desktops without a dialog answer as if cancelled.
    virtual QString chooseOpenFile(const QString &title, const QStringList &filters, QObject *over)
    {
        Q_UNUSED(title)
        Q_UNUSED(filters)
        Q_UNUSED(over)
        return {};
    }
    virtual QString chooseSaveFile(const QString &title, const QString &suggested,
                                   const QStringList &filters, int *filter, QObject *over)
    {
        Q_UNUSED(title)
        Q_UNUSED(suggested)
        Q_UNUSED(filters)
        Q_UNUSED(filter)
        Q_UNUSED(over)
        return {};
    }
    // Ends the process at once, without running any window's closing steps.
    // Returns only in tests, where the recording platform notes the request.
    virtual void exitNow(int code) = 0;
};

} // namespace norvale
