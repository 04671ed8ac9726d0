// Keyword patterns as a trader types them. Parsing never crashes; every
// keyword made is a host-name label (1 to 63 letters, digits and hyphens, no
// hyphen at either end); and for a small pattern the exact count is the
// number of keywords made, while a large one still gives its first keywords
// at once.
#include "fuzz/FuzzInput.h"
#include "norvale/core/search/KeywordPattern.h"

using namespace norvale;

namespace {

bool isLabel(const std::string &keyword)
{
    if (keyword.empty() || keyword.size() > std::size_t(KeywordPattern::maxLabel) || keyword.front() == '-'
        || keyword.back() == '-')
        return false;
    for (const char c : keyword) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::text(data, size);
    PatternError error;
    const std::optional<KeywordPattern> pattern = KeywordPattern::parse(text, &error);
    if (!pattern) {
        fuzz::require(error.position >= 1 && error.position <= text.size() + 1, "an error lies within the text",
                      text);
        fuzz::require(!error.message.isEmpty(), "an error says why", text);
        return 0;
    }
    fuzz::require(pattern->count() <= pattern->combinations(), "no more keywords than combinations", text);
    constexpr quint64 enumerated = 20000;
    const bool small = pattern->count() <= enumerated;
    KeywordPattern::Generator generator = pattern->generate();
    std::string keyword;
    quint64 made = 0;
    while ((small || made < 100) && generator.next(keyword)) {
        ++made;
        fuzz::require(isLabel(keyword), "every keyword is a host-name label",
                      text + u' ' + QString::fromLatin1(keyword));
    }
    if (small)
        fuzz::require(made == pattern->count(), "count() is the number of keywords made", text);
    else
        fuzz::require(made == 100, "a large pattern gives its first keywords", text);
    return 0;
}
