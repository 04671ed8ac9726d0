#include "norvale/gui/tools/fback.h"

#include "norvale/core/lookup/FilingLookup.h"
#include "norvale/gui/platform/WindowLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace norvale {

namespace {

// Captions of the result boxes, by index; even indexes stand on the left.
constexpr const char16_t *Captions[fback::BoxCount] = {
    u"备案/许可证号：", u"审核通过时间：", u"主办单位名称：", u"\t主办单位性质：",
    u"网站名称：",      u"网站备案/许可证号：", u"网站地址：", u"服务器所在IP：",
};
// Tops of the four rows inside the group box.
constexpr int RowTops[] = {720, 1080, 2040, 2400};

} // namespace

fback::fback(LookupBackend backend)
    // The window carries its own caption, so that it can be told from the
    // IP window in the task bar.
    : ToolWindow("fback", QStringLiteral("备案信息查询"), 10215, 4170)
    , m_engine(new FilingLookup(std::move(backend), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    buildRecord();
    buildInputRow({twipRect(1200, 3480, 1815, 495), twipRect(3120, 3480, 3135, 495), QStringLiteral("域名"),
                   QStringLiteral("备案信息"),
                   twipRect(6360, 3480, 1395, 480), twipRect(8160, 3480, 1155, 480)});
    fitText(hint(), hint()->text());

    // The engine reports only its newest lookup, so whatever arrives is shown.
    connect(m_engine, &FilingLookup::finished, this, [this](quint64, const QStringList &boxes) {
        for (int i = 0; i < BoxCount; ++i)
            m_lwith[std::size_t(i)]->setText(boxes.value(i));
        focusInput();
    });

    move(twips(100), twips(10));
}

fback::~fback() = default;

void fback::buildRecord()
{
    m_frame = place<QGroupBox>(this, "Frame1", twipRect(480, 240, 9615, 2895));
    m_frame->setTitle(QStringLiteral("备案信息"));
    auto heading = [this](const char *name, const QString &text, int top) {
        auto *label = place<QLabel>(m_frame, name, twipRect(480, top, 7935, 255));
        label->setText(text);
        fitText(label, text);
    };
    heading("Label1", QStringLiteral("ICP备案主体信息"), 360);
    heading("Label2", QStringLiteral("ICP备案网站信息"), 1680);

    for (int i = 0; i < BoxCount; ++i) {
        const bool left = i % 2 == 0;
        const int top = RowTops[i / 2];
        auto *label = new QLabel(QString::fromUtf16(Captions[i]), m_frame);
        label->setObjectName(u"Label(" % QString::number(i) % u')');
        label->setGeometry(twipRect(left ? 480 : 4320, top, left ? 1455 : 1815, 270));
        fitText(label, label->text());
        // The caption's leading tab only places it.
        label->setAccessibleName(label->text().trimmed());
        auto *box = new QLineEdit(m_frame);
        box->setAccessibleName(label->accessibleName());
        box->setObjectName(u"lwith(" % QString::number(i) % u')');
        box->setGeometry(twipRect(left ? 2040 : 6240, top, 2175, 270));
        box->setMinimumHeight(0);
        box->setReadOnly(true);
        label->setBuddy(box);
        m_lwith[std::size_t(i)] = box;
    }
}

QLineEdit *fback::lwith(int index) const
{
    if (index < 0 || index >= BoxCount)
        return nullptr;
    return m_lwith[std::size_t(index)];
}

void fback::lfind_Click()
{
    for (QLineEdit *box : m_lwith)
        box->clear();
    m_engine->start(ltext()->text());
}

} // namespace norvale
