#include "services/registry/RegistryDirectory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace norvale {

namespace {

// host[:port] into a server; false when it is not one.
bool readAddress(const QString &text, QString *host, int *port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    *host = text;
    *port = 43;
    if (colon > 0) {
        bool ok = false;
        const int number = text.mid(colon + 1).toInt(&ok);
        if (!ok || number < 1 || number > 65535)
            return false;
        *host = text.left(colon);
        *port = number;
    }
    return !host->isEmpty();
}

} // namespace

QString RegistrySource::serverKey() const
{
    if (kind == Kind::Rdap) {
        const QUrl url(rdapBase);
        return url.host() + u':' + QString::number(url.port(url.scheme() == QLatin1StringView("http") ? 80 : 443));
    }
    return whois.host + u':' + QString::number(whois.port);
}

QString asciiDomain(const QString &name)
{
    QString text = name.trimmed().toLower();
    if (text.endsWith(u'.'))
        text.chop(1);
    if (text.isEmpty() || text.size() > 253)
        return {};
    const QString ascii = QString::fromLatin1(QUrl::toAce(text, QUrl::AceTransitionalProcessing)).toLower();
    static const QRegularExpression label(QStringLiteral("^[a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?$"));
    const QStringList labels = ascii.split(u'.');
    if (ascii.isEmpty() || ascii.size() > 253 || labels.size() < 2)
        return {};
    for (const QString &one : labels) {
        if (!label.match(one).hasMatch())
            return {};
    }
    return ascii;
}

bool RegistryDirectory::readBootstrap(const QByteArray &json, QString *error)
{
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse);
    if (!document.isObject()) {
        *error = QStringLiteral("not a JSON object: ") + parse.errorString();
        return false;
    }
    const QJsonObject root = document.object();
    const QJsonValue services = root.value(QLatin1StringView("services"));
    if (!services.isArray()) {
        *error = QStringLiteral("no \"services\" list");
        return false;
    }
    QHash<QString, QString> zones;
    for (const QJsonValue &entry : services.toArray()) {
        const QJsonArray pair = entry.toArray();
        if (pair.size() < 2)
            continue;
        // RFC 9224: prefer an https base where one is listed.
        QString chosen;
        for (const QJsonValue &base : pair.at(1).toArray()) {
            QString address = base.toString();
            const QUrl url(address);
            if (!url.isValid() || url.host().isEmpty()
                || (url.scheme() != QLatin1StringView("https") && url.scheme() != QLatin1StringView("http")))
                continue;
            if (!address.endsWith(u'/'))
                address += u'/';
            if (chosen.isEmpty() || (url.scheme() == QLatin1StringView("https") && !chosen.startsWith(QLatin1StringView("https"))))
                chosen = address;
        }
        if (chosen.isEmpty())
            continue;
        for (const QJsonValue &label : pair.at(0).toArray()) {
            const QString zone = label.toString().trimmed().toLower();
            if (!zone.isEmpty())
                zones.insert(zone, chosen);
        }
    }
    if (zones.isEmpty()) {
        *error = QStringLiteral("no zone with a usable base address");
        return false;
    }
    m_rdap = zones;
    m_publication = root.value(QLatin1StringView("publication")).toString();
    return true;
}

bool RegistryDirectory::readWhoisTable(const QByteArray &text, QString *error)
{
    QHash<QString, WhoisServer> zones;
    QHash<QString, QString> aliases;
    int number = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).section(u'#', 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")));
        if (words.size() < 2) {
            *error = QStringLiteral("line %1 names no server").arg(number);
            return false;
        }
        if (words.at(0).startsWith(u'@')) {
            aliases.insert(words.at(0).mid(1).toLower(), words.at(1));
            continue;
        }
        WhoisServer server;
        if (!readAddress(words.at(1), &server.host, &server.port)) {
            *error = QStringLiteral("line %1: not a server: ").arg(number) + words.at(1);
            return false;
        }
        const QString rest = line.section(QRegularExpression(QStringLiteral("\\s+")), 2);
        for (const QString &one : rest.split(u'|', Qt::SkipEmptyParts)) {
            if (!one.trimmed().isEmpty())
                server.noMatch << one.trimmed();
        }
        QString zone = words.at(0).toLower();
        if (zone.startsWith(u'.'))
            zone.remove(0, 1);
        zones.insert(QString::fromLatin1(QUrl::toAce(zone)), server);
    }
    // A table of no zones is allowed: an operator whose registries all speak RDAP.
    m_whois = zones;
    m_aliases = aliases;
    return true;
}

RegistrySource RegistryDirectory::sourceFor(const QString &name) const
{
    RegistrySource source;
    const QString ascii = asciiDomain(name);
    if (ascii.isEmpty())
        return source;
    const QStringList labels = ascii.split(u'.');
    // Longest zone first: every suffix that leaves at least one label.
    for (qsizetype first = 1; first < labels.size(); ++first) {
        const QString zone = labels.mid(first).join(u'.');
        const auto rdap = m_rdap.constFind(zone);
        const auto whois = m_whois.constFind(zone);
        if (rdap == m_rdap.cend() && whois == m_whois.cend())
            continue;
        source.zone = zone;
        // Asked as it is: a second-level zone the tables do not list
        // (co.uk under uk) is the registry's own business.
        source.query = ascii;
        if (rdap != m_rdap.cend()) {
            source.kind = RegistrySource::Kind::Rdap;
            source.rdapBase = *rdap;
        } else {
            source.kind = RegistrySource::Kind::Whois;
            source.whois = *whois;
        }
        return source;
    }
    return source;
}

WhoisServer RegistryDirectory::referral(const QString &host) const
{
    WhoisServer server;
    const QString key = host.trimmed().toLower();
    const auto alias = m_aliases.constFind(key);
    if (alias == m_aliases.cend() || !readAddress(*alias, &server.host, &server.port)) {
        server.host = key;
        server.port = 43;
    }
    return server;
}

} // namespace norvale
