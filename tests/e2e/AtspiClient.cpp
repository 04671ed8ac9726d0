#include "tests/e2e/AtspiClient.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>

using namespace Qt::StringLiterals;

namespace norvale::test {

namespace {

const QString Accessible = u"org.a11y.atspi.Accessible"_s;
constexpr int CallTimeoutMs = 5000;

AtspiClient::Node readNode(const QDBusArgument &argument)
{
    AtspiClient::Node node;
    argument.beginStructure();
    argument >> node.service >> node.path;
    argument.endStructure();
    return node;
}

} // namespace

bool AtspiClient::connectToBus(QString *error)
{
    const QDBusMessage address = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(u"org.a11y.Bus"_s, u"/org/a11y/bus"_s, u"org.a11y.Bus"_s, u"GetAddress"_s),
        QDBus::Block, CallTimeoutMs);
    if (address.type() != QDBusMessage::ReplyMessage) {
        *error = u"no accessibility bus: "_s + address.errorMessage();
        return false;
    }
    m_bus = QDBusConnection::connectToBus(address.arguments().value(0).toString(), u"atspi"_s);
    if (!m_bus.isConnected()) {
        *error = u"cannot connect to the accessibility bus: "_s + m_bus.lastError().message();
        return false;
    }
    // A program sends focus changes only once someone has asked for them.
    m_bus.connect(QString(), QString(), u"org.a11y.atspi.Event.Object"_s, u"StateChanged"_s, this,
                  SLOT(onStateChanged(QDBusMessage)));
    const Node registry{u"org.a11y.atspi.Registry"_s, QDBusObjectPath(u"/org/a11y/atspi/registry"_s)};
    const QDBusMessage registered = call(registry, u"org.a11y.atspi.Registry"_s, u"RegisterEvent"_s,
                                         {u"object:state-changed:focused"_s});
    if (registered.type() != QDBusMessage::ReplyMessage) {
        *error = u"the accessibility registry does not answer: "_s + registered.errorMessage();
        return false;
    }
    return true;
}

QDBusMessage AtspiClient::call(const Node &node, const QString &interface, const QString &method,
                               const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(node.service, node.path.path(), interface, method);
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, CallTimeoutMs);
}

QVariant AtspiClient::property(const Node &node, const QString &interface, const QString &name)
{
    const QDBusMessage reply = call(node, u"org.freedesktop.DBus.Properties"_s, u"Get"_s, {interface, name});
    return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
}

AtspiClient::Node AtspiClient::nodeAt(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return readNode(qvariant_cast<QDBusArgument>(reply.arguments().first()));
}

AtspiClient::Node AtspiClient::application(const QString &name)
{
    const Node desktop{u"org.a11y.atspi.Registry"_s, QDBusObjectPath(u"/org/a11y/atspi/accessible/root"_s)};
    for (const Node &program : children(desktop)) {
        if (this->name(program) == name)
            return program;
    }
    return {};
}

QString AtspiClient::name(const Node &node)
{
    return property(node, Accessible, u"Name"_s).toString();
}

QString AtspiClient::roleName(const Node &node)
{
    return call(node, Accessible, u"GetRoleName"_s).arguments().value(0).toString();
}

QList<AtspiClient::Node> AtspiClient::children(const Node &node)
{
    QList<Node> found;
    const QDBusMessage reply = call(node, Accessible, u"GetChildren"_s);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return found;
    const auto list = qvariant_cast<QDBusArgument>(reply.arguments().value(0));
    list.beginArray();
    while (!list.atEnd())
        found << readNode(list);
    list.endArray();
    return found;
}

bool AtspiClient::has(const Node &node, State state)
{
    const auto words = qdbus_cast<QList<uint>>(call(node, Accessible, u"GetState"_s).arguments().value(0));
    return words.size() >= 2 && ((quint64(words[1]) << 32 | words[0]) >> state & 1);
}

AtspiClient::Node AtspiClient::find(const Node &from, const QString &role, const QString &name, bool prefix)
{
    for (const Node &child : children(from)) {
        if (!has(child, Showing))
            continue;
        const QString childRole = roleName(child);
        const QString childName = this->name(child);
        if (childRole == role && (prefix ? childName.startsWith(name) : childName == name))
            return child;
        // A table's cells are read through the table.
        if (childRole == QLatin1StringView("table"))
            continue;
        if (const Node below = find(child, role, name, prefix); !below.isNull())
            return below;
    }
    return {};
}

AtspiClient::Node AtspiClient::cell(const Node &table, int row, int column)
{
    return nodeAt(call(table, TableInterface, u"GetAccessibleAt"_s, {row, column}));
}

AtspiClient::Node AtspiClient::columnHeader(const Node &table, int column)
{
    return nodeAt(call(table, TableInterface, u"GetColumnHeader"_s, {column}));
}

QString AtspiClient::text(const Node &node)
{
    return call(node, u"org.a11y.atspi.Text"_s, u"GetText"_s, {0, -1}).arguments().value(0).toString();
}

QRect AtspiClient::extents(const Node &node)
{
    // Coordinates on the screen (ATSPI_COORD_TYPE_SCREEN).
    const QDBusMessage reply = call(node, u"org.a11y.atspi.Component"_s, u"GetExtents"_s,
                                    {QVariant::fromValue(uint(0))});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};
    const auto box = qvariant_cast<QDBusArgument>(reply.arguments().value(0));
    int x = 0, y = 0, width = 0, height = 0;
    box.beginStructure();
    box >> x >> y >> width >> height;
    box.endStructure();
    return {x, y, width, height};
}

QList<AtspiClient::Node> AtspiClient::takeFocusChanges()
{
    return std::exchange(m_focused, {});
}

void AtspiClient::onStateChanged(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.value(0).toString() == QLatin1StringView("focused") && arguments.value(1).toInt() == 1)
        m_focused << Node{message.service(), QDBusObjectPath(message.path())};
}

} // namespace norvale::test
