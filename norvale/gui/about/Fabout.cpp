#include "norvale/gui/about/Fabout.h"

#include "norvale/gui/about/DownloadPanel.h"
#include "norvale/gui/platform/Accessibility.h"
#include "norvale/gui/platform/Twips.h"
#include "norvale/core/platform/WebAddress.h"
#include "norvale/gui/platform/WindowLayout.h"
#include "norvale/gui/platform/LoadPicture.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QThread>

#include <memory>

namespace norvale {

namespace {

const QColor kHoverBlue(0, 0, 255);
constexpr int kPanelRight = 480 + 5775;   // the download panel's right edge, in twips

QFont songFont(double points)
{
    QFont font(QStringLiteral("宋体"));
    font.setPointSizeF(points);
    return font;
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// A plain-text label at its designed place. The substituted faces are taller
// than the ones the layout was drawn for, so a label grows to show its text
// whole, though never past its parent's right edge.
QLabel *label(QWidget *parent, const char *name, const QString &text, const QRect &geometry,
              const QFont &font)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QLatin1StringView(name));
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    l->setText(text);
    QRect box = geometry;
    const QSize needed = l->sizeHint();
    box.setHeight(qMax(box.height(), needed.height()));
    box.setWidth(qBound(box.width(), needed.width(), qMax(box.width(), parent->width() - box.left() - 4)));
    l->setGeometry(box);
    return l;
}

// A link's text comes from the operator. It stays left of the download
// panel's edge, so that nothing shows beside the panel; one too long for
// that is shortened with "…" and shown whole in its tooltip.
void keepLinkInPlace(QLabel *link)
{
    QRect box = link->geometry();
    box.setRight(qMin(box.right(), twips(kPanelRight) - 1));
    link->setGeometry(box);
}

// A link's text, cut short with "…" where it would run past its place.
void setLinkText(QLabel *link, const QString &full)
{
    const QString shown = link->fontMetrics().elidedText(full, Qt::ElideRight, link->width() - 2);
    link->setText(shown);
    link->setToolTip(shown != full ? full : QString());
    link->setAccessibleName(shown != full ? full : QString());
}

QLabel *pictureBox(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *box = new QLabel(parent);
    box->setObjectName(QLatin1StringView(name));
    box->setGeometry(geometry);
    box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return box;
}

} // namespace

