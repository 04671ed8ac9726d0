#pragma once

#include "norvale/gui/main/KeywordBox.h"
#include "norvale/gui/main/ResultGridView.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

namespace norvale::test {

// A window's control found by its objectName, as a user's tools find it. A
// control that is not there ends the run: the test cannot go on without it.
template <typename T>
T *control(const QObject &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qFatal("no control %s in %s", qPrintable(name), qPrintable(window.objectName()));
    return found;
}

template <typename T>
T *control(const QObject &window, const char *name)
{
    return control<T>(window, QString::fromLatin1(name));
}

// The main window's box of extension kind index ("lextendnum(index)").
inline QCheckBox *kindBox(const QObject &window, int index)
{
    return control<QCheckBox>(window, QStringLiteral("lextendnum(%1)").arg(index));
}

} // namespace norvale::test
