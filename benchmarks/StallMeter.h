#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

namespace vantrel::benchmark {

// What one scenario cost the main thread.
struct StallFigures {
    qint64 longestStallMs = 0; // the longest gap between two ticks of the 5 ms timer
    qint64 cpuMs = 0;          // the main thread's own CPU time
    qint64 wallMs = 0;
};

// Ticks a 5 ms timer on the main thread while a scenario runs. Every event that the main thread
// handles late shows as a gap longer than the interval: the longest one is what a user feels as a
// freeze (the tray menu, a retry, a repaint all wait for it).
class StallMeter final : public QObject {
    Q_OBJECT

public:
    static constexpr int tickInterval = 5;

    StallMeter();

    void start();
    StallFigures stop();

private:
    using Clock = std::chrono::steady_clock;
    void tick();

    QTimer m_timer;
    Clock::time_point m_started;
    Clock::time_point m_lastTick;
    Clock::duration m_longest{};
    qint64 m_cpuAtStartNs = 0;
};

// The calling thread's CPU time so far.
qint64 threadCpuNanoseconds();

} // namespace vantrel::benchmark
