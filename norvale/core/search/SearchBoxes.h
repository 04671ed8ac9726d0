#pragma once

#include <QtGlobal>

#include <atomic>

namespace norvale {

// The ticks of the seventeen extension boxes, "全部" and lshowbak as the
// search sees them. The window writes it on every toggle; the search reads a
// box when it reaches that box, from whichever thread it runs on.
class SearchBoxes final {
public:
    SearchBoxes() = default;
    Q_DISABLE_COPY_MOVE(SearchBoxes)

    void setKind(int index, bool ticked);
    void setAll(bool ticked);
    void setShowRelated(bool ticked);

    bool kind(int index) const;
    bool all() const;
    bool showRelated() const;
    // Box i takes part: its own tick or "全部".
    bool chosen(int index) const;

private:
    void setBit(int bit, bool on);
    bool bit(int bit) const;

    static constexpr int allBit = 17;
    static constexpr int showRelatedBit = 18;
    std::atomic<quint32> m_bits{1u << allBit};  // the window opens with "全部" ticked
};

} // namespace norvale
