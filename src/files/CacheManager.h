#pragma once

#include "platform/Threading.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QThreadPool;

namespace vantrel {

class Defaults;
class LogManager;

// One cached copy of a file seen on a share.
struct CacheEntry {
    QUuid id;
    QUuid configID;
    QString relativePath;
    QUrl localURL;
    qint64 fileSize = 0;
    bool isDirectory = false;
    QString fileName;
    QDateTime cachedAt;
    QDateTime lastAccessedAt;
    std::optional<QString> contentHash;

    bool operator==(const CacheEntry&) const = default;
};

struct CacheStatistics {
    qint64 entryCount = 0;
    qint64 totalSize = 0;
    qint64 maxSize = 0;
    qint64 hitCount = 0;
    qint64 missCount = 0;

    bool operator==(const CacheStatistics&) const = default;
};

// The offline file cache: local copies of listed files below one cache folder, described by
// "cache-index.json", bounded per file and in total with least-recently-used eviction.
//
// Lives on the main thread. Reading a share and writing copies run on the share I/O pool; the
// index is written on a private serial writer, newest state wins. Requests that change the index
// (cacheFile, evictIfNeeded) take turns, so one runs to its end before the next starts.
//
// Every path taken from the index or a caller is confined to the cache folder: an entry's copy
// must lie exactly where the cache itself would put it.
class CacheManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(vantrel::CacheStatistics statistics READ statistics NOTIFY statisticsChanged)
    Q_PROPERTY(QList<vantrel::CacheEntry> entries READ entries NOTIFY entriesChanged)

public:
    using Clock = std::function<QDateTime()>;

    static constexpr qint64 maxSingleFileSize = 52'428'800;
    static constexpr qint64 defaultMaxSize = 524'288'000;
    static inline const QString maxCacheSizeKey = QStringLiteral("cache.maxSize");
    static inline const QString cacheLocationKey = QStringLiteral("cache.location");
    static inline const QString indexFileName = QStringLiteral("cache-index.json");

    // defaultCacheDirectory is used while "cache.location" holds no path.
    CacheManager(Defaults& defaults, LogManager& log, const QString& defaultCacheDirectory, Clock clock,
        QObject* parent = nullptr);
    ~CacheManager() override;

    static CacheManager& shared();
    static QString standardCacheDirectory(); // <user cache>/Vantrel/FileCache
    static QDateTime systemNow();

    bool isProcessing() const { return m_isProcessing; }
    CacheStatistics statistics() const { return m_statistics; }
    QList<CacheEntry> entries() const { return m_entries; }

    QString cacheDirectory() const;
    QString defaultCacheDirectory() const { return m_defaultCacheDirectory; }
    QString indexFilePath() const;
    qint64 maxCacheSize() const;
    // Where the copy of a configuration's file goes; none for a path that would leave the cache.
    std::optional<QString> cachedFilePath(const QUuid& configID, const QString& relativePath) const;

    // Copies the file into the cache, or refreshes the entry that exists for it. Never fails
    // towards the caller: completes with the entry, or none when nothing was cached.
    QCoro::Task<std::optional<CacheEntry>> cacheFile(QUrl sourceURL, QUuid configID, QString relativePath);
    QCoro::Task<> evictIfNeeded(qint64 requiredSpace);
    void removeEntry(const CacheEntry& entry);
    void clearAllCache();
    void updateStatistics();

    QList<CacheEntry> entries(const QUuid& configID) const;
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
    void removeEmptyDirectories();
    void setProcessing(bool on);
    void rebuildLookup();
    void keepIndexAside(const QString& reason);
    QCoro::Task<> evictLocked(qint64 requiredSpace);
    std::optional<qsizetype> findEntry(const QUuid& configID, const QString& relativePath) const;
    static QString lookupKey(const QUuid& configID, const QString& relativePath);

    Defaults& m_defaults;
    LogManager& m_log;
    QString m_defaultCacheDirectory;
    Clock m_clock;

    QList<CacheEntry> m_index;            // newest lastAccessedAt first
    QHash<QString, QUuid> m_byPath;       // configID + normalised relative path -> entry id
    QList<CacheEntry> m_entries;
    CacheStatistics m_statistics;
    bool m_isProcessing = false;
    QString m_corruptIndexCopyPath;

    SerialGate m_requests;

    std::unique_ptr<QThreadPool> m_writer;
    std::shared_ptr<std::atomic<quint64>> m_latestSave;
};

// Stored form of the index: a pretty-printed JSON array with sorted keys; strict reading.
QByteArray encodeCacheIndex(const QList<CacheEntry>& entries);
std::optional<QList<CacheEntry>> decodeCacheIndex(const QByteArray& json, QString* error = nullptr);

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::CacheEntry)
Q_DECLARE_METATYPE(vantrel::CacheStatistics)
