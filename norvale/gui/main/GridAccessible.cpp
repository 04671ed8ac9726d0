#include "norvale/gui/main/GridAccessible.h"

#include "norvale/gui/main/ResultGridView.h"

#include <QHeaderView>
#include <QPersistentModelIndex>
#include <QPointer>

namespace norvale {

namespace {

QRect onScreen(const QWidget *widget, const QRect &local)
{
    return local.isValid() ? local.translated(widget->mapToGlobal(QPoint(0, 0))) : QRect();
}

// Shared by cells and header cells: neither has children or a widget.
class GridPart : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    explicit GridPart(ResultGridView *view) : m_view(view) {}

    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_view); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override {}
    QStringList actionNames() const override { return {pressAction()}; }

protected:
    GridAccessible *grid() const { return static_cast<GridAccessible *>(parent()); }

    QPointer<ResultGridView> m_view;
};

class GridCell final : public GridPart, public QAccessibleTableCellInterface {
public:
    GridCell(ResultGridView *view, const QModelIndex &index) : GridPart(view), m_index(index) {}

    QModelIndex index() const { return m_index; }

    bool isValid() const override { return m_view && m_index.isValid(); }
    QAccessible::Role role() const override { return QAccessible::Cell; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        switch (t) {
        case QAccessible::Name:
            return m_index.data(Qt::DisplayRole).toString();
        case QAccessible::Description:
            return m_index.data(Qt::ToolTipRole).toString();
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        return onScreen(m_view->viewport(), m_view->visualRect(m_index));
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid())
            return s;
        s.selectable = true;
        s.focusable = true;
        s.readOnly = true;
        s.selected = m_view->selectionModel()->isSelected(m_index);
        s.focused = m_view->hasFocus() && m_view->currentIndex() == QModelIndex(m_index);
        const QRect shown = m_view->visualRect(m_index);
        if (!m_view->isVisible() || !m_view->viewport()->rect().intersects(shown)) {
            s.invisible = !m_view->isVisible();
            s.offscreen = true;
        }
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    // The press action is a click on the cell; it runs once the assistive
    // tool's request has been answered, since it may open a message box.
    void doAction(const QString &name) override
    {
        if (name != pressAction() || !isValid())
            return;
        QMetaObject::invokeMethod(
            m_view, [view = m_view, index = m_index] {
                if (view && index.isValid())
                    view->activateCell(index);
            },
            Qt::QueuedConnection);
    }
    QStringList keyBindingsForAction(const QString &name) const override
    {
        return name == pressAction() ? QStringList{QStringLiteral("Return")} : QStringList();
    }

    bool isSelected() const override { return isValid() && m_view->selectionModel()->isSelected(m_index); }
    QList<QAccessibleInterface *> columnHeaderCells() const override
    {
        const int column = columnIndex();
        if (column < 0)
            return {};
        return {grid()->child(column)};
    }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override
    {
        return isValid() ? int(m_view->shownColumns().indexOf(m_index.column())) : -1;
    }
    int rowIndex() const override { return isValid() ? m_index.row() : -1; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

private:
    QPersistentModelIndex m_index;
};

class GridHeaderCell final : public GridPart {
public:
    GridHeaderCell(ResultGridView *view, int column) : GridPart(view), m_column(column) {}

    int column() const { return m_column; }

    bool isValid() const override { return m_view && m_column < m_view->model()->columnCount(); }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        switch (t) {
        case QAccessible::Name:
            return m_view->model()->headerData(m_column, Qt::Horizontal).toString();
        case QAccessible::Description:
            return m_view->model()->headerData(m_column, Qt::Horizontal, Qt::ToolTipRole).toString();
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QHeaderView *header = m_view->horizontalHeader();
        const QRect local(header->sectionViewportPosition(m_column), 0, header->sectionSize(m_column),
                          header->height());
        return onScreen(header->viewport(), local);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.invisible = !isValid() || !m_view->isVisible();
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    // Pressing a header sorts, as a click on it does.
    void doAction(const QString &name) override
    {
        if (name == pressAction() && isValid())
            m_view->sortBy(m_column);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    int m_column;
};

} // namespace

GridAccessible::GridAccessible(ResultGridView *view) : QAccessibleWidget(view, QAccessible::Table) {}

GridAccessible::~GridAccessible()
{
    for (const QAccessible::Id id : std::as_const(m_cells))
        QAccessible::deleteAccessibleInterface(id);
}

QAccessibleInterface *GridAccessible::create(const QString &className, QObject *object)
{
    if (className == QLatin1StringView(ResultGridView::staticMetaObject.className()) && object
        && object->isWidgetType())
        return new GridAccessible(static_cast<ResultGridView *>(object));
    return nullptr;
}

int GridAccessible::childIndex(const ResultGridView *view, const QModelIndex &index)
{
    const QList<int> shown = view->shownColumns();
    const qsizetype column = shown.indexOf(index.column());
    if (!index.isValid() || column < 0)
        return -1;
    return int((index.row() + 1) * shown.size() + column);
}

ResultGridView *GridAccessible::view() const
{
    return static_cast<ResultGridView *>(widget());
}

QAccessible::Role GridAccessible::role() const
{
    return QAccessible::Table;
}

QString GridAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Description)
        return view()->accessibleDescription();
    if (t == QAccessible::Name)
        return view()->accessibleName();
    return {};
}

int GridAccessible::childCount() const
{
    return (rowCount() + 1) * columnCount();
}

QAccessibleInterface *GridAccessible::child(int index) const
{
    const QList<int> shown = view()->shownColumns();
    if (index < 0 || shown.isEmpty() || index >= (rowCount() + 1) * int(shown.size()))
        return nullptr;
    if (QAccessibleInterface *cached = cachedChild(index))
        return cached;
    if (m_cells.contains(index)) {
        // The rows moved since: sort the cache out, and look again.
        rekeyCache();
        if (QAccessibleInterface *cached = cachedChild(index))
            return cached;
    }
    const int row = index / int(shown.size()) - 1;
    const int column = shown[index % shown.size()];
    QAccessibleInterface *made = nullptr;
    if (row < 0)
        made = new GridHeaderCell(view(), column);
    else
        made = new GridCell(view(), view()->model()->index(row, column));
    m_cells.insert(index, QAccessible::registerAccessibleInterface(made));
    return made;
}

int GridAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || !child->isValid())
        return -1;
    if (child->role() == QAccessible::Cell)
        return childIndex(view(), static_cast<const GridCell *>(child)->index());
    if (child->role() == QAccessible::ColumnHeader)
        return int(view()->shownColumns().indexOf(static_cast<const GridHeaderCell *>(child)->column()));
    return -1;
}

