#include "norvale/core/search/KeywordPattern.h"

#include "norvale/core/search/KeywordPatternParts.h"
#include "norvale/core/search/PinyinReading.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <set>

namespace norvale {

namespace {

using pattern::addSat;
using pattern::Choices;
using pattern::mulSat;
using pattern::Piece;

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isLower(QChar c) { return c >= u'a' && c <= u'z'; }
bool isUpper(QChar c) { return c >= u'A' && c <= u'Z'; }
bool isLabelChar(QChar c) { return isDigit(c) || isLower(c) || isUpper(c) || c == u'-'; }

std::string lowered(QStringView text)
{
    std::string out;
    out.reserve(std::size_t(text.size()));
    for (const QChar c : text)
        out.push_back(char(isUpper(c) ? c.unicode() + 32 : c.unicode()));
    return out;
}

Choices letters(const char *all)
{
    Choices out;
    for (const char *c = all; *c; ++c)
        out.emplace_back(1, *c);
    return out;
}

const Choices &initialsClass()
{
    static const Choices c = letters("bpmfdtnlgkhjqxrzcsyw");
    return c;
}

const Choices &finalsClass()
{
    static const Choices c = [] {
        Choices out;
        for (const QString &f : QStringLiteral("a o e i u v ai ei ui ao ou iu ie ve er an en in un vn ang eng ing ong")
                                    .split(u' '))
            out.push_back(f.toStdString());
        return out;
    }();
    return c;
}

const Choices &syllablesClass()
{
    static const Choices c = [] {
        Choices out;
        for (const QString &s : pinyinSyllables())
            out.push_back(s.toStdString());
        return out;
    }();
    return c;
}

const Choices &digitsClass()
{
    static const Choices c = letters("0123456789");
    return c;
}

const Choices &lettersClass()
{
    static const Choices c = letters("abcdefghijklmnopqrstuvwxyz");
    return c;
}

const Choices &alnumClass()
{
    static const Choices c = letters("abcdefghijklmnopqrstuvwxyz0123456789");
    return c;
}

// What {前缀} and {后缀} alone give.
const QString &commonPrefixes()
{
    static const QString list = QStringLiteral("my,i,e,u,go,get,the,we,51,52,58,365");
    return list;
}

const QString &commonSuffixes()
{
    static const QString list = QStringLiteral("app,hub,pro,online,8,88,168,365");
    return list;
}

struct ClassName {
    const char16_t *name;
    const Choices &(*choices)();
    bool singleCharacters;  // shapes apply
};

const std::array<ClassName, 7> &classNames()
{
    static const std::array<ClassName, 7> names{{
        {u"声母", initialsClass, true},
        {u"韵母", finalsClass, false},
        {u"音节", syllablesClass, false},
        {u"数字", digitsClass, true},
        {u"字母", lettersClass, true},
        {u"字母数字", alnumClass, true},
        {u"数字字母", alnumClass, true},
    }};
    return names;
}

QString fullWidthToAscii(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E)
            c = QChar(char16_t(c.unicode() - 0xFEE0));
        else if (c == u'\u3000')
            c = u' ';
        else if (c == u'、')
            c = u',';
    }
    return out;
}

} // namespace


QString PatternError::text() const
{
    return QStringLiteral("第 %1 个字符：%2").arg(position).arg(message);
}

namespace {

class Parser {
public:
    explicit Parser(const QString &text) : m_text(fullWidthToAscii(text)) {}

    bool run(std::vector<Piece> &pieces, std::set<char> &excluded, PatternError *error)
    {
        if (m_text.size() > KeywordPattern::maxPatternLength)
            return fail(error, KeywordPattern::maxPatternLength + 1,
                        QStringLiteral("模式太长（最多 %1 个字符）").arg(KeywordPattern::maxPatternLength));
        qsizetype at = 0;
        while (at < m_text.size()) {
            const QChar c = m_text[at];
            if (c.isSpace()) {
                ++at;
            } else if (c == u'{') {
                const qsizetype close = m_text.indexOf(u'}', at + 1);
                const qsizetype nested = m_text.indexOf(u'{', at + 1);
                if (close < 0 || (nested >= 0 && nested < close))
                    return fail(error, at + 1, QStringLiteral("缺少与“{”配对的“}”"));
                if (!piece(at + 1, close, pieces, error))
                    return false;
                at = close + 1;
            } else if (c == u'}') {
                return fail(error, at + 1, QStringLiteral("多余的“}”"));
            } else if (QStringView(m_text).mid(at).startsWith(u"不含")) {
                if (!exclusion(at, excluded, error))
                    return false;
            } else if (isLabelChar(c)) {
                qsizetype end = at;
                while (end < m_text.size() && isLabelChar(m_text[end]))
                    ++end;
                pieces.push_back(listPiece({lowered(QStringView(m_text).mid(at, end - at))}));
                at = end;
            } else if (c.script() == QChar::Script_Han) {
                return fail(error, at + 1,
                            QStringLiteral("“%1”不能直接写进域名；要它的拼音请写 {拼音:%1}").arg(c));
            } else {
                return fail(error, at + 1,
                            QStringLiteral("“%1”不能用在域名里（只能用字母、数字和“-”）").arg(c));
            }
            if (pieces.size() > maxPieces)
                return fail(error, at, QStringLiteral("模式太长（最多 %1 段）").arg(maxPieces));
        }
        if (pieces.empty())
            return fail(error, 1, QStringLiteral("模式是空的；例如 {声母}{声母}{声母} 或 {拼音:海棠}"));
        return true;
    }

private:
    static constexpr std::size_t maxPieces = 200;

