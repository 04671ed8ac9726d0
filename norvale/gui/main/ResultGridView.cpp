#include "norvale/gui/main/ResultGridView.h"

#include "norvale/gui/main/GridAccessible.h"
#include "norvale/gui/main/SteadyScrollBar.h"

#include <QAccessible>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <utility>

namespace norvale {

ResultGridView::ResultGridView(QWidget *parent)
    : QTableView(parent)
    , m_model(new GridItemModel(this))
    , m_order(new ResultGridOrder(*m_model, this))
{
    // Before anything asks how the grid reads.
    QAccessible::installFactory(&GridAccessible::create);
    setObjectName(QStringLiteral("grid1"));
    setModel(m_order);
    setEditTriggers(NoEditTriggers);
    // Several rows can be selected for copying: by dragging, with Shift or
    // Ctrl, or from the keyboard.
    setSelectionMode(ExtendedSelection);
    setSelectionBehavior(SelectItems);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setCornerButtonEnabled(false);
    viewport()->setMouseTracking(true);  // the pointer cell follows plain moves

    // Every row has the same height, so a hundred thousand rows cost the
    // header nothing per row.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Scrolling by whole rows would make every change of the row count find
    // the top row's position by adding up the rows above it.
    setVerticalScrollMode(ScrollPerPixel);
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, this));
    // A long search adds its rows a batch at a time below the shown ones.
    // The table would lay itself out and paint every shown cell again for
    // each batch; rows that come below the shown ones change only the
    // scroll bar.
    connect(m_order, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex &, int first, int) {
                m_firstComing = first;
                m_lengthBefore = verticalHeader()->length();
            });
    disconnect(verticalHeader(), &QHeaderView::sectionCountChanged, this, nullptr);
    connect(verticalHeader(), &QHeaderView::sectionCountChanged, this, &ResultGridView::rowCountChangedBelow);

    QHeaderView *top = horizontalHeader();
    top->setSectionsClickable(true);
    top->setHighlightSections(false);
    top->setSortIndicatorShown(false);
    // A header click sorts; it does not select the column.
    disconnect(top, &QHeaderView::sectionPressed, this, nullptr);
    disconnect(top, &QHeaderView::sectionEntered, this, nullptr);
    connect(top, &QHeaderView::sectionClicked, this, &ResultGridView::sortBy);
    top->setSectionResizeMode(QHeaderView::Interactive);
    top->viewport()->setMouseTracking(true);
    top->viewport()->installEventFilter(this);

    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid() && !m_selecting)
            emit cellClicked(m_order->gridRow(index.row()), index.column());
    });
    fitRowHeight();
}

ResultGridView::~ResultGridView() = default;

void ResultGridView::setGridFont(const QString &family, int pointSize)
{
    QFont face(family);
    if (pointSize > 0)
        face.setPointSize(pointSize);
    setFont(face);
    horizontalHeader()->setFont(face);
    fitRowHeight();
}

void ResultGridView::rowCountChangedBelow(int oldCount, int newCount)
{
    const int first = std::exchange(m_firstComing, -1);
    // Appended rows start where the old ones ended. The header's length is
    // kept as it goes; asking it for a row's position would add up every row
    // above it again, a million at the end of a big search.
    const bool appendedBelow = newCount > oldCount && first == oldCount && oldCount > 0
                               && m_lengthBefore - verticalHeader()->offset() >= viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    if (appendedBelow && bar->maximum() > 0) {
        // Only the scroll bar's range grows; the bar shows already and the
        // view stays where it is. Laying out the scroll area again, as
        // updateGeometries() does and as the scroll area does on the bar's
        // rangeChanged(), raises the bar and so repaints it at every batch.
        const QSignalBlocker quiet(bar);
        bar->setRange(0, std::max(0, verticalHeader()->length() - viewport()->height()));
    } else if (appendedBelow) {
        updateGeometries();  // the scroll bar shows up: the viewport narrows
    } else {
        rowCountChanged(oldCount, newCount);
    }
}

void ResultGridView::fitRowHeight()
{
    const int height = fontMetrics().height() + 4;
    verticalHeader()->setMinimumSectionSize(height);
    verticalHeader()->setDefaultSectionSize(height);
}

bool ResultGridView::setColWidth(int col, int pixels)
{
    if (col < 0 || col >= m_model->cols() || pixels < 0)
        return false;
    const bool wasHidden = isColumnHidden(col);
    setColumnHidden(col, pixels == 0);
    if (pixels > 0)
        setColumnWidth(col, pixels);
    if (wasHidden != isColumnHidden(col))
        cellsMoved();
    return true;
}

int ResultGridView::colWidth(int col) const
{
    if (col < 0 || col >= m_model->cols())
        return -1;
    return isColumnHidden(col) ? 0 : columnWidth(col);
}

int ResultGridView::activeRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? m_order->gridRow(current.row()) : 0;
}

int ResultGridView::activeCol() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.column() : 0;
}

void ResultGridView::notePointer(const QPoint &viewportPos)
{
    const QModelIndex at = indexAt(viewportPos);
    m_mouseRow = at.isValid() ? m_order->gridRow(at.row()) : -1;
    m_mouseCol = at.isValid() ? at.column() : -1;
}

