#include "norvale/core/grid/GridSortKeys.h"

#include "norvale/core/grid/ResultGridModel.h"
#include "norvale/core/search/SearchRules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
    const GridTexts::Id id = grid.m_texts[grid.at(modelRow + 1, m_column)];
    Recent &recent = m_recent[id % m_recent.size()];
    if (recent.id != id || id == GridTexts::Empty) {
        recent.id = id;
        recent.key = keyOf(grid.m_textStore.text(id));
    }
    if (std::size_t(modelRow) >= m_keys.size())
        m_keys.resize(std::size_t(modelRow) + 1);
    m_keys[std::size_t(modelRow)] = recent.key;
}

void GridSortKeys::clear()
{
    m_column = -1;
    m_keys = {};
    m_texts = {};
    m_recent.assign(4096, {});
}

GridSortKeys::Key GridSortKeys::textKey(QStringView text, qsizetype nameEnd)
{
    Key key;
    key.group = Text;
    key.start = quint32(m_texts.size());
    // Names from a search are lower case already: they are copied as they are.
    const bool folded = std::none_of(text.cbegin(), text.cend(),
                                     [](QChar ch) { return ch.unicode() >= 0x80 || (ch >= u'A' && ch <= u'Z'); });
    const QString refolded = folded ? QString() : text.toString().toCaseFolded();
    const QStringView source = folded ? text : QStringView(refolded);
    for (qsizetype i = 0; i < source.size(); ++i) {
        // The name ends in a character below any other, so that it sorts
        // before the extension counts.
        if (i == nameEnd)
            m_texts.push_back(u'\0');
        m_texts.push_back(source[i].unicode());
    }
    key.length = quint32(m_texts.size()) - key.start;
    key.prefix = textPrefix(key);
    // A text of up to eight plain characters is its prefix whole; one with a
    // NUL would tie with the same text without it.
    const std::u16string_view chars = this->text(key);
    key.exact = chars.size() <= 8
                && std::all_of(chars.cbegin(), chars.cend(), [](char16_t ch) { return ch > 0 && ch < 127; });
    return key;
}

GridSortKeys::Key GridSortKeys::keyOf(QStringView cell)
{
    if (cell.isEmpty())
        return {};
    std::optional<double> parsed;
    switch (m_column) {
    case column::Domain:
    case column::DomainShown:
        // Name, then extension.
        return textKey(cell, cell.indexOf(u'.'));
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
    key.prefix = numberPrefix(*parsed, &key.exact);
    return key;
}

// The top bit is set for empty cells, the next one for texts; the other 62
// hold the value's first bits.
constexpr quint64 kEmptyBit = quint64(1) << 63;
constexpr quint64 kTextBit = quint64(1) << 62;
constexpr quint64 kValueBits = kTextBit - 1;

quint64 GridSortKeys::numberPrefix(double value, bool *exact)
{
    // The bits of a double, made to order as the numbers do.
    quint64 bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    bits = (bits & (quint64(1) << 63)) ? ~bits : bits | (quint64(1) << 63);
    *exact = (bits & 3) == 0;
    return bits >> 2;
}

quint64 GridSortKeys::textPrefix(const Key &key) const
{
    // Eight characters of seven bits; a character beyond ASCII ends the
    // prefix at its place, so that texts alike up to there tie.
    quint64 bits = 0;
    int shift = 62;
    const std::u16string_view chars = text(key);
    for (std::size_t i = 0; i < chars.size() && shift >= 7; ++i) {
        shift -= 7;
        const quint64 ch = std::min<quint64>(chars[i], 127);
        bits |= ch << shift;
        if (ch == 127)
            break;
    }
    return kTextBit | bits;
}

quint64 GridSortKeys::prefix(int row, bool descending) const
{
    const quint64 ascending = m_keys[std::size_t(row)].prefix;
    if (ascending & kEmptyBit)
        return ascending;
    return descending ? (ascending ^ (kTextBit | kValueBits)) : ascending;
}

std::u16string_view GridSortKeys::text(const Key &key) const
{
    return {m_texts.data() + key.start, key.length};
}

int GridSortKeys::compare(int a, int b, bool descending) const
{
    const quint64 lp = prefix(a, descending), rp = prefix(b, descending);
    if (lp != rp)
        return lp < rp ? -1 : 1;
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