    static bool fail(PatternError *error, qsizetype position, const QString &message)
    {
        if (error)
            *error = {position, message};
        return false;
    }

    static Piece listPiece(Choices choices)
    {
        // The same choice twice in one list would only make repeats.
        Choices unique;
        std::set<std::string> seen;
        for (std::string &c : choices)
            if (seen.insert(c).second)
                unique.push_back(std::move(c));
        Piece p;
        p.choices = std::make_shared<const Choices>(std::move(unique));
        return p;
    }

    // 不含 followed by the characters no keyword may hold.
    bool exclusion(qsizetype &at, std::set<char> &excluded, PatternError *error)
    {
        const qsizetype start = at;
        at += 2;
        if (at < m_text.size() && m_text[at] == u':')
            ++at;
        bool any = false;
        for (; at < m_text.size(); ++at) {
            const QChar c = m_text[at];
            if (isDigit(c) || isLower(c) || isUpper(c) || c == u'-') {
                excluded.insert(lowered(QStringView(&c, 1)).front());
                any = true;
            } else if (c != u',' && !(c == u' ' && !any)) {
                break;
            }
        }
        if (!any)
            return fail(error, start + 1, QStringLiteral("“不含”后面要写不要的数字或字母，例如 不含4"));
        return true;
    }

    // The text between "{" (at begin) and "}" (at end).
    bool piece(qsizetype begin, qsizetype end, std::vector<Piece> &pieces, PatternError *error)
    {
        const QString body = m_text.mid(begin, end - begin);
        const qsizetype colon = body.indexOf(u':');
        const QString name = (colon < 0 ? body : body.left(colon)).trimmed();
        const qsizetype argsAt = colon < 0 ? end : begin + colon + 1;
        const QString args = colon < 0 ? QString() : body.mid(colon + 1);

        for (const ClassName &known : classNames()) {
            if (name == QStringView(known.name))
                return classPiece(known, args.trimmed(), argsAt, pieces, error);
        }
        if (name == u"拼音" || name == u"全拼" || name == u"简拼" || name == u"首字母") {
            if (args.trimmed().isEmpty())
                return fail(error, begin, QStringLiteral("{%1} 后面要写汉字，例如 {%1:海棠}").arg(name));
            return pinyinPiece(name == u"拼音" || name == u"全拼", name == u"拼音" || name == u"简拼" || name == u"首字母",
                               args, argsAt, pieces, error);
        }
        if (name == u"顺子" || name == u"倒顺")
            return runPiece(name == u"倒顺", args.trimmed(), argsAt, pieces, error);
        if (name == u"前缀" || name == u"后缀") {
            if (colon < 0 || args.trimmed().isEmpty())
                return listOf(name == u"前缀" ? commonPrefixes() : commonSuffixes(), -1, pieces, error);
            return listOf(args, argsAt, pieces, error);
        }
        if (colon < 0 && (body.contains(u',') || body.contains(u'|')))
            return listOf(body, begin, pieces, error);
        return fail(error, begin,
                    QStringLiteral("不认识的“{%1}”；可以用 {声母} {韵母} {音节} {数字} {字母} {字母数字} "
                                   "{顺子:…} {倒顺:…} {拼音:…} {前缀:…} {后缀:…} 或 {a,b,c}")
                        .arg(body));
    }

