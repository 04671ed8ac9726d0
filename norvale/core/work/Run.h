#pragma once

#include "norvale/core/work/HandOver.h"
#include "norvale/core/work/OrderedDelivery.h"

#include <QObject>

#include <atomic>

namespace norvale::work {

// What one run of a long operation shares with every task it hands out: its
// generation, its stop flag and the ordered delivery of its reports. Tasks
// hold the run through a shared pointer, so none of them depends on the
// engine that started it still being there.
class Run {
public:
    explicit Run(quint64 generation) : m_generation(generation) {}
    virtual ~Run() = default;
    Q_DISABLE_COPY_MOVE(Run)

    quint64 generation() const { return m_generation; }

    // Asks the run to end its work early; tasks read stopped().
    void stop()
    {
        m_stop = true;
        m_delivery.wake();
    }
    bool stopped() const { return m_stop.load(); }
    const std::atomic<bool> &stopFlag() const { return m_stop; }

    // The engine is going, or has started a newer run: stops the run and
    // posts nothing more.
    void detach()
    {
        m_detached = true;
        stop();
        m_delivery.close();
    }
    bool detached() const { return m_detached.load(); }
    const std::atomic<bool> &detachedFlag() const { return m_detached; }

    OrderedDelivery &delivery() { return m_delivery; }

    // A post for the delivery that runs call on the receiver's thread. The
    // receiver is the context: if it goes, Qt drops what still waits for it.
    template <typename Call>
    static OrderedDelivery::Post queuedTo(QObject *receiver, Call call)
    {
        return [receiver, call] { postTo(receiver, call); };
    }

private:
    const quint64 m_generation;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_detached{false};
    OrderedDelivery m_delivery;
};

} // namespace norvale::work
