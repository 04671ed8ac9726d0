#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace kestrup {

// Kestrup's own thin layer over the desktop: what would block on the user or
// start another program goes through here, so that tests answer and record
// instead.
class KestrupPlatform {
public:
    virtual ~KestrupPlatform() = default;

    // A modal message with one OK button over the window `over`; returns when
    // the user has closed it. Called on the interface thread only.
    virtual void showMessage(const QString &title, const QString &text, QWidget *over) = 0;
    // Starts a program detached, without waiting for it and without a shell:
    // each argument reaches the program as written. Returns whether it
    // started. May be called from any thread.
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
};

} // namespace kestrup
