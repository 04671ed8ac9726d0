#include "norvale/core/search/PinyinReading.h"

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>


#include <memory>
#include <unordered_set>
#include <vector>

namespace norvale {

namespace {

// The standard syllable table, final by final; ü is written v.
constexpr char16_t syllableTable[] =
    u"a ba pa ma fa da ta na la ga ka ha zha cha sha za ca sa "
    u"o bo po mo fo "
    u"e me de te ne le ge ke he zhe che she re ze ce se "
    u"ai bai pai mai dai tai nai lai gai kai hai zhai chai shai zai cai sai "
    u"ei bei pei mei fei dei nei lei gei hei zhei shei zei "
    u"ao bao pao mao dao tao nao lao gao kao hao zhao chao shao rao zao cao sao "
    u"ou pou mou fou dou tou nou lou gou kou hou zhou chou shou rou zou cou sou "
    u"an ban pan man fan dan tan nan lan gan kan han zhan chan shan ran zan can san "
    u"en ben pen men fen den nen gen ken hen zhen chen shen ren zen cen sen "
    u"ang bang pang mang fang dang tang nang lang gang kang hang zhang chang shang rang zang cang sang "
    u"eng beng peng meng feng deng teng neng leng geng keng heng zheng cheng sheng reng zeng ceng seng "
    u"dong tong nong long gong kong hong zhong chong rong zong cong song "
    u"er zhi chi shi ri zi ci si "
    u"yi bi pi mi di ti ni li ji qi xi "
    u"ya dia lia jia qia xia "
    u"ye bie pie mie die tie nie lie jie qie xie "
    u"yao biao piao miao diao tiao niao liao jiao qiao xiao "
    u"you miu diu niu liu jiu qiu xiu "
    u"yan bian pian mian dian tian nian lian jian qian xian "
    u"yin bin pin min nin lin jin qin xin "
    u"yang niang liang jiang qiang xiang "
    u"ying bing ping ming ding ting ning ling jing qing xing "
    u"yong jiong qiong xiong "
    u"wu bu pu mu fu du tu nu lu gu ku hu zhu chu shu ru zu cu su "
    u"wa gua kua hua zhua shua "
    u"wo duo tuo nuo luo guo kuo huo zhuo chuo shuo ruo zuo cuo suo "
    u"wai guai kuai huai zhuai chuai shuai "
    u"wei dui tui gui kui hui zhui chui shui rui zui cui sui "
    u"wan duan tuan nuan luan guan kuan huan zhuan chuan shuan ruan zuan cuan suan "
    u"wen dun tun lun gun kun hun zhun chun shun run zun cun sun "
    u"wang guang kuang huang zhuang chuang shuang weng "
    u"yu nv lv ju qu xu yue nve lve jue que xue yuan juan quan xuan yun jun qun xun";

const std::unordered_set<std::string> &syllableSet()
{
    static const std::unordered_set<std::string> set = [] {
        std::unordered_set<std::string> s;
        for (const QString &syllable : pinyinSyllables())
            s.insert(syllable.toStdString());
        return s;
    }();
    return set;
}

constexpr std::size_t longestSyllable = 6;  // zhuang, chuang, shuang

// Transforms are not safe to share between threads; each thread builds its
// own once (ICU caches the compiled rules, so later threads pay little).
icu::Transliterator *transform(const char *id)
{
    struct Transforms {
        std::unique_ptr<icu::Transliterator> hanLatin;
        std::unique_ptr<icu::Transliterator> latinAscii;
        bool tried = false;
    };
    thread_local Transforms transforms;
    if (!transforms.tried) {
        transforms.tried = true;
        UErrorCode status = U_ZERO_ERROR;
        transforms.hanLatin.reset(icu::Transliterator::createInstance("Han-Latin", UTRANS_FORWARD, status));
        if (U_FAILURE(status))
            transforms.hanLatin.reset();
        status = U_ZERO_ERROR;
        transforms.latinAscii.reset(icu::Transliterator::createInstance("Latin-ASCII", UTRANS_FORWARD, status));
        if (U_FAILURE(status))
            transforms.latinAscii.reset();
    }
    return std::string_view(id) == "Han-Latin" ? transforms.hanLatin.get() : transforms.latinAscii.get();
}

bool isHan(char32_t c)
{
    UErrorCode status = U_ZERO_ERROR;
    return uscript_getScript(UChar32(c), &status) == USCRIPT_HAN && U_SUCCESS(status);
}

bool isAsciiAlnum(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Han-Latin's output without tones, lower case: ü (with any tone) becomes
// v before Latin-ASCII would make it u; spaces are kept as separators and
// anything else that is no letter or digit is dropped.
std::optional<std::string> latinReading(const icu::UnicodeString &han)
{
    icu::Transliterator *hanLatin = transform("Han-Latin");
    icu::Transliterator *latinAscii = transform("Latin-ASCII");
    if (!hanLatin || !latinAscii)
        return std::nullopt;
    icu::UnicodeString text(han);
    hanLatin->transliterate(text);
    icu::UnicodeString marked;
    for (int32_t i = 0; i < text.length(); ++i) {
        const char16_t c = text.charAt(i);
        switch (c) {
        case u'ü': case u'ǖ': case u'ǘ': case u'ǚ': case u'ǜ':
        case u'Ü': case u'Ǖ': case u'Ǘ': case u'Ǚ': case u'Ǜ':
            marked.append(u'v');
            break;
        case u'\u0308':  // a diaeresis left apart from its u
            if (marked.length() > 0 && (marked.charAt(marked.length() - 1) | 0x20) == u'u')
                marked.setCharAt(marked.length() - 1, u'v');
            break;
        default:
            marked.append(c);
        }
    }
    latinAscii->transliterate(marked);
    std::string out;
    for (int32_t i = 0; i < marked.length(); ++i) {
        const char16_t c = marked.charAt(i);
        if (isAsciiAlnum(c))
            out.push_back(char(c >= 'A' && c <= 'Z' ? c + 32 : c));
        else if (u_isUWhiteSpace(c) && !out.empty() && out.back() != ' ')
            out.push_back(' ');
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// Splits a run of syllables written together ("lvse") into as few
// syllables as the table allows; empty when it cannot.
std::vector<std::string> splitSyllables(const std::string &chunk)
{
    const std::size_t n = chunk.size();
    constexpr int none = 1 << 20;
    std::vector<int> fewest(n + 1, none);
    std::vector<std::size_t> from(n + 1, 0);
    fewest[0] = 0;
    for (std::size_t end = 1; end <= n; ++end) {
        for (std::size_t length = 1; length <= std::min(end, longestSyllable); ++length) {
            const std::size_t start = end - length;
            if (fewest[start] + 1 < fewest[end] && syllableSet().count(chunk.substr(start, length))) {
                fewest[end] = fewest[start] + 1;
                from[end] = start;
            }
        }
    }
    if (fewest[n] == none)
        return {};
    std::vector<std::string> pieces;
    for (std::size_t end = n; end > 0; end = from[end])
        pieces.insert(pieces.begin(), chunk.substr(from[end], end - from[end]));
    return pieces;
}

// One reading per character of a run of Han characters. The run is read
// whole, so that ICU sees the words it knows; where its output cannot be
// matched to the characters one by one, each character is read alone.
std::optional<std::vector<std::string>> readRun(const std::vector<char32_t> &run)
{
    icu::UnicodeString whole;
    for (const char32_t c : run)
        whole.append(UChar32(c));
    const std::optional<std::string> read = latinReading(whole);
    if (!read)
        return std::nullopt;
    std::vector<std::string> syllables;
    bool matched = true;
    for (const QString &chunk : QString::fromStdString(*read).split(u' ', Qt::SkipEmptyParts)) {
        const std::vector<std::string> pieces = splitSyllables(chunk.toStdString());
        if (pieces.empty()) {
            matched = false;
            break;
        }
        syllables.insert(syllables.end(), pieces.begin(), pieces.end());
    }
    if (matched && syllables.size() == run.size())
        return syllables;

    syllables.clear();
    for (const char32_t c : run) {
        std::optional<std::string> one = latinReading(icu::UnicodeString(UChar32(c)));
        if (!one)
            return std::nullopt;
        std::erase(*one, ' ');
        syllables.push_back(*one);  // empty when ICU has no reading for it
    }
    return syllables;
}

} // namespace

const QStringList &pinyinSyllables()
{
    static const QStringList syllables =
        QStringView(syllableTable).toString().split(u' ', Qt::SkipEmptyParts);
    return syllables;
}

std::optional<PinyinReading> pinyinReading(const QString &text, QString *error)
{
    const QList<uint> points = text.toUcs4();
    PinyinReading reading;
    std::vector<char32_t> run;
    std::vector<std::pair<std::size_t, std::string>> given;  // position in run, reading

    auto fail = [error](const QString &why) -> std::optional<PinyinReading> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    auto flushRun = [&]() -> bool {
        if (run.empty())
            return true;
        std::optional<std::vector<std::string>> syllables = readRun(run);
        if (!syllables)
            return false;
        for (const auto &[at, syllable] : given)
            (*syllables)[at] = syllable;
        for (const std::string &syllable : *syllables) {
            reading.full += syllable;
            if (!syllable.empty())
                reading.initials += syllable.front();
        }
        run.clear();
        given.clear();
        return true;
    };

    for (qsizetype i = 0; i < points.size(); ++i) {
        const char32_t c = points[i];
        if (isHan(c)) {
            run.push_back(c);
            continue;
        }
        if ((c == u'(' || c == u'（') && !run.empty()) {
            std::string syllable;
            qsizetype j = i + 1;
            for (; j < points.size() && points[j] != u')' && points[j] != u'）'; ++j) {
                if (!isAsciiAlnum(points[j]))
                    return fail(QStringLiteral("括号里要写拼音字母，例如 长(chang)沙"));
                syllable.push_back(char(points[j] | 0x20));
            }
            if (j == points.size())
                return fail(QStringLiteral("读音的括号没有配对的“)”"));
            if (syllable.empty())
                return fail(QStringLiteral("括号里没有读音"));
            given.emplace_back(run.size() - 1, syllable);
            i = j;
            continue;
        }
        if (!flushRun())
            return fail(QStringLiteral("无法读取拼音：ICU 的 Han-Latin 转换不可用"));
        if (isAsciiAlnum(c)) {
            // Latin letters and digits are already what the domain holds.
            const char lower = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
            reading.full += lower;
            reading.initials += lower;
        }
    }
    if (!flushRun())
        return fail(QStringLiteral("无法读取拼音：ICU 的 Han-Latin 转换不可用"));
    if (reading.full.empty())
        return fail(QStringLiteral("“%1”里没有可读出拼音的汉字").arg(text));
    return reading;
}

} // namespace norvale
