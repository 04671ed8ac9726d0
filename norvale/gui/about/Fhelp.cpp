#include "norvale/gui/about/Fhelp.h"

#include "norvale/core/help/ReadmeText.h"
#include "norvale/gui/platform/Accessibility.h"
#include "norvale/gui/platform/Twips.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>

namespace norvale {

Fhelp::Fhelp(const QString &programFolder, QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Fhelp"));
    setWindowTitle(QStringLiteral("软件说明"));
    readAsWindow(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twips(7635), twips(7005));

    m_ltext = new QPlainTextEdit(this);
    m_ltext->setObjectName(QStringLiteral("ltext"));
    m_ltext->setGeometry(twips(120), twips(120), twips(7335), twips(6135));
    m_ltext->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_ltext->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_ltext->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_ltext->setReadOnly(true);
    m_ltext->setTabChangesFocus(true);  // Tab leaves the read-only text
    m_ltext->setAccessibleName(QStringLiteral("软件说明"));
    m_ltext->setPlainText(readmeViewerText(programFolder));

    m_Command1 = new QPushButton(QStringLiteral("退  出"), this);
    m_Command1->setObjectName(QStringLiteral("Command1"));
    m_Command1->setAccessibleName(QStringLiteral("退出"));
    m_Command1->setGeometry(twips(3120), twips(6360), twips(975), twips(495));
    connect(m_Command1, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this, &QWidget::close);
}

} // namespace norvale
