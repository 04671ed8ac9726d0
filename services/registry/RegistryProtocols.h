#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>

namespace norvale {

using RegistryClock = std::chrono::steady_clock;

// What one exchange with a registry server brought back.
struct RegistryReply {
    bool connected = false;     // the server took the connection
    bool complete = false;      // a whole answer arrived within the bounds
    int httpStatus = 0;         // RDAP only
    QByteArray body;
    std::chrono::milliseconds retryAfter{-1};   // RDAP's Retry-After, when given
};

// Bounds of one exchange: connecting, and the whole answer.
struct ExchangeBounds {
    std::chrono::milliseconds connect{3000};
    RegistryClock::time_point deadline;
    const std::atomic<bool> *abandon = nullptr;   // RDAP: ends the transfer when it turns true
};

// GET of an RDAP address (http or https), asking for RDAP JSON, following at
// most three redirects, the body capped at 1 MiB.
RegistryReply rdapGet(const QString &address, const ExchangeBounds &bounds);

// One port-43 exchange (RFC 3912): query and CR LF, then everything until
// the server closes, capped at 1 MiB.
RegistryReply whoisAsk(const QString &host, int port, const QString &query, const ExchangeBounds &bounds);

// A Retry-After value (seconds, or an HTTP date); negative when unreadable.
std::chrono::milliseconds readRetryAfter(const QByteArray &value);

// Whois text as sent: UTF-8 when it is valid UTF-8, else GB18030 (which
// holds GBK and GB2312), as Chinese registries answer.
QString decodeWhoisText(const QByteArray &bytes);

// What a registry said about a name.
enum class Verdict { Registered, Free, Unknown };

// RDAP: 404 is free, any domain object is registered (whatever its status:
// on hold, in redemption or pending delete it is still taken); anything else
// tells nothing.
Verdict rdapVerdict(const RegistryReply &reply);

// Whether a port-43 text says the server is refusing to answer for now.
bool whoisIsThrottled(const QString &text);

// Port-43: the server's own no-match text is free; a record for the name is
// registered; a refusal, an empty or an unrecognised answer tells nothing.
Verdict whoisVerdict(const QString &text, const QString &query, const QStringList &noMatch);

// An RDAP domain object as whois-like text lines.
QString rdapAsText(const QByteArray &json);

// The registrar's whois server a thin registry's answer refers to; empty when none.
QString whoisReferral(const QString &text);

} // namespace norvale
