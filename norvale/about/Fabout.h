#pragma once

#include "norvale/about/ConfigRecord.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace norvale {

class DownloadPanel;
class Platform;

// The about window "版权申明": product and version, the newest version with
// the upgrade offer, the feature list and the operator's contact links and
// pictures. It is created hidden once the configuration has been loaded and
// only ever hidden afterwards, because it holds the configuration record
// that every other window reads by key.
class Fabout final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Fabout)

public:
    // programFolder is where an upgrade's installer is saved (see
    // DownloadPanel); empty means the running program's folder.
    Fabout(ConfigRecord record, Platform &platform, const QString &programFolder = QString(),
           QWidget *parent = nullptr);

    // The loaded text of a configuration key.
    QString value(QStringView key) const { return m_record.value(key); }
    QString value(QLatin1StringView key) const { return m_record.value(key); }
    const ConfigRecord &record() const { return m_record; }

    // Loads the two contact pictures off the interface thread unless the QQ
    // picture is already there (or on its way); each appears when it arrives.
    void checkimg();

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

    ConfigRecord m_record;
    Platform &m_platform;
    int m_picturesPending = 0;
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
