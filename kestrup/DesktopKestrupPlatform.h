#pragma once

#include "kestrup/KestrupPlatform.h"

namespace kestrup {

// The real desktop: message boxes and detached processes.
class DesktopKestrupPlatform final : public KestrupPlatform {
public:
    void showMessage(const QString &title, const QString &text, QWidget *over) override;
    bool startDetached(const QString &program, const QStringList &arguments) override;
};

} // namespace kestrup
