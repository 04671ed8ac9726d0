#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace norvale::bench {

// How late the interface thread gets to a timer that should tick every few
// milliseconds: the longest stall while the probe runs.
class StallProbe final {
public:
    static constexpr int tickMs = 5;

    StallProbe();
    Q_DISABLE_COPY_MOVE(StallProbe)

    void start();
    double maxStallMs() const { return m_maxStallMs; }

private:
    QTimer m_tick;
    QElapsedTimer m_sinceTick;
    double m_maxStallMs = 0;
};

} // namespace norvale::bench