    bool classPiece(const ClassName &known, const QString &args, qsizetype argsAt,
                    std::vector<Piece> &pieces, PatternError *error)
    {
        const Choices &all = known.choices();
        if (args.isEmpty()) {
            pieces.push_back(listPiece(all));
            return true;
        }
        bool number = false;
        const int times = args.toInt(&number);
        if (number) {
            if (times < 1 || times > KeywordPattern::maxLabel)
                return fail(error, argsAt + 1, QStringLiteral("个数要在 1 到 63 之间"));
            const Piece one = listPiece(all);
            pieces.insert(pieces.end(), std::size_t(times), one);
            return true;
        }
        if (!known.singleCharacters)
            return fail(error, argsAt + 1,
                        QStringLiteral("{%1} 后面只能写个数，例如 {%1:2}；AABB 这样的形状只用于数字、字母和声母")
                            .arg(QStringView(known.name)));
        Piece shape;
        for (const std::string &c : all)
            shape.alphabet += c;
        std::string placesSeen;
        for (qsizetype i = 0; i < args.size(); ++i) {
            const QChar c = args[i];
            if (isUpper(c)) {
                if (placesSeen.find(char(c.unicode())) == std::string::npos)
                    placesSeen.push_back(char(c.unicode()));
                shape.shape.push_back(char('A' + placesSeen.find(char(c.unicode()))));
            } else if (isDigit(c) || isLower(c)) {
                shape.shape.push_back(char(c.unicode()));
            } else {
                return fail(error, argsAt + i + 1,
                            QStringLiteral("形状里只能写大写字母（如 AABB、ABAB），或固定的数字和小写字母"));
            }
        }
        if (placesSeen.empty())
            return fail(error, argsAt + 1, QStringLiteral("形状里至少要有一个大写字母，例如 {数字:AABB}"));
        if (shape.shape.size() > std::size_t(KeywordPattern::maxLabel))
            return fail(error, argsAt + 1, QStringLiteral("形状太长（最多 63 位）"));
        shape.places = int(placesSeen.size());
        pieces.push_back(std::move(shape));
        return true;
    }

    // Runs of consecutive characters as traders count them: {顺子:3} is
    // 012 123 … 789, {倒顺:3} 210 … 987, over 0–9 without wrapping round;
    // {顺子:字母4} abcd … wxyz.
    bool runPiece(bool descending, QString args, qsizetype argsAt, std::vector<Piece> &pieces,
                  PatternError *error)
    {
        std::string alphabet = "0123456789";
        if (args.startsWith(u"字母")) {
            alphabet = "abcdefghijklmnopqrstuvwxyz";
            args = args.mid(2).trimmed();
        } else if (args.startsWith(u"数字")) {
            args = args.mid(2).trimmed();
        }
        bool number = false;
        const int length = args.toInt(&number);
        if (!number || length < 2 || length > int(alphabet.size()))
            return fail(error, argsAt + 1,
                        QStringLiteral("顺子要写长度（数字 2 到 10 位，字母 2 到 26 位），例如 {顺子:3}、{倒顺:4}、{顺子:字母3}"));
        if (descending)
            std::reverse(alphabet.begin(), alphabet.end());
        Choices runs;
        for (std::size_t first = 0; first + std::size_t(length) <= alphabet.size(); ++first)
            runs.push_back(alphabet.substr(first, std::size_t(length)));
        if (descending)
            std::reverse(runs.begin(), runs.end());  // 210 first, as 012 is
        pieces.push_back(listPiece(std::move(runs)));
        return true;
    }

    // Entries separated by commas or "|"; positions for errors from at.
    struct Entry {
        QString text;
        qsizetype position;
    };
    static QList<Entry> entries(const QString &args, qsizetype at)
    {
        QList<Entry> out;
        qsizetype start = 0;
        for (qsizetype i = 0; i <= args.size(); ++i) {
            if (i == args.size() || args[i] == u',' || args[i] == u'|') {
                out.append({args.mid(start, i - start).trimmed(), at + start + 1});
                start = i + 1;
            }
        }
        return out;
    }

    bool listOf(const QString &args, qsizetype at, std::vector<Piece> &pieces, PatternError *error)
    {
        Choices choices;
        for (const Entry &entry : entries(args, at)) {
            for (qsizetype i = 0; i < entry.text.size(); ++i) {
                if (!isLabelChar(entry.text[i]))
                    return fail(error, entry.position + i,
                                QStringLiteral("列表里“%1”不能用在域名里（只能用字母、数字和“-”）").arg(entry.text[i]));
            }
            choices.push_back(lowered(entry.text));
        }
        pieces.push_back(listPiece(std::move(choices)));
        return true;
    }

    bool pinyinPiece(bool full, bool initials, const QString &args, qsizetype at, std::vector<Piece> &pieces,
                     PatternError *error)
    {
        Choices choices;
        for (const Entry &entry : entries(args, at)) {
            QString why;
            const std::optional<PinyinReading> reading = pinyinReading(entry.text, &why);
            if (!reading)
                return fail(error, entry.position, why);
            if (full)
                choices.push_back(reading->full);
            if (initials)
                choices.push_back(reading->initials);
        }
        pieces.push_back(listPiece(std::move(choices)));
        return true;
    }

