#pragma once

#include <QWidget>

class QLabel;

namespace kestrup {

// Kestrup's one window: the waiting text while the components are set up.
// Closing it by hand while the work runs only asks the work to stop; the
// window closes once the work is done.
class Form1 final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form1)

public:
    explicit Form1(QWidget *parent = nullptr);

    // Closes the window for good; Kestrup ends with it.
    void finish();

signals:
    void stopRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *m_label1 = nullptr;
    bool m_finished = false;
};

} // namespace kestrup
