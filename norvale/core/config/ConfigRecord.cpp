#include "norvale/core/config/ConfigRecord.h"

namespace norvale {

namespace {

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

QString ConfigRecord::value(ConfigKey key) const
{
    return m_values.isEmpty() ? QString() : m_values.at(qsizetype(key));
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
