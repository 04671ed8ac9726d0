#pragma once

#include <QString>
#include <QtGlobal>

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace norvale {

// Where a pattern goes wrong: the 1-based character it stops at and why,
// in Chinese, for the trader who typed it.
struct PatternError {
    qsizetype position = 0;
    QString message;
    // "第 5 个字符：缺少与“{”配对的“}”"
    QString text() const;
};

// A keyword pattern, as traders describe the names they hunt: pieces
// written one after another, each keyword one choice of every piece, in
// order. The pieces:
//
//   literal text     letters, digits and "-": "shop", "88"
//   {声母}           one of the 20 letters b p m f d t n l g k h j q x r z c s y w
//   {韵母}           one of the 24 finals a o e i u v ai ei ui ao ou iu ie ve er
//                    an en in un vn ang eng ing ong
//   {音节}           one of the 405 pinyin syllables (pinyinSyllables)
//   {数字} {字母}    one digit, one letter; {字母数字} one of either
//   {数字:4}         four of them, any each (also for the other classes)
//   {数字:AABB}      a shape over a single-character class (数字, 字母, 字母数字,
//                    声母): each capital a place, one letter one value, two
//                    letters two different values; digits and small letters
//                    stand as they are ({数字:AA88})
//   {顺子:3}         a run of consecutive digits: 012 123 … 789; {倒顺:3} runs
//                    down: 210 … 987; {顺子:字母3} abc … xyz; no wrapping round
//   {拼音:海棠}      the pinyin, full and initials: haitang, ht; several
//                    texts separated by commas; {全拼:…} and {简拼:…} give
//                    one form only (PinyinReading)
//   {前缀:my,get}    one of a list; an empty entry is "none"; {后缀:…} the
//                    same; {前缀} and {后缀} alone give common ones;
//                    {a,b,c} or {a|b|c} is a list too
//   不含4            anywhere: no keyword holds a 4 (不含47: neither 4 nor 7)
//
// Spaces are ignored; full-width forms (｛｝：，) read as their ASCII ones.
// A keyword must be a host-name label: 1 to 63 letters, digits and hyphens,
// no hyphen at either end. A combination that is not one is dropped and
// counted. The same keyword made by two combinations ({音节}{音节}: fang+an
// and fan+gan) is made twice and counted twice.
class KeywordPattern {
public:
    static constexpr quint64 saturated = std::numeric_limits<quint64>::max();
    static constexpr int maxLabel = 63;
    static constexpr qsizetype maxPatternLength = 1000;

    struct Impl;

    // Keywords one at a time, in pattern order, the last piece varying
    // fastest. Holds one keyword at a time, never the list.
    class Generator {
    public:
        explicit Generator(std::shared_ptr<const Impl> impl);
        ~Generator();
        Generator(Generator &&) noexcept;
        Generator &operator=(Generator &&) noexcept;
        // The next keyword into *keyword; false once there are no more.
        bool next(std::string &keyword);

    private:
        struct State;
        std::unique_ptr<State> m_state;
    };

    // nullopt and *error when the text is no pattern.
    static std::optional<KeywordPattern> parse(const QString &text, PatternError *error);

    // Exact, without enumerating; saturated when it does not fit 64 bits.
    quint64 count() const;
    // Combinations before invalid labels are dropped; saturated likewise.
    quint64 combinations() const;
    // combinations() - count(): what no host could carry.
    quint64 dropped() const;

    Generator generate() const;

private:
    explicit KeywordPattern(std::shared_ptr<const Impl> impl) : m_impl(std::move(impl)) {}
    std::shared_ptr<const Impl> m_impl;
};

} // namespace norvale
