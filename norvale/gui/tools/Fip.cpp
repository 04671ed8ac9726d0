#include "norvale/gui/tools/Fip.h"

#include "norvale/core/lookup/IpLookup.h"
#include "norvale/gui/platform/WindowLayout.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

namespace norvale {

namespace {

struct Field {
    Fip::Box box;
    const char *name;
    const char16_t *label;
    int top;  // of the box; its label stands 240 twips higher
};

// The right-hand column, top to bottom.
constexpr Field Fields[] = {
    {Fip::Domain, "ldomain", u"所选域名：", 480},
    {Fip::Ip, "lip", u"IP 地址：", 1200},
    {Fip::Isp, "lisp", u"互联网服务提供商(ISP)：", 1920},
    {Fip::Country, "lcountry", u"所在国家：", 2640},
    {Fip::Iddcode, "liddcode", u"国家区号：", 3360},
    {Fip::Timezone, "ltimezone", u"时区：", 4080},
    {Fip::Region, "lregion", u"所在地区：", 4800},
    {Fip::City, "lcity", u"所在城市：", 5520},
    {Fip::Zipcode, "lzipcode", u"邮编：", 6240},
    {Fip::Latitude, "llatitude", u"纬度：", 6960},
    {Fip::Longitude, "llongitude", u"经度：", 7680},
};

QString countLine(const QString &number)
{
    return u"合计查到 " % number % u" 条共享域名";
}

// The list is full: the page named more than were checked.
QString fullCountLine(int found)
{
    return countLine(QString::number(found)) % u"（只列出前 " % QString::number(found) % u" 条）";
}

} // namespace

Fip::Fip(LookupBackend backend)
    : ToolWindow("Fip", QStringLiteral("IP地址反查域名"), 10545, 9510)
    , m_engine(new IpLookup(std::move(backend), this))
{
    m_frame = place<QGroupBox>(this, "Frame1", twipRect(480, 240, 9615, 8055));
    m_frame->setTitle(QStringLiteral("IP反查"));
    m_llist = place<QListWidget>(m_frame, "llist", twipRect(120, 240, 3495, 7260));
    m_llist->setAccessibleName(QStringLiteral("共享域名"));
    m_lcount = place<QLabel>(m_frame, "lcount", twipRect(120, 7680, 3375, 255));
    m_lcount->setTextFormat(Qt::PlainText);
    // Until the first count: an ideographic space in the number's place.
    m_lcount->setText(QStringLiteral("合计查到 \u3000条共享域名"));
    fitText(m_lcount, fullCountLine(IpLookup::listLimit));
    buildResultColumn(m_frame);

    buildInputRow({QRect(), twipRect(600, 8660, 5055, 375), QStringLiteral("域名或 IP 地址"),
                   QStringLiteral("IP 反查"), twipRect(5880, 8640, 1395, 480), twipRect(9000, 8640, 1155, 480)});
    m_lstop = button(this, "lstop", QStringLiteral("停  止"), twipRect(7560, 8640, 1155, 480));
    m_lstop->setAccessibleName(QStringLiteral("停止"));
    setTabOrder(lfind(), m_lstop);
    setTabOrder(m_lstop, lclose());

    connect(m_lstop, &QPushButton::clicked, this, &Fip::lstop_Click);
    connect(m_llist, &QListWidget::itemSelectionChanged, this, &Fip::copySelection);
    connect(m_llist, &QListWidget::itemClicked, this, &Fip::copySelection);

    // The engine reports only its newest lookup, so whatever arrives is shown.
    connect(m_engine, &IpLookup::addressShown, this,
            [this](quint64, const QString &text) { m_boxes[Ip]->setText(text); });
    // Names are added to the list in batches of a bounded size, a frame
    // apart: one row at a time, or all at once, a long list would keep the
    // window busy.
    m_listBatch.setSingleShot(true);
    m_listBatch.setInterval(16);
    connect(&m_listBatch, &QTimer::timeout, this, &Fip::flushNames);
    connect(m_engine, &IpLookup::sharedDomains, this, [this](quint64, const QStringList &names) {
        m_pendingNames << names;
        if (!m_listBatch.isActive())
            m_listBatch.start();
    });
    // The count shows once the list holds what it counts.
    connect(m_engine, &IpLookup::counted, this, [this](quint64, int found, bool more) {
        m_countText = more ? fullCountLine(found) : countLine(QString::number(found));
        flushNames();
    });
    connect(m_engine, &IpLookup::located, this,
            [this](quint64, const QStringList &values) { showLocation(values); });
    connect(m_engine, &IpLookup::finished, this, [this] { focusInput(); });

    move(twips(100), twips(10));
}

Fip::~Fip() = default;

void Fip::buildResultColumn(QWidget *frame)
{
    for (const Field &field : Fields) {
        auto *label = new QLabel(QString::fromUtf16(field.label), frame);
        label->setObjectName(QLatin1StringView(field.name) + QStringLiteral("_label"));
        label->setGeometry(twipRect(3720, field.top - 240, 5535, 255));
        fitText(label, label->text());
        auto *box = place<QLineEdit>(frame, field.name, twipRect(3720, field.top, 5535, 270));
        box->setMinimumHeight(0);
        box->setReadOnly(true);
        label->setBuddy(box);
        m_boxes[field.box] = box;
    }
}

void Fip::setPages(const QString &lipurl, const QString &lipmessurl)
{
    m_engine->setPages(lipurl, lipmessurl);
}

void Fip::flushNames()
{
    constexpr qsizetype batch = 1000;
    m_llist->addItems(m_pendingNames.mid(0, batch));
    m_pendingNames.remove(0, std::min(batch, m_pendingNames.size()));
    if (!m_pendingNames.isEmpty())
        m_listBatch.start();
    else if (!m_countText.isEmpty())
        m_lcount->setText(std::exchange(m_countText, {}));
}

void Fip::lfind_Click()
{
    m_listBatch.stop();
    m_pendingNames.clear();
    m_countText.clear();
    m_llist->clear();
    for (QLineEdit *box : m_boxes)
        box->clear();
    m_engine->start(ltext()->text());
}

void Fip::lstop_Click()
{
    m_engine->stop();
}

void Fip::closeRequested()
{
    m_engine->stop();
    hide();
}

// Closing from the title bar only stops and hides: the window lives on.
void Fip::closeEvent(QCloseEvent *event)
{
    event->ignore();
    closeRequested();
}

void Fip::copySelection()
{
    const QList<QListWidgetItem *> selected = m_llist->selectedItems();
    m_boxes[Domain]->setText(selected.isEmpty() ? QString() : selected.first()->text());
}

void Fip::showLocation(const QStringList &values)
{
    for (int i = 0; i <= Iddcode && i < values.size(); ++i)
        m_boxes[i]->setText(values[i]);
}

} // namespace norvale
