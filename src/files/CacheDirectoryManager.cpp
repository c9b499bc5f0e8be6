#include "files/CacheDirectoryManager.h"

#include "platform/Defaults.h"
#include "platform/DiskSpace.h"
#include "platform/FileWork.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QCoroFuture>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <vector>

namespace vantrel {

namespace {

std::vector<char> filesPresent(const QStringList& paths)
{
    std::vector<char> result;
    result.reserve(static_cast<size_t>(paths.size()));
    for (const QString& path : paths)
        result.push_back(QFileInfo::exists(path));
    return result;
}

} // namespace

QString formatHours(double hours)
{
    QString text = QString::number(hours, 'g', QLocale::FloatingPointShortest);
    if (std::isfinite(hours) && !text.contains(u'.') && !text.contains(u'e'))
        text += QStringLiteral(".0");
    return text;
}

CacheDirectoryManager::CacheDirectoryManager(Defaults& defaults, LogManager& log, CacheManager& cache,
    DiskSpace& diskSpace, Clock clock, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_log(log)
    , m_cache(cache)
    , m_diskSpace(diskSpace)
    , m_clock(std::move(clock))
{
    // Only a stored date counts; a number or text under the key is no date.
    const QVariant stored = m_defaults.value(lastCleanupKey);
    if (stored.typeId() == QMetaType::QDateTime && stored.toDateTime().isValid())
        m_lastCleanupDate = stored.toDateTime();
    updateDiskSpace();
}

CacheDirectoryManager::~CacheDirectoryManager() = default;

CacheDirectoryManager& CacheDirectoryManager::shared()
{
    return sharedInstance([] {
        return new CacheDirectoryManager(Defaults::standard(), LogManager::shared(), CacheManager::shared(),
            DiskSpace::system(), systemNow);
    });
}

double CacheDirectoryManager::positiveSetting(const QString& key, double fallback) const
{
    const std::optional<double> value = m_defaults.doubleValue(key);
    return value && std::isfinite(*value) && *value > 0 ? *value : fallback;
}

double CacheDirectoryManager::cleanupInterval() const
{
    return positiveSetting(cleanupIntervalKey, m_defaultCleanupInterval);
}

double CacheDirectoryManager::maxEntryAge() const
{
    return positiveSetting(maxEntryAgeKey, m_defaultMaxEntryAge);
}

void CacheDirectoryManager::startPeriodicCleanup()
{
    const double interval = cleanupInterval();
    // The manager's own: destroying the manager stops it, and a firing never outlives the manager.
    m_cleanupTimer.start(
        millisecondsOf(interval), [this] { performCleanup(); }, true);
    VLOG_TO(m_log, info, cache,
        QStringLiteral("Periodic cache cleanup started (interval: ") + formatHours(interval / 3600.0)
            + QStringLiteral("h)"));
}

void CacheDirectoryManager::stopPeriodicCleanup()
{
    m_cleanupTimer.cancel();
    VLOG_TO(m_log, info, cache, QStringLiteral("Periodic cache cleanup stopped"));
}

void CacheDirectoryManager::setCleaningUp(bool on)
{
    if (m_isCleaningUp == on)
        return;
    m_isCleaningUp = on;
    emit isCleaningUpChanged(on);
}

QCoro::Task<qint64> CacheDirectoryManager::performCleanup()
{
    if (m_isCleaningUp)
        co_return 0;
    QPointer<CacheDirectoryManager> self(this);
    setCleaningUp(true);
    const QDateTime now = m_clock();
    QElapsedTimer elapsed;
    elapsed.start();
    const auto timeLeft = [&elapsed, this] {
        return std::max(std::chrono::milliseconds(0), cleanupTimeLimit - std::chrono::milliseconds(elapsed.elapsed()));
    };

    // The age counts from when the copy was made, however recently it was requested.
    QList<CacheEntry> expired;
    for (const CacheEntry& entry : m_cache.entries()) {
        if (static_cast<double>(entry.cachedAt.msecsTo(now)) / 1000.0 > maxEntryAge())
            expired.append(entry);
    }
    for (const CacheEntry& entry : std::as_const(expired))
        m_cache.removeEntry(entry);

    const QList<CacheEntry> remaining = m_cache.entries();
    QStringList paths;
    paths.reserve(remaining.size());
    for (const CacheEntry& entry : remaining)
        paths.append(entry.localURL.toLocalFile());
    // Named futures and tasks: GCC 12 mishandles temporaries inside a co_await expression.
    QFuture<std::vector<char>> testJob = runFileWork(m_cache.cacheDirectory(), [paths] { return filesPresent(paths); });
    QCoro::Task<std::optional<std::vector<char>>> tests = awaitWithin(testJob, timeLeft());
    const std::optional<std::vector<char>> present = co_await tests;
    if (!self)
        co_return 0;
    if (!present) {
        giveUp();
        co_return expired.size();
    }

    // The cache may have changed during the file tests: count only what is still there to remove.
    QSet<QUuid> current;
    for (const CacheEntry& entry : m_cache.entries())
        current.insert(entry.id);
    qint64 vanished = 0;
    for (qsizetype i = 0; i < remaining.size(); ++i) {
        if ((*present)[static_cast<size_t>(i)] || !current.contains(remaining.at(i).id))
            continue;
        m_cache.removeEntry(remaining.at(i));
        ++vanished;
    }
    const qint64 removed = expired.size() + vanished;

    QCoro::Task<bool> eviction = awaitWithin(m_cache.evictIfNeeded(0), timeLeft());
    const bool evicted = co_await eviction;
    if (!self)
        co_return removed;
    if (!evicted) {
        giveUp();
        co_return removed;
    }

    m_lastCleanupRemovedCount = removed;
    emit lastCleanupRemovedCountChanged(removed);
    m_lastCleanupDate = now;
    m_defaults.setValue(lastCleanupKey, now);
    emit lastCleanupDateChanged();
    setCleaningUp(false);
    QCoro::Task<> diskSpace = updateDiskSpace();
    co_await diskSpace;
    if (!self)
        co_return removed;
    VLOG_TO(m_log, info, cache, QStringLiteral("Cache cleanup completed: removed %1 entries").arg(removed));
    co_return removed;
}

void CacheDirectoryManager::giveUp()
{
    // What the pass waits for runs on by itself; the next pass must not wait for it too.
    VLOG_TO(m_log, warning, cache,
        QStringLiteral("Cache cleanup gave up: the cache did not answer within %1 s")
            .arg(QString::number(static_cast<double>(cleanupTimeLimit.count()) / 1000.0)));
    setCleaningUp(false);
}

QCoro::Task<> CacheDirectoryManager::performStartupCleanup()
{
    QPointer<CacheDirectoryManager> self(this);
    VLOG_TO(m_log, info, cache, QStringLiteral("Performing startup cache cleanup..."));
    QCoro::Task<qint64> pass = performCleanup();
    co_await pass;
    if (!self)
        co_return;
    QCoro::Task<> diskSpace = updateDiskSpace();
    co_await diskSpace;
}

QCoro::Task<> CacheDirectoryManager::updateDiskSpace()
{
    QPointer<CacheDirectoryManager> self(this);
    const QString folder = m_cache.cacheDirectory();
    const DiskSpace* diskSpace = &m_diskSpace;
    QFuture<std::optional<qint64>> job = runFileWork(folder,
        [diskSpace, folder] { return diskSpace->availableBytes(folder); });
    const std::optional<qint64> available = co_await job;
    if (!self || !available)
        co_return;
    if (m_availableDiskSpace != *available) {
        m_availableDiskSpace = *available;
        emit availableDiskSpaceChanged(m_availableDiskSpace);
    }
    if (*available < lowDiskSpaceThreshold)
        VLOG_TO(m_log, warning, cache,
            QStringLiteral("Low disk space at cache location: %1 MB remaining").arg(*available / 1048576));
}

} // namespace vantrel
