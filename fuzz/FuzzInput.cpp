#include "fuzz/FuzzInput.h"

#include <cstdio>
#include <cstdlib>

namespace norvale::fuzz {

QString text(const uint8_t *data, size_t size)
{
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        QString units;
        for (size_t i = 2; i + 1 < size; i += 2)
            units.append(QChar(char16_t(data[i] | (data[i + 1] << 8))));
        return units;
    }
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

void fail(const char *property, const QString &detail)
{
    std::fprintf(stderr, "PROPERTY BROKEN: %s\n", property);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  on: %s\n", detail.toUtf8().toHex(' ').constData());
    std::abort();
}

} // namespace norvale::fuzz