    QString m_text;
};

void applyExclusions(std::vector<Piece> &pieces, const std::set<char> &excluded)
{
    if (excluded.empty())
        return;
    auto clean = [&excluded](const std::string &s) {
        return std::none_of(s.cbegin(), s.cend(), [&excluded](char c) { return excluded.count(c) > 0; });
    };
    for (Piece &p : pieces) {
        if (p.isShape()) {
            std::erase_if(p.alphabet, [&excluded](char c) { return excluded.count(c) > 0; });
            // A fixed character that is excluded leaves the shape nothing.
            if (!clean(p.shape))
                p.alphabet.clear();
            continue;
        }
        if (std::all_of(p.choices->cbegin(), p.choices->cend(), clean))
            continue;
        Choices kept;
        std::copy_if(p.choices->cbegin(), p.choices->cend(), std::back_inserter(kept), clean);
        p.choices = std::make_shared<const Choices>(std::move(kept));
    }
}

// Keywords by length and by whether they end with a hyphen, piece by
// piece; a hyphen at the start or a length over 63 leaves the count.
quint64 countValid(const std::vector<Piece> &pieces)
{
    constexpr int lengths = KeywordPattern::maxLabel + 1;
    // ways[length][ends with '-']
    std::vector<std::array<quint64, 2>> ways(lengths, {0, 0});
    ways[0][0] = 1;
    for (const Piece &p : pieces) {
        struct Kind {
            std::size_t length;
            bool startsHyphen, endsHyphen;
            quint64 n;
        };
        std::vector<Kind> kinds;
        if (p.isShape()) {
            kinds.push_back({p.shape.size(), false, false, p.size()});
        } else {
            for (const std::string &c : *p.choices) {
                const bool starts = !c.empty() && c.front() == '-';
                const bool ends = !c.empty() && c.back() == '-';
                auto same = std::find_if(kinds.begin(), kinds.end(), [&](const Kind &k) {
                    return k.length == c.size() && k.startsHyphen == starts && k.endsHyphen == ends;
                });
                if (same == kinds.end())
                    kinds.push_back({c.size(), starts, ends, 1});
                else
                    ++same->n;
            }
        }
        std::vector<std::array<quint64, 2>> next(lengths, {0, 0});
        for (int length = 0; length < lengths; ++length) {
            for (int hyphen = 0; hyphen < 2; ++hyphen) {
                const quint64 here = ways[std::size_t(length)][std::size_t(hyphen)];
                if (here == 0)
                    continue;
                for (const Kind &k : kinds) {
                    if (k.length == 0) {
                        auto &slot = next[std::size_t(length)][std::size_t(hyphen)];
                        slot = addSat(slot, mulSat(here, k.n));
                        continue;
                    }
                    if ((length == 0 && k.startsHyphen) || std::size_t(length) + k.length >= std::size_t(lengths))
                        continue;
                    auto &slot = next[std::size_t(length) + k.length][k.endsHyphen ? 1 : 0];
                    slot = addSat(slot, mulSat(here, k.n));
                }
            }
        }
        ways = std::move(next);
    }
    quint64 total = 0;
    for (int length = 1; length < lengths; ++length)
        total = addSat(total, ways[std::size_t(length)][0]);
    return total;
}

} // namespace

std::optional<KeywordPattern> KeywordPattern::parse(const QString &text, PatternError *error)
{
    auto impl = std::make_shared<Impl>();
    std::set<char> excluded;
    if (!Parser(text).run(impl->pieces, excluded, error))
        return std::nullopt;
    applyExclusions(impl->pieces, excluded);
    impl->minRest.assign(impl->pieces.size() + 1, 0);
    for (std::size_t i = impl->pieces.size(); i-- > 0;)
        impl->minRest[i] = impl->minRest[i + 1] + impl->pieces[i].minLength();
    impl->combinations = 1;
    for (const Piece &p : impl->pieces)
        impl->combinations = mulSat(impl->combinations, p.size());
    impl->count = countValid(impl->pieces);
    return KeywordPattern(std::move(impl));
}

quint64 KeywordPattern::count() const
{
    return m_impl->count;
}

quint64 KeywordPattern::combinations() const
{
    return m_impl->combinations;
}

quint64 KeywordPattern::dropped() const
{
    if (m_impl->combinations == saturated)
        return m_impl->count == saturated ? 0 : saturated;
    return m_impl->combinations - m_impl->count;
}

KeywordPattern::Generator KeywordPattern::generate() const
{
    return Generator(m_impl);
}

} // namespace norvale
