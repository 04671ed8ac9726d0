#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <array>
#include <vector>

namespace norvale::test {

// Writes a small MaxMind DB file (format 2.0, IPv4 tree, 32-bit records),
// so that geolocation is tested against a file that libmaxminddb reads as it
// reads GeoLite2. Values: QVariantMap (map), QVariantList (array), QString,
// double, and unsigned integers up to 32 bits.
class MaxMindDbWriter final {
public:
    // Every address in the network (dotted IPv4 and prefix length, 1 to 32)
    // gets record. Networks must not overlap.
    void add(const QString &network, int prefixLength, const QVariantMap &record);

    bool write(const QString &path, const QString &databaseType = QStringLiteral("Norvale-Test-City")) const;

private:
    // A child: -1 none, >= 0 a node, <= -2 the data item -2 - child.
    std::vector<std::array<long long, 2>> m_nodes{{-1, -1}};
    std::vector<QVariantMap> m_records;
};

} // namespace norvale::test