void ResultGridView::mouseMoveEvent(QMouseEvent *event)
{
    notePointer(event->position().toPoint());
    QTableView::mouseMoveEvent(event);
}

void ResultGridView::mousePressEvent(QMouseEvent *event)
{
    notePointer(event->position().toPoint());
    QTableView::mousePressEvent(event);
}

// The pointer is noted before the base class reports the click, so that a
// click handler sees pointer and active cell agree.
void ResultGridView::mouseReleaseEvent(QMouseEvent *event)
{
    notePointer(event->position().toPoint());
    m_selecting = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    QTableView::mouseReleaseEvent(event);
    m_selecting = false;
}

void ResultGridView::leaveEvent(QEvent *event)
{
    m_mouseRow = -1;
    m_mouseCol = -1;
    QTableView::leaveEvent(event);
}

// Taking the focus does not make a cell active: until the user picks one,
// the active cell stays on the header row.
void ResultGridView::focusInEvent(QFocusEvent *event)
{
    const bool hadCurrent = currentIndex().isValid();
    QTableView::focusInEvent(event);
    if (!hadCurrent && currentIndex().isValid())
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
}

// The base class would put the current cell on the clipboard itself;
// copying is the window's, through its platform.
void ResultGridView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        emit copyRequested();
        event->accept();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && currentIndex().isValid() && (modifiers == Qt::NoModifier || modifiers == Qt::ControlModifier)) {
        if (modifiers == Qt::ControlModifier)
            sortBy(currentIndex().column());
        else
            activateCell(currentIndex());
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ResultGridView::activateCell(const QModelIndex &viewIndex)
{
    if (!viewIndex.isValid() || viewIndex.model() != model())
        return;
    setCurrentIndex(viewIndex);
    m_mouseRow = m_order->gridRow(viewIndex.row());
    m_mouseCol = viewIndex.column();
    emit cellClicked(m_mouseRow, m_mouseCol);
}

void ResultGridView::sortBy(int col)
{
    m_order->cycleSort(col);
    showSortIndicator();
}

QList<int> ResultGridView::shownColumns() const
{
    QList<int> shown;
    const QHeaderView *top = horizontalHeader();
    for (int visual = 0; visual < top->count(); ++visual) {
        const int col = top->logicalIndex(visual);
        if (!top->isSectionHidden(col))
            shown.append(col);
    }
    return shown;
}

void ResultGridView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // Not QTableView's: it would name the cell by its place among all columns.
    QAbstractItemView::currentChanged(current, previous);
    const int child = GridAccessible::childIndex(this, current);
    if (QAccessible::isActive() && hasFocus() && child >= 0) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(child);
        QAccessible::updateAccessibility(&event);
    }
}

void ResultGridView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected);
    if (!QAccessible::isActive())
        return;
    const std::pair<const QItemSelection &, QAccessible::Event> changes[] = {
        {selected, QAccessible::SelectionAdd}, {deselected, QAccessible::SelectionRemove}};
    for (const auto &[selection, type] : changes) {
        const int child = GridAccessible::childIndex(this, selection.indexes().value(0));
        if (child >= 0) {
            QAccessibleEvent event(this, type);
            event.setChild(child);
            QAccessible::updateAccessibility(&event);
        }
    }
}

void ResultGridView::cellsMoved()
{
    if (!QAccessible::isActive())
        return;
    QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::ModelReset);
    QAccessible::updateAccessibility(&event);
}

void ResultGridView::showSortIndicator()
{
    QHeaderView *top = horizontalHeader();
    top->setSortIndicatorShown(m_order->isSorted());
    if (m_order->isSorted())
        top->setSortIndicator(m_order->sortColumn(), m_order->sortOrder());
}

QList<int> ResultGridView::shownRows() const
{
    QList<int> rows;
    const int count = m_order->rowCount();
    rows.reserve(count);
    for (int r = 0; r < count; ++r)
        rows.append(m_order->gridRow(r));
    return rows;
}

QList<int> ResultGridView::selectedRows() const
{
    QList<int> viewRows;
    for (const QModelIndex &index : selectionModel()->selectedIndexes())
        viewRows.append(index.row());
    std::sort(viewRows.begin(), viewRows.end());
    viewRows.erase(std::unique(viewRows.begin(), viewRows.end()), viewRows.end());
    QList<int> rows;
    rows.reserve(viewRows.size());
    for (const int r : std::as_const(viewRows))
        rows.append(m_order->gridRow(r));
    return rows;
}

bool ResultGridView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == horizontalHeader()->viewport()) {
        switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease: {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            const int col = horizontalHeader()->logicalIndexAt(mouse->position().toPoint());
            m_mouseRow = col >= 0 ? ResultGrid::HeaderRow : -1;
            m_mouseCol = col;
            break;
        }
        case QEvent::Leave:
            m_mouseRow = -1;
            m_mouseCol = -1;
            break;
        default:
            break;
        }
    }
    return QTableView::eventFilter(watched, event);
}

} // namespace norvale
