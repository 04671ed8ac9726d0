#pragma once

#include "norvale/core/work/StopFlag.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace norvale {

// Echo status codes. Linux reports no such numbers, so the echo keeps the
// values of the classic Windows echo service: callers that show or compare a
// negated Ping result see the numbers they know.
namespace echostatus {
inline constexpr int Success = 0;
inline constexpr int DestNetUnreachable = 11002;
inline constexpr int DestHostUnreachable = 11003;
inline constexpr int DestProtUnreachable = 11004;
inline constexpr int DestPortUnreachable = 11005;
inline constexpr int TimedOut = 11010;          // no matching reply within the time-out
inline constexpr int TtlExpired = 11013;
inline constexpr int BadDestination = 11018;    // address text gave 0: nothing is sent
inline constexpr int GeneralFailure = 11050;    // the socket could not send or receive
} // namespace echostatus

// Address text with exactly four dot-separated decimal parts to a 32-bit
// address in network byte order (the first part in the lowest byte, so the
// bytes in memory read in text order). A part above 255 keeps its lowest
// byte. Any other number of parts, or a part that is not decimal, gives 0.
quint32 addressTextToNumber(const QString &address);

// "success" for status 0, "failure" for any other.
QString echoStatusText(int status);

// Host-name resolution and ICMP echo. Holds no network resources between
// calls; funcGetIPFromHostName is thread-safe, Ping blocks its caller for up
// to pingTimeout milliseconds.
class cPing final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(cPing)
public:
    explicit cPing(QObject *parent = nullptr);

    int pingTimeout() const { return m_pingTimeout; }
    void setPingTimeout(int vNewValue) { m_pingTimeout = vNewValue; }

    // Sends one echo ("Echo This") and raises PingReturn once before it
    // returns. A text beginning with "www.", "http://" or "https://" is first
    // replaced by its resolved address; szAddress then holds the address pinged.
    // Returns the round-trip milliseconds on success, otherwise the negated
    // echo status, or 0 when this process may not send echoes at all.
    int Ping(QString &szAddress);

    // The dotted text of the first IPv4 address of the host in the answer's
    // order, or the empty text. A text beginning with "http://" or "https://"
    // loses that scheme and gains "www." unless "www." follows it. A name no
    // name server answers is given up within 3 s; a set stop flag ends the
    // lookup at once with the empty text. Thread-safe.
    QString funcGetIPFromHostName(const QString &sHostName, const StopFlag *stop = nullptr) const;
    // Each host as funcGetIPFromHostName has it, their lookups in flight
    // together: answered(index, address) as each is known, on the calling
    // thread. A set stop flag ends it at once, without the rest. Thread-safe.
    void funcGetIPsFromHostNames(const QStringList &hostNames, const StopFlag *stop,
                                 const std::function<void(qsizetype index, const QString &address)> &answered) const;

signals:
    void PingReturn(QString ipAddress, QString successStatus, int roundTripMilliseconds);

private:
    QString normaliseHost(QString &host, bool noResolve) const;

    int m_pingTimeout = 1000;
};

} // namespace norvale
