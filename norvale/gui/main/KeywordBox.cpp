#include "norvale/gui/main/KeywordBox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace norvale {

KeywordBox::KeywordBox(QWidget *parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, &KeywordBox::fitTo);
}

void KeywordBox::setList(const QString &text)
{
    fitTo(text);
    setText(text);
}

void KeywordBox::fitTo(const QString &text)
{
    const bool whole = text.size() <= kShownWhole;
    if (!whole) {
        // The first keywords, in one line, as far as the box is wide.
        QString start = text.left(256);
        start.replace(u'\n', QStringLiteral("  "));
        m_summary = start;
    }
    if (showsWhole() != whole)
        setEchoMode(whole ? QLineEdit::Normal : QLineEdit::NoEcho);
}

void KeywordBox::fitToPaste()
{
    const QString pasted = QGuiApplication::clipboard()->text();
    if (text().size() + pasted.size() > kShownWhole && showsWhole())
        setEchoMode(QLineEdit::NoEcho);
}

void KeywordBox::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Paste))
        fitToPaste();
    QLineEdit::keyPressEvent(event);
    fitTo(text());
}

void KeywordBox::contextMenuEvent(QContextMenuEvent *event)
{
    fitToPaste();
    QLineEdit::contextMenuEvent(event);
    fitTo(text());
}

void KeywordBox::paintEvent(QPaintEvent *event)
{
    if (showsWhole()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    const QRect room = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).adjusted(2, 0, -2, 0);
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(m_summary, Qt::ElideRight, room.width()));
}

} // namespace norvale
