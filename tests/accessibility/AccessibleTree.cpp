#include "tests/accessibility/AccessibleTree.h"

#include <QAccessible>
#include <QMetaEnum>
#include <QRegularExpression>

namespace norvale::test {

namespace {

QString roleName(QAccessible::Role role)
{
    return QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(role));
}

QString oneLine(QString text)
{
    return text.replace(u'\n', QStringLiteral("\\n"));
}

void describe(QAccessibleInterface *node, int depth, QStringList &lines)
{
    const QAccessible::State state = node->state();
    if (state.invisible)
        return;
    QString line = QString(depth * 2, u' ') + roleName(node->role()) + u" \"" + oneLine(node->text(QAccessible::Name))
                   + u'"';
    if (const QString value = node->text(QAccessible::Value); !value.isEmpty())
        line += u" = " + oneLine(value);
    if (const QString description = node->text(QAccessible::Description); !description.isEmpty())
        line += u" — " + oneLine(description);
    if (state.checked)
        line += QStringLiteral(" [checked]");
    if (state.disabled)
        line += QStringLiteral(" [disabled]");
    // Keys come with an action or, for menu entries, as the accelerator.
    QStringList keys{node->text(QAccessible::Accelerator)};
    if (QAccessibleActionInterface *actions = node->actionInterface()) {
        for (const QString &action : actions->actionNames())
            keys << actions->keyBindingsForAction(action);
    }
    keys.removeAll(QString());
    keys.removeDuplicates();
    if (!keys.isEmpty())
        line += u" (" + keys.join(QStringLiteral(", ")) + u')';
    if (QAccessibleTableInterface *table = node->tableInterface())
        line += u" {" + QString::number(table->columnCount()) + QStringLiteral(" columns}");
    lines << line;
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface *child = node->child(i))
            describe(child, depth + 1, lines);
    }
}

} // namespace

QString accessibleTree(QObject *root)
{
    QStringList lines;
    if (QAccessibleInterface *node = QAccessible::queryAccessibleInterface(root))
        describe(node, 0, lines);
    return lines.join(u'\n') + u'\n';
}

QStringList unnamedNodes(const QString &tree)
{
    // Containers and drawing need no name: a listener meets what is inside.
    static const QRegularExpression unnamed(
        QStringLiteral(R"(^\s*(?!Client |Pane |Separator |Border |ScrollBar |Filler |Cell )\w+ "\s*")"));
    QStringList found;
    for (const QString &line : tree.split(u'\n')) {
        if (unnamed.match(line).hasMatch())
            found << line;
    }
    return found;
}

} // namespace norvale::test
