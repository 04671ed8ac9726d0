#pragma once

#include "norvale/about/ConfigRecord.h"

#include <QWidget>

class QGroupBox;
class QPushButton;

namespace norvale {

class Platform;

// The about window. It is created hidden once the configuration has been
// loaded and only ever hidden afterwards, because it holds the configuration
// record that every other window reads by key.
class Fabout final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Fabout)

public:
    Fabout(ConfigRecord record, Platform &platform, QWidget *parent = nullptr);

    // The loaded text of a configuration key.
    QString value(QStringView key) const { return m_record.value(key); }
    QString value(QLatin1StringView key) const { return m_record.value(key); }
    const ConfigRecord &record() const { return m_record; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    ConfigRecord m_record;
    Platform &m_platform;
    QGroupBox *m_hidden = nullptr;
    QPushButton *m_ldownact = nullptr;
};

} // namespace norvale
