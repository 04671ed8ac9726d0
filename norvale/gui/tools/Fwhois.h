#pragma once

#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/gui/tools/ToolWindow.h"

class QGroupBox;
class QPlainTextEdit;

namespace norvale {

class WhoisLookup;

// The whois window: the whois text of one domain from the operator's whois
// page. Closing it from the title bar destroys it; lclose and Escape only
// hide it, with its input and result.
class Fwhois final : public ToolWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Fwhois)

public:
    explicit Fwhois(LookupBackend backend);
    ~Fwhois() override;

    // lwhoisurl of the loaded configuration. A lookup asked for before it
    // was given shows the searching notice and runs once it comes.
    void setPageBase(const QString &lwhoisurl);

    void lfind_Click() override;

    QGroupBox *Frame2() const { return m_Frame2; }
    QPlainTextEdit *lwhois() const { return m_lwhois; }
    WhoisLookup &engine() const { return *m_engine; }

private:
    void showResult(const QString &text);

    WhoisLookup *m_engine;
    QGroupBox *m_Frame2 = nullptr;
    QPlainTextEdit *m_lwhois = nullptr;
};

} // namespace norvale
