#include "mounting/MountSchedule.h"

#include "platform/Threading.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

void stopAndRelease(QTimer* timer)
{
    if (!timer)
        return;
    timer->stop();
    timer->disconnect();
    timer->deleteLater();
}

} // namespace

MountSchedule::MountSchedule(QObject* owner)
    : m_owner(owner)
{
}

MountSchedule::~MountSchedule() = default;

void MountSchedule::scheduleMount(const QUuid& configID, std::chrono::milliseconds delay, std::function<void()> mount)
{
    auto* timer = new QTimer(m_owner);
    timer->setSingleShot(true);
    m_mounts.insert(configID, timer);
    QObject::connect(timer, &QTimer::timeout, m_owner, [this, configID, timer, mount = std::move(mount)] {
        m_mounts.remove(configID, timer);
        timer->deleteLater();
        mount();
    });
    timer->start(timerMilliseconds(delay));
}

void MountSchedule::cancelMounts(const QUuid& configID)
{
    const QList<QTimer*> pending = m_mounts.values(configID);
    m_mounts.remove(configID);
    for (QTimer* timer : pending)
        stopAndRelease(timer);
}

int MountSchedule::pendingMountCount(const QUuid& configID) const
{
    return static_cast<int>(m_mounts.count(configID));
}

void MountSchedule::cancelAll()
{
    for (QTimer* timer : std::exchange(m_mounts, {}))
        stopAndRelease(timer);
    cancelAllRetries();
}

void MountSchedule::scheduleRetry(const QUuid& configID, const QList<double>& intervals, std::function<void()> attempt)
{
    if (intervals.isEmpty())
        return;
    const qint64 count = m_counts.value(configID, 0);
    m_counts.insert(configID, count + 1);
    const qsizetype last = intervals.size() - 1;
    const double delay = intervals.at(static_cast<qsizetype>(std::clamp<qint64>(count, 0, last)));

    stopAndRelease(m_timers.take(configID));
    auto* timer = new QTimer(m_owner);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, m_owner, [this, configID, timer, attempt = std::move(attempt)] {
        if (m_timers.value(configID) == timer)
            m_timers.remove(configID);
        timer->deleteLater();
        attempt();
    });
    m_timers.insert(configID, timer);
    timer->start(timerMilliseconds(delay));
}

void MountSchedule::resetRetryCount(const QUuid& configID)
{
    m_counts.insert(configID, 0);
}

void MountSchedule::cancelRetry(const QUuid& configID)
{
    stopAndRelease(m_timers.take(configID));
    m_counts.remove(configID);
}

void MountSchedule::cancelAllRetries()
{
    const QHash<QUuid, QTimer*> timers = std::exchange(m_timers, {});
    for (QTimer* timer : timers)
        stopAndRelease(timer);
    m_counts.clear();
}

std::optional<qint64> MountSchedule::retryCount(const QUuid& configID) const
{
    const auto it = m_counts.constFind(configID);
    return it == m_counts.cend() ? std::nullopt : std::optional<qint64>(*it);
}

std::optional<std::chrono::milliseconds> MountSchedule::retryTimerInterval(const QUuid& configID) const
{
    const QTimer* timer = m_timers.value(configID);
    if (!timer || !timer->isActive())
        return std::nullopt;
    return std::chrono::milliseconds(timer->interval());
}

} // namespace vantrel
