// The readme viewer's text: decoding keeps every byte (UTF-8 when valid,
// GB18030 otherwise, and a clean GB18030 text encodes back to the file), and
// the line joining ends every line with CR LF, keeps every other character
// and makes one line of each the file has.
#include "fuzz/FuzzInput.h"
#include "norvale/core/help/ReadmeText.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>

using namespace norvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    const QString text = decodeReadme(bytes);
    const QString hex = QString::fromLatin1(bytes.toHex());

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString asUtf8 = utf8.decode(bytes);
    if (!utf8.hasError()) {
        fuzz::require(text == asUtf8, "valid UTF-8 reads as UTF-8", hex);
    } else {
        fuzz::require(!text.isEmpty(), "a file never reads as nothing", hex);
        if (!text.contains(QChar::ReplacementCharacter)) {
            QStringEncoder gb18030("GB18030");
            fuzz::require(gb18030.encode(text) == bytes, "a clean GB18030 reading encodes back to the file", hex);
        }
    }

    const QString joined = joinReadmeLines(text);
    fuzz::require(joined.isEmpty() == text.isEmpty(), "only an empty text joins to nothing", hex);
    fuzz::require(text.isEmpty() || joined.endsWith(QLatin1StringView("\r\n")), "the last line ends too", hex);
    for (qsizetype i = 0; i < joined.size(); ++i) {
        if (joined[i] == u'\r')
            fuzz::require(i + 1 < joined.size() && joined[i + 1] == u'\n', "every CR is followed by LF", hex);
        if (joined[i] == u'\n')
            fuzz::require(i > 0 && joined[i - 1] == u'\r', "every LF follows a CR", hex);
    }
    QString content = text;
    content.remove(u'\r').remove(u'\n');
    fuzz::require(QString(joined).remove(QLatin1StringView("\r\n")) == content, "no other character changes", hex);
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(lineBreak);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    fuzz::require(joined.count(QLatin1StringView("\r\n")) == lines.size(), "one line for each of the text's", hex);
    return 0;
}
