#include "norvale/gui/platform/WindowLayout.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace norvale {

QFont windowFace()
{
    QFont face;
    face.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("宋体")});
    face.setPointSize(9);
    return face;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *b = place<QPushButton>(parent, name, geometry);
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

void fitText(QLabel *label, const QString &widest)
{
    const QFontMetrics metrics = label->fontMetrics();
    QRect box = label->geometry();
    const int needed = metrics.horizontalAdvance(widest) + 2 + std::max(0, label->indent());
    const int width = std::max(box.width(), needed);
    if (label->alignment() & Qt::AlignRight)
        box.setLeft(box.right() + 1 - width);
    else
        box.setWidth(width);
    const int grow = std::max(0, metrics.height() - box.height());
    if (label->alignment() & Qt::AlignVCenter)
        box.moveTop(box.top() - grow / 2);  // the text stays on its line
    box.setHeight(box.height() + grow);
    label->setGeometry(box);
}

} // namespace norvale
