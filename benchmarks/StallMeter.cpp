#include "StallMeter.h"

#include <time.h>

namespace vantrel::benchmark {

qint64 threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

StallMeter::StallMeter()
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(tickInterval);
    connect(&m_timer, &QTimer::timeout, this, &StallMeter::tick);
}

void StallMeter::start()
{
    m_started = Clock::now();
    m_lastTick = m_started;
    m_longest = {};
    m_cpuAtStartNs = threadCpuNanoseconds();
    m_timer.start();
}

void StallMeter::tick()
{
    const Clock::time_point now = Clock::now();
    m_longest = std::max(m_longest, now - m_lastTick);
    m_lastTick = now;
}

StallFigures StallMeter::stop()
{
    m_timer.stop();
    // The end of the scenario counts as a tick: a stall that lasts to the end is a stall too.
    tick();
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    StallFigures figures;
    figures.longestStallMs = duration_cast<milliseconds>(m_longest).count();
    figures.cpuMs = (threadCpuNanoseconds() - m_cpuAtStartNs) / 1'000'000;
    figures.wallMs = duration_cast<milliseconds>(m_lastTick - m_started).count();
    return figures;
}

} // namespace vantrel::benchmark
