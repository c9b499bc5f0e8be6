#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

class QObject;
class QTimer;

namespace vantrel {

// The retry state of failed mounts: per configuration a count of the attempts made since the last
// success and at most one armed timer for the next attempt, which waits the longer the more
// attempts failed. Timers live on the owner's thread and die with it; only the counts take a lock.
class MountRetries final {
public:
    explicit MountRetries(QObject* owner);
    ~MountRetries();
    MountRetries(const MountRetries&) = delete;
    MountRetries& operator=(const MountRetries&) = delete;

    // Arms the next attempt after the interval for the count so far (the last interval once the
    // count has passed them all), replacing an armed one, and counts it. Nothing without intervals.
    void schedule(const QUuid& configID, const QList<double>& intervals, std::function<void()> attempt);
    void resetCount(const QUuid& configID);
    void cancel(const QUuid& configID);
    void cancelAll();

    std::optional<qint64> count(const QUuid& configID) const;
    std::optional<std::chrono::milliseconds> timerInterval(const QUuid& configID) const;

private:
    QObject* m_owner;
    QHash<QUuid, QTimer*> m_timers; // owner's thread only
    QHash<QUuid, qint64> m_counts;  // under m_lock
    mutable QMutex m_lock;
};

} // namespace vantrel
