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
    // When the longest stall ended, in milliseconds since start(), and how
    // many stalls were longer than a frame: where to look for the cause.
    double worstAtMs() const { return m_worstAtMs; }
    int framesMissed() const { return m_framesMissed; }

private:
    QTimer m_tick;
    QElapsedTimer m_sinceTick;
    double m_maxStallMs = 0;
    double m_worstAtMs = 0;
    int m_framesMissed = 0;
    QElapsedTimer m_sinceStart;
};

} // namespace norvale::bench
