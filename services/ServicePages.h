#pragma once

#include <QByteArray>
#include <QHash>
#include "services/ServiceStore.h"

#include <QSqlDatabase>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace norvale {

class AnswerCache;
class GeoFile;
class Registries;
class SqliteFileCounter;

// One answer, ready to send.
struct Reply {
    int status = 200;
    std::string contentType;
    QByteArray body;
    bool chunked = false;   // send without Content-Length

    // Ways of sending that the download tests need. generatedSize >= 0: the
    // body (then unused) is generatedBytes, made as it is sent, never held.
    qint64 generatedSize = -1;
    qint64 cutAfter = -1;       // announce the whole body, drop the connection after this many bytes
    int trickleBytes = 0;       // with trickleEveryMs: this many bytes, then a pause
    int trickleEveryMs = 0;

    // Made from the tables alone: the same request gets the same page while
    // they stay as they are.
    bool fromTables = false;

    // Why an answer of 400 or more was given, for the log; empty: its status says it.
    const char *reason = "";
};

using Parameters = QHash<QString, QString>;

// Every page of the service, generated from its database. A page made from
// the tables alone is kept and handed out again while the database's change
// number (svc_changes) stands still, so an edit is seen by the next request.
// Safe to call from many threads: each uses its own connection. A page the
// database could not answer is a 503, never a page without its marker.
class ServicePages final {
public:
    // registries: asked for the names the tables do not decide; none: the
    // tables alone decide.
    explicit ServicePages(ServiceStore store, Registries *registries = nullptr);
    ~ServicePages();
    ServicePages(const ServicePages &) = delete;
    ServicePages &operator=(const ServicePages &) = delete;

    // The database keeps a change number (ensureChangeCounter): pages may
    // be kept. Set before serving starts.
    void setChangeCounter(bool counted);
    // The geolocation page answers from file first, from svc_geo for the
    // addresses it holds no record of. Set before serving starts.
    void setGeoFile(const GeoFile *file) { m_geo = file; }

    // The address the service answers on, e.g. http://127.0.0.1:8858. Set
    // before serving starts.
    void setBase(const QString &base) { m_base = base; }

    // target: the request's target as sent, which names the page among
    // those kept; empty: not kept.
    Reply answer(const QString &path, const Parameters &parameters, std::string_view target = {}) const;

    // Whether a page for target is kept and the database is a local file,
    // so that answering costs no wait: at most a read of the change number,
    // or, after an edit, the page made again from local tables.
    bool answersAtOnce(std::string_view target) const;

    // Lines the /stats page adds: what the registries were asked.
    QByteArray statsText() const;

private:
    Reply route(const QSqlDatabase &db, const QString &path, const Parameters &parameters) const;
    Reply dataAddress(const QSqlDatabase &db, const Parameters &parameters) const;
    Reply domainStatus(const QSqlDatabase &db, const QString &domain) const;
    Reply whois(const QSqlDatabase &db, const QString &domain) const;
    Reply ipReverse(const QSqlDatabase &db, const QString &address) const;
    Reply ipLocation(const QSqlDatabase &db, const QString &address) const;
    Reply download(const QSqlDatabase &db, const QString &name, bool chunked) const;
    Reply downloadVariant(const QSqlDatabase &db, const QString &variant, const QString &name,
                          const Parameters &parameters) const;
    Reply storedFile(const QSqlDatabase &db, const QString &path) const;
    Reply linkPage(const QSqlDatabase &db, const QString &path, const Parameters &parameters) const;
    Reply notFound(const QString &path) const;
    // The database's change number; -1 when it cannot be read.
    qint64 changeNumber(const QSqlDatabase &db) const;

    ServiceStore m_store;
    Registries *m_registries = nullptr;
    QString m_base;
    bool m_counted = false;
    const GeoFile *m_geo = nullptr;
    std::unique_ptr<AnswerCache> m_cache;
    // A SQLite file's own counter moves with every commit, the registry
    // cache's too; while it stands still the change number is the one read
    // last, and no statement need ask for it.
    std::unique_ptr<SqliteFileCounter> m_fileCounter;
    mutable std::mutex m_stampMutex;
    mutable std::optional<std::pair<uint32_t, qint64>> m_stamp;   // file counter, change number
};

} // namespace norvale