QAccessibleInterface *GridAccessible::childAt(int x, int y) const
{
    const QPoint inViewport = view()->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex at = view()->indexAt(inViewport);
    if (at.isValid())
        return child(childIndex(view(), at));
    const QHeaderView *header = view()->horizontalHeader();
    const QPoint inHeader = header->viewport()->mapFromGlobal(QPoint(x, y));
    if (header->viewport()->rect().contains(inHeader))
        return child(int(view()->shownColumns().indexOf(header->logicalIndexAt(inHeader))));
    return nullptr;
}

QAccessibleInterface *GridAccessible::focusChild() const
{
    if (!view()->hasFocus())
        return nullptr;
    return child(childIndex(view(), view()->currentIndex()));
}

void *GridAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface *GridAccessible::cellAt(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return nullptr;
    return child((row + 1) * columnCount() + column);
}

int GridAccessible::selectedCellCount() const
{
    return int(selectedCells().size());
}

QList<QAccessibleInterface *> GridAccessible::selectedCells() const
{
    QList<QAccessibleInterface *> cells;
    for (const QModelIndex &index : view()->selectionModel()->selectedIndexes()) {
        if (QAccessibleInterface *cell = child(childIndex(view(), index)))
            cells.append(cell);
    }
    return cells;
}

QString GridAccessible::columnDescription(int column) const
{
    const QList<int> shown = view()->shownColumns();
    if (column < 0 || column >= shown.size())
        return {};
    return view()->model()->headerData(shown[column], Qt::Horizontal).toString();
}

int GridAccessible::columnCount() const
{
    return int(view()->shownColumns().size());
}

int GridAccessible::rowCount() const
{
    return view()->model()->rowCount();
}

void GridAccessible::modelChange(QAccessibleTableModelChangeEvent *event)
{
    if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged)
        rekeyCache();
}

QAccessibleInterface *GridAccessible::cachedChild(int index) const
{
    const auto found = m_cells.constFind(index);
    if (found == m_cells.constEnd())
        return nullptr;
    QAccessibleInterface *cached = QAccessible::accessibleInterface(*found);
    return cached && indexOfChild(cached) == index ? cached : nullptr;
}

void GridAccessible::rekeyCache() const
{
    QHash<int, QAccessible::Id> kept;
    for (const QAccessible::Id id : std::as_const(m_cells)) {
        QAccessibleInterface *cell = QAccessible::accessibleInterface(id);
        const int index = cell ? indexOfChild(cell) : -1;
        if (index >= 0 && !kept.contains(index))
            kept.insert(index, id);
        else if (cell)
            QAccessible::deleteAccessibleInterface(id);
    }
    m_cells.swap(kept);
}

} // namespace norvale
