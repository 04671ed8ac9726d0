#include "kestrup/Form1.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace kestrup {

namespace {

// The layout is drawn in twips; 15 twips make one pixel at 96 dpi.
constexpr int twips(int value)
{
    return (value + 7) / 15;
}

// A screen reader meets the window as a window, not as a filler panel.
QAccessibleInterface *readAsWindow(const QString &className, QObject *object)
{
    if (className == QLatin1StringView(Form1::staticMetaObject.className()) && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

Form1::Form1(QWidget *parent) : QWidget(parent, Qt::Window)
{
    QAccessible::installFactory(&readAsWindow);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Kestrup"));
    setFixedSize(twips(4680), twips(3090));

    m_label1 = new QLabel(QStringLiteral("正在进行环境配置，请稍候。。。"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setTextFormat(Qt::PlainText);
    // The face that draws the Chinese text may be wider than the one the box
    // was drawn for; grow the box rather than cut the text.
    QRect box(twips(840), twips(600), twips(3375), twips(495));
    box.setWidth(qMax(box.width(), m_label1->sizeHint().width()));
    box.setHeight(qMax(box.height(), m_label1->sizeHint().height()));
    m_label1->setGeometry(box);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void Form1::finish()
{
    m_finished = true;
    close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_finished) {
        event->accept();
        return;
    }
    event->ignore();
    emit stopRequested();
}

} // namespace kestrup
