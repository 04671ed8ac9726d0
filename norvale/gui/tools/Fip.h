#pragma once

#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/gui/tools/ToolWindow.h"

#include <QStringList>
#include <QTimer>

#include <array>

class QGroupBox;
class QLabel;
class QListWidget;

namespace norvale {

class IpLookup;

// The IP reverse lookup and geolocation window: which listed domains share
// the address of a name or address, and where that address is. Created once
// and only ever hidden: lclose, Escape and the title bar's close hide it
// with its input and result. lclose and the title bar also stop a running
// lookup; Escape does not.
class Fip final : public ToolWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Fip)

public:
    // The eleven result boxes, in the order a lookup clears them.
    enum Box { Country, Region, City, Latitude, Longitude, Zipcode, Timezone, Isp, Iddcode, Ip, Domain, BoxCount };

    explicit Fip(LookupBackend backend);
    ~Fip() override;

    // lipurl and lipmessurl of the loaded configuration. A lookup asked for
    // before they were given runs once they come.
    void setPages(const QString &lipurl, const QString &lipmessurl);

    void lfind_Click() override;
    // "停  止": the candidate check ends; the count and geolocation still come.
    void lstop_Click();

    QPushButton *lstop() const { return m_lstop; }
    QListWidget *llist() const { return m_llist; }
    QLabel *lcount() const { return m_lcount; }
    QLineEdit *box(Box which) const { return m_boxes[which]; }
    IpLookup &engine() const { return *m_engine; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void closeRequested() override;

private:
    void buildResultColumn(QWidget *frame);
    void copySelection();
    void showLocation(const QStringList &values);
    void flushNames();

    IpLookup *m_engine;
    QGroupBox *m_frame = nullptr;
    QListWidget *m_llist = nullptr;
    QLabel *m_lcount = nullptr;
    QPushButton *m_lstop = nullptr;
    std::array<QLineEdit *, BoxCount> m_boxes{};
    QStringList m_pendingNames;  // shared names not yet in the list
    QString m_countText;         // the count line, shown once the list is whole
    QTimer m_listBatch;
};

} // namespace norvale
