#pragma once

#include <QWidget>

class QLabel;

namespace norvale {

// The splash shown while the program connects to its database.
class fload final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fload)

public:
    explicit fload(QWidget *parent = nullptr);

signals:
    // The user asked to give up while connecting.
    void escapePressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLabel *m_label2 = nullptr;
    QLabel *m_label1 = nullptr;
};

} // namespace norvale
