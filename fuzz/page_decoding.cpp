// Page decoding: a known character set always decodes; an unknown one never
// does; and no byte of the body is lost without a trace: a text without a
// replacement character encodes back to the very body (less a leading UTF-8
// byte-order mark, which is dropped on purpose).
#include "fuzz/FuzzInput.h"
#include "norvale/core/web/GetBody.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>

using namespace norvale;

namespace {

struct CharacterSet {
    const char *name;     // as a caller passes it
    const char *encoder;  // what encodes the text back; nullptr: the name is unknown
};

// The program passes "GB2312" and "UTF-8"; the rest stand for what a changed
// caller or configuration could pass.
constexpr std::array<CharacterSet, 7> sets{{
    {"GB2312", "GBK"},
    {"gb2312", "GBK"},
    {"GBK", "GBK"},
    {"UTF-8", "UTF-8"},
    {"utf-8", "UTF-8"},
    {"x-no-such-set", nullptr},
    {"", nullptr},
}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input = fuzz::bytes(data, size);
    const uint8_t choice = data[0] % (sets.size() + 1);

    if (choice == sets.size()) {
        // A name of the input's own, up to the first line break.
        const qsizetype end = input.indexOf('\n');
        const QString name = QString::fromLatin1(input.mid(1, end < 0 ? -1 : end - 1));
        const QByteArray body = end < 0 ? QByteArray() : input.mid(end + 1);
        const std::optional<QString> text = BytesToBstr(body, name);
        const bool plain = std::all_of(name.cbegin(), name.cend(),
                                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
        fuzz::require(plain || !text, "a name with blanks, controls or non-ASCII names no set",
                      QString::fromLatin1(input.toHex()));
        return 0;
    }

    const CharacterSet &set = sets[choice];
    const QByteArray body = input.mid(1);
    const std::optional<QString> text = BytesToBstr(body, QString::fromLatin1(set.name));
    fuzz::require(text.has_value() == (set.encoder != nullptr), "known sets decode, unknown ones do not",
                  QString::fromLatin1(input.toHex()));
    if (!text)
        return 0;
    QByteArray expected = body;
    if (qstrcmp(set.encoder, "UTF-8") == 0 && expected.startsWith("\xEF\xBB\xBF"))
        expected.remove(0, 3);
    fuzz::require(expected.isEmpty() || !text->isEmpty(), "a body never decodes to nothing",
                  QString::fromLatin1(input.toHex()));
    if (text->contains(QChar::ReplacementCharacter))
        return 0;
    QStringEncoder encoder(set.encoder);
    fuzz::require(encoder.encode(*text) == expected, "a clean decoding encodes back to the body",
                  QString::fromLatin1(input.toHex()));
    return 0;
}
