#include "norvale/gui/startup/fload.h"

#include "norvale/gui/platform/Accessibility.h"
#include "norvale/gui/platform/Twips.h"

#include <QGuiApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

namespace norvale {

namespace {

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, qreal pointSize,
                  const QColor &colour, QRect box)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1StringView(name));
    label->setTextFormat(Qt::PlainText);
    QFont font(QStringLiteral("宋体"));
    font.setPointSizeF(pointSize);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    // The substituted face is taller than the one the boxes were drawn for;
    // grow a box rather than cut its text.
    const QSize needed = label->sizeHint();
    box.setWidth(qMax(box.width(), needed.width()));
    box.setHeight(qMax(box.height(), needed.height()));
    label->setGeometry(box);
    return label;
}

} // namespace

fload::fload(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("fload"));
    setWindowTitle(QStringLiteral("Norvale"));
    readAsWindow(this);
    setFixedSize(twips(4845), twips(2880));

    m_label2 = makeLabel(this, "Label2", QStringLiteral("正在连接域名数据库。。。。"), 15.75,
                         QColor(128, 0, 0), QRect(twips(480), twips(480), twips(5295), twips(375)));
    m_label1 = makeLabel(this, "Label1", QStringLiteral("请稍候"), 14.25, QColor(128, 0, 128),
                         QRect(twips(1800), twips(1320), twips(1215), twips(495)));

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void fload::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        emit cancelRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

void fload::dismiss()
{
    m_dismissed = true;
    close();
}

void fload::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (!m_dismissed)
        emit cancelRequested();
}

} // namespace norvale
