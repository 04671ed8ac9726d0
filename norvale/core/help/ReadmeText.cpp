#include "norvale/core/help/ReadmeText.h"

#include "norvale/core/web/GetBody.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace norvale {

namespace {

const QLatin1StringView kReadmeName("readme.txt");
// Far beyond any readme; keeps a stray huge file from filling the memory.
constexpr qint64 kMostBytes = 4 * 1024 * 1024;

} // namespace

QString readmeMissingText()
{
    return QStringLiteral("帮助文件readme.txt不存在");
}

QString decodeReadme(const QByteArray &bytes)
{
    // Stateless: bytes that end inside a character count as an error too.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    // As pages are decoded, so that a character cut off at the end shows as
    // U+FFFD instead of vanishing.
    return BytesToBstr(bytes, QStringLiteral("GB18030")).value_or(QString());
}

QString joinReadmeLines(QStringView text)
{
    QString joined;
    joined.reserve(text.size() + text.size() / 16 + 2);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        joined += text.sliced(start, end - start);
        joined += QLatin1StringView("\r\n");
        if (end < text.size() && text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n')
            ++end;
        start = end + 1;
    }
    return joined;
}

QString readmeViewerText(const QString &programFolder)
{
    // Listed rather than opened by path, so that the name compares exactly
    // even on a file system that ignores letter case; Files leaves out
    // hidden files, folders and devices.
    const QStringList found = QDir(programFolder).entryList(
        {QString(kReadmeName)}, QDir::Files | QDir::CaseSensitive | QDir::Readable);
    if (!found.contains(kReadmeName))
        return readmeMissingText();
    QFile file(QDir(programFolder).filePath(kReadmeName));
    if (!file.open(QIODevice::ReadOnly))
        return readmeMissingText();
    QByteArray bytes = file.read(kMostBytes);
    if (!file.atEnd()) {
        // Cut back to a character boundary, so a long UTF-8 file stays UTF-8.
        while (!bytes.isEmpty() && (uchar(bytes.back()) & 0xC0) == 0x80)
            bytes.chop(1);
        if (!bytes.isEmpty() && uchar(bytes.back()) >= 0xC0)
            bytes.chop(1);
    }
    return joinReadmeLines(decodeReadme(bytes));
}

} // namespace norvale
