#include "norvale/core/grid/GridTexts.h"

#include <QHashFunctions>

namespace norvale {

namespace {

// A kind is looked up until this many of its texts were new, and on while
// at least one in four was found again.
constexpr quint32 kTrialTexts = 4096;
// Remembered texts at most: the table stays a few megabytes.
constexpr std::size_t kMaxRemembered = std::size_t(1) << 20;

} // namespace

GridTexts::GridTexts()
{
    clear();
}

void GridTexts::clear()
{
    m_chars = {};
    m_starts = {0, 0};  // id 0: the empty text
    m_slots.assign(1024, Empty);
    m_remembered = 0;
    m_kinds.clear();
}

QStringView GridTexts::text(Id id) const
{
    if (id + 1 >= m_starts.size())
        return {};
    return QStringView(m_chars.data() + m_starts[id], qsizetype(m_starts[id + 1] - m_starts[id]));
}

bool GridTexts::worthLooking(int kind) const
{
    if (kind < 0 || std::size_t(kind) >= m_kinds.size())
        return true;
    const KindStats &k = m_kinds[std::size_t(kind)];
    return k.missed < kTrialTexts || k.found >= k.missed / 3;
}

GridTexts::Id GridTexts::find(QStringView text, std::size_t hash) const
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Id id = m_slots[at];
        if (id == Empty || this->text(id) == text)
            return id;
    }
}

void GridTexts::remember(Id id, std::size_t hash)
{
    if ((m_remembered + 1) * 2 > m_slots.size())
        grow();
    const std::size_t mask = m_slots.size() - 1;
    std::size_t at = hash & mask;
    while (m_slots[at] != Empty)
        at = (at + 1) & mask;
    m_slots[at] = id;
    ++m_remembered;
}

void GridTexts::grow()
{
    std::vector<Id> old(m_slots.size() * 2, Empty);
    old.swap(m_slots);
    const std::size_t mask = m_slots.size() - 1;
    for (const Id id : old) {
        if (id == Empty)
            continue;
        std::size_t at = qHash(text(id)) & mask;
        while (m_slots[at] != Empty)
            at = (at + 1) & mask;
        m_slots[at] = id;
    }
}

GridTexts::Id GridTexts::add(QStringView text, int kind)
{
    if (text.isEmpty())
        return Empty;
    if (kind >= 0 && std::size_t(kind) >= m_kinds.size())
        m_kinds.resize(std::size_t(kind) + 1);
    const bool look = worthLooking(kind);
    const std::size_t hash = look ? qHash(text) : 0;
    if (look) {
        if (const Id known = find(text, hash); known != Empty) {
            if (kind >= 0)
                ++m_kinds[std::size_t(kind)].found;
            return known;
        }
        if (kind >= 0)
            ++m_kinds[std::size_t(kind)].missed;
    }
    const Id id = Id(m_starts.size() - 1);
    m_chars.insert(m_chars.end(), text.utf16(), text.utf16() + text.size());
    m_starts.push_back(quint32(m_chars.size()));
    if (look && m_remembered < kMaxRemembered)
        remember(id, hash);
    return id;
}

} // namespace norvale
