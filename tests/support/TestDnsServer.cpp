#include "tests/support/TestDnsServer.h"
#include "tests/support/Started.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

namespace norvale::test {

namespace {

constexpr quint16 kTypeA = 1;
constexpr quint16 kClassIn = 1;
constexpr int kFormErr = 1;
constexpr int kNxDomain = 3;
constexpr int kNotImp = 4;

QString canonicalName(QString name)
{
    name = name.toLower();
    while (name.endsWith(u'.'))
        name.chop(1);
    return name;
}

bool toAddressBytes(const QString &text, QByteArray *bytes)
{
    in_addr address{};
    if (::inet_pton(AF_INET, text.toLatin1().constData(), &address) != 1)
        return false;
    *bytes = QByteArray(reinterpret_cast<const char *>(&address), 4);
    return true;
}

void put16(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xff));
}

quint16 get16(const QByteArray &in, qsizetype at)
{
    return quint16(quint8(in[at]) << 8 | quint8(in[at + 1]));
}

// A number in [0, 1) from the seed and a text, the same on every machine:
// FNV-1a, then a final mix so that close texts land far apart.
double uniformOf(quint32 seed, const QString &text)
{
    quint64 h = 0xcbf29ce484222325ull ^ seed;
    const QByteArray bytes = text.toUtf8();
    for (const char c : bytes) {
        h ^= quint8(c);
        h *= 0x100000001b3ull;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return double(h >> 11) / double(1ull << 53);
}

QByteArray header(const QByteArray &query, int rcode, quint16 questions, quint16 answers)
{
    const quint16 flags = get16(query, 2);
    QByteArray out;
    out.append(query.left(2));                      // identifier
    const quint16 opcode = flags & 0x7800;
    const quint16 recursionDesired = flags & 0x0100;
    put16(out, quint16(0x8000 | opcode | 0x0400 | recursionDesired | 0x0080 | rcode));
    put16(out, questions);
    put16(out, answers);
    put16(out, 0);
    put16(out, 0);
    return out;
}

} // namespace

