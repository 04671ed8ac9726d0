#pragma once

#include "norvale/gui/platform/Twips.h"

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

namespace norvale {

// Helpers for windows laid out in twips, as every window of the program is.

inline QRect twipRect(int left, int top, int width, int height)
{
    return {twips(left), twips(top), twips(width), twips(height)};
}

// The face of the windows' controls where none is given: it keeps Latin
// captions such as "WHOIS" inside their narrow buttons.
QFont windowFace();

// A new child widget with its name as objectName, at a fixed place.
template <typename W>
W *place(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *widget = new W(parent);
    widget->setObjectName(QLatin1StringView(name));
    widget->setGeometry(geometry);
    return widget;
}

// A push button that Enter in another control never presses.
QPushButton *button(QWidget *parent, const char *name, const QString &caption, const QRect &geometry);

// A label sized in twips for a face with tighter lines than the substituted
// one grows just enough to show its text whole. A right-aligned one grows to
// the left and a vertically centred one both ways, so that the text keeps
// its place.
void fitText(QLabel *label, const QString &widest);

} // namespace norvale