Fabout::Fabout(const Configuration &config, Platform &platform, const QString &programFolder, QWidget *parent)
    : QWidget(parent, Qt::Window), m_config(config), m_platform(platform)
{
    setObjectName(QStringLiteral("Fabout"));
    setWindowTitle(QStringLiteral("版权申明"));
    readAsWindow(this);
    setFixedSize(twips(6585), twips(5985));
    // Hover feedback needs moves without a button held.
    setMouseTracking(true);

    buildHeader();
    buildContacts();

    auto *line = new QFrame(this);
    line->setObjectName(QStringLiteral("lin_HorizontalLine1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setGeometry(twips(840), twips(5010), twips(6000) - twips(840), 1);

    auto *ok = new QPushButton(QStringLiteral("确  定"), this);
    ok->setObjectName(QStringLiteral("Cmd_OK"));
    ok->setFont(songFont(10.5));
    ok->setGeometry(twipRect(4920, 5280, 1155, 480));
    ok->setAccessibleName(QStringLiteral("确定"));
    connect(ok, &QPushButton::clicked, this, &QWidget::hide);
    // Escape closes it too, as a keyboard user expects; it only hides.
    connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this, &QWidget::hide);

    // Made after the other controls so that it lies over them when shown.
    m_fdownload = new DownloadPanel(platform, programFolder, this);
    m_fdownload->setGeometry(twipRect(480, 960, 5775, 4095));
    connect(m_ldownact, &QPushButton::clicked, this,
            [this] { m_fdownload->startDownload(m_config.text(ConfigKey::DownloadAddress)); });

    // The configuration holders: one plain-text label per key in a frame
    // that is never shown.
    m_hidden = new QGroupBox(QStringLiteral("hidden"), this);
    m_hidden->setObjectName(QStringLiteral("hidden"));
    m_hidden->setGeometry(0, height() - 1, width(), 1);
    for (const QLatin1StringView key : kConfigKeys) {
        auto *holder = new QLabel(m_hidden);
        holder->setObjectName(key);
        holder->setTextFormat(Qt::PlainText);
    }
    m_hidden->hide();
    config.whenLoaded(this, [this] { showConfiguration(); });
}

void Fabout::showConfiguration()
{
    m_lver->setText(m_config.text(ConfigKey::Version));
    m_ldownact->setVisible(m_config.offersUpgrade());
    setLinkText(m_lmail, m_config.text(ConfigKey::Mail));
    setLinkText(m_lqq, m_config.text(ConfigKey::Qq));
    setLinkText(m_lhomeurl, m_config.text(ConfigKey::HomePage));
    for (size_t i = 0; i < kConfigKeys.size(); ++i)
        m_hidden->findChild<QLabel *>(kConfigKeys[i])->setText(m_config.text(ConfigKey(i)));
}

void Fabout::buildHeader()
{
    QFont title(QStringLiteral("MS Sans Serif"));
    title.setPointSizeF(18);
    title.setBold(true);
    label(this, "Lbl_IconWorks", QStringLiteral("Norvale"), twipRect(840, 0, 5040, 450), title);
    QFont versionFont(QStringLiteral("MS Sans Serif"));
    versionFont.setPointSizeF(9.75);
    versionFont.setBold(true);
    label(this, "Lbl_Version", QStringLiteral("Version " NORVALE_VERSION), twipRect(855, 585, 1470, 240),
          versionFont);

    label(this, "Label3", QStringLiteral("最新版本："), twipRect(2880, 600, 1215, 255), songFont(12));
    m_lver = label(this, "lver", QString(), twipRect(4080, 600, 495, 255), songFont(12));
    m_ldownact = new QPushButton(QStringLiteral("点击升级"), this);
    m_ldownact->setObjectName(QStringLiteral("ldownact"));
    m_ldownact->setAutoDefault(false);
    m_ldownact->setGeometry(twipRect(4800, 600, 1215, 375));
    m_ldownact->hide();

    auto *features = new QGroupBox(QStringLiteral("关于"), this);
    features->setObjectName(QStringLiteral("Frame1"));
    features->setGeometry(twipRect(720, 960, 5175, 1455));
    label(features, "Label1", QStringLiteral("显示各级域名后缀的注册、备案信息"), twipRect(600, 240, 3840, 240),
          songFont(12));
    label(features, "Label6", QStringLiteral("显示域名所在IP及IP反查域名"), twipRect(600, 600, 3120, 240),
          songFont(12));
    label(features, "Label2", QStringLiteral("选中域名后可直接注册"), twipRect(600, 1080, 2400, 240), songFont(12));
}

void Fabout::buildContacts()
{
    // Made in reading order, each caption before its link, as a screen
    // reader and Tab walk them.
    const QFont big = songFont(15.75);
    m_lfontori = label(this, "lfontori", QStringLiteral("Email："), twipRect(600, 2640, 1935, 480), big);
    m_lmail = label(this, "lmail", QString(), twipRect(2520, 2640, 3495, 480), big);
    m_limgqq = pictureBox(this, "limgqq", twipRect(1800, 3120, 495, 375));
    m_lqq = label(this, "lqq", QString(), twipRect(2520, 3120, 2655, 375), big);
    QLabel *shop = label(this, "Label5", QStringLiteral("淘宝商城："), twipRect(600, 3720, 1935, 480), big);
    m_ltaobao = pictureBox(this, "ltaobao", twipRect(2520, 3720, 2415, 375));
    QLabel *home = label(this, "Label7", QStringLiteral("官方网址："), twipRect(600, 4320, 1935, 480), big);
    m_lhomeurl = label(this, "lhomeurl", QString(), twipRect(2640, 4320, 3855, 375), big);
    for (QLabel *caption : {m_lfontori, shop, home})
        setTextColour(caption, Qt::black);
    for (QLabel *link : {m_lmail, m_lqq, m_lhomeurl})
        keepLinkInPlace(link);
    // The pictures have no text to read.
    m_lmail->setAccessibleDescription(m_lfontori->text());
    m_lhomeurl->setAccessibleDescription(home->text());
    m_limgqq->setAccessibleName(QStringLiteral("QQ"));
    m_ltaobao->setAccessibleName(QStringLiteral("淘宝商城"));

    for (QWidget *link : {static_cast<QWidget *>(m_lmail), static_cast<QWidget *>(m_lqq),
                          static_cast<QWidget *>(m_ltaobao), static_cast<QWidget *>(m_lhomeurl)}) {
        link->setCursor(Qt::PointingHandCursor);
        link->setMouseTracking(true);
        link->installEventFilter(this);
        makeKeyboardLink(link, [this, link] { openLink(link); });
    }
}

void Fabout::checkimg()
{
    // Only the QQ picture is looked at: when it is there the shop picture
    // had its chance too.
    if (!m_limgqq->pixmap().isNull() || m_picturesPending > 0)
        return;
    loadPicture(m_limgqq, m_config.text(ConfigKey::QqPicture));
    loadPicture(m_ltaobao, m_config.text(ConfigKey::TaobaoPicture));
}

void Fabout::loadPicture(QLabel *target, const QString &source)
{
    ++m_picturesPending;
    auto image = std::make_shared<QImage>();
    QThread *worker = QThread::create([image, source] { *image = LoadPicture(source); });
    // The window may go first; the thread then only cleans up after itself.
    connect(worker, &QThread::finished, this, [this, target, image] {
        --m_picturesPending;
        if (image->isNull())
            return;
        QPixmap picture = QPixmap::fromImage(*image);
        if (picture.width() > target->width() || picture.height() > target->height())
            picture = picture.scaled(target->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        target->setPixmap(picture);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void Fabout::openLink(QObject *link)
{
    ConfigKey key;
    if (link == m_lmail)
        key = ConfigKey::MailPage;
    else if (link == m_lqq)
        key = ConfigKey::QqPage;
    else if (link == m_lhomeurl)
        key = ConfigKey::HomePage;
    else if (link == m_ltaobao)
        key = ConfigKey::TaobaoPage;
    else
        return;
    openWebAddress(m_platform, m_config.text(key), this);
}

bool Fabout::eventFilter(QObject *watched, QEvent *event)
{
    auto *link = qobject_cast<QWidget *>(watched);
    if (event->type() == QEvent::MouseMove && link != m_ltaobao) {
        setTextColour(link, kHoverBlue);
    } else if (event->type() == QEvent::MouseButtonRelease) {
        // A click is a press and a release on the same link.
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && link->rect().contains(mouse->position().toPoint()))
            openLink(link);
    }
    return QWidget::eventFilter(watched, event);
}

void Fabout::mouseMoveEvent(QMouseEvent *event)
{
    // Only the window's own background restores the links' colour; moving
    // from a link onto another control keeps it blue.
    if (!childAt(event->position().toPoint())) {
        const QColor normal = m_lfontori->palette().color(QPalette::WindowText);
        for (QLabel *link : {m_lmail, m_lqq, m_lhomeurl})
            setTextColour(link, normal);
    }
    QWidget::mouseMoveEvent(event);
}

void Fabout::closeEvent(QCloseEvent *event)
{
    // Closing only hides: the record must outlive every view of the window.
    event->ignore();
    hide();
}

void Fabout::hideEvent(QHideEvent *event)
{
    m_fdownload->dismissReport();
    QWidget::hideEvent(event);
}

} // namespace norvale
