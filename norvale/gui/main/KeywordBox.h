#pragma once

#include <QLineEdit>

namespace norvale {

// The keyword box, lfind: a line box that also holds a pasted or imported
// keyword list. A line box lays its whole text out again at every key press
// and repaint, the cursor's blink included: over 48,000 characters that took
// 15-60 ms twice a second, and over a long list it takes seconds. A list
// longer than kShownWhole characters is therefore kept, edited and searched
// as ever but not drawn: the box shows its first keywords, greyed, and the
// count beside the progress bar says how many it holds.
class KeywordBox final : public QLineEdit {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KeywordBox)

public:
    static constexpr qsizetype kShownWhole = 4 * 1024;

    explicit KeywordBox(QWidget *parent = nullptr);

    // Sets the text without laying a long one out first.
    void setList(const QString &text);
    bool showsWhole() const { return echoMode() == QLineEdit::Normal; }

protected:
    void paintEvent(QPaintEvent *event) override;
    // A long list pasted is not laid out either, not even once.
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void fitTo(const QString &text);
    void fitToPaste();

    QString m_summary;  // what the box shows of a long list
};

} // namespace norvale
