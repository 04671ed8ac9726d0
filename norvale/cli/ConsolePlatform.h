#pragma once

#include "norvale/core/platform/Platform.h"

#include <atomic>

namespace norvale {

// The command line's desktop: messages go to standard error, nothing is
// opened or started, and a request to end is noted for the caller, which
// ends with that status once the call that asked has returned.
class ConsolePlatform final : public Platform {
public:
    void openUrl(const QString &) override {}
    void setClipboardText(const QString &) override {}
    void showMessage(const QString &title, const QString &text, QObject *over) override;
    bool askYesNo(const QString &, const QString &, QObject *) override { return false; }
    bool startDetached(const QString &, const QStringList &) override { return false; }
    void exitNow(int code) override { m_exitCode = code; }

    // The status asked for by exitNow, -1 when none was.
    int exitCode() const { return m_exitCode; }

private:
    std::atomic<int> m_exitCode{-1};
};

} // namespace norvale
