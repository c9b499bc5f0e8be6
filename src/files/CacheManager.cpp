#include "files/CacheManager.h"

#include "files/CacheFolder.h"
#include "platform/AppPaths.h"
#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/FileWork.h"
#include "platform/StoredFile.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSet>

#include <cmath>
#include <limits>

namespace vantrel {

namespace {

// An index of every file of a cache far larger than anyone sets stays well below this.
constexpr qint64 maxIndexFileSize = 64 * 1024 * 1024;

struct SourceAttributes {
    bool readable = false;
    qint64 size = 0;
    bool isDirectory = false;
    bool isRegularFile = false;
    bool copyPresent = false;
};

SourceAttributes readSourceAttributes(const QString& sourcePath, const QString& destination, const CacheFolder& cache)
{
    SourceAttributes result;
    const QFileInfo info(sourcePath);
    result.readable = !sourcePath.isEmpty() && info.exists();
    result.size = info.size();
    result.isDirectory = info.isDir();
    result.isRegularFile = info.isFile();
    result.copyPresent = cache.holdsCopy(destination);
    return result;
}

} // namespace

CacheManager::CacheManager(Defaults& defaults, LogManager& log, const QString& defaultCacheDirectory, Clock clock,
    QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_log(log)
    , m_defaultCacheDirectory(defaultCacheDirectory)
    , m_clock(std::move(clock))
    , m_indexWriter(this, log, [this] {
        const QList<CacheEntry> entries = m_index.entries();
        emit entriesChanged(entries);
        return entries;
    })
{
    createCacheDirectoryIfNeeded();
    loadIndex();
    updateStatistics();
}

CacheManager::~CacheManager()
{
    m_indexWriter.flush();
}

CacheManager& CacheManager::shared()
{
    return sharedInstance([] {
        return new CacheManager(Defaults::standard(), LogManager::shared(), standardCacheDirectory(), systemNow);
    });
}

QString CacheManager::standardCacheDirectory()
{
    return AppPaths::cacheDirectory() + QStringLiteral("/FileCache");
}

QString CacheManager::cacheDirectory() const
{
    const std::optional<QString> location = m_defaults.stringValue(cacheLocationKey);
    const QString path = location && !location->isEmpty() ? *location : m_defaultCacheDirectory;
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString CacheManager::indexFilePath() const
{
    return cacheDirectory() + u'/' + indexFileName;
}

qint64 CacheManager::maxCacheSize() const
{
    const QVariant value = m_defaults.value(maxCacheSizeKey);
    if (value.typeId() == QMetaType::LongLong)
        return value.toLongLong();
    if (value.typeId() == QMetaType::Double) {
        const double d = value.toDouble();
        // Whole numbers inside the 64-bit range only; 2^63 itself is already outside.
        if (std::isfinite(d) && d == std::floor(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<qint64>(d);
    }
    return defaultMaxSize;
}

std::optional<QString> CacheManager::cachedFilePath(const QUuid& configID, const QString& relativePath) const
{
    if (relativePath.isEmpty() || relativePath.contains(QChar(0)))
        return std::nullopt;
    const QStringList components = relativePath.split(u'/');
    for (const QString& component : components) {
        if (component.isEmpty() || component == u"." || component == u"..")
            return std::nullopt;
    }
    return cacheDirectory() + u'/' + encoding::uuidText(configID).left(8) + u'/' + relativePath;
}

void CacheManager::createCacheDirectoryIfNeeded()
{
    StoredFile::makeFolder(cacheDirectory());
}

void CacheManager::keepIndexAside(const QString& reason)
{
    // Moving keeps the unreadable file whole: the next save must not be its only fate.
    const QString path = indexFilePath();
    QString failure;
    m_corruptIndexCopyPath = StoredFile::moveAside(path, &failure).value_or(QString());
    VLOG_TO(m_log, error, cache,
        QStringLiteral("Cache index %1 kept at %2: %3")
            .arg(path,
                m_corruptIndexCopyPath.isEmpty() ? QStringLiteral("(move failed: %1)").arg(failure)
                                                 : m_corruptIndexCopyPath,
                reason));
}

void CacheManager::loadIndex()
{
    m_corruptIndexCopyPath.clear();
    const QString path = indexFilePath();
    const auto setIndex = [this](QList<CacheEntry> index) {
        m_index = CacheIndex(std::move(index));
        emit entriesChanged(m_index.entries());
    };
    StoredFile::removeLeftovers(path);
    const StoredFile::Contents contents = StoredFile::read(path, maxIndexFileSize);
    if (contents.state == StoredFile::Contents::State::missing) {
        setIndex({});
        return;
    }

    QString error = contents.problem;
    std::optional<QList<CacheEntry>> decoded;
    if (contents.state == StoredFile::Contents::State::read)
        decoded = CacheIndex::decode(contents.bytes, &error);
    if (!decoded) {
        VLOG_TO(m_log, error, cache, QStringLiteral("Failed to load cache index: ") + error);
        keepIndexAside(error);
        setIndex({});
        return;
    }

    // An edited index must not lead the cache to files outside its folder, nor give two entries
    // one copy.
    QList<CacheEntry> placed;
    for (const CacheEntry& entry : std::as_const(*decoded)) {
        const std::optional<QString> expected = cachedFilePath(entry.configID, entry.relativePath);
        if (expected && entry.localURL.isLocalFile() && QDir::cleanPath(entry.localURL.toLocalFile()) == *expected)
            placed.append(entry);
    }
    const CacheIndex confined(std::move(placed));
    const qsizetype refused = decoded->size() - confined.size();
    if (refused > 0)
        keepIndexAside(QStringLiteral("%1 entries point outside the cache folder or repeat a path").arg(refused));

    const CacheFolder folder(cacheDirectory());
    QList<CacheEntry> kept;
    kept.reserve(confined.size());
    for (const CacheEntry& entry : confined.entries()) {
        if (folder.holdsCopy(entry.localURL.toLocalFile()))
            kept.append(entry);
    }
    const qsizetype stale = confined.size() - kept.size();
    setIndex(std::move(kept));
    if (stale > 0)
        VLOG_TO(m_log, info, cache, QStringLiteral("Removed %1 stale cache entries on load").arg(stale));
    if (stale > 0 || refused > 0)
        saveIndex();
}

void CacheManager::saveIndex()
{
    m_indexWriter.requestSave(indexFilePath());
}

void CacheManager::waitForIndexWrites()
{
    m_indexWriter.flush();
}

void CacheManager::updateStatistics()
{
    CacheStatistics next;
    next.entryCount = m_index.size();
    next.totalSize = m_index.totalSize();
    next.maxSize = maxCacheSize();
    next.hitCount = m_statistics.hitCount;
    next.missCount = m_statistics.missCount;
    m_statistics = next;
    emit statisticsChanged(m_statistics);
}

void CacheManager::setProcessing(bool on)
{
    if (m_isProcessing == on)
        return;
    m_isProcessing = on;
    emit isProcessingChanged(on);
}

QCoro::Task<std::optional<CacheEntry>> CacheManager::cacheFile(QUrl sourceURL, QUuid configID, QString relativePath)
{
    QPointer<CacheManager> self(this);
    const QString sourcePath = sourceURL.toLocalFile();
    const std::optional<QString> destination = cachedFilePath(configID, relativePath);
    if (!destination) {
        VLOG_TO(m_log, error, cache,
            QStringLiteral("Failed to cache file: the path \"%1\" leads outside the cache folder").arg(relativePath));
        co_return std::nullopt;
    }
    const CacheFolder folder(cacheDirectory());

    // The share is read without the cache's turn: a share that hangs must not hold up the cache.
    // Named futures: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    QFuture<SourceAttributes> statJob = runFileWork(sourcePath, [sourcePath, destination = *destination, folder] {
        return readSourceAttributes(sourcePath, destination, folder);
    });
    const SourceAttributes attributes = co_await statJob;
    if (!self)
        co_return std::nullopt;

    if (!attributes.readable) {
        VLOG_TO(m_log, warning, cache, QStringLiteral("Cannot read file attributes for caching: ") + sourcePath);
        co_return std::nullopt;
    }
    if (!attributes.isRegularFile && !attributes.isDirectory) {
        VLOG_TO(m_log, info, cache,
            QStringLiteral("Skipping cache for an item that is not a regular file: ") + sourceURL.fileName());
        co_return std::nullopt;
    }
    if (attributes.size > maxSingleFileSize) {
        VLOG_TO(m_log, info, cache,
            QStringLiteral("Skipping cache for large file (%1 bytes): %2")
                .arg(attributes.size)
                .arg(sourceURL.fileName()));
        co_return std::nullopt;
    }

    const QString copyKey = destination->normalized(QString::NormalizationForm_C);
    {
        // Nothing below waits until the copy: the look-up, the eviction and the reservation of
        // the new file's room happen as one step.
        const SerialGate::Turn turn = co_await m_requests.enter();
        if (const std::optional<qsizetype> existing = m_index.find(configID, relativePath)) {
            if (attributes.copyPresent) {
                const CacheEntry result = m_index.touch(*existing, m_clock());
                saveIndex();
                updateStatistics();
                co_return result;
            }
            // The copy vanished behind the index's back: copy the file again under a new entry.
            m_index.removeAt(*existing);
        }
        // Another request is copying the same file right now.
        if (m_copiesUnderWay.contains(copyKey))
            co_return std::nullopt;
        setProcessing(true);
        QCoro::Task<> eviction = evictLocked(attributes.size);
        co_await eviction;
        m_copiesUnderWay.insert(copyKey);
        m_reservedBytes += attributes.size;
    }

    QFuture<QString> copyJob = runFileWork(sourcePath,
        [sourcePath, destination = *destination, folder = cacheDirectory()] {
            return CacheFolder::copyIn(sourcePath, destination, folder);
        });
    const QString copyError = co_await copyJob;
    if (!self)
        co_return std::nullopt;
    m_copiesUnderWay.remove(copyKey);
    m_reservedBytes -= attributes.size;
    setProcessing(!m_copiesUnderWay.isEmpty());
    if (!copyError.isEmpty()) {
        VLOG_TO(m_log, error, cache, QStringLiteral("Failed to cache file: ") + copyError);
        co_return std::nullopt;
    }

    CacheEntry entry;
    entry.id = QUuid::createUuid();
    entry.configID = configID;
    entry.relativePath = relativePath;
    entry.localURL = QUrl::fromLocalFile(*destination);
    entry.fileSize = attributes.size;
    entry.isDirectory = attributes.isDirectory;
    entry.fileName = sourceURL.fileName();
    entry.cachedAt = m_clock();
    entry.lastAccessedAt = entry.cachedAt;
    m_index.add(entry);
    saveIndex();
    updateStatistics();
    VLOG_TO(m_log, info, cache,
        QStringLiteral("Cached file: %1 (%2 bytes)").arg(entry.fileName, QString::number(entry.fileSize)));
    co_return entry;
}

QCoro::Task<> CacheManager::evictIfNeeded(qint64 requiredSpace)
{
    const SerialGate::Turn turn = co_await m_requests.enter();
    QCoro::Task<> eviction = evictLocked(requiredSpace);
    co_await eviction;
}

QCoro::Task<> CacheManager::evictLocked(qint64 requiredSpace)
{
    // Copies under way have their room already.
    const qint64 required = requiredSpace > std::numeric_limits<qint64>::max() - m_reservedBytes
        ? std::numeric_limits<qint64>::max()
        : requiredSpace + m_reservedBytes;
    const QList<CacheEntry> victims = m_index.leastRecentlyUsed(required, maxCacheSize());
    if (victims.isEmpty())
        co_return;
    QPointer<CacheManager> self(this);
    QStringList copies;
    for (const CacheEntry& entry : victims)
        copies << entry.localURL.toLocalFile();
    const QString folderPath = cacheDirectory();
    QFuture<void> removal = runFileWork(folderPath, [folderPath, copies] {
        const CacheFolder folder(folderPath);
        for (const QString& copy : copies)
            folder.removeCopy(copy);
        folder.removeEmptyConfigurationFolders();
    });
    co_await removal;
    if (!self)
        co_return;
    QSet<QUuid> removed;
    for (const CacheEntry& entry : victims) {
        removed.insert(entry.id);
        VLOG_TO(m_log, debug, cache, QStringLiteral("Evicted cache entry (LRU): ") + entry.fileName);
    }
    m_index.remove(removed);
    saveIndex();
    updateStatistics();
    VLOG_TO(m_log, info, cache, QStringLiteral("LRU eviction: removed %1 entries").arg(removed.size()));
}

void CacheManager::removeEntry(const CacheEntry& entry)
{
    const std::optional<qsizetype> position = m_index.findById(entry.id);
    if (!position)
        return;
    const CacheEntry indexed = m_index.at(*position);
    CacheFolder(cacheDirectory()).removeCopy(indexed.localURL.toLocalFile());
    m_index.removeAt(*position);
    saveIndex();
    updateStatistics();
    VLOG_TO(m_log, debug, cache, QStringLiteral("Removed cache entry: ") + indexed.fileName);
}

QCoro::Task<> CacheManager::clearAllCache()
{
    QPointer<CacheManager> self(this);
    // Waits its turn, so that no eviction or reservation works on the index while it empties.
    const SerialGate::Turn turn = co_await m_requests.enter();
    const QString folder = cacheDirectory();
    const std::optional<QString> location = m_defaults.stringValue(cacheLocationKey);
    const bool ownFolder = !location || location->isEmpty();
    QStringList copies;
    if (!ownFolder) {
        for (const CacheEntry& entry : m_index.entries())
            copies << entry.localURL.toLocalFile();
    }
    // Thousands of removals, possibly on a slow disk the user chose: off the main thread.
    QFuture<void> removal = runFileWork(folder, [folder, ownFolder, copies] {
        if (ownFolder) {
            // The default folder is the cache's alone.
            QDir(folder).removeRecursively();
            return;
        }
        // A folder the user chose may hold other files: remove only the copies, the index and
        // the configuration folders they leave empty.
        const CacheFolder cache(folder);
        for (const QString& copy : copies)
            cache.removeCopy(copy);
        QFile::remove(folder + u'/' + indexFileName);
        cache.removeEmptyConfigurationTrees();
    });
    co_await removal;
    if (!self)
        co_return;
    createCacheDirectoryIfNeeded();
    m_index.clear();
    m_statistics.hitCount = 0;
    m_statistics.missCount = 0;
    saveIndex();
    updateStatistics();
    VLOG_TO(m_log, info, cache, QStringLiteral("Cleared all cache"));
}

bool CacheManager::isCached(const QUuid& configID, const QString& relativePath)
{
    const std::optional<qsizetype> position = m_index.find(configID, relativePath);
    const bool cached = position
        && CacheFolder(cacheDirectory()).holdsCopy(m_index.at(*position).localURL.toLocalFile());
    ++(cached ? m_statistics.hitCount : m_statistics.missCount);
    updateStatistics();
    return cached;
}

QCoro::Task<QStringList> CacheManager::uncachedPaths(QUuid configID, QStringList relativePaths)
{
    QPointer<CacheManager> self(this);
    const qsizetype asked = relativePaths.size();
    // Looking thousands of paths up is work too: it runs beside the file tests, on a copy of the
    // index, and the paths are freed there.
    const QString cacheFolder = cacheDirectory();
    QFuture<QStringList> lookup = runFileWork(cacheFolder,
        [index = m_index, cacheFolder, configID, paths = std::move(relativePaths)] {
            const CacheFolder folder(cacheFolder);
            QStringList uncached;
            for (const QString& path : paths) {
                const std::optional<qsizetype> position = index.find(configID, path);
                if (!position || !folder.holdsCopy(index.at(*position).localURL.toLocalFile()))
                    uncached.append(path);
            }
            return uncached;
        });
    const QStringList uncached = co_await lookup;
    if (!self)
        co_return QStringList();
    m_statistics.hitCount += asked - uncached.size();
    m_statistics.missCount += uncached.size();
    if (asked > 0)
        updateStatistics();
    co_return uncached;
}

} // namespace vantrel
