#include "services/GeoFile.h"

#include <QFile>

#include <maxminddb.h>

#include <cctype>
#include <initializer_list>
#include <vector>

namespace norvale {

namespace {

using Path = std::initializer_list<const char *>;

// The value at path (ending in nullptr, as MMDB_aget wants it), as text.
QString valueAt(MMDB_entry_s &entry, Path path)
{
    std::vector<const char *> keys(path);
    keys.push_back(nullptr);
    MMDB_entry_data_s data{};
    if (MMDB_aget_value(&entry, &data, keys.data()) != MMDB_SUCCESS || !data.has_data)
        return {};
    switch (data.type) {
    case MMDB_DATA_TYPE_UTF8_STRING:
        return QString::fromUtf8(data.utf8_string, qsizetype(data.data_size));
    case MMDB_DATA_TYPE_DOUBLE:
        return QString::number(data.double_value, 'f', 4);
    case MMDB_DATA_TYPE_FLOAT:
        return QString::number(double(data.float_value), 'f', 4);
    case MMDB_DATA_TYPE_UINT16:
        return QString::number(data.uint16);
    case MMDB_DATA_TYPE_UINT32:
        return QString::number(data.uint32);
    case MMDB_DATA_TYPE_INT32:
        return QString::number(data.int32);
    case MMDB_DATA_TYPE_UINT64:
        return QString::number(data.uint64);
    default:
        return {};
    }
}

// A name in Chinese where the file has one, else in English.
QString nameAt(MMDB_entry_s &entry, Path path)
{
    for (const char *language : {"zh-CN", "en"}) {
        std::vector<const char *> keys(path);
        keys.push_back("names");
        keys.push_back(language);
        keys.push_back(nullptr);
        MMDB_entry_data_s data{};
        if (MMDB_aget_value(&entry, &data, keys.data()) == MMDB_SUCCESS && data.has_data
            && data.type == MMDB_DATA_TYPE_UTF8_STRING && data.data_size > 0)
            return QString::fromUtf8(data.utf8_string, qsizetype(data.data_size));
    }
    return {};
}

QString firstOf(MMDB_entry_s &entry, std::initializer_list<Path> paths)
{
    for (const Path &path : paths) {
        const QString value = valueAt(entry, path);
        if (!value.isEmpty())
            return value;
    }
    return {};
}

} // namespace

GeoFile::GeoFile() : m_db(std::make_unique<MMDB_s>()) {}

GeoFile::~GeoFile()
{
    if (m_open)
        MMDB_close(m_db.get());
}

bool GeoFile::open(const QString &path, QString *error)
{
    const int status = MMDB_open(QFile::encodeName(path).constData(), MMDB_MODE_MMAP, m_db.get());
    if (status != MMDB_SUCCESS) {
        *error = QStringLiteral("cannot read the MaxMind DB file ") + path + QStringLiteral(": ")
                 + QString::fromUtf8(MMDB_strerror(status));
        return false;
    }
    m_open = true;
    return true;
}

std::optional<QStringList> GeoFile::lookUp(const QString &address) const
{
    if (!m_open || address.isEmpty() || address.size() > 64)
        return std::nullopt;
    int resolverError = 0;
    int status = MMDB_SUCCESS;
    // Numeric addresses only: a name would be looked up in the DNS.
    const QByteArray text = address.toLatin1();
    if (text.contains(' ') || !(address.contains(u'.') || address.contains(u':')))
        return std::nullopt;
    for (const char c : text) {
        if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':'))
            return std::nullopt;
    }
    MMDB_lookup_result_s result = MMDB_lookup_string(m_db.get(), text.constData(), &resolverError, &status);
    if (resolverError != 0 || status != MMDB_SUCCESS || !result.found_entry)
        return std::nullopt;
    MMDB_entry_s &entry = result.entry;
    return QStringList{
        nameAt(entry, {"country"}),
        nameAt(entry, {"subdivisions", "0"}),
        nameAt(entry, {"city"}),
        valueAt(entry, {"location", "latitude"}),
        valueAt(entry, {"location", "longitude"}),
        valueAt(entry, {"postal", "code"}),
        valueAt(entry, {"location", "time_zone"}),
        // City files carry no provider; ISP files, and some others, do.
        firstOf(entry, {{"isp"}, {"traits", "isp"}, {"organization"}, {"traits", "organization"},
                        {"autonomous_system_organization"}, {"traits", "autonomous_system_organization"}}),
        // No file of the format carries the calling code.
        QString(),
    };
}

} // namespace norvale
