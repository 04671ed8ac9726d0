#pragma once

#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/gui/tools/ToolWindow.h"

#include <array>

class QGroupBox;

namespace norvale {

class FilingLookup;

// The ICP filing window: the filing record of one domain from the shared
// domain table, and the address the domain resolves to. Closing it from the
// title bar destroys it; lclose and Escape only hide it, with its input and
// result.
class fback final : public ToolWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fback)

public:
    static constexpr int BoxCount = 8;

    explicit fback(LookupBackend backend);
    ~fback() override;

    void lfind_Click() override;

    // The result boxes, named "lwith(0)" to "lwith(7)".
    QLineEdit *lwith(int index) const;
    FilingLookup &engine() const { return *m_engine; }

private:
    void buildRecord();

    FilingLookup *m_engine;
    QGroupBox *m_frame = nullptr;
    std::array<QLineEdit *, BoxCount> m_lwith{};
};

} // namespace norvale
