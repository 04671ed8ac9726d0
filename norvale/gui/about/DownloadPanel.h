#pragma once

#include <QGroupBox>

class QLabel;
class QPushButton;

namespace norvale {

class Cls_DownLoad;
class Platform;
struct DownloadResult;

// The about window's download panel "下载信息": it fetches the newest
// installer on a worker, shows its phases and progress as they come (at most
// once a frame), offers a cancel, and when the installer is whole asks
// whether to start it; on Yes it opens the installer and ends the program.
//
// A download that fails stays on the panel with the reason until the about
// window is hidden or the user tries again; a cancelled one, one the user
// declines and an empty one leave the panel hidden.
class DownloadPanel final : public QGroupBox {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadPanel)

public:
    // The installer goes into programFolder (empty: the running program's
    // folder), or into the user's download folder when that cannot be
    // written.
    DownloadPanel(Platform &platform, QString programFolder, QWidget *parent = nullptr);
    ~DownloadPanel() override;

    // The upgrade click. Does nothing while a download runs.
    void startDownload(const QString &address);
    bool isDownloading() const { return m_downloading; }
    // Hides a finished download's report; a running download keeps its panel.
    void dismissReport();

    Cls_DownLoad &download() const { return *m_download; }
    QLabel *ltext() const { return m_ltext; }
    QLabel *lstat() const { return m_lstat; }
    QPushButton *ldownstop() const { return m_ldownstop; }

private:
    void showStatus(int status);
    void showProgress(qint64 downloaded, qint64 fileSize, qint64 speed);
    void cancel();
    void finish(const DownloadResult &result);
    void backToIdle();

    Platform &m_platform;
    const QString m_programFolder;
    Cls_DownLoad *m_download = nullptr;
    bool m_downloading = false;
    QLabel *m_ltext = nullptr;
    QLabel *m_lstat = nullptr;
    QPushButton *m_ldownstop = nullptr;
};

} // namespace norvale
