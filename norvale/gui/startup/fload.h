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

    // Closes the splash because start-up has moved on, not because the user
    // gave up.
    void dismiss();

signals:
    // The user asked to give up while connecting: Escape, or the window's
    // close button.
    void cancelRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *m_label2 = nullptr;
    QLabel *m_label1 = nullptr;
    bool m_dismissed = false;
};

} // namespace norvale
