#include "norvale/main/ResultGridModel.h"

#include <algorithm>

namespace norvale {

ResultGridModel::ResultGridModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

ResultGridModel::~ResultGridModel() = default;

int ResultGridModel::cols() const
{
    return m_cols;
}

bool ResultGridModel::setCols(int count)
{
    if (count < 0 || count > MaxCols)
        return false;
    if (count > m_cols) {
        beginInsertColumns({}, m_cols, count - 1);
        m_cols = count;
        endInsertColumns();
    } else if (count < m_cols) {
        beginRemoveColumns({}, count, m_cols - 1);
        m_cols = count;
        const auto cut = static_cast<std::size_t>(count);
        if (m_header.size() > cut)
            m_header.resize(cut);
        for (Row &row : m_rows) {
            if (row.size() > cut)
                row.resize(cut);
        }
        endRemoveColumns();
    }
    return true;
}

int ResultGridModel::rows() const
{
    return static_cast<int>(m_rows.size()) + 1;
}

bool ResultGridModel::setRows(int count)
{
    if (count < 1 || count > MaxRows)
        return false;
    const int dataRows = static_cast<int>(m_rows.size());
    const int wanted = count - 1;
    if (wanted > dataRows) {
        beginInsertRows({}, dataRows, wanted - 1);
        m_rows.resize(static_cast<std::size_t>(wanted));
        endInsertRows();
    } else if (wanted < dataRows) {
        beginRemoveRows({}, wanted, dataRows - 1);
        m_rows.resize(static_cast<std::size_t>(wanted));
        if (wanted == 0)
            m_rows.shrink_to_fit();  // a cleared grid gives its memory back
        endRemoveRows();
    }
    return true;
}

bool ResultGridModel::inRange(int row, int col) const
{
    return row >= 0 && row < rows() && col >= 0 && col < m_cols;
}

const ResultGridModel::Cell *ResultGridModel::cell(int row, int col) const
{
    if (!inRange(row, col))
        return nullptr;
    const Row &r = row == HeaderRow ? m_header : m_rows[static_cast<std::size_t>(row - 1)];
    const auto c = static_cast<std::size_t>(col);
    return c < r.size() ? &r[c] : nullptr;
}

ResultGridModel::Cell &ResultGridModel::cellForWrite(int row, int col)
{
    Row &r = row == HeaderRow ? m_header : m_rows[static_cast<std::size_t>(row - 1)];
    const auto c = static_cast<std::size_t>(col);
    if (c >= r.size())
        r.resize(c + 1);
    return r[c];
}

void ResultGridModel::cellChanged(int row, int col, int role)
{
    if (row == HeaderRow) {
        headerDataChanged(Qt::Horizontal, col, col);
    } else {
        const QModelIndex at = index(row - 1, col);
        dataChanged(at, at, {role});
    }
}

QString ResultGridModel::cellText(int row, int col) const
{
    const Cell *c = cell(row, col);
    return c ? c->text : QString();
}

bool ResultGridModel::setCellText(int row, int col, const QString &text)
{
    if (!inRange(row, col))
        return false;
    Cell &c = cellForWrite(row, col);
    if (c.text == text)
        return true;
    c.text = text;
    cellChanged(row, col, Qt::DisplayRole);
    return true;
}

std::optional<quint32> ResultGridModel::cellColor(int row, int col) const
{
    const Cell *c = cell(row, col);
    if (!c || c->color == NoColor)
        return std::nullopt;
    return c->color;
}

bool ResultGridModel::setCellColor(int row, int col, quint32 bgr)
{
    // Numbers with a high byte are not plain colours.
    if (!inRange(row, col) || bgr > 0x00FFFFFFu)
        return false;
    Cell &c = cellForWrite(row, col);
    if (c.color == bgr)
        return true;
    c.color = bgr;
    cellChanged(row, col, Qt::ForegroundRole);
    return true;
}

bool ResultGridModel::writeRows(const std::vector<RowWrite> &rows)
{
    bool ok = true;
    const int dataRows = static_cast<int>(m_rows.size());
    int last = 0;              // the last data row written
    int firstOld = dataRows;   // the rows that were there before, written
    int lastOld = -1;
    for (const RowWrite &write : rows) {
        if (write.row < 1 || write.row >= MaxRows || write.color > 0x00FFFFFFu) {
            ok = false;
            continue;
        }
        last = std::max(last, write.row);
        if (write.row <= dataRows) {
            firstOld = std::min(firstOld, write.row);
            lastOld = std::max(lastOld, write.row);
        }
    }
    // Rows already in the grid change in place; the new ones are filled
    // before the views hear of them.
    for (const RowWrite &write : rows) {
        if (write.row >= 1 && write.row <= dataRows && write.color <= 0x00FFFFFFu)
            fillRow(write);
    }
    if (last > dataRows) {
        beginInsertRows({}, dataRows, last - 1);
        m_rows.resize(static_cast<std::size_t>(last));
        for (const RowWrite &write : rows) {
            if (write.row > dataRows && write.row < MaxRows && write.color <= 0x00FFFFFFu)
                fillRow(write);
        }
        endInsertRows();
    }
    if (lastOld >= firstOld && m_cols > 0)
        dataChanged(index(firstOld - 1, 0), index(lastOld - 1, m_cols - 1));
    return ok;
}

void ResultGridModel::fillRow(const RowWrite &write)
{
    const int columns = std::min(static_cast<int>(write.texts.size()), m_cols);
    for (int c = 0; c < columns; ++c)
        cellForWrite(write.row, c).text = write.texts[c];
    for (int c = 0; c < m_cols && c < 32; ++c) {
        if (write.colored & (1u << c))
            cellForWrite(write.row, c).color = write.color;
    }
}

int ResultGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ResultGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_cols;
}

QString ResultGridModel::singleLine(const QString &text)
{
    auto breaks = [](QChar ch) {
        return ch == u'\n' || ch == u'\r' || ch == u'\t' || ch == QChar::LineSeparator
            || ch == QChar::ParagraphSeparator;
    };
    if (std::none_of(text.cbegin(), text.cend(), breaks))
        return text;
    QString line = text;
    std::replace_if(line.begin(), line.end(), breaks, QChar(u' '));
    return line;
}

QVariant ResultGridModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Cell *c = cell(index.row() + 1, index.column());
    switch (role) {
    case Qt::DisplayRole:
        return c ? singleLine(c->text) : QString();
    case Qt::EditRole:
        return c ? c->text : QString();
    case ColorRole:
        return c && c->color != NoColor ? QVariant(c->color) : QVariant();
    default:
        return {};
    }
}

QVariant ResultGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole && section >= 0 && section < rowCount())
            return section + 1;  // the grid's own row number
        return {};
    }
    if (section < 0 || section >= m_cols)
        return {};
    const Cell *c = cell(HeaderRow, section);
    switch (role) {
    case Qt::DisplayRole:
        return c ? singleLine(c->text) : QString();
    case ColorRole:
        return c && c->color != NoColor ? QVariant(c->color) : QVariant();
    default:
        return {};
    }
}

Qt::ItemFlags ResultGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace norvale
