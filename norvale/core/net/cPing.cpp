#include "norvale/core/net/cPing.h"

#include "norvale/core/net/IcmpEcho.h"
#include "norvale/core/net/Resolver.h"

#include <QUrl>

#include <cstring>
#include <vector>

namespace norvale {

namespace {

// Only blanks count, as in the texts the user types.
QString trimBlanks(QStringView text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == u' ')
        ++from;
    while (to > from && text[to - 1] == u' ')
        --to;
    return text.sliced(from, to - from).toString();
}

QString leadingTrimmedLower(const QString &text, qsizetype count)
{
    return trimBlanks(QStringView(text).left(count)).toLower();
}

// The name as the resolver wants it: internationalised names go out in their
// ASCII form, which the system resolver does not produce by itself.
QByteArray resolverName(const QString &host)
{
    for (const QChar c : host) {
        if (c.unicode() >= 0x80)
            return QUrl::toAce(host);
    }
    return host.toLatin1();
}

// The length of an "http://" or "https://" at the very start (any letter
// case), or 0. Only a real scheme is taken off: a name such as httpwatch.com
// is a name.
qsizetype schemeLength(const QString &host)
{
    for (const QLatin1StringView scheme : {QLatin1StringView("http://"), QLatin1StringView("https://")}) {
        if (host.startsWith(scheme, Qt::CaseInsensitive))
            return scheme.size();
    }
    return 0;
}

} // namespace

quint32 addressTextToNumber(const QString &address)
{
    const QStringList parts = address.split(u'.');
    if (parts.size() != 4)
        return 0;
    quint8 bytes[4];
    for (int i = 0; i < 4; ++i) {
        const QString &part = parts[i];
        if (part.isEmpty())
            return 0;
        // Reduced digit by digit, so a part of any length keeps its lowest byte.
        unsigned value = 0;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return 0;
            value = (value * 10 + unsigned(c.unicode() - u'0')) % 256;
        }
        bytes[i] = quint8(value);
    }
    quint32 number;
    std::memcpy(&number, bytes, sizeof number);
    return number;
}

QString echoStatusText(int status)
{
    return status == echostatus::Success ? QStringLiteral("success") : QStringLiteral("failure");
}

cPing::cPing(QObject *parent) : QObject(parent) {}

// Rewrites a host that begins with "http://" or "https://" (the scheme is
// dropped and "www." put in front unless it follows the scheme) and, unless
// noResolve is set, resolves hosts beginning with "www." or a scheme. Any
// other host comes back unchanged.
QString cPing::normaliseHost(QString &host, bool noResolve) const
{
    const qsizetype scheme = schemeLength(host);
    if (scheme == 0 && leadingTrimmedLower(host, 4) != QLatin1StringView("www."))
        return host;
    if (scheme > 0) {
        const QStringView rest = QStringView(host).sliced(scheme);
        const bool www = rest.startsWith(QLatin1StringView("www."), Qt::CaseInsensitive);
        host = trimBlanks(rest);
        if (!www && !host.isEmpty())
            host.prepend(QLatin1StringView("www."));
    }
    if (noResolve)
        return host;
    return funcGetIPFromHostName(host);
}

QString cPing::funcGetIPFromHostName(const QString &sHostName, const StopFlag *stop) const
{
    QString host = sHostName;
    normaliseHost(host, true);
    if (host.isEmpty())
        return {};
    return resolveFirstIPv4(resolverName(host), stop);
}

void cPing::funcGetIPsFromHostNames(const QStringList &hostNames, const StopFlag *stop,
                                    const std::function<void(qsizetype, const QString &)> &answered) const
{
    QList<QByteArray> names;
    std::vector<qsizetype> places;  // of each name asked, in hostNames
    for (qsizetype i = 0; i < hostNames.size(); ++i) {
        QString host = hostNames[i];
        normaliseHost(host, true);
        if (host.isEmpty()) {
            answered(i, QString());
            continue;
        }
        names.append(resolverName(host));
        places.push_back(i);
    }
    if (names.isEmpty())
        return;
    resolveFirstIPv4s(names, stop, ResolverLimits{}, [&](qsizetype k, const QString &address) {
        answered(places[std::size_t(k)], address);
    });
}

int cPing::Ping(QString &szAddress)
{
    szAddress = normaliseHost(szAddress, false);
    const quint32 address = addressTextToNumber(szAddress);

    EchoOutcome outcome;
    if (address == 0) {
        // Never sent: to the network 0.0.0.0 would mean this host.
        outcome.permitted = true;
        outcome.status = echostatus::BadDestination;
    } else {
        outcome = sendIcmpEcho(address, QByteArrayLiteral("Echo This"), m_pingTimeout);
    }

    if (!outcome.permitted) {
        emit PingReturn(szAddress, echoStatusText(echostatus::GeneralFailure), 0);
        return 0;
    }
    const int result = outcome.status == echostatus::Success ? outcome.roundTripMs : -outcome.status;
    emit PingReturn(szAddress, echoStatusText(outcome.status), outcome.roundTripMs);
    return result;
}

} // namespace norvale
