#include "norvale/core/grid/ResultGridModel.h"

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
    if (count == m_cols)
        return true;
    // The cells are laid out row by row: a new width lays them out anew.
    std::deque<GridTexts::Id> texts(std::size_t(m_dataRows) * std::size_t(count), GridTexts::Empty);
    std::deque<quint8> colors(texts.size(), 0);
    const int kept = std::min(count, m_cols);
    for (int r = 1; r <= m_dataRows; ++r) {
        for (int c = 0; c < kept; ++c) {
            const std::size_t to = std::size_t(r - 1) * std::size_t(count) + std::size_t(c);
            texts[to] = m_texts[at(r, c)];
            colors[to] = m_colors[at(r, c)];
        }
    }
    if (count > m_cols)
        beginInsertColumns({}, m_cols, count - 1);
    else
        beginRemoveColumns({}, count, m_cols - 1);
    m_cols = count;
    m_texts.swap(texts);
    m_colors.swap(colors);
    if (m_header.size() > std::size_t(count))
        m_header.resize(std::size_t(count));
    if (count > kept)
        endInsertColumns();
    else
        endRemoveColumns();
    return true;
}

int ResultGridModel::rows() const
{
    return m_dataRows + 1;
}

bool ResultGridModel::setRows(int count)
{
    if (count < 1 || count > MaxRows)
        return false;
    const int wanted = count - 1;
    const auto cells = std::size_t(wanted) * std::size_t(m_cols);
    if (wanted > m_dataRows) {
        beginInsertRows({}, m_dataRows, wanted - 1);
        m_texts.resize(cells, GridTexts::Empty);
        m_colors.resize(cells, 0);
        m_dataRows = wanted;
        endInsertRows();
    } else if (wanted < m_dataRows) {
        beginRemoveRows({}, wanted, m_dataRows - 1);
        m_dataRows = wanted;
        m_texts.resize(cells);
        m_colors.resize(cells);
        if (wanted == 0) {
            // A cleared grid gives its memory back.
            m_texts = {};
            m_colors = {};
            m_textStore.clear();
            m_palette.clear();
        }
        endRemoveRows();
    }
    return true;
}

bool ResultGridModel::inRange(int row, int col) const
{
    return row >= 0 && row < rows() && col >= 0 && col < m_cols;
}

QStringView ResultGridModel::textAt(int row, int col) const
{
    if (row == HeaderRow) {
        const auto c = std::size_t(col);
        return c < m_header.size() ? QStringView(m_header[c].text) : QStringView();
    }
    return m_textStore.text(m_texts[at(row, col)]);
}

quint32 ResultGridModel::colorAt(int row, int col) const
{
    if (row == HeaderRow) {
        const auto c = std::size_t(col);
        return c < m_header.size() ? m_header[c].color : NoColor;
    }
    const quint8 code = m_colors[at(row, col)];
    return code == 0 ? NoColor : m_palette[code - 1u];
}

int ResultGridModel::colorCode(quint32 bgr)
{
    const auto known = std::find(m_palette.cbegin(), m_palette.cend(), bgr);
    if (known != m_palette.cend())
        return int(known - m_palette.cbegin());
    if (int(m_palette.size()) >= MaxColors)
        return -1;
    m_palette.push_back(bgr);
    return int(m_palette.size()) - 1;
}

void ResultGridModel::setText(int row, int col, QStringView text)
{
    if (row == HeaderRow) {
        if (m_header.size() <= std::size_t(col))
            m_header.resize(std::size_t(col) + 1);
        m_header[std::size_t(col)].text = text.toString();
        return;
    }
    // A text that another cell of its row already holds (the domain twice)
    // is named again.
    for (int c = 0; c < m_cols; ++c) {
        const GridTexts::Id id = m_texts[at(row, c)];
        if (c != col && id != GridTexts::Empty && m_textStore.text(id) == text) {
            m_texts[at(row, col)] = id;
            return;
        }
    }
    m_texts[at(row, col)] = m_textStore.add(text, col);
}

