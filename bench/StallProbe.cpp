#include "bench/StallProbe.h"

#include <algorithm>

namespace norvale::bench {

StallProbe::StallProbe()
{
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(tickMs);
    QObject::connect(&m_tick, &QTimer::timeout, [this] {
        const double gapMs = double(m_sinceTick.nsecsElapsed()) / 1e6;
        m_maxStallMs = std::max(m_maxStallMs, gapMs - tickMs);
        m_sinceTick.restart();
    });
}

void StallProbe::start()
{
    m_sinceTick.start();
    m_tick.start();
}

} // namespace norvale::bench
