#include "norvale/core/net/IcmpEcho.h"

#include "norvale/core/net/cPing.h"

#include <QRandomGenerator>

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>

namespace norvale {

namespace {

constexpr quint8 kEchoReply = 0;
constexpr quint8 kDestUnreachable = 3;
constexpr quint8 kEchoRequest = 8;
constexpr quint8 kTimeExceeded = 11;
constexpr int kIcmpHeaderSize = 8;

class Socket final {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

quint16 checksum(const QByteArray &bytes)
{
    quint32 sum = 0;
    const auto *p = reinterpret_cast<const quint8 *>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i + 1 < n; i += 2)
        sum += quint32(p[i]) << 8 | p[i + 1];
    if (n % 2)
        sum += quint32(p[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return quint16(~sum);
}

quint16 read16(const quint8 *p)
{
    return quint16(p[0] << 8 | p[1]);
}

quint32 read32(const quint8 *p)
{
    quint32 v;
    std::memcpy(&v, p, 4);
    return v;
}

int unreachableStatus(quint8 code)
{
    switch (code) {
    case 0: return echostatus::DestNetUnreachable;
    case 2: return echostatus::DestProtUnreachable;
    case 3: return echostatus::DestPortUnreachable;
    default: return echostatus::DestHostUnreachable;
    }
}

int errnoStatus(int error)
{
    switch (error) {
    case ENETUNREACH: return echostatus::DestNetUnreachable;
    case EHOSTUNREACH: return echostatus::DestHostUnreachable;
    default: return echostatus::GeneralFailure;
    }
}

// What one received packet means for the echo we are waiting for.
struct Verdict {
    bool ours = false;
    int status = echostatus::Success;
};

// A raw socket sees every ICMP packet of the host, our own request on
// loopback included; only the reply to our identifier and sequence counts,
// or an error message quoting our request.
Verdict judgeRaw(const quint8 *p, qsizetype n, quint32 address, quint16 id, quint16 seq,
                 const QByteArray &payload)
{
    if (n < 20 || (p[0] >> 4) != 4)
        return {};
    const int ihl = (p[0] & 0x0f) * 4;
    if (ihl < 20 || n < ihl + kIcmpHeaderSize)
        return {};
    const quint8 *icmp = p + ihl;
    const qsizetype icmpLen = n - ihl;
    if (icmp[0] == kEchoReply) {
        if (read32(p + 12) != address || read16(icmp + 4) != id || read16(icmp + 6) != seq)
            return {};
        if (icmpLen - kIcmpHeaderSize != payload.size()
            || std::memcmp(icmp + kIcmpHeaderSize, payload.constData(), size_t(payload.size())) != 0)
            return {};
        return {true, echostatus::Success};
    }
    if (icmp[0] != kDestUnreachable && icmp[0] != kTimeExceeded)
        return {};
    const quint8 *inner = icmp + kIcmpHeaderSize;
    const qsizetype innerLen = icmpLen - kIcmpHeaderSize;
    if (innerLen < 20)
        return {};
    const int innerIhl = (inner[0] & 0x0f) * 4;
    if (innerIhl < 20 || innerLen < innerIhl + kIcmpHeaderSize || inner[9] != IPPROTO_ICMP
        || read32(inner + 16) != address)
        return {};
    const quint8 *quoted = inner + innerIhl;
    if (quoted[0] != kEchoRequest || read16(quoted + 4) != id || read16(quoted + 6) != seq)
        return {};
    return {true, icmp[0] == kTimeExceeded ? echostatus::TtlExpired : unreachableStatus(icmp[1])};
}

// The kernel hands a datagram ICMP socket only the replies to its own
// identifier, without the IP header; the sequence still tells a late reply
// of an earlier echo from ours.
Verdict judgeDatagram(const quint8 *p, qsizetype n, quint16 seq, const QByteArray &payload)
{
    if (n < kIcmpHeaderSize || p[0] != kEchoReply || read16(p + 6) != seq)
        return {};
    if (n - kIcmpHeaderSize != payload.size()
        || std::memcmp(p + kIcmpHeaderSize, payload.constData(), size_t(payload.size())) != 0)
        return {};
    return {true, echostatus::Success};
}

} // namespace

EchoOutcome sendIcmpEcho(quint32 address, const QByteArray &payload, int timeoutMs)
{
    static std::atomic<quint16> nextSequence{1};

    bool raw = true;
    int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        raw = false;
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    }
    if (fd < 0)
        return {};
    const Socket socket(fd);

    EchoOutcome outcome;
    outcome.permitted = true;

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    // Connected, a datagram socket learns of unreachable hosts through errno.
    if (!raw && ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        outcome.status = errnoStatus(errno);
        return outcome;
    }

    const auto id = quint16(QRandomGenerator::global()->generate());
    const quint16 seq = nextSequence.fetch_add(1);
    QByteArray packet(kIcmpHeaderSize, '\0');
    packet[0] = char(kEchoRequest);
    packet[4] = char(id >> 8);
    packet[5] = char(id & 0xff);
    packet[6] = char(seq >> 8);
    packet[7] = char(seq & 0xff);
    packet += payload;
    const quint16 sum = checksum(packet);
    packet[2] = char(sum >> 8);
    packet[3] = char(sum & 0xff);

    using Clock = std::chrono::steady_clock;
    const auto sentAt = Clock::now();
    const auto deadline = sentAt + std::chrono::milliseconds(qMax(0, timeoutMs));
    if (::sendto(fd, packet.constData(), size_t(packet.size()), 0,
                 reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0) {
        outcome.status = errnoStatus(errno);
        return outcome;
    }

    quint8 buffer[1500];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            outcome.status = errnoStatus(errno);
            return outcome;
        }
        const Verdict verdict = raw ? judgeRaw(buffer, n, address, id, seq, payload)
                                    : judgeDatagram(buffer, n, seq, payload);
        if (!verdict.ours)
            continue;
        outcome.status = verdict.status;
        if (verdict.status == echostatus::Success)
            outcome.roundTripMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          Clock::now() - sentAt).count());
        return outcome;
    }
    outcome.status = echostatus::TimedOut;
    return outcome;
}

} // namespace norvale