bool TestDnsServer::start(const QString &address, quint16 port, QString *error)
{
    auto fail = [&](const QString &why) {
        const int code = errno;
        stop();
        return failed(error, why + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code)));
    };
    stop();

    sockaddr_in bindTo{};
    bindTo.sin_family = AF_INET;
    bindTo.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &bindTo.sin_addr) != 1)
        return failed(error, QStringLiteral("not an IPv4 address: ") + address);
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_socket < 0)
        return fail(QStringLiteral("no UDP socket"));
    if (::bind(m_socket, reinterpret_cast<const sockaddr *>(&bindTo), sizeof bindTo) != 0)
        return fail(QStringLiteral("cannot bind %1:%2").arg(address).arg(port));
    sockaddr_in bound{};
    socklen_t boundSize = sizeof bound;
    ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&bound), &boundSize);
    m_port = ntohs(bound.sin_port);
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(QStringLiteral("no pipe"));

    m_stopping = false;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void TestDnsServer::stop()
{
    if (m_thread.joinable()) {
        m_stopping = true;
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &byte, 1);
        m_thread.join();
    }
    for (int *fd : {&m_socket, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void TestDnsServer::addRecord(const QString &name, const QStringList &addresses)
{
    QList<QByteArray> bytes;
    for (const QString &address : addresses) {
        QByteArray one;
        if (toAddressBytes(address, &one))
            bytes.append(one);
    }
    const std::lock_guard lock(m_mutex);
    m_records.insert(canonicalName(name), bytes);
}

void TestDnsServer::removeWildcard(const QString &suffix)
{
    const std::lock_guard lock(m_mutex);
    const QString name = canonicalName(suffix);
    m_wildcards.removeIf([&](const auto &wildcard) { return wildcard.first == name; });
}

void TestDnsServer::addWildcard(const QString &suffix, const QString &address)
{
    QByteArray bytes;
    if (!toAddressBytes(address, &bytes))
        return;
    const std::lock_guard lock(m_mutex);
    m_wildcards.append({canonicalName(suffix), bytes});
}

QByteArray TestDnsServer::broken(QByteArray packet)
{
    const std::lock_guard lock(m_mutex);
    if (packet.size() < 12)
        return packet;
    switch (m_fault) {
    case Fault::None:
        break;
    case Fault::CutShort:
        packet.truncate(12 + (packet.size() - 12) / 2);
        break;
    case Fault::WrongId:
        packet[0] = char(packet[0] ^ 0x5a);
        break;
    case Fault::Noise:
        for (qsizetype i = 2; i < packet.size(); ++i) {
            m_noise = m_noise * 1103515245u + 12345u;   // the same noise on every run
            packet[i] = char(m_noise >> 16);
        }
        break;
    }
    return packet;
}

void TestDnsServer::setLoss(double share, quint32 seed)
{
    const std::lock_guard lock(m_mutex);
    m_loss = share;
    m_lossSeed = seed;
}

// One thread serves every query: answers wait in a queue ordered by the time
// they are due, so a delayed answer never holds back a later query.
void TestDnsServer::serve()
{
    using Clock = std::chrono::steady_clock;
    struct Pending {
        QByteArray packet;
        sockaddr_in peer;
    };
    std::multimap<Clock::time_point, Pending> pending;

    auto send = [this](const Pending &p) {
        // Broken as it leaves, so that answers held back by the delay break too.
        const QByteArray packet = broken(p.packet);
        ::sendto(m_socket, packet.constData(), size_t(packet.size()), 0,
                 reinterpret_cast<const sockaddr *>(&p.peer), sizeof p.peer);
    };

    while (!m_stopping) {
        int timeout = -1;
        if (!pending.empty()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(pending.begin()->first - Clock::now());
            timeout = int(qMax<qint64>(0, wait.count()));
        }
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            break;

        if (fds[0].revents & POLLIN) {
            for (;;) {
                char buffer[1500];
                sockaddr_in peer{};
                socklen_t peerSize = sizeof peer;
                const ssize_t n = ::recvfrom(m_socket, buffer, sizeof buffer, 0,
                                             reinterpret_cast<sockaddr *>(&peer), &peerSize);
                if (n < 0)
                    break;
                Pending reply{answer(QByteArray(buffer, n)), peer};
                if (reply.packet.isEmpty())
                    continue;
                std::chrono::milliseconds delay;
                {
                    const std::lock_guard lock(m_mutex);
                    delay = m_delay;
                }
                if (delay.count() <= 0)
                    send(reply);
                else
                    pending.emplace(Clock::now() + delay, std::move(reply));
            }
        }
        const auto now = Clock::now();
        while (!pending.empty() && pending.begin()->first <= now) {
            send(pending.begin()->second);
            pending.erase(pending.begin());
        }
    }
}

QByteArray TestDnsServer::answer(const QByteArray &query)
{
    if (query.size() < 12)
        return {};                                  // not even a header: nothing to answer
    const quint16 flags = get16(query, 2);
    if (flags & 0x8000)
        return {};                                  // a response, not a query
    if (flags & 0x7800)
        return header(query, kNotImp, 0, 0);
    if (get16(query, 4) != 1)
        return header(query, kFormErr, 0, 0);

    QString name;
    qsizetype at = 12;
    for (;;) {
        if (at >= query.size())
            return header(query, kFormErr, 0, 0);
        const int length = quint8(query[at]);
        ++at;
        if (length == 0)
            break;
        if (length & 0xc0 || at + length > query.size() || at - 12 + length > 255)
            return header(query, kFormErr, 0, 0);
        if (!name.isEmpty())
            name += u'.';
        name += QString::fromLatin1(query.mid(at, length));
        at += length;
    }
    if (at + 4 > query.size())
        return header(query, kFormErr, 0, 0);
    const quint16 type = get16(query, at);
    const quint16 klass = get16(query, at + 2);
    const QByteArray question = query.mid(12, at + 4 - 12);
    name = canonicalName(name);

    QList<QByteArray> addresses;
    bool known = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_recording)
            m_queried.append(name);
        if (m_loss > 0) {
            const QString key = QString::number(type) + u' ' + name;
            const int before = m_askedBefore[key]++;
            if (uniformOf(m_lossSeed, key + u' ' + QString::number(before)) < m_loss) {
                ++m_dropped;
                return {};
            }
        }
        if (const auto found = m_records.constFind(name); found != m_records.cend()) {
            known = true;
            addresses = *found;
        } else {
            for (const auto &[suffix, address] : std::as_const(m_wildcards)) {
                if (name.size() > suffix.size() && name.endsWith(suffix)) {
                    known = true;
                    addresses = {address};
                    break;
                }
            }
        }
    }
    if (!known)
        return header(query, kNxDomain, 1, 0) + question;
    if (type != kTypeA || klass != kClassIn)
        addresses.clear();

    QByteArray out = header(query, 0, 1, quint16(addresses.size())) + question;
    for (const QByteArray &address : std::as_const(addresses)) {
        put16(out, 0xc00c);                         // the name of the question
        put16(out, kTypeA);
        put16(out, kClassIn);
        put16(out, 0);
        put16(out, 60);                             // time to live
        put16(out, 4);
        out += address;
    }
    return out;
}

} // namespace norvale::test
