#include "norvale/gui/platform/Accessibility.h"

#include <QAccessibleWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace norvale {

namespace {

const char *const BlankNameProperty = "norvaleBlankName";
const char *const ProgressProperty = "norvaleProgress";
const char *const WindowProperty = "norvaleWindow";

// Opens a link from the keyboard and shows where the focus is.
class LinkKeys final : public QObject {
    Q_OBJECT

public:
    LinkKeys(QWidget *link, std::function<void()> open) : QObject(link), m_open(std::move(open))
    {
        link->installEventFilter(this);
    }

    void open() const { m_open(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *frame = qobject_cast<QFrame *>(watched);
        switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
                open();
                return true;
            }
            break;
        }
        case QEvent::FocusIn:
            if (frame)
                frame->setFrameShape(QFrame::Box);
            break;
        case QEvent::FocusOut:
            if (frame)
                frame->setFrameShape(QFrame::NoFrame);
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_open;
};

class BlankNamedLabel final : public QAccessibleWidget {
public:
    explicit BlankNamedLabel(QLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        const auto *label = static_cast<const QLabel *>(widget());
        const QString shown = label->text().trimmed();
        return shown.isEmpty() ? label->property(BlankNameProperty).toString() : shown;
    }
};

class ProgressBar final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressBar(QWidget *widget) : QAccessibleWidget(widget, QAccessible::ProgressBar) {}

    // The track, fill and percentage are drawing, not controls.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return currentValue().toString() + u'%';
        return QAccessibleWidget::text(t);
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return widget()->property(ProgressProperty).toInt(); }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

class Link final : public QAccessibleWidget {
public:
    Link(QWidget *widget, const LinkKeys *keys)
        : QAccessibleWidget(widget, QAccessible::Link), m_keys(keys)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty()) {
            if (const auto *label = qobject_cast<const QLabel *>(widget()))
                text = label->text();
        }
        return text;
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override
    {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        // After the assistive tool's request has been answered: opening may
        // take the desktop a while.
        QMetaObject::invokeMethod(widget(), [keys = QPointer<const LinkKeys>(m_keys)] {
            if (keys)
                keys->open();
        }, Qt::QueuedConnection);
    }
    QStringList keyBindingsForAction(const QString &name) const override
    {
        if (name == pressAction())
            return {QStringLiteral("Return")};
        return QAccessibleWidget::keyBindingsForAction(name);
    }

private:
    QPointer<const LinkKeys> m_keys;
};

QAccessibleInterface *accessibleFor(const QString &, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (const auto *keys = widget->findChild<LinkKeys *>(QString(), Qt::FindDirectChildrenOnly))
        return new Link(widget, keys);
    if (widget->property(ProgressProperty).isValid())
        return new ProgressBar(widget);
    if (widget->property(WindowProperty).isValid())
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (auto *label = qobject_cast<QLabel *>(widget); label && label->property(BlankNameProperty).isValid())
        return new BlankNamedLabel(label);
    return nullptr;
}

// Installs the factory, and forgets how the widget read so far: an event
// while it was being built (a text set) may have made Qt read it already.
void readAfresh(QWidget *widget)
{
    QAccessible::installFactory(&accessibleFor);
    if (QAccessibleInterface *read = QAccessible::queryAccessibleInterface(widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(read));
}

} // namespace

void readAsWindow(QWidget *window)
{
    window->setProperty(WindowProperty, true);
    readAfresh(window);
}

void nameWhenBlank(QLabel *label, const QString &blank)
{
    label->setProperty(BlankNameProperty, blank);
    readAfresh(label);
}

void readAsProgressBar(QWidget *widget)
{
    widget->setProperty(ProgressProperty, 0);
    readAfresh(widget);
}

void setProgress(QWidget *widget, int percent)
{
    if (widget->property(ProgressProperty).toInt() == percent)
        return;
    widget->setProperty(ProgressProperty, percent);
    QAccessibleValueChangeEvent event(widget, percent);
    QAccessible::updateAccessibility(&event);
}

void makeKeyboardLink(QWidget *widget, std::function<void()> open)
{
    widget->setFocusPolicy(Qt::StrongFocus);
    new LinkKeys(widget, std::move(open));
    readAfresh(widget);
}

} // namespace norvale

#include "Accessibility.moc"
