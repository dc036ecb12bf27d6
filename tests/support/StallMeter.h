#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// How long the interface thread went without handling its events while an
// operation ran: a 10 ms timer on that thread, and the largest lateness of any of
// its ticks. A tick is late by the time since the previous tick (or since Start)
// less the period; the time from the last tick to Stop counts too, so that an
// operation that never lets a tick through is measured whole.
class StallMeter : public QObject {
public:
    explicit StallMeter(int periodMs = 10);

    void Start();
    // Ends the measurement; returns the longest stall in milliseconds.
    double Stop();

    double LongestMs() const { return m_longestNs / 1e6; }
    int Ticks() const { return m_ticks; }
    bool Running() const { return m_timer.isActive(); }

private:
    void Tick();
    void Account(qint64 nowNs);

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_periodNs;
    qint64 m_lastNs = 0;
    qint64 m_longestNs = 0;
    int m_ticks = 0;
};
