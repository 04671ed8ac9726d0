#include "norvale/main/GridSortKeys.h"

#include "norvale/main/ResultGridModel.h"
#include "norvale/search/SearchRules.h"

#include <cmath>
#include <optional>

namespace norvale {

namespace {

std::optional<double> number(QStringView text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    // NaN would leave the order undefined.
    return ok && !std::isnan(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> ipv4(QStringView text)
{
    quint32 value = 0;
    int octets = 0;
    for (const QStringView octet : text.tokenize(u'.')) {
        bool ok = false;
        const uint part = octet.toUInt(&ok);
        if (!ok || part > 255 || ++octets > 4)
            return std::nullopt;
        value = value << 8 | part;
    }
    return octets == 4 ? std::optional<double>(value) : std::nullopt;
}

} // namespace

void GridSortKeys::build(const ResultGridModel &grid, int column)
{
    clear();
    m_column = column;
    const int rows = grid.rows() - 1;
    m_keys.reserve(std::size_t(rows));
    for (int r = 0; r < rows; ++r)
        update(grid, r);
}

void GridSortKeys::update(const ResultGridModel &grid, int modelRow)
{
    const Key key = keyOf(grid.cellText(modelRow + 1, m_column));
    if (std::size_t(modelRow) >= m_keys.size())
        m_keys.resize(std::size_t(modelRow) + 1);
    m_keys[std::size_t(modelRow)] = key;
}

void GridSortKeys::clear()
{
    m_column = -1;
    m_keys = {};
    m_texts = {};
}

GridSortKeys::Key GridSortKeys::textKey(const QString &text)
{
    const QString folded = text.toCaseFolded();
    Key key;
    key.group = Text;
    key.start = quint32(m_texts.size());
    key.length = quint32(folded.size());
    m_texts.insert(m_texts.end(), folded.utf16(), folded.utf16() + folded.size());
    return key;
}

GridSortKeys::Key GridSortKeys::keyOf(const QString &cell)
{
    if (cell.isEmpty())
        return {};
    std::optional<double> parsed;
    switch (m_column) {
    case column::Domain:
    case column::DomainShown: {
        // Name, then extension: the name ends in a character below any other.
        const qsizetype dot = cell.indexOf(u'.');
        if (dot < 0)
            return textKey(cell);
        QString nameFirst;
        nameFirst.reserve(cell.size() + 1);
        nameFirst.append(QStringView(cell).left(dot)).append(QChar(u'\0')).append(QStringView(cell).mid(dot));
        return textKey(nameFirst);
    }
    case column::Price:
        parsed = number(cell);
        break;
    case column::Address:
        parsed = ipv4(cell);
        break;
    default:
        break;
    }
    if (!parsed)
        return textKey(cell);
    Key key;
    key.group = Parsed;
    key.number = *parsed;
    return key;
}

std::u16string_view GridSortKeys::text(const Key &key) const
{
    return {m_texts.data() + key.start, key.length};
}

int GridSortKeys::compare(int a, int b, bool descending) const
{
    const Key &l = m_keys[std::size_t(a)];
    const Key &r = m_keys[std::size_t(b)];
    if ((l.group == Empty) != (r.group == Empty))
        return l.group == Empty ? 1 : -1;
    int order = 0;
    if (l.group != r.group)
        order = l.group < r.group ? -1 : 1;
    else if (l.group == Parsed)
        order = l.number < r.number ? -1 : (r.number < l.number ? 1 : 0);
    else if (l.group == Text)
        order = text(l).compare(text(r));
    return descending ? -order : order;
}

} // namespace norvale
