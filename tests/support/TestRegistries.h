#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace norvale::test {

// What a local registry says about a name.
enum class RegistryAnswer {
    Free,            // RDAP 404, whois the server's no-match text (every name not set)
    Registered,
    ClientHold,      // registered, on hold: no address, still taken
    PendingDelete,   // registered, in its last days: still taken
    LimitedOnce,     // 429 (Retry-After: 1) or a refusal text the first time, then registered
    AlwaysLimited,   // 429 or a refusal text every time
    ServerError,     // RDAP 503
    Garbled,         // RDAP 200 that is no JSON
    Gbk,             // whois: a registered record in GBK
    Referral,        // whois: a thin record that refers to the registrar's server
};

// How a local registry server behaves beyond its fixtures.
struct RegistryBehaviour {
    double perSecond = 0;   // more queries than this per second get 429 / a refusal; 0: no limit
    int delayMs = 0;        // before each answer
};

// Local registries speaking the real protocols on loopback: RDAP over HTTP
// and port-43 whois over TCP, one server per zone, answering from fixtures;
// servers that take a connection and never answer, and addresses where none
// listens. Writes the bootstrap file and the whois table that point the
// services at them. Everything stops when the object goes.
class TestRegistries final {
public:
    enum class Protocol { Rdap, Whois, Stalled, Down };

    using Behaviour = RegistryBehaviour;

    TestRegistries();
    ~TestRegistries();
    TestRegistries(const TestRegistries &) = delete;
    TestRegistries &operator=(const TestRegistries &) = delete;

    // A registry for zone ("rtest", "com.wtest"), on a server of its own or,
    // with sameServerAs, on the server of a zone added before (as one
    // registry serves many zones). Call before start().
    void addZone(const QString &zone, Protocol protocol, Behaviour behaviour = {}, const QString &sameServerAs = {});
    // The registrar's port-43 server that Referral answers send to; its
    // record is the name's "Registrant" text.
    void setRegistrarRecord(const QString &name, const QString &record);
    // A name's answer; any time.
    void setAnswer(const QString &name, RegistryAnswer answer);

    // Starts every server and writes the tables. False with a reason.
    bool start(QString *error = nullptr);
    void stop();

    // The services' options that use these registries (and no other).
    QStringList servicesArguments() const;
    QString bootstrapPath() const;
    QString whoisTablePath() const;

    // Queries answered so far (refusals included), in all and by the server of zone.
    int queries() const;
    int queries(const QString &zone) const;

    struct Server;

private:
    RegistryAnswer answerFor(const QString &name) const;

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<Server>> m_servers;
    std::unique_ptr<Server> m_registrar;
    mutable std::mutex m_mutex;
    QHash<QString, RegistryAnswer> m_answers;
    QHash<QString, QString> m_registrarRecords;
    QHash<QString, int> m_asked;   // LimitedOnce: asks so far
};

} // namespace norvale::test
