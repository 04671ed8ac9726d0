#pragma once

#include <QString>

#include <functional>

class QLabel;
class QWidget;

namespace norvale {

// How a few controls read to a screen reader and work from the keyboard,
// where what Qt gives them falls short. Each call may be made any number of
// times; the first one teaches Qt's accessibility how to read such controls.

// A window of its own that is a plain widget reads as a window (Qt would
// read it as a filler panel), named by its title.
void readAsWindow(QWidget *window);

// The label's accessible name is its text, or `blank` while the text is
// empty or only spaces, so that a screen reader never reads out nothing.
void nameWhenBlank(QLabel *label, const QString &blank);

// The widget reads as a progress bar from 0 to 100 %, without its parts
// (track, fill, percentage text); setProgress changes what it reports.
void readAsProgressBar(QWidget *widget);
void setProgress(QWidget *widget, int percent);

// The widget reads and works as a link: Tab reaches it, a frame shows that it
// has the focus, Enter or Space opens it, and a screen reader sees a link
// whose press action opens it.
void makeKeyboardLink(QWidget *widget, std::function<void()> open);

} // namespace norvale
