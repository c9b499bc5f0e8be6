#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace vantrel {

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

// The entries of the offline cache, at most one per configuration and path, found by either:
// canonically equivalent spellings of a path (precomposed or decomposed accents) name one file.
// Entries stand newest access first as of the last load or addition; refreshing an entry's access
// time leaves them where they are. Adding the newest entry, as caching a file does, costs the same
// however large the index is. A copy may be read through find and at on another thread.
class CacheIndex final {
public:
    CacheIndex() = default;
    // Of entries that repeat a path, the most recently accessed stays.
    explicit CacheIndex(QList<CacheEntry> entries);

    QList<CacheEntry> entries() const;
    QList<CacheEntry> entries(const QUuid& configID) const;
    qsizetype size() const { return m_stored.size(); }
    const CacheEntry& at(qsizetype position) const { return m_stored.at(storedIndex(position)); }
    // The sum of the file sizes, held at the largest number rather than overflowing.
    qint64 totalSize() const;

    std::optional<qsizetype> find(const QUuid& configID, const QString& relativePath) const;
    std::optional<qsizetype> findById(const QUuid& id) const;

    // Replaces the entry for the same path, if any.
    void add(const CacheEntry& entry);
    // As adding each in turn would, re-keying the index once where they share one access time.
    void add(const QList<CacheEntry>& entries);
    const CacheEntry& touch(qsizetype position, const QDateTime& accessedAt);
    void removeAt(qsizetype position);
    void remove(const QSet<QUuid>& ids);
    void clear();

    // What to evict, oldest access first, so that requiredSpace more bytes fit within maxSize:
    // nothing when they fit already, everything when even an empty cache is too small.
    QList<CacheEntry> leastRecentlyUsed(qint64 requiredSpace, qint64 maxSize) const;

    // The stored form: a pretty-printed JSON array with sorted keys; strict reading.
    static QByteArray encode(const QList<CacheEntry>& entries);
    static std::optional<QList<CacheEntry>> decode(const QByteArray& json, QString* error = nullptr);

private:
    // A position counts from the newest entry, a stored index from the oldest.
    qsizetype storedIndex(qsizetype position) const { return m_stored.size() - 1 - position; }
    void storeSorted(QList<CacheEntry> newestFirst);
    // Points the keys stored from index `from` on at their places again.
    void reindexFrom(qsizetype from);

    // Oldest access first, so that adding the newest entry moves nothing, with each entry's key.
    QList<CacheEntry> m_stored;
    QList<QString> m_keys;
    QHash<QString, qsizetype> m_positions; // key -> stored index
    bool m_ordered = true;                 // false once a touch has left an entry out of order
    // Exact: sizes read from a stored index may be anything, and an entry's size leaves it again.
    __extension__ using Wide = __int128;
    Wide m_totalSize = 0;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::CacheEntry)