void ResultGridModel::cellChanged(int row, int col, int role)
{
    if (row == HeaderRow) {
        headerDataChanged(Qt::Horizontal, col, col);
    } else {
        const QModelIndex changed = index(row - 1, col);
        dataChanged(changed, changed, {role});
    }
}

QString ResultGridModel::cellText(int row, int col) const
{
    return inRange(row, col) ? textAt(row, col).toString() : QString();
}

bool ResultGridModel::setCellText(int row, int col, const QString &text)
{
    if (!inRange(row, col))
        return false;
    if (textAt(row, col) == text)
        return true;
    setText(row, col, text);
    cellChanged(row, col, Qt::DisplayRole);
    return true;
}

std::optional<quint32> ResultGridModel::cellColor(int row, int col) const
{
    const quint32 color = inRange(row, col) ? colorAt(row, col) : NoColor;
    return color == NoColor ? std::nullopt : std::optional<quint32>(color);
}

bool ResultGridModel::setCellColor(int row, int col, quint32 bgr)
{
    if (!inRange(row, col) || bgr > 0x00FFFFFFu)
        return false;
    if (colorAt(row, col) == bgr)
        return true;
    if (row == HeaderRow) {
        if (m_header.size() <= std::size_t(col))
            m_header.resize(std::size_t(col) + 1);
        m_header[std::size_t(col)].color = bgr;
    } else {
        const int code = colorCode(bgr);
        if (code < 0)
            return false;
        m_colors[at(row, col)] = quint8(code + 1);
    }
    cellChanged(row, col, Qt::ForegroundRole);
    return true;
}

bool ResultGridModel::writeRows(const std::vector<RowWrite> &rows)
{
    bool ok = true;
    int last = 0;              // the last data row written
    int firstOld = m_dataRows; // the rows that were there before, written
    int lastOld = -1;
    const auto writable = [&](const RowWrite &write) {
        return write.row >= 1 && write.row < MaxRows && write.color <= 0x00FFFFFFu;
    };
    for (const RowWrite &write : rows) {
        if (!writable(write)) {
            ok = false;
            continue;
        }
        last = std::max(last, write.row);
        if (write.row <= m_dataRows) {
            firstOld = std::min(firstOld, write.row);
            lastOld = std::max(lastOld, write.row);
        }
    }
    // Rows already in the grid change in place; the new ones are filled
    // before the views hear of them.
    for (const RowWrite &write : rows) {
        if (writable(write) && write.row <= m_dataRows)
            fillRow(write);
    }
    if (last > m_dataRows) {
        const int before = m_dataRows;
        beginInsertRows({}, before, last - 1);
        const auto cells = std::size_t(last) * std::size_t(m_cols);
        m_texts.resize(cells, GridTexts::Empty);
        m_colors.resize(cells, 0);
        m_dataRows = last;
        for (const RowWrite &write : rows) {
            if (writable(write) && write.row > before)
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
        setText(write.row, c, write.texts[c]);
    if (write.colored == 0)
        return;
    const int code = colorCode(write.color);
    for (int c = 0; c < m_cols && c < 32 && code >= 0; ++c) {
        if (write.colored & (1u << c))
            m_colors[at(write.row, c)] = quint8(code + 1);
    }
}

int ResultGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_dataRows;
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
    const int row = index.row() + 1;
    switch (role) {
    case Qt::DisplayRole:
        return singleLine(textAt(row, index.column()).toString());
    case Qt::EditRole:
        return textAt(row, index.column()).toString();
    case ColorRole: {
        const quint32 color = colorAt(row, index.column());
        return color != NoColor ? QVariant(color) : QVariant();
    }
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
    switch (role) {
    case Qt::DisplayRole:
        return singleLine(textAt(HeaderRow, section).toString());
    case ColorRole: {
        const quint32 color = colorAt(HeaderRow, section);
        return color != NoColor ? QVariant(color) : QVariant();
    }
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
