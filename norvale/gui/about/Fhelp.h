#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace norvale {

// The readme viewer: "readme.txt" from the program's folder, read once when
// the viewer is made. Closing it destroys it, so the next one reads the
// file again.
class Fhelp final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Fhelp)

public:
    explicit Fhelp(const QString &programFolder, QWidget *parent = nullptr);

    QPlainTextEdit *ltext() const { return m_ltext; }
    QPushButton *command1() const { return m_Command1; }

private:
    QPlainTextEdit *m_ltext = nullptr;
    QPushButton *m_Command1 = nullptr;
};

} // namespace norvale
