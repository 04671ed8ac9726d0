#include "norvale/about/ConfigRecord.h"

namespace norvale {

namespace {

template <typename View>
qsizetype keyIndex(View key)
{
    for (qsizetype i = 0; i < qsizetype(kConfigKeys.size()); ++i) {
        if (key == kConfigKeys[size_t(i)])
            return i;
    }
    return -1;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

} // namespace

ConfigRecord::ConfigRecord(QStringList values)
{
    if (values.size() == qsizetype(kConfigKeys.size()))
        m_values = std::move(values);
}

QString ConfigRecord::value(QStringView key) const
{
    const qsizetype i = keyIndex(key);
    return i < 0 || m_values.isEmpty() ? QString() : m_values.at(i);
}

QString ConfigRecord::value(QLatin1StringView key) const
{
    const qsizetype i = keyIndex(key);
    return i < 0 || m_values.isEmpty() ? QString() : m_values.at(i);
}

bool ConfigRecord::hasKey(QStringView key)
{
    return keyIndex(key) >= 0;
}

bool offersUpgrade(QStringView lver)
{
    // The number is compared as decimal text, never as a float, so that
    // 1.0000000001 is above 1.0 and 1.000 is not.
    QString whole;
    QString fraction;
    bool inFraction = false;
    for (const QChar c : lver) {
        if (isBlank(c))
            continue;
        if (c >= u'0' && c <= u'9') {
            (inFraction ? fraction : whole).append(c);
        } else if (c == u'.' && !inFraction) {
            inFraction = true;
        } else {
            break;
        }
    }

    qsizetype firstNonZero = 0;
    while (firstNonZero < whole.size() && whole.at(firstNonZero) == u'0')
        ++firstNonZero;
    const QStringView wholeDigits = QStringView(whole).sliced(firstNonZero);

    if (wholeDigits.isEmpty())
        return false;                       // 0.x never beats 1.0
    if (wholeDigits.size() > 1 || wholeDigits.front() > u'1')
        return true;                        // 2 and up
    for (const QChar c : fraction) {        // exactly 1: any non-zero decimal
        if (c != u'0')
            return true;
    }
    return false;
}

} // namespace norvale
