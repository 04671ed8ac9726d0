#pragma once

#include <QString>
#include <QStringList>

class QObject;

namespace norvale::test {

// What a screen reader finds below an object, one line per node it would
// read (invisible nodes and their subtrees are left out), indented two
// spaces per level:
//     Role "name" = value — description [checked] (keys)
// A table lists its column count and its children (header cells first).
QString accessibleTree(QObject *root);

// The lines of a tree whose node a listener could not tell apart: a control
// without a name, or with a name of only spaces.
QStringList unnamedNodes(const QString &tree);

} // namespace norvale::test
