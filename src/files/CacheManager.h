#pragma once

#include "files/CacheIndex.h"
#include "files/CacheIndexWriter.h"
#include "platform/Clock.h"
#include "platform/Threading.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <coroutine>
#include <optional>

namespace vantrel {

class Defaults;
class LogManager;

struct CacheStatistics {
    qint64 entryCount = 0;
    qint64 totalSize = 0;
    qint64 maxSize = 0;
    qint64 hitCount = 0;
    qint64 missCount = 0;

    bool operator==(const CacheStatistics&) const = default;
};

// A file to cache: where it lies, and its path below the share's mount point.
struct CacheSource {
    QString sourcePath;
    QString relativePath;
};

// The offline file cache: local copies of listed files below one cache folder, described by
// "cache-index.json", bounded per file and in total with least-recently-used eviction.
//
// Lives on the main thread. Reading a share and writing copies run in the share's lane; the
// index is written by a CacheIndexWriter. Requests that change the index
// (cacheFile, cacheFiles, evictIfNeeded, clearAllCache) take turns for their steps on the index, but no turn is
// held while a share is read, so a share that hangs holds up only its own requests. A copy under way has its
// room reserved: evictions leave space for it, and a file that fits only without it waits for it
// to end, so the copies on disk never pass the limit.
//
// Every path taken from the index or a caller is confined to the cache folder: an entry's copy
// must lie exactly where the cache itself would put it.
class CacheManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(vantrel::CacheStatistics statistics READ statistics NOTIFY statisticsChanged)
    Q_PROPERTY(QList<vantrel::CacheEntry> entries READ entries NOTIFY entriesChanged)

public:
    static constexpr qint64 maxSingleFileSize = 52'428'800;
    static constexpr qint64 defaultMaxSize = 524'288'000;
    static inline const QString maxCacheSizeKey = QStringLiteral("cache.maxSize");
    static inline const QString cacheLocationKey = QStringLiteral("cache.location");
    static inline const QString indexFileName = QStringLiteral("cache-index.json");
    // How many files of a batch are examined, copied and entered together.
    static constexpr qsizetype filesPerSlice = 64;
    // A slice's copies run as this many pieces of work, side by side in the share's lane.
    static constexpr qsizetype copyJobsPerSlice = 4;

    // defaultCacheDirectory is used while "cache.location" holds no path.
    CacheManager(Defaults& defaults, LogManager& log, const QString& defaultCacheDirectory, Clock clock,
        QObject* parent = nullptr);
    ~CacheManager() override;

    static CacheManager& shared();
    static QString standardCacheDirectory(); // <user cache>/Vantrel/FileCache

    bool isProcessing() const { return m_isProcessing; }
    CacheStatistics statistics() const { return m_statistics; }
    QList<CacheEntry> entries() const { return m_index.entries(); }

    QString cacheDirectory() const;
    QString defaultCacheDirectory() const { return m_defaultCacheDirectory; }
    QString indexFilePath() const;
    qint64 maxCacheSize() const;
    // Where the copy of a configuration's file goes; none for a path that would leave the cache.
    std::optional<QString> cachedFilePath(const QUuid& configID, const QString& relativePath) const;
    static std::optional<QString> cachedFilePath(const QString& cacheFolder, const QUuid& configID,
        const QString& relativePath);

    // Copies the file into the cache, or refreshes the entry that exists for it. Never fails
    // towards the caller: completes with the entry, or none when nothing was cached.
    QCoro::Task<std::optional<CacheEntry>> cacheFile(QUrl sourceURL, QUuid configID, QString relativePath);
    // cacheFile for many files (those of one folder): one request that takes them a slice at a
    // time, each slice examined and copied in one piece of work in the share's lane and entered in
    // one step. Completes with one result per file, in their order.
    QCoro::Task<QList<std::optional<CacheEntry>>> cacheFiles(QUuid configID, QList<CacheSource> files);
    QCoro::Task<> evictIfNeeded(qint64 requiredSpace);
    void removeEntry(const CacheEntry& entry);
    // Completes once the copies are gone and the empty index is queued for writing.
    QCoro::Task<> clearAllCache();
    void updateStatistics();

    QList<CacheEntry> entries(const QUuid& configID) const { return m_index.entries(configID); }
    // Blocks on a file test; the listing uses uncachedPaths instead.
    bool isCached(const QUuid& configID, const QString& relativePath);
    // The given paths that have no copy on disk, in their order (the batch form of isCached, with
    // the file tests off the main thread). Counts a hit per cached path and a miss per other.
    QCoro::Task<QStringList> uncachedPaths(QUuid configID, QStringList relativePaths);

    // Waits until every index write queued so far is on disk (tests and shut-down).
    void waitForIndexWrites();
    // Where an unreadable index was copied aside at the last load (empty when none).
    QString corruptIndexCopyPath() const { return m_corruptIndexCopyPath; }

signals:
    void isProcessingChanged(bool isProcessing);
    void statisticsChanged(const vantrel::CacheStatistics& statistics);
    void entriesChanged(const QList<vantrel::CacheEntry>& entries);

private:
    void createCacheDirectoryIfNeeded();
    void loadIndex();
    void saveIndex();
    void setProcessing(bool on);
    void keepIndexAside(const QString& reason);
    QCoro::Task<> evictLocked(qint64 requiredSpace);
    QCoro::Task<QList<std::optional<CacheEntry>>> cacheSlice(QUuid configID, QList<CacheSource> files);

    // Waits, off the cache's turn, until a copy under way ends.
    struct SettleWait {
        CacheManager* cache;
        bool await_ready() const { return false; }
        void await_suspend(std::coroutine_handle<> waiter) const { cache->m_settleWaiters.append(waiter); }
        void await_resume() const {}
    };
    void resumeSettleWaiters();

    Defaults& m_defaults;
    LogManager& m_log;
    QString m_defaultCacheDirectory;
    Clock m_clock;

    CacheIndex m_index;
    CacheStatistics m_statistics;
    bool m_isProcessing = false;
    QString m_corruptIndexCopyPath;

    SerialGate m_requests;
    QSet<QString> m_copiesUnderWay; // destinations
    qint64 m_reservedBytes = 0;     // the sizes of the copies under way
    QList<std::coroutine_handle<>> m_settleWaiters;

    CacheIndexWriter m_indexWriter;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::CacheStatistics)
