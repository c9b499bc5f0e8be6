#pragma once

#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

class QObject;
class QTimer;

namespace vantrel {

// The mounts armed for later, per configuration: delayed mounts (several may be armed at once) and
// the retry of a failed mount, with a count of the attempts made since the last success that
// makes each retry wait longer. Timers live on the owner's thread and die with it; every call
// comes from that thread.
class MountSchedule final {
public:
    explicit MountSchedule(QObject* owner);
    ~MountSchedule();
    MountSchedule(const MountSchedule&) = delete;
    MountSchedule& operator=(const MountSchedule&) = delete;

    // Runs the mount once the delay has passed.
    void scheduleMount(const QUuid& configID, std::chrono::milliseconds delay, std::function<void()> mount);
    void cancelMounts(const QUuid& configID);
    int pendingMountCount(const QUuid& configID) const;

    // Arms the next attempt after the interval for the count so far (the last interval once the
    // count has passed them all), replacing an armed one, and counts it. Nothing without intervals.
    void scheduleRetry(const QUuid& configID, const QList<double>& intervals, std::function<void()> attempt);
    void resetRetryCount(const QUuid& configID);
    void cancelRetry(const QUuid& configID);
    void cancelAllRetries();
    std::optional<qint64> retryCount(const QUuid& configID) const;
    std::optional<std::chrono::milliseconds> retryTimerInterval(const QUuid& configID) const;

    // Both kinds, for every configuration.
    void cancelAll();

private:
    QObject* m_owner;
    QMultiHash<QUuid, QTimer*> m_mounts;
    QHash<QUuid, QTimer*> m_timers;
    QHash<QUuid, qint64> m_counts;
};

} // namespace vantrel
