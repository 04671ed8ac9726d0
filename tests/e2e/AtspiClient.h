#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QVariant>

class QDBusMessage;

namespace norvale::test {

// A screen reader's view of the programs on the desktop: the accessibility
// bus (AT-SPI) read over D-Bus, as Orca reads it. Only what the desktop
// tests need.
class AtspiClient final : public QObject {
    Q_OBJECT

public:
    // One accessible object of some program.
    struct Node {
        QString service;
        QDBusObjectPath path;
        bool isNull() const { return service.isEmpty(); }
        bool operator==(const Node &other) const = default;
    };

    // Connects to the session's accessibility bus and asks to be told of
    // focus changes; false with a reason when that is impossible.
    bool connectToBus(QString *error);

    // The running program that calls itself name; null when there is none.
    Node application(const QString &name);

    QString name(const Node &node);
    QString roleName(const Node &node);
    QList<Node> children(const Node &node);
    // AtspiStateType
    enum State { Focused = 12, Showing = 25 };
    bool has(const Node &node, State state);
    // The first showing node below from (depth first) with that role name
    // whose accessible name is name, or begins with it when prefix is set;
    // null when there is none.
    Node find(const Node &from, const QString &role, const QString &name, bool prefix = false);

    int rowCount(const Node &table) { return property(table, TableInterface, QStringLiteral("NRows")).toInt(); }
    int columnCount(const Node &table) { return property(table, TableInterface, QStringLiteral("NColumns")).toInt(); }
    Node cell(const Node &table, int row, int column);
    Node columnHeader(const Node &table, int column);
    // The text of a text box, or of what the Text interface offers.
    QString text(const Node &node);
    // Where the object is on the screen.
    QRect extents(const Node &node);

    // Every object that said it took the focus since the last call, in order.
    QList<Node> takeFocusChanges();

private slots:
    void onStateChanged(const QDBusMessage &message);

private:
    static constexpr QLatin1StringView TableInterface{"org.a11y.atspi.Table"};

    QDBusMessage call(const Node &node, const QString &interface, const QString &method,
                      const QVariantList &arguments = {});
    QVariant property(const Node &node, const QString &interface, const QString &name);
    Node nodeAt(const QDBusMessage &reply);

    QDBusConnection m_bus{QString()};
    QList<Node> m_focused;
};

} // namespace norvale::test
