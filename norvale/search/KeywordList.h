#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace norvale {

// Text with a line break in it is a list of keywords, one per line.
bool isKeywordList(const QString &text);

// The keywords of a list as the search reads them: each line cleaned like a
// single keyword (cleanKeyword), blank lines and lines that clean to nothing
// left out, and a keyword met before (in any letter case) not repeated.
QStringList keywordLines(const QString &text);

// A keyword file's text: UTF-8 (with or without its byte-order mark) when the
// bytes are valid UTF-8, UTF-16 when they begin with its byte-order mark,
// otherwise GBK, as Chinese editors save by default.
QString decodeKeywordFile(const QByteArray &bytes);

} // namespace norvale
