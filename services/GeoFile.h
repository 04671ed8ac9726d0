#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

struct MMDB_s;

namespace norvale {

// A MaxMind DB file (GeoLite2-City, DB-IP Lite City, or any of that
// format), opened once and read by many threads at once.
class GeoFile final {
public:
    GeoFile();
    ~GeoFile();
    GeoFile(const GeoFile &) = delete;
    GeoFile &operator=(const GeoFile &) = delete;

    // False with the reason when the file cannot be read as a MaxMind DB.
    bool open(const QString &path, QString *error);

    // The geolocation page's nine fields for address (country, region, city,
    // latitude, longitude, postal code, time zone, ISP, calling code), names
    // in Chinese where the file has them, else English; a field the file
    // does not carry is empty. nullopt when the file holds no record for the
    // address, or it is not an address.
    std::optional<QStringList> lookUp(const QString &address) const;

private:
    std::unique_ptr<MMDB_s> m_db;
    bool m_open = false;
};

} // namespace norvale
