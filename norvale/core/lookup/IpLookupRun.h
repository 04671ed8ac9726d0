#pragma once

#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/core/work/Run.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <memory>

namespace norvale {

class IpLookup;

// One report of an IP lookup, in the order the engine must apply them.
struct IpEvent {
    enum class Type { Address, Shared, Counted, Located, End };  // Shared: take the run's batch
    Type type = Type::End;
    QString text;        // Address: the resolved address
    QStringList values;  // Located: the nine geolocation values
    bool more = false;   // Counted: the list was full before every candidate was checked
};

// One IP lookup on the worker pools. Its driver walks the steps in order;
// candidate names are resolved on the lookup pool and reported through the
// ordered delivery, so the list keeps page order.
class IpLookupRun final : public work::Run,
                          public std::enable_shared_from_this<IpLookupRun> {
public:
    struct Settings {
        quint64 generation = 0;
        QString query;        // the cleaned input
        int parallelism = 1;
    };

    IpLookupRun(LookupBackend backend, Settings settings, IpLookup *receiver);

    // Reads the two page addresses now, then runs on a driver thread.
    void start(const QString &lipurl, const QString &lipmessurl);
    // The names listed since the receiver last took them, in order.
    QStringList takeBatch();

private:
    void drive();
    void checkCandidates(const QStringList &candidates);
    void checkInParallel(const QStringList &candidates);
    bool sharesAddress(const QString &candidate) const;
    work::OrderedDelivery::Post postOf(IpEvent event);
    // A shared name's post: it lists the name while the list has room, and
    // fills the list with the last one. Names go to the receiver in batches:
    // one queued call takes all that were listed until it runs, so that a
    // long list costs the receiver's thread a few calls, not one per name.
    work::OrderedDelivery::Post sharedPostOf(const QString &name);
    bool full() const { return m_full.load(); }
    void report(IpEvent::Type type, const QString &text = {}, const QStringList &values = {});

    const LookupBackend m_backend;
    const Settings m_settings;
    IpLookup *const m_receiver;  // posted to until detach()
    QString m_lipurl;
    QString m_lipmessurl;
    QString m_address;           // written by the driver before any candidate is checked
    int m_listed = 0;            // names posted so far; only posts (in order) touch it
    std::atomic<bool> m_full{false};
    std::mutex m_batchMutex;
    QStringList m_batch;         // listed, not yet taken by the receiver
};

} // namespace norvale
