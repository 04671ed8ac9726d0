#include "norvale/about/Fabout.h"

#include "norvale/platform/Twips.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace norvale {

Fabout::Fabout(ConfigRecord record, Platform &platform, QWidget *parent)
    : QWidget(parent, Qt::Window), m_record(std::move(record)), m_platform(platform)
{
    setObjectName(QStringLiteral("Fabout"));
    setWindowTitle(QStringLiteral("版权申明"));
    setFixedSize(twips(6585), twips(5985));

    m_ldownact = new QPushButton(QStringLiteral("点击升级"), this);
    m_ldownact->setObjectName(QStringLiteral("ldownact"));
    m_ldownact->setGeometry(twips(4800), twips(600), twips(1215), twips(375));
    m_ldownact->setVisible(offersUpgrade(m_record.value(u"lver")));

    // The configuration holders: one plain-text label per key in a frame
    // that is never shown.
    m_hidden = new QGroupBox(QStringLiteral("hidden"), this);
    m_hidden->setObjectName(QStringLiteral("hidden"));
    m_hidden->setGeometry(0, height() - 1, width(), 1);
    for (const QLatin1StringView key : kConfigKeys) {
        auto *holder = new QLabel(m_hidden);
        holder->setObjectName(key);
        holder->setTextFormat(Qt::PlainText);
        holder->setText(m_record.value(key));
    }
    m_hidden->hide();
}

void Fabout::closeEvent(QCloseEvent *event)
{
    // Closing only hides: the record must outlive every view of the window.
    event->ignore();
    hide();
}

} // namespace norvale
