#pragma once

#include "norvale/core/config/Configuration.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace norvale {

class DownloadPanel;
class Platform;

// The about window "版权申明": product and version, the newest version with
// the upgrade offer, the feature list and the operator's contact links and
// pictures. It shows the configuration and fills in once that has loaded;
// closing only hides it.
class Fabout final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Fabout)

public:
    // programFolder is where an upgrade's installer is saved (see
    // DownloadPanel); empty means the running program's folder. The
    // configuration must outlive the window.
    Fabout(const Configuration &config, Platform &platform, const QString &programFolder = QString(),
           QWidget *parent = nullptr);

    // Loads the two contact pictures off the interface thread unless the QQ
    // picture is already there (or on its way); each appears when it arrives.
    void checkimg();
    bool picturesOnTheirWay() const { return m_picturesPending > 0; }

    DownloadPanel *fdownload() const { return m_fdownload; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildHeader();
    void buildContacts();
    void loadPicture(QLabel *target, const QString &source);
    void openLink(QObject *link);
    void showConfiguration();

    const Configuration &m_config;
    Platform &m_platform;
    int m_picturesPending = 0;
    QLabel *m_lver = nullptr;
    QPushButton *m_ldownact = nullptr;
    QLabel *m_lfontori = nullptr;
    QLabel *m_lmail = nullptr;
    QLabel *m_limgqq = nullptr;
    QLabel *m_lqq = nullptr;
    QLabel *m_ltaobao = nullptr;
    QLabel *m_lhomeurl = nullptr;
    DownloadPanel *m_fdownload = nullptr;
    QGroupBox *m_hidden = nullptr;
};

} // namespace norvale
