#include "tests/support/MaxMindDbWriter.h"

#include <QFile>
#include <QStringList>

#include <cstring>

namespace norvale::test {

namespace {

enum Type { String = 2, Double = 3, Uint16 = 5, Uint32 = 6, Map = 7, Array = 11 };

void appendBigEndian(QByteArray &out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out += char(value >> (8 * i));
}

// The control byte(s) of a value of type and size: sizes from 29 up take one
// to three more bytes, each step counting from where the one before ended.
QByteArray control(int type, quint32 size)
{
    QByteArray out;
    const int low = size < 29 ? int(size) : size < 285 ? 29 : size < 65821 ? 30 : 31;
    if (type <= 7) {
        out += char(type << 5 | low);
    } else {
        out += char(low);
        out += char(type - 7);
    }
    if (low >= 29)
        appendBigEndian(out, size - (low == 29 ? 29 : low == 30 ? 285 : 65821), low - 28);
    return out;
}

// One value in the data section's encoding.
QByteArray encodeMaxMindValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        QByteArray out = control(Map, quint32(map.size()));
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            out += encodeMaxMindValue(it.key()) + encodeMaxMindValue(it.value());
        return out;
    }
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        QByteArray out = control(Array, quint32(list.size()));
        for (const QVariant &item : list)
            out += encodeMaxMindValue(item);
        return out;
    }
    case QMetaType::Double: {
        const double number = value.toDouble();
        quint64 bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        QByteArray out = control(Double, 8);
        appendBigEndian(out, bits, 8);
        return out;
    }
    case QMetaType::Int:
    case QMetaType::UInt: {
        const quint32 number = value.toUInt();
        const int bytes = number == 0 ? 0 : number < 0x100 ? 1 : number < 0x10000 ? 2 : number < 0x1000000 ? 3 : 4;
        QByteArray out = control(Uint32, quint32(bytes));
        appendBigEndian(out, number, bytes);
        return out;
    }
    default: {
        const QByteArray text = value.toString().toUtf8();
        return control(String, quint32(text.size())) + text;
    }
    }
}

} // namespace

void MaxMindDbWriter::add(const QString &network, int prefixLength, const QVariantMap &record)
{
    quint32 address = 0;
    for (const QString &part : network.split(u'.'))
        address = address << 8 | (part.toUInt() & 0xff);
    m_records.push_back(record);
    const long long data = -2 - (long long)(m_records.size() - 1);
    size_t node = 0;
    for (int depth = 0; depth < prefixLength; ++depth) {
        const int bit = int(address >> (31 - depth) & 1);
        if (depth == prefixLength - 1) {
            m_nodes[node][size_t(bit)] = data;
            break;
        }
        if (m_nodes[node][size_t(bit)] < 0) {
            m_nodes.push_back({-1, -1});
            m_nodes[node][size_t(bit)] = (long long)(m_nodes.size() - 1);
        }
        node = size_t(m_nodes[node][size_t(bit)]);
    }
}

bool MaxMindDbWriter::write(const QString &path, const QString &databaseType) const
{
    QByteArray data;
    std::vector<quint32> offsets;
    for (const QVariantMap &record : m_records) {
        offsets.push_back(quint32(data.size()));
        data += encodeMaxMindValue(record);
    }
    const auto nodeCount = quint32(m_nodes.size());
    QByteArray out;
    for (const auto &node : m_nodes) {
        for (const long long child : node) {
            const quint32 record = child == -1 ? nodeCount
                                   : child >= 0 ? quint32(child)
                                                : nodeCount + 16 + offsets[size_t(-2 - child)];
            appendBigEndian(out, record, 4);
        }
    }
    out += QByteArray(16, '\0');
    out += data;
    out += QByteArray("\xAB\xCD\xEFMaxMind.com");
    QVariantMap metadata{
        {QStringLiteral("node_count"), QVariant::fromValue(nodeCount)},
        {QStringLiteral("record_size"), QVariant::fromValue(32u)},
        {QStringLiteral("ip_version"), QVariant::fromValue(4u)},
        {QStringLiteral("database_type"), databaseType},
        {QStringLiteral("languages"), QVariantList{QStringLiteral("en"), QStringLiteral("zh-CN")}},
        {QStringLiteral("binary_format_major_version"), QVariant::fromValue(2u)},
        {QStringLiteral("binary_format_minor_version"), QVariant::fromValue(0u)},
        {QStringLiteral("build_epoch"), QVariant::fromValue(1700000000u)},
        {QStringLiteral("description"), QVariantMap{{QStringLiteral("en"), QStringLiteral("Norvale test data")}}},
    };
    // The reader takes these as 16-bit numbers; uint32 of the same value is
    // not accepted for them.
    QByteArray meta = control(Map, quint32(metadata.size()));
    for (auto it = metadata.cbegin(); it != metadata.cend(); ++it) {
        meta += encodeMaxMindValue(it.key());
        const bool sixteen = it.key() == QLatin1StringView("record_size") || it.key() == QLatin1StringView("ip_version")
                             || it.key().startsWith(QLatin1StringView("binary_format"));
        if (sixteen) {
            meta += control(Uint16, 2);
            appendBigEndian(meta, it.value().toUInt(), 2);
        } else if (it.key() == QLatin1StringView("build_epoch")) {
            meta += char(8);   // uint64: extended type 9, 8 bytes
            meta += char(9 - 7);
            appendBigEndian(meta, it.value().toUInt(), 8);
        } else {
            meta += encodeMaxMindValue(it.value());
        }
    }
    out += meta;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

} // namespace norvale::test
