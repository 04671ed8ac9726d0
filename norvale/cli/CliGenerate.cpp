#include "norvale/cli/CliOutput.h"
#include "norvale/cli/CliRun.h"
#include "norvale/core/search/DomainSearch.h"

#include <cstdio>

namespace norvale::cli {

std::optional<KeywordPattern> parsePattern(const QString &text)
{
    PatternError error;
    std::optional<KeywordPattern> pattern = KeywordPattern::parse(text, &error);
    if (!pattern)
        writeError("norvale-cli: " + error.text().toUtf8() + '\n');
    return pattern;
}

namespace {

void reportDropped(const KeywordPattern &pattern)
{
    if (pattern.dropped() == 0)
        return;
    // A count at the top of 64 bits is only a bound.
    const QString many = (pattern.dropped() == KeywordPattern::saturated ? QStringLiteral("超过 ") : QString())
                         + QString::number(pattern.dropped());
    writeError(QStringLiteral("norvale-cli: %1 个组合不能作域名（只能用字母、数字和“-”，“-”不在两端，"
                              "最长 63 个字符），已略去\n")
                   .arg(many)
                   .toUtf8());
}

} // namespace

int runGenerate(const CliOptions &options)
{
    const std::optional<KeywordPattern> pattern = parsePattern(options.pattern);
    if (!pattern)
        return 2;
    if (options.countOnly) {
        writeOut(QByteArray::number(pattern->count()) + '\n');
        if (pattern->count() == KeywordPattern::saturated)
            writeError("norvale-cli: at least this many; the count does not fit 64 bits\n");
        reportDropped(*pattern);
        return 0;
    }
    reportDropped(*pattern);
    // Written in blocks as they fill: one keyword at a time is made, and a
    // reader such as head ends the run whenever it has seen enough.
    KeywordPattern::Generator generator = pattern->generate();
    std::string keyword;
    std::string block;
    constexpr std::size_t blockSize = 64 * 1024;
    block.reserve(blockSize + KeywordPattern::maxLabel + 1);
    auto flush = [&block] {
        const bool written = std::fwrite(block.data(), 1, block.size(), stdout) == block.size();
        block.clear();
        return written && std::fflush(stdout) == 0;
    };
    while (generator.next(keyword)) {
        block += keyword;
        block += '\n';
        if (block.size() >= blockSize && !flush())
            return 1;
    }
    return flush() ? 0 : 1;
}

KeywordSource patternSource(KeywordSource given, const KeywordPattern &pattern)
{
    struct State {
        KeywordSource given;
        bool givenDone = false;
        KeywordPattern::Generator generator;
        std::string keyword;
    };
    const bool mayWait = given.mayWait;
    auto state = std::make_shared<State>(State{std::move(given), false, pattern.generate(), {}});
    return {[state](QString *keyword) {
                if (!state->givenDone && state->given.next && state->given.next(keyword))
                    return true;
                state->givenDone = true;
                if (!state->generator.next(state->keyword))
                    return false;
                *keyword = QString::fromLatin1(state->keyword);
                return true;
            },
            pattern.count(), mayWait};
}

} // namespace norvale::cli
