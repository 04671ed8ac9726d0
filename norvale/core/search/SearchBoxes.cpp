#include "norvale/core/search/SearchBoxes.h"

#include "norvale/core/search/SearchRules.h"

namespace norvale {

void SearchBoxes::setBit(int bit, bool on)
{
    const quint32 mask = 1u << bit;
    if (on)
        m_bits.fetch_or(mask);
    else
        m_bits.fetch_and(~mask);
}

bool SearchBoxes::bit(int bit) const
{
    return m_bits.load() & (1u << bit);
}

void SearchBoxes::setKind(int index, bool ticked)
{
    if (index >= 0 && index < kindCount)
        setBit(index, ticked);
}

void SearchBoxes::setAll(bool ticked)
{
    setBit(allBit, ticked);
}

void SearchBoxes::setShowRelated(bool ticked)
{
    setBit(showRelatedBit, ticked);
}

bool SearchBoxes::kind(int index) const
{
    return index >= 0 && index < kindCount && bit(index);
}

bool SearchBoxes::all() const
{
    return bit(allBit);
}

bool SearchBoxes::showRelated() const
{
    return bit(showRelatedBit);
}

bool SearchBoxes::chosen(int index) const
{
    const quint32 bits = m_bits.load();
    return index >= 0 && index < kindCount && (bits & ((1u << index) | (1u << allBit)));
}

} // namespace norvale
