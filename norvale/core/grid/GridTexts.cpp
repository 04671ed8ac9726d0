#include "norvale/core/grid/GridTexts.h"

#include <QHashFunctions>

#include <algorithm>

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
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_blockUsed = blockChars;
    m_spans = {Span{}};  // id 0: the empty text
    m_slots.assign(1024, Empty);
    m_remembered = 0;
    m_kinds.clear();
}

QStringView GridTexts::text(Id id) const
{
    if (id == Empty || id >= m_spans.size())
        return {};
    const Span span = m_spans[id];
    const char16_t *block = m_blocks[span.place >> blockBits].get();
    return QStringView(block + (span.place & (blockChars - 1)), qsizetype(span.length));
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
    // 2^16 blocks hold more text than memory does; past them (or a text of
    // 4G characters) the cell stays empty rather than overwriting another.
    if (m_blocks.size() >= (std::size_t(1) << (32 - blockBits)) || std::size_t(text.size()) > 0xFFFFFFFFu)
        return Empty;
    const Id id = Id(m_spans.size());
    m_spans.push_back(store(text));
    if (look && m_remembered < kMaxRemembered)
        remember(id, hash);
    return id;
}

GridTexts::Span GridTexts::store(QStringView text)
{
    const std::size_t length = std::size_t(text.size());
    if (length > blockChars) {
        m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(length));
        std::copy_n(text.utf16(), length, m_blocks.back().get());
        m_blockUsed = blockChars;  // the next text starts a block of its own
        return {quint32((m_blocks.size() - 1) << blockBits), quint32(length)};
    }
    if (m_blockUsed + length > blockChars) {
        m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(blockChars));
        m_blockUsed = 0;
    }
    std::copy_n(text.utf16(), length, m_blocks.back().get() + m_blockUsed);
    const Span span{quint32(((m_blocks.size() - 1) << blockBits) | m_blockUsed), quint32(length)};
    m_blockUsed += length;
    return span;
}

} // namespace norvale
