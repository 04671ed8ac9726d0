#include "bench/StallProbe.h"

#include <algorithm>

namespace norvale::bench {

StallProbe::StallProbe()
{
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(tickMs);
    QObject::connect(&m_tick, &QTimer::timeout, [this] {
        const double gapMs = double(m_sinceTick.nsecsElapsed()) / 1e6;
        const double stallMs = gapMs - tickMs;
        if (stallMs > m_maxStallMs) {
            m_maxStallMs = stallMs;
            m_worstAtMs = double(m_sinceStart.nsecsElapsed()) / 1e6;
        }
        if (stallMs > 16)
            ++m_framesMissed;
        m_sinceTick.restart();
    });
}

void StallProbe::start()
{
    m_sinceTick.start();
    m_sinceStart.start();
    m_tick.start();
}

} // namespace norvale::bench
