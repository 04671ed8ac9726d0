#pragma once

#include "services/ServiceStore.h"
#include "services/registry/RegistryDirectory.h"
#include "services/registry/RegistryGate.h"

#include <QByteArray>
#include <QHash>
#include <QSqlDatabase>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace norvale {

// How the services ask the registries; the command line fills it in.
struct RegistryOptions {
    bool enabled = true;
    // A file, or an http(s) address fetched at start and once a day.
    QString bootstrap = QStringLiteral("https://data.iana.org/rdap/dns.json");
    QString whoisServers;            // empty: the shipped table
    QString keptBootstrap;           // where a fetched bootstrap is kept between starts
    int registeredSeconds = 24 * 3600;
    int freeSeconds = 15 * 60;
    ServerLimits limits;
    std::map<QString, ServerLimits> serverLimits;   // host:port -> limits of its own
    std::chrono::milliseconds pageBound{20000};     // all registry work of one page
    std::chrono::milliseconds queryBound{8000};     // one exchange with a server
    std::chrono::milliseconds connectBound{3000};
};

// The registries behind the status and whois pages: the source of each name
// by the bootstrap and the whois table, the answers kept in the services'
// database (registered for a day, free for a quarter of an hour, unknown
// never), one query for concurrent asks of the same name, and per-server
// limits. Thread-safe.
class Registries final {
public:
    Registries(ServiceStore store, RegistryOptions options);
    ~Registries();
    Registries(const Registries &) = delete;
    Registries &operator=(const Registries &) = delete;

    // Reads the tables: the shipped ones where a source is an address, until
    // it has been fetched. False with the reason when a table of the
    // operator's cannot be used.
    bool load(QString *error);
    // Gives the database its cache table and starts the daily refresh.
    bool start(QString *error);
    // Ends the refresh; asks under way end within their bounds.
    void stop();

    // Whether name is registered, by the cache or its registry; Unknown when
    // no registry answered within the page's bound, or none serves the name.
    Verdict status(const QSqlDatabase &db, const QString &name);

    // The registry's record of name as text: RDAP rendered, or the port-43
    // answer with the registrar's answer after it where a thin registry
    // refers to one. Empty when the name is free; verdict says which.
    QString whois(const QString &name, Verdict *verdict);

    // "registry queries N" and such lines for /stats.
    QByteArray statsText() const;

    // Where the tables come from, for the start-up message.
    QString describe() const;

private:
    struct Flight {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        Verdict verdict = Verdict::Unknown;
    };

    std::shared_ptr<const RegistryDirectory> directory() const;
    bool rebuild(const QByteArray &bootstrap, const QByteArray &whoisTable, QString *error);
    RegistryGate &gateFor(const QString &key);
    Verdict ask(const RegistrySource &source, RegistryClock::time_point deadline, QString *text);
    bool cached(const QSqlDatabase &db, const QString &name, Verdict *verdict) const;
    void keep(const QString &name, Verdict verdict);
    void refreshLoop();
    bool refreshOnce();

    const ServiceStore m_store;
    const RegistryOptions m_options;

    mutable std::mutex m_mutex;   // guards the texts, the directory and the gates
    QByteArray m_bootstrapText;
    QByteArray m_whoisText;
    std::shared_ptr<const RegistryDirectory> m_directory;
    std::unordered_map<std::string, std::unique_ptr<RegistryGate>> m_gates;

    std::mutex m_flightsMutex;
    std::unordered_map<std::string, std::shared_ptr<Flight>> m_flights;

    std::atomic<long long> m_queries{0};
    std::atomic<long long> m_cacheHits{0};
    std::atomic<long long> m_unknown{0};
    std::atomic<long long> m_kept{0};

    std::mutex m_stopMutex;
    std::condition_variable m_stopChanged;
    bool m_stopping = false;
    std::atomic<bool> m_abandon{false};   // ends a fetch under way when the services stop
    std::thread m_refresher;
};

// Reads a table from a file, or fetches it from an http(s) address within
// the bound. Empty with the reason when it cannot be had.
QByteArray readSource(const QString &source, std::chrono::milliseconds bound, QString *error,
                      const std::atomic<bool> *abandon = nullptr);

} // namespace norvale
