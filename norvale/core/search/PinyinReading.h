#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace norvale {

// The pinyin of a Chinese text as a domain trader writes it: lower-case
// ASCII, no tones, no separators, ü written v (lv, nv), as pinyin input
// methods type it.
struct PinyinReading {
    std::string full;      // 海棠 -> "haitang"
    std::string initials;  // 海棠 -> "ht"; zh, ch and sh give z, c and s
};

// Readings come from ICU's Han-Latin transform, which gives every character
// one reading: the common one, or the one a word it knows asks for (重庆 ->
// chongqing). Where that is not the wanted one, a reading in parentheses
// right after the character replaces it: 长(chang)沙 -> changsha.
// Letters and digits in the text stay as they are ("QQ音乐" -> "qqyinyue",
// "qqyy"); other characters only separate. nullopt with *error set (in
// Chinese) when the text has nothing to read, a reading in parentheses is
// not letters, or ICU cannot be used.
std::optional<PinyinReading> pinyinReading(const QString &text, QString *error);

// Every pinyin syllable without tone, ü written v: the 405 of the standard
// syllable table (interjections such as hm, ng and yo left out).
const QStringList &pinyinSyllables();

} // namespace norvale
