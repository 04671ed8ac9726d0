#include "services/PageText.h"

#include <QStringEncoder>

#include <cstring>

namespace norvale {

QString escapeHtml(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&': out += QLatin1StringView("&amp;"); break;
        case u'<': out += QLatin1StringView("&lt;"); break;
        case u'>': out += QLatin1StringView("&gt;"); break;
        case u'"': out += QLatin1StringView("&quot;"); break;
        case u'\'': out += QLatin1StringView("&#39;"); break;
        case u'|': out += QLatin1StringView("&#124;"); break;
        default: out += c;
        }
    }
    return out;
}

QString htmlPage(const QString &title, const QString &body, const QString &charset)
{
    return QStringLiteral("<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" "
                          "content=\"text/html; charset=")
           + charset + QStringLiteral("\">\r\n<title>") + title
           + QStringLiteral("</title>\r\n</head>\r\n<body>\r\n") + body
           + QStringLiteral("\r\n</body>\r\n</html>\r\n");
}

QByteArray encodeGb2312(const QString &text)
{
    QStringEncoder encoder("GB2312");
    if (!encoder.isValid())
        return text.toUtf8();
    return encoder.encode(text);
}

bool fitsGb2312(const QString &text)
{
    QStringEncoder encoder("GB2312");
    if (!encoder.isValid())
        return false;
    // The encoder works when its result is taken.
    const QByteArray bytes = encoder.encode(text);
    return !encoder.hasError();
}

QString fillerOne()
{
    return QStringLiteral("58_tovrak");
}

QString fillerTwo()
{
    return QStringLiteral("3plenix9");
}

QString scatterFillers(const QString &text)
{
    const QString one = fillerOne();
    const QString two = fillerTwo();
    const QString joined = two.left(4) + one + two.mid(4);
    const QString between[] = {two, one, joined, one + two};

    QString out = one + two;
    constexpr qsizetype step = 5;
    int slot = 0;
    for (qsizetype at = 0; at < text.size(); at += step) {
        out += text.mid(at, step);
        out += between[slot];
        slot = (slot + 1) % 4;
    }
    out += joined + one;
    return out;
}

QByteArray installerBytes(qsizetype size)
{
    QByteArray out(size, Qt::Uninitialized);
    static const char header[] = "MZ\x90\0Norvale 1.1 setup - generated installer for local testing\0";
    const qsizetype headerSize = qMin<qsizetype>(size, qsizetype(sizeof header));
    std::memcpy(out.data(), header, size_t(headerSize));

    quint64 state = 0x4e6f7276616c6531ULL;   // fixed, so every start serves the same bytes
    for (qsizetype i = headerSize; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out[i] = char(state >> 56);
    }
    return out;
}

void generatedBytes(qint64 offset, char *out, qsizetype count)
{
    constexpr qsizetype period = 65521;
    static const QByteArray block = installerBytes(period);
    qsizetype at = qsizetype(offset % period);
    while (count > 0) {
        const qsizetype n = qMin(count, period - at);
        std::memcpy(out, block.constData() + at, size_t(n));
        out += n;
        count -= n;
        at = 0;
    }
}

} // namespace norvale
