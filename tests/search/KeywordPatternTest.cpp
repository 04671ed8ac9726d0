#include "norvale/core/search/KeywordPattern.h"
#include "norvale/core/search/PinyinReading.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

using norvale::KeywordPattern;
using norvale::PatternError;

namespace {

bool isLabel(const std::string &keyword)
{
    static const QRegularExpression label(QStringLiteral("^[a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?$"));
    return label.match(QString::fromStdString(keyword)).hasMatch();
}

// AABB: same letter same character, different letters different ones.
bool fitsShape(const std::string &keyword, const QString &shape)
{
    if (qsizetype(keyword.size()) != shape.size())
        return false;
    for (qsizetype i = 0; i < shape.size(); ++i)
        for (qsizetype j = 0; j < shape.size(); ++j)
            if ((shape[i] == shape[j]) != (keyword[std::size_t(i)] == keyword[std::size_t(j)]))
                return false;
    return true;
}

} // namespace

class KeywordPatternTest final : public QObject {
    Q_OBJECT

private slots:
    void counts_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<quint64>("count");
        QTest::addColumn<quint64>("dropped");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("shape");  // every keyword fits it

        constexpr quint64 all = KeywordPattern::saturated;
        auto row = [](const char *name, const QString &pattern, quint64 count, quint64 dropped = 0,
                      const QString &first = {}, const QString &shape = {}) {
            QTest::newRow(name) << pattern << count << dropped << first << shape;
        };
        row("initials", QStringLiteral("{声母}"), 20, 0, QStringLiteral("b"));
        row("finals", QStringLiteral("{韵母}"), 24, 0, QStringLiteral("a"));
        row("syllables", QStringLiteral("{音节}"), 405, 0, QStringLiteral("a"));
        row("digit", QStringLiteral("{数字}"), 10, 0, QStringLiteral("0"));
        row("letter", QStringLiteral("{字母}"), 26);
        row("letter or digit", QStringLiteral("{字母数字}"), 36);
        row("three initials", QStringLiteral("{声母:3}"), 8000, 0, QStringLiteral("bbb"));
        row("four initials", QStringLiteral("{声母}{声母}{声母}{声母}"), 160000);
        row("two syllables", QStringLiteral("{音节}{音节}"), 405 * 405, 0, QStringLiteral("aa"));
        row("AABB", QStringLiteral("{数字:AABB}"), 90, 0, QStringLiteral("0011"), QStringLiteral("AABB"));
        row("ABAB", QStringLiteral("{数字:ABAB}"), 90, 0, QStringLiteral("0101"), QStringLiteral("ABAB"));
        row("AAAB", QStringLiteral("{数字:AAAB}"), 90, 0, QStringLiteral("0001"), QStringLiteral("AAAB"));
        row("ABBB", QStringLiteral("{数字:ABBB}"), 90, 0, QStringLiteral("0111"), QStringLiteral("ABBB"));
        row("ABC", QStringLiteral("{数字:ABC}"), 720, 0, QStringLiteral("012"), QStringLiteral("ABC"));
        row("ABCD letters", QStringLiteral("{字母:ABCD}"), 26 * 25 * 24 * 23, 0, {}, QStringLiteral("ABCD"));
        row("ABCA letters", QStringLiteral("{字母:ABCA}"), 26 * 25 * 24, 0, QStringLiteral("abca"), QStringLiteral("ABCA"));
        row("digit run", QStringLiteral("{顺子:3}"), 8, 0, QStringLiteral("012"));
        row("digit run down", QStringLiteral("{倒顺:4}"), 7, 0, QStringLiteral("3210"));
        row("run of all ten", QStringLiteral("{顺子:数字10}"), 1, 0, QStringLiteral("0123456789"));
        row("letter run", QStringLiteral("{顺子:字母3}"), 24, 0, QStringLiteral("abc"));
        row("run without 4", QStringLiteral("{顺子:3}不含4"), 5, 0, QStringLiteral("012"));
        row("run beside AA", QStringLiteral("{顺子:3}{数字:AA}"), 80, 0, QStringLiteral("01200"));
        row("AA with fixed 88", QStringLiteral("{数字:AA88}"), 10, 0, QStringLiteral("0088"));
        row("full-width", QStringLiteral("｛数字：ＡＡＢＢ｝"), 90);
        row("four digits without 4", QStringLiteral("{数字:4}不含4"), 9 * 9 * 9 * 9, 0, QStringLiteral("0000"));
        row("AABB without 4 or 7", QStringLiteral("不含4,7 {数字:AABB}"), 8 * 7);
        row("excluded fixed digit", QStringLiteral("{数字:AA4}不含4"), 0);
        row("exclusion reaches lists", QStringLiteral("{前缀:a4,b}c 不含4"), 1, 0, QStringLiteral("bc"));
        row("prefixes with pinyin", QStringLiteral("{前缀:my,get}{拼音:海棠}"), 4, 0, QStringLiteral("myhaitang"));
        row("optional affixes", QStringLiteral("{前缀:,my}shop{后缀:,app}"), 4, 0, QStringLiteral("shop"));
        row("alternation", QStringLiteral("{a|b|c}{x,y}"), 6, 0, QStringLiteral("ax"));
        row("common prefixes", QStringLiteral("{前缀}abc"), 12, 0, QStringLiteral("myabc"));
        row("leading hyphen dropped", QStringLiteral("-{数字}"), 0, 10);
        row("hyphen at either end", QStringLiteral("{前缀:-,a}b{后缀:,-}"), 1, 3, QStringLiteral("ab"));
        row("over 63 dropped", QString(QString(60, u'x') + QStringLiteral("{前缀:,a,ab,abc,abcd}")), 4, 1);
        row("nothing fits", QStringLiteral("{字母:32}{字母:32}"), 0, all);
        row("saturates", QStringLiteral("{音节:8}"), all, 0, QStringLiteral("aaaaaaaa"));
    }

    void counts()
    {
        QFETCH(QString, pattern);
        QFETCH(quint64, count);
        QFETCH(quint64, dropped);
        QFETCH(QString, first);
        QFETCH(QString, shape);

        PatternError error;
        const std::optional<KeywordPattern> parsed = KeywordPattern::parse(pattern, &error);
        QVERIFY2(parsed, qPrintable(error.text()));
        QCOMPARE(parsed->count(), count);
        QCOMPARE(parsed->dropped(), dropped);

        KeywordPattern::Generator generator = parsed->generate();
        std::string keyword;
        if (!first.isEmpty()) {
            QVERIFY(generator.next(keyword));
            QCOMPARE(QString::fromStdString(keyword), first);
            generator = parsed->generate();
        }
        if (count > 200000)
            return;
        // A shape's keywords are all different (two combinations may make one
        // keyword elsewhere: {音节}{音节} makes "ana" as a+na and an+a).
        quint64 made = 0;
        QSet<QString> seen;
        while (generator.next(keyword)) {
            ++made;
            QVERIFY2(isLabel(keyword), keyword.c_str());
            if (!shape.isEmpty()) {
                QVERIFY2(fitsShape(keyword, shape), keyword.c_str());
                seen.insert(QString::fromStdString(keyword));
            }
        }
        QCOMPARE(made, count);
        QCOMPARE(quint64(seen.size()), shape.isEmpty() ? 0 : count);
    }

    void pinyin_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("full");
        QTest::addColumn<QString>("initials");
        auto row = [](const QString &text, const char *full, const char *initials) {
            QTest::newRow(qPrintable(text)) << text << QString::fromLatin1(full) << QString::fromLatin1(initials);
        };
        row(QStringLiteral("海棠"), "haitang", "ht");
        row(QStringLiteral("上海"), "shanghai", "sh");
        row(QStringLiteral("深圳"), "shenzhen", "sz");
        row(QStringLiteral("阿里巴巴"), "alibaba", "albb");
        // ICU knows this word; read alone, 重 would be zhong.
        row(QStringLiteral("重庆"), "chongqing", "cq");
        // ü as v, also where ICU writes the syllables together.
        row(QStringLiteral("绿色"), "lvse", "ls");
        row(QStringLiteral("女人"), "nvren", "nr");
        // A polyphone ICU reads otherwise, set by the trader.
        row(QStringLiteral("长(chang)沙"), "changsha", "cs");
        row(QStringLiteral("厦（xia）门"), "xiamen", "xm");
        // ICU reads 乐 as le here; letters and digits stay as written.
        row(QStringLiteral("QQ音乐(yue)"), "qqyinyue", "qqyy");
        row(QStringLiteral("3D打印"), "3ddayin", "3ddy");
        row(QStringLiteral("天安门"), "tiananmen", "tam");
    }

    void pinyin()
    {
        QFETCH(QString, text);
        QFETCH(QString, full);
        QFETCH(QString, initials);
        QString error;
        const std::optional<norvale::PinyinReading> reading = norvale::pinyinReading(text, &error);
        QVERIFY2(reading, qPrintable(error));
        QCOMPARE(QString::fromStdString(reading->full), full);
        QCOMPARE(QString::fromStdString(reading->initials), initials);
    }

    void syllables()
    {
        const QStringList &all = norvale::pinyinSyllables();
        QCOMPARE(QSet<QString>(all.cbegin(), all.cend()).size(), all.size());
        static const QRegularExpression letters(QStringLiteral("^[a-z]{1,6}$"));
        for (const QString &s : all)
            QVERIFY2(letters.match(s).hasMatch(), qPrintable(s));
        for (const char *s : {"zhuang", "lve", "nv", "er", "yong", "weng", "dia"})
            QVERIFY2(all.contains(QLatin1StringView(s)), s);
        QVERIFY(!all.contains(QStringLiteral("hm")));
        QVERIFY(!all.contains(QStringLiteral("lu") + QStringLiteral("e")));
    }

    void errors_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<qsizetype>("position");
        auto row = [](const char *name, const QString &pattern, qsizetype position) {
            QTest::newRow(name) << pattern << position;
        };
        row("empty", QString(), 1);
        row("unclosed", QStringLiteral("ab{声母"), 3);
        row("stray close", QStringLiteral("abc}"), 4);
        row("unknown class", QStringLiteral("x{声调}"), 2);
        row("Chinese outside braces", QStringLiteral("my海棠"), 3);
        row("underscore", QStringLiteral("a_b"), 2);
        row("count out of range", QStringLiteral("{数字:0}"), 5);
        row("shape over syllables", QStringLiteral("{音节:AB}"), 5);
        row("bad shape character", QStringLiteral("{数字:AB-}"), 7);
        row("exclusion without characters", QStringLiteral("{数字}不含"), 5);
        row("run longer than the digits", QStringLiteral("{顺子:11}"), 5);
        row("run without a length", QStringLiteral("{倒顺}"), 4);
        row("pinyin without text", QStringLiteral("{拼音:}"), 1);
        row("pinyin of no Han", QStringLiteral("{拼音:海棠,！}"), 8);
        row("unpaired reading", QStringLiteral("{拼音:长(chang沙}"), 5);
        row("list with a dot", QStringLiteral("{前缀:my,a.b}"), 9);
        row("too long", QString(1001, u'a'), 1001);
    }

    void errors()
    {
        QFETCH(QString, pattern);
        QFETCH(qsizetype, position);
        PatternError error;
        QVERIFY(!KeywordPattern::parse(pattern, &error));
        QVERIFY(!error.message.isEmpty());
        QCOMPARE(error.position, position);
        QVERIFY(error.text().startsWith(QStringLiteral("第 %1 个字符：").arg(position)));
    }
};

QTEST_GUILESS_MAIN(KeywordPatternTest)
#include "KeywordPatternTest.moc"
