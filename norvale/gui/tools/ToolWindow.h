#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace norvale {

// What the three lookup windows share: the input box `ltext` with its
// buttons `lfind` and `lclose`, Enter in `ltext` running the lookup, Escape
// hiding the window (in `ltext` and wherever else the focus is), and the
// public lookup `lfind_Click` through which the main window starts one.
class ToolWindow : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToolWindow)

public:
    ~ToolWindow() override;

    // One lookup on the text of ltext, exactly as lfind does.
    virtual void lfind_Click() = 0;

    QLineEdit *ltext() const { return m_ltext; }
    QPushButton *lfind() const { return m_lfind; }
    QPushButton *lclose() const { return m_lclose; }

protected:
    // The input row, in twips. An empty hint rectangle leaves out the
    // "http://www." hint before ltext.
    struct InputRow {
        QRect hint;
        QRect text;
        QString inputName;  // what a screen reader calls ltext
        QString findCaption;
        QRect find;
        QRect close;
    };

    ToolWindow(const char *name, const QString &caption, int clientWidthTwips, int clientHeightTwips);

    // Builds the input row and connects Enter, lfind and lclose.
    void buildInputRow(const InputRow &row);
    QLabel *hint() const { return m_hint; }
    // After a lookup: ltext takes the focus when the window is shown.
    void focusInput();
    // lclose: by default the window is hidden.
    virtual void closeRequested();

private:
    QLabel *m_hint = nullptr;
    QLineEdit *m_ltext = nullptr;
    QPushButton *m_lfind = nullptr;
    QPushButton *m_lclose = nullptr;
};

} // namespace norvale
