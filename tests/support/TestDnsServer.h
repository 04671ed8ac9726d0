#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace norvale::test {

// A small DNS responder over UDP for tests that use the real system
// resolver. Answers A queries from exact names (case-insensitive) and from
// wildcard suffixes, gives NOERROR without answers for other query types of
// known names (so an IPv4-only lookup never waits for AAAA), NXDOMAIN for
// unknown names and FORMERR for queries it cannot read (packets too short
// for a header, and responses, get no answer). An optional delay
// holds each answer back without holding back the queries behind it, and an
// optional loss leaves a share of the queries unanswered.
class TestDnsServer final {
public:
    TestDnsServer() = default;
    ~TestDnsServer() { stop(); }
    TestDnsServer(const TestDnsServer &) = delete;
    TestDnsServer &operator=(const TestDnsServer &) = delete;

    // Binds address:port (port 0: any free port) and serves on a thread of
    // its own. False with a reason when the socket could not be bound.
    bool start(const QString &address, quint16 port, QString *error = nullptr);
    void stop();
    quint16 port() const { return m_port; }

    // Records may be changed while the server runs. Addresses are dotted IPv4
    // texts, answered in the given order.
    void addRecord(const QString &name, const QStringList &addresses);
    // Every name that ends in suffix (".tk") and is longer than it.
    void addWildcard(const QString &suffix, const QString &address);
    void removeWildcard(const QString &suffix);
    void setDelay(std::chrono::milliseconds delay) { const std::lock_guard lock(m_mutex); m_delay = delay; }
    // Leaves share (0 to 1) of the readable queries unanswered. Each query is
    // decided from the seed, its name and type and how often that name and
    // type were asked before, so a run drops the same queries whatever their
    // timing.
    void setLoss(double share, quint32 seed = 1);
    // Queries left unanswered by the loss since the start.
    int droppedCount() const { const std::lock_guard lock(m_mutex); return m_dropped; }

    // Answers broken on purpose: cut short in the middle, sent with another
    // identifier, or the right identifier followed by noise.
    enum class Fault { None, CutShort, WrongId, Noise };
    void setFault(Fault fault) { const std::lock_guard lock(m_mutex); m_fault = fault; }

    // Names asked for (lower-cased, without the final dot), in arrival order.
    QStringList queriedNames() const { const std::lock_guard lock(m_mutex); return m_queried; }
    // Drops that record, so that a long run does not grow with it.
    void forgetQueriedNames() { const std::lock_guard lock(m_mutex); m_queried.clear(); }
    // Whether names asked for are recorded: off where the server shares its
    // process with something whose memory is measured.
    void setRecordingQueries(bool on) { const std::lock_guard lock(m_mutex); m_recording = on; m_queried.clear(); }

private:
    void serve();
    QByteArray answer(const QByteArray &query);
    QByteArray broken(QByteArray packet);

    mutable std::mutex m_mutex;
    QHash<QString, QList<QByteArray>> m_records;        // name -> 4-byte addresses
    QList<std::pair<QString, QByteArray>> m_wildcards;  // suffix -> 4-byte address
    std::chrono::milliseconds m_delay{0};
    Fault m_fault = Fault::None;
    quint32 m_noise = 1;
    double m_loss = 0;
    quint32 m_lossSeed = 1;
    QHash<QString, int> m_askedBefore;                  // "type name" -> queries so far
    int m_dropped = 0;
    QStringList m_queried;
    bool m_recording = true;

    int m_socket = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace norvale::test
