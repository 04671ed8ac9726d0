#include "norvale/gui/about/DownloadPanel.h"

#include "norvale/core/net/Cls_DownLoad.h"
#include "norvale/core/net/DownloadRules.h"
#include "norvale/core/platform/Platform.h"
#include "norvale/gui/platform/Twips.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLabel>
#include <QPushButton>

namespace norvale {

namespace {

QLabel *plainLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1StringView(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(geometry);
    return label;
}

} // namespace

DownloadPanel::DownloadPanel(Platform &platform, QString programFolder, QWidget *parent)
    : QGroupBox(QStringLiteral("下载信息"), parent),
      m_platform(platform),
      m_programFolder(programFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                              : std::move(programFolder)),
      m_download(new Cls_DownLoad(this))
{
    setObjectName(QStringLiteral("fdownload"));
    // It covers the middle of the about window while it is shown.
    setAutoFillBackground(true);
    m_ltext = plainLabel(this, "ltext", QStringLiteral("准备："),
                         QRect(twips(120), twips(360), twips(5580), twips(1440)));
    // Room for the seven lines of progress in whatever faces the desktop
    // gives (the Chinese fallback face sets the line height).
    m_ltext->setText(downloadProgressText(0, 0, 0));
    m_ltext->resize(m_ltext->width(), qMax(m_ltext->height(), m_ltext->sizeHint().height()));
    m_ltext->setText(QStringLiteral("准备："));
    m_lstat = plainLabel(this, "lstat", QStringLiteral("连接状态："),
                         QRect(twips(165), twips(2235), twips(5235), twips(270)));
    m_lstat->resize(m_lstat->width(), qMax(m_lstat->height(), m_lstat->fontMetrics().height() + 2));
    m_ldownstop = new QPushButton(QStringLiteral("取消下载"), this);
    m_ldownstop->setObjectName(QStringLiteral("ldownstop"));
    m_ldownstop->setGeometry(twips(360), twips(3360), twips(1215), twips(375));
    m_ldownstop->setAutoDefault(false);
    m_ldownstop->setEnabled(false);
    hide();

    // The worker's events arrive queued, in the order raised; progress comes
    // at most once a frame (Cls_DownLoad's progress interval).
    connect(m_download, &Cls_DownLoad::entDLFileStatus, this, &DownloadPanel::showStatus);
    connect(m_download, &Cls_DownLoad::entDLFileDowning, this,
            [this](const QString &, qint64 downloaded, qint64 fileSize, qint64 speed) {
                showProgress(downloaded, fileSize, speed);
            });
    connect(m_download, &Cls_DownLoad::finished, this, &DownloadPanel::finish);
    connect(m_ldownstop, &QPushButton::clicked, this, &DownloadPanel::cancel);
}

// The download object is a child, so it stops and waits for its worker
// before the labels go.
DownloadPanel::~DownloadPanel()
{
    delete m_download;
}

void DownloadPanel::startDownload(const QString &address)
{
    if (m_downloading)
        return;
    show();
    const QString path =
        installerTarget(installerFolder(m_programFolder), installerFileName(address), earlierDownloads());
    if (path.isEmpty()) {
        qWarning().noquote() << "No download: the installer address names no safe file:"
                             << address.left(200);
        showStatus(downloadstatus::Broken);
        return;
    }
    m_downloading = m_download->start(address, path);
    m_ldownstop->setEnabled(m_downloading);
}

void DownloadPanel::dismissReport()
{
    if (!m_downloading)
        hide();
}

void DownloadPanel::showStatus(int status)
{
    m_lstat->setText(QStringLiteral("连接状态： ") + downloadStatusText(status));
}

void DownloadPanel::showProgress(qint64 downloaded, qint64 fileSize, qint64 speed)
{
    m_ltext->setText(downloadProgressText(downloaded, fileSize, speed));
}

void DownloadPanel::cancel()
{
    // The disabled button tells finish() that the user cancelled.
    m_ldownstop->setEnabled(false);
    m_download->DLFileStop();
    hide();
}

void DownloadPanel::finish(const DownloadResult &result)
{
    m_downloading = false;
    const bool cancelled = !m_ldownstop->isEnabled();
    if (result.complete)
        rememberDownload(result.localPath);
    if (cancelled || (result.complete && result.bytes == 0)) {
        backToIdle();
        return;
    }
    if (!result.complete) {
        // The panel keeps the failure's status in view.
        qWarning().noquote() << "Installer download failed:" << result.error;
        m_ldownstop->setEnabled(false);
        return;
    }
    if (m_platform.askYesNo(QStringLiteral("成功"),
                            QStringLiteral("安装程序下载完成，是否现在开始安装？"), this)) {
        m_platform.openUrl(result.localPath);
        m_platform.exitNow(0);
    }
    backToIdle();
}

void DownloadPanel::backToIdle()
{
    m_ldownstop->setEnabled(false);
    hide();
}

} // namespace norvale
