#pragma once

#include "files/CacheManager.h"
#include "platform/Threading.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

namespace vantrel {

class Defaults;
class DiskSpace;
class LogManager;

// Keeps the offline cache tidy (entries past their age, vanished copies, the size limit) on a
// repeating timer and on demand, and watches the free space of the disk that holds it.
class CacheDirectoryManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isCleaningUp READ isCleaningUp NOTIFY isCleaningUpChanged)
    Q_PROPERTY(qint64 availableDiskSpace READ availableDiskSpace NOTIFY availableDiskSpaceChanged)
    Q_PROPERTY(std::optional<QDateTime> lastCleanupDate READ lastCleanupDate NOTIFY lastCleanupDateChanged)
    Q_PROPERTY(qint64 lastCleanupRemovedCount READ lastCleanupRemovedCount NOTIFY lastCleanupRemovedCountChanged)

public:
    static inline const QString cleanupIntervalKey = QStringLiteral("cache.cleanupInterval");
    static inline const QString autoCleanupKey = QStringLiteral("cache.autoCleanup");
    static inline const QString maxEntryAgeKey = QStringLiteral("cache.maxEntryAge");
    static inline const QString lastCleanupKey = QStringLiteral("cache.lastCleanupDate");
    static constexpr qint64 lowDiskSpaceThreshold = 104'857'600;

    CacheDirectoryManager(Defaults& defaults, LogManager& log, CacheManager& cache, DiskSpace& diskSpace, Clock clock,
        QObject* parent = nullptr);
    ~CacheDirectoryManager() override;

    static CacheDirectoryManager& shared();

    bool isCleaningUp() const { return m_isCleaningUp; }
    qint64 availableDiskSpace() const { return m_availableDiskSpace; }
    std::optional<QDateTime> lastCleanupDate() const { return m_lastCleanupDate; }
    qint64 lastCleanupRemovedCount() const { return m_lastCleanupRemovedCount; }
    // 0 stands for "not measured" and is never low.
    bool isLowDiskSpace() const { return m_availableDiskSpace >= 1 && m_availableDiskSpace < lowDiskSpaceThreshold; }

    // The settings as read now, with their defaults for absent, non-numeric or non-positive values.
    double cleanupInterval() const;
    double maxEntryAge() const;

    // Defaults in seconds (6 hours, 30 days); tests shorten them.
    double defaultCleanupInterval() const { return m_defaultCleanupInterval; }
    void setDefaultCleanupInterval(double seconds) { m_defaultCleanupInterval = seconds; }
    double defaultMaxEntryAge() const { return m_defaultMaxEntryAge; }
    void setDefaultMaxEntryAge(double seconds) { m_defaultMaxEntryAge = seconds; }

    // How long a pass may wait for the cache (its file tests, its turn for the eviction) before
    // it gives up, so that a stuck disk cannot keep every later pass from running.
    std::chrono::milliseconds cleanupTimeLimit{120'000};

    void startPeriodicCleanup();
    void stopPeriodicCleanup();
    bool isPeriodicCleanupActive() const { return m_cleanupTimer.isActive(); }
    qint64 cleanupTimerIntervalMs() const { return m_cleanupTimer.isActive() ? m_cleanupTimer.interval().count() : 0; }

    // The number of entries removed for age or a vanished copy; 0 at once while a pass runs. A
    // pass that gives up leaves the last pass's date and count as they were.
    QCoro::Task<qint64> performCleanup();
    QCoro::Task<> performStartupCleanup();
    // Reads the free space off the main thread and publishes it.
    QCoro::Task<> updateDiskSpace();

signals:
    void isCleaningUpChanged(bool isCleaningUp);
    void availableDiskSpaceChanged(qint64 bytes);
    void lastCleanupDateChanged();
    void lastCleanupRemovedCountChanged(qint64 count);

private:
    double positiveSetting(const QString& key, double fallback) const;
    void setCleaningUp(bool on);
    void giveUp();

    Defaults& m_defaults;
    LogManager& m_log;
    CacheManager& m_cache;
    DiskSpace& m_diskSpace;
    Clock m_clock;

    double m_defaultCleanupInterval = 21600.0;
    double m_defaultMaxEntryAge = 2592000.0;

    bool m_isCleaningUp = false;
    qint64 m_availableDiskSpace = 0;
    std::optional<QDateTime> m_lastCleanupDate;
    qint64 m_lastCleanupRemovedCount = 0;
    ScheduledCall m_cleanupTimer{this};
};

// Hours as the start message shows them: shortest form, at least one digit after the point.
QString formatHours(double hours);

} // namespace vantrel
