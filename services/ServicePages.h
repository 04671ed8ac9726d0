#pragma once

#include <QByteArray>
#include <QHash>
#include "services/ServiceStore.h"

#include <QSqlDatabase>
#include <QString>

#include <string>

namespace norvale {

class Registries;

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
};

using Parameters = QHash<QString, QString>;

// Every page of the service, generated from its database on each request.
// Safe to call from many threads: each uses its own connection. A page the
// database could not answer is a 503, never a page without its marker.
class ServicePages final {
public:
    // registries: asked for the names the tables do not decide; none: the
    // tables alone decide.
    explicit ServicePages(ServiceStore store, Registries *registries = nullptr);

    // The address the service answers on, e.g. http://127.0.0.1:8858. Set
    // before serving starts.
    void setBase(const QString &base) { m_base = base; }

    Reply answer(const QString &path, const Parameters &parameters) const;

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

    ServiceStore m_store;
    Registries *m_registries = nullptr;
    QString m_base;
};

} // namespace norvale
