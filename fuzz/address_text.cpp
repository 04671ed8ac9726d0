// The address-text conversion for the echo: four dot-separated decimal parts
// give their bytes in text order (each part's lowest byte), anything else 0;
// a plain dotted quad gives what inet_pton gives.
#include "fuzz/FuzzInput.h"
#include "norvale/core/net/cPing.h"

#include <QStringList>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

using namespace norvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString address = fuzz::text(data, size);
    const quint32 number = addressTextToNumber(address);
    unsigned char got[4];
    std::memcpy(got, &number, sizeof got);

    const QStringList parts = address.split(u'.');
    bool decimal = parts.size() == 4;
    for (const QString &part : parts) {
        decimal = decimal && !part.isEmpty()
                  && std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    }
    if (!decimal) {
        fuzz::require(number == 0, "anything but four decimal parts gives 0", address);
        return 0;
    }
    for (int i = 0; i < 4; ++i) {
        // 10^8 is a multiple of 256, so the last eight digits decide the lowest byte.
        const uint byte = parts[i].right(8).toUInt() % 256;
        fuzz::require(got[i] == byte, "each part gives its lowest byte, in text order", address);
    }

    // A plain quad: no part above 255, no leading zero.
    const bool plain = std::all_of(parts.cbegin(), parts.cend(), [](const QString &part) {
        return part.size() <= 3 && part.toUInt() <= 255 && (part.size() == 1 || !part.startsWith(u'0'));
    });
    if (plain) {
        in_addr expected{};
        fuzz::require(inet_pton(AF_INET, address.toLatin1().constData(), &expected) == 1
                          && std::memcmp(&expected, got, 4) == 0,
                      "a plain dotted quad reads as inet_pton reads it", address);
    }
    return 0;
}
