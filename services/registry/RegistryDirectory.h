#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

namespace norvale {

// A port-43 server as the whois table names it.
struct WhoisServer {
    QString host;
    int port = 43;
    QStringList noMatch;   // texts by which the server says a name is not registered
};

// Where the registry of a name answers.
struct RegistrySource {
    enum class Kind { None, Rdap, Whois };
    Kind kind = Kind::None;
    QString zone;        // the zone that matched, "com.cn"
    QString query;       // the name to ask for, in ASCII
    QString rdapBase;    // Rdap: the base address, ending with "/"
    WhoisServer whois;   // Whois: the server
    // The key the per-server limits are kept under: host[:port].
    QString serverKey() const;
};

// The IANA bootstrap file for domain names and the TLD -> whois-server
// table, read from their texts. Immutable once read, so threads share it.
class RegistryDirectory final {
public:
    // The bootstrap (RFC 9224): {"publication": …, "services": [[[labels…], [bases…]], …]}.
    bool readBootstrap(const QByteArray &json, QString *error);
    // The whois table: per line "ZONE SERVER[:PORT] [NO-MATCH TEXT|OTHER TEXT…]", or
    // "@HOST ADDRESS[:PORT]" where a referral to HOST must go elsewhere; "#" starts a comment.
    bool readWhoisTable(const QByteArray &text, QString *error);

    QString publication() const { return m_publication; }
    qsizetype rdapZones() const { return m_rdap.size(); }
    qsizetype whoisZones() const { return m_whois.size(); }

    // The source that answers for name. The longest matching zone of either
    // table decides; where both list the same zone, RDAP wins.
    RegistrySource sourceFor(const QString &name) const;

    // Where a thin registry's referral to host goes: the table's own address
    // for it, else host on port 43.
    WhoisServer referral(const QString &host) const;

private:
    QString m_publication;
    QHash<QString, QString> m_rdap;        // zone -> first https (else http) base
    QHash<QString, WhoisServer> m_whois;   // zone -> server
    QHash<QString, QString> m_aliases;     // referral host -> address[:port]
};

// The name in ASCII (IDNA), lower case, without a final dot; empty when it
// cannot be a host name of at least two labels.
QString asciiDomain(const QString &name);

} // namespace norvale
