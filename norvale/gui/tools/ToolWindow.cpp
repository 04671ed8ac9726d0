#include "norvale/gui/tools/ToolWindow.h"

#include "norvale/gui/platform/Accessibility.h"
#include "norvale/gui/platform/WindowLayout.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace norvale {

ToolWindow::ToolWindow(const char *name, const QString &caption, int clientWidthTwips,
                       int clientHeightTwips)
    // A window of its own, owned by nobody, as the main window shows it.
    : QWidget(nullptr, Qt::Window)
{
    setObjectName(QLatin1StringView(name));
    setWindowTitle(caption);
    readAsWindow(this);
    setFont(windowFace());
    setFixedSize(twips(clientWidthTwips), twips(clientHeightTwips));
    // Escape hides the window wherever the focus is in it (the input box,
    // the result, a list), so a keyboard user is never held in it.
    connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this, &QWidget::hide);
}

ToolWindow::~ToolWindow() = default;

void ToolWindow::buildInputRow(const InputRow &row)
{
    if (!row.hint.isEmpty()) {
        m_hint = place<QLabel>(this, "Label9", row.hint);
        m_hint->setText(QStringLiteral("http://www."));
        m_hint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    m_ltext = place<QLineEdit>(this, "ltext", row.text);
    m_ltext->setAccessibleName(row.inputName);
    if (m_hint)
        m_hint->setBuddy(m_ltext);
    m_lfind = button(this, "lfind", row.findCaption, row.find);
    m_lclose = button(this, "lclose", QStringLiteral("关  闭"), row.close);
    // A listener hears the word, not two characters.
    m_lclose->setAccessibleName(QStringLiteral("关闭"));

    connect(m_ltext, &QLineEdit::returnPressed, this, [this] { lfind_Click(); });
    connect(m_lfind, &QPushButton::clicked, this, [this] { lfind_Click(); });
    connect(m_lclose, &QPushButton::clicked, this, [this] { closeRequested(); });
    // No label ever interprets markup.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    // First in the tab order, so the window opens with the focus in it.
    m_ltext->setFocus();
}

void ToolWindow::focusInput()
{
    if (isVisible())
        m_ltext->setFocus();
}

void ToolWindow::closeRequested()
{
    hide();
}

} // namespace norvale
