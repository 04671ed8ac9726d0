#pragma once

// What the pattern's parser, counter and generator share; not for use
// beyond them.

#include "norvale/core/search/KeywordPattern.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace norvale::pattern {

using Choices = std::vector<std::string>;

inline quint64 addSat(quint64 a, quint64 b)
{
    const quint64 sum = a + b;
    return sum < a ? KeywordPattern::saturated : sum;
}

inline quint64 mulSat(quint64 a, quint64 b)
{
    if (a != 0 && b > KeywordPattern::saturated / a)
        return KeywordPattern::saturated;
    return a * b;
}

// One piece of the pattern: a list of choices, or a shape of places over
// single characters (distinct places, distinct characters).
struct Piece {
    std::shared_ptr<const Choices> choices;  // a list piece
    std::string alphabet;                    // a shape piece: its characters
    std::string shape;                       // 'A'.. places, anything else as written
    int places = 0;

    bool isShape() const { return !choices; }

    quint64 size() const
    {
        if (!isShape())
            return quint64(choices->size());
        if (places > int(alphabet.size()))
            return 0;
        quint64 n = 1;
        for (int i = 0; i < places; ++i)
            n = mulSat(n, quint64(alphabet.size()) - quint64(i));
        return n;
    }
    std::size_t minLength() const
    {
        if (isShape())
            return shape.size();
        std::size_t least = std::string::npos;
        for (const std::string &c : *choices)
            least = std::min(least, c.size());
        return least == std::string::npos ? 0 : least;
    }
};

} // namespace norvale::pattern

namespace norvale {

struct KeywordPattern::Impl {
    std::vector<pattern::Piece> pieces;
    std::vector<std::size_t> minRest;  // least length of pieces i.. to the end
    quint64 count = 0;
    quint64 combinations = 0;
};

} // namespace norvale
