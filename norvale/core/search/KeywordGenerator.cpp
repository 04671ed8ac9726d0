#include "norvale/core/search/KeywordPatternParts.h"

namespace norvale {

using pattern::Piece;

// A depth-first walk over the pieces that never enters a branch whose
// keywords would all be too long or begin with a hyphen, so that a pattern
// with few valid keywords among many combinations still runs at once.
struct KeywordPattern::Generator::State {
    struct Cursor {
        bool fresh = true;
        std::size_t index = 0;          // list piece
        std::vector<std::size_t> value; // shape piece: alphabet index per place
        std::vector<bool> used;
    };
    std::shared_ptr<const Impl> impl;
    std::vector<Cursor> cursors;
    std::vector<std::size_t> before;  // keyword length before piece i
    std::string keyword;
    bool started = false;
    bool done = false;

    bool feasible(std::size_t i, const std::string &choice) const
    {
        if (before[i] == 0 && !choice.empty() && choice.front() == '-')
            return false;
        return before[i] + choice.size() + impl->minRest[i + 1] <= std::size_t(KeywordPattern::maxLabel);
    }

    // The next permutation of distinct alphabet indices over the places.
    static bool nextPlaces(Cursor &c, std::size_t alphabet)
    {
        const std::size_t places = c.value.size();
        if (c.fresh) {
            c.fresh = false;
            if (places > alphabet)
                return false;
            c.used.assign(alphabet, false);
            for (std::size_t i = 0; i < places; ++i) {
                c.value[i] = i;
                c.used[i] = true;
            }
            return true;
        }
        for (std::size_t i = places; i-- > 0;) {
            c.used[c.value[i]] = false;
            std::size_t v = c.value[i] + 1;
            while (v < alphabet && c.used[v])
                ++v;
            if (v < alphabet) {
                c.value[i] = v;
                c.used[v] = true;
                std::size_t free = 0;
                for (std::size_t j = i + 1; j < places; ++j) {
                    while (c.used[free])
                        ++free;
                    c.value[j] = free;
                    c.used[free] = true;
                }
                return true;
            }
        }
        return false;
    }

    // Moves piece i to its next usable choice and puts it after the
    // keyword's first before[i] characters.
    bool advance(std::size_t i)
    {
        const Piece &p = impl->pieces[i];
        Cursor &c = cursors[i];
        keyword.resize(before[i]);
        if (p.isShape()) {
            if (c.fresh) {
                c.value.assign(std::size_t(p.places), 0);
                if (before[i] + p.shape.size() + impl->minRest[i + 1] > std::size_t(KeywordPattern::maxLabel)) {
                    c.fresh = false;
                    return false;
                }
            }
            if (!nextPlaces(c, p.alphabet.size()))
                return false;
            for (const char s : p.shape)
                keyword.push_back(s >= 'A' && s <= 'Z' ? p.alphabet[c.value[std::size_t(s - 'A')]] : s);
            return true;
        }
        std::size_t index = c.fresh ? 0 : c.index + 1;
        c.fresh = false;
        for (; index < p.choices->size(); ++index) {
            if (feasible(i, (*p.choices)[index])) {
                c.index = index;
                keyword += (*p.choices)[index];
                return true;
            }
        }
        c.index = index;
        return false;
    }
};

KeywordPattern::Generator::Generator(std::shared_ptr<const Impl> impl) : m_state(std::make_unique<State>())
{
    m_state->cursors.resize(impl->pieces.size());
    m_state->before.assign(impl->pieces.size() + 1, 0);
    m_state->done = impl->count == 0;
    m_state->impl = std::move(impl);
}

KeywordPattern::Generator::~Generator() = default;
KeywordPattern::Generator::Generator(Generator &&) noexcept = default;
KeywordPattern::Generator &KeywordPattern::Generator::operator=(Generator &&) noexcept = default;

bool KeywordPattern::Generator::next(std::string &keyword)
{
    State &s = *m_state;
    if (s.done)
        return false;
    const std::size_t n = s.cursors.size();
    std::size_t i = n - 1;
    if (!s.started) {
        s.started = true;
        i = 0;
    }
    for (;;) {
        if (s.advance(i)) {
            s.before[i + 1] = s.keyword.size();
            if (i + 1 < n) {
                ++i;
                s.cursors[i].fresh = true;
                continue;
            }
            if (!s.keyword.empty() && s.keyword.back() != '-') {
                keyword = s.keyword;
                return true;
            }
            continue;
        }
        if (i == 0) {
            s.done = true;
            return false;
        }
        --i;
    }
}

} // namespace norvale
