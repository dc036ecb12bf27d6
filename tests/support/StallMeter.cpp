#include "StallMeter.h"

#include <algorithm>

StallMeter::StallMeter(int periodMs) : m_periodNs(qint64(periodMs) * 1000000) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(periodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
}

void StallMeter::Start() {
    m_ticks = 0;
    m_longestNs = 0;
    m_clock.start();
    m_lastNs = 0;
    m_timer.start();
}

double StallMeter::Stop() {
    if (m_timer.isActive()) {
        m_timer.stop();
        Account(m_clock.nsecsElapsed());
    }
    return LongestMs();
}

void StallMeter::Tick() {
    ++m_ticks;
    Account(m_clock.nsecsElapsed());
}

void StallMeter::Account(qint64 nowNs) {
    m_longestNs = std::max(m_longestNs, nowNs - m_lastNs - m_periodNs);
    m_lastNs = nowNs;
}
