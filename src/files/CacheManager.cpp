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
#include <QTimer>

#include <algorithm>
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

// A file of a slice on its way into the cache.
struct PendingCopy {
    qsizetype at = 0; // in the slice's files and results
    QString destination;
    SourceAttributes attributes;
};

QString fileNameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

qint64 saturatingSum(std::initializer_list<qint64> values)
{
    qint64 sum = 0;
    for (const qint64 value : values) {
        if (__builtin_add_overflow(sum, value, &sum))
            return std::numeric_limits<qint64>::max();
    }
    return sum;
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
    return cachedFilePath(cacheDirectory(), configID, relativePath);
}

std::optional<QString> CacheManager::cachedFilePath(const QString& cacheFolder, const QUuid& configID,
    const QString& relativePath)
{
    if (relativePath.isEmpty() || relativePath.contains(QChar(0)))
        return std::nullopt;
    const QStringList components = relativePath.split(u'/');
    for (const QString& component : components) {
        if (component.isEmpty() || component == u"." || component == u"..")
            return std::nullopt;
    }
    return cacheFolder + u'/' + encoding::uuidText(configID).left(8) + u'/' + relativePath;
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
    QCoro::Task<QList<std::optional<CacheEntry>>> request = cacheFiles(configID,
        {CacheSource{sourceURL.toLocalFile(), std::move(relativePath)}});
    const QList<std::optional<CacheEntry>> results = co_await request;
    co_return results.value(0);
}

QCoro::Task<QList<std::optional<CacheEntry>>> CacheManager::cacheFiles(QUuid configID, QList<CacheSource> files)
{
    QPointer<CacheManager> self(this);
    QList<std::optional<CacheEntry>> results(files.size());
    for (qsizetype first = 0; first < files.size(); first += filesPerSlice) {
        const qsizetype count = std::min<qsizetype>(filesPerSlice, files.size() - first);
        QCoro::Task<QList<std::optional<CacheEntry>>> slice = cacheSlice(configID, files.mid(first, count));
        const QList<std::optional<CacheEntry>> done = co_await slice;
        if (!self)
            co_return results;
        std::copy(done.cbegin(), done.cend(), results.begin() + first);
    }
    co_return results;
}

QCoro::Task<QList<std::optional<CacheEntry>>> CacheManager::cacheSlice(QUuid configID, QList<CacheSource> files)
{
    QPointer<CacheManager> self(this);
    QList<std::optional<CacheEntry>> results(files.size());
    if (files.isEmpty())
        co_return results;
    const QString cacheFolder = cacheDirectory();

    // The share is read without the cache's turn: a share that hangs must not hold up the cache.
    // Named futures: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    QFuture<QList<PendingCopy>> statJob = runFileWork(files.first().sourcePath, [files, cacheFolder, configID] {
        const CacheFolder folder(cacheFolder);
        QList<PendingCopy> examined(files.size());
        for (qsizetype i = 0; i < files.size(); ++i) {
            PendingCopy& item = examined[i];
            item.at = i;
            // Left empty for a path that would leave the cache folder: its source is not read.
            item.destination = cachedFilePath(cacheFolder, configID, files.at(i).relativePath).value_or(QString());
            if (!item.destination.isEmpty())
                item.attributes = readSourceAttributes(files.at(i).sourcePath, item.destination, folder);
        }
        return examined;
    });
    QList<PendingCopy> pending = co_await statJob;
    if (!self)
        co_return results;

    pending.removeIf([&](const PendingCopy& item) {
        const SourceAttributes& attributes = item.attributes;
        const QString name = fileNameOf(files.at(item.at).sourcePath);
        if (item.destination.isEmpty()) {
            VLOG_TO(m_log, error, cache,
                QStringLiteral("Failed to cache file: the path \"%1\" leads outside the cache folder")
                    .arg(files.at(item.at).relativePath));
            return true;
        }
        if (!attributes.readable) {
            VLOG_TO(m_log, warning, cache,
                QStringLiteral("Cannot read file attributes for caching: ") + files.at(item.at).sourcePath);
            return true;
        }
        if (!attributes.isRegularFile && !attributes.isDirectory) {
            VLOG_TO(m_log, info, cache,
                QStringLiteral("Skipping cache for an item that is not a regular file: ") + name);
            return true;
        }
        if (attributes.size > maxSingleFileSize) {
            VLOG_TO(m_log, info, cache,
                QStringLiteral("Skipping cache for large file (%1 bytes): %2").arg(attributes.size).arg(name));
            return true;
        }
        return false;
    });

    while (!pending.isEmpty()) {
        QList<PendingCopy> copying;
        {
            // Nothing below waits until the copy: the look-ups, the eviction and the reservation
            // of the new files' room happen as one step.
            const SerialGate::Turn turn = co_await m_requests.enter();
            if (!self)
                co_return results;
            bool touched = false;
            QSet<QString> asked; // two spellings of one path in this slice name one copy
            pending.removeIf([&](const PendingCopy& item) {
                const QString& relativePath = files.at(item.at).relativePath;
                if (const std::optional<qsizetype> existing = m_index.find(configID, relativePath)) {
                    if (item.attributes.copyPresent) {
                        results[item.at] = m_index.touch(*existing, m_clock());
                        touched = true;
                        return true;
                    }
                    // The copy vanished behind the index's back: copy the file again under a new
                    // entry.
                    m_index.removeAt(*existing);
                    touched = true;
                }
                // Another request is copying the same file right now.
                const QString copyKey = item.destination.normalized(QString::NormalizationForm_C);
                if (m_copiesUnderWay.contains(copyKey) || asked.contains(copyKey))
                    return true;
                asked.insert(copyKey);
                return false;
            });
            if (touched) {
                saveIndex();
                updateStatistics();
            }
            // The files that fit beside the copies under way once every older entry is evicted;
            // the first always does when nothing else is under way, however large it is.
            const qint64 limit = maxCacheSize();
            qint64 room = 0;
            qsizetype taken = 0;
            for (const PendingCopy& item : std::as_const(pending)) {
                const qint64 next = saturatingSum({m_reservedBytes, room, item.attributes.size});
                if ((taken > 0 || m_reservedBytes > 0) && next > limit)
                    break;
                room = saturatingSum({room, item.attributes.size});
                ++taken;
            }
            if (taken > 0) {
                setProcessing(true);
                QCoro::Task<> eviction = evictLocked(room);
                co_await eviction;
                if (!self)
                    co_return results;
                copying = pending.mid(0, taken);
                pending.remove(0, taken);
                for (const PendingCopy& item : std::as_const(copying)) {
                    m_copiesUnderWay.insert(item.destination.normalized(QString::NormalizationForm_C));
                    m_reservedBytes += item.attributes.size;
                }
            }
        }
        if (copying.isEmpty()) {
            if (pending.isEmpty())
                break;
            // The copies under way hold the room these files need: wait until one of them ends.
            SettleWait settled{this};
            co_await settled;
            if (!self)
                co_return results;
            continue;
        }

        // The copies are shared out over the threads of the lane; their outcome is taken in the
        // files' order once all are done.
        QList<QFuture<QList<QString>>> copyJobs;
        const qsizetype perJob = (copying.size() + copyJobsPerSlice - 1) / copyJobsPerSlice;
        for (qsizetype from = 0; from < copying.size(); from += perJob) {
            const QList<PendingCopy> part = copying.mid(from, perJob);
            const QString lanePath = files.at(part.first().at).sourcePath;
            copyJobs.append(runFileWork(lanePath, [files, part, cacheFolder] {
                QList<QString> outcome;
                outcome.reserve(part.size());
                for (const PendingCopy& item : part)
                    outcome.append(CacheFolder::copyIn(files.at(item.at).sourcePath, item.destination, cacheFolder));
                return outcome;
            }));
        }
        QList<QString> errors;
        for (QFuture<QList<QString>>& copyJob : copyJobs) {
            const QList<QString> outcome = co_await copyJob;
            errors.append(outcome);
        }
        if (!self)
            co_return results;
        const QDateTime now = m_clock();
        QList<CacheEntry> added;
        added.reserve(copying.size());
        for (qsizetype i = 0; i < copying.size(); ++i) {
            const PendingCopy& item = copying.at(i);
            m_copiesUnderWay.remove(item.destination.normalized(QString::NormalizationForm_C));
            m_reservedBytes -= item.attributes.size;
            if (!errors.at(i).isEmpty()) {
                VLOG_TO(m_log, error, cache, QStringLiteral("Failed to cache file: ") + errors.at(i));
                continue;
            }
            CacheEntry entry;
            entry.id = QUuid::createUuid();
            entry.configID = configID;
            entry.relativePath = files.at(item.at).relativePath;
            entry.localURL = QUrl::fromLocalFile(item.destination);
            entry.fileSize = item.attributes.size;
            entry.isDirectory = item.attributes.isDirectory;
            entry.fileName = fileNameOf(files.at(item.at).sourcePath);
            entry.cachedAt = now;
            entry.lastAccessedAt = now;
            results[item.at] = entry;
            added.append(std::move(entry));
        }
        m_index.add(added);
        for (const CacheEntry& entry : std::as_const(added))
            VLOG_TO(m_log, info, cache,
                QStringLiteral("Cached file: %1 (%2 bytes)").arg(entry.fileName, QString::number(entry.fileSize)));
        setProcessing(!m_copiesUnderWay.isEmpty());
        saveIndex();
        updateStatistics();
        resumeSettleWaiters();
    }
    co_return results;
}

void CacheManager::resumeSettleWaiters()
{
    // From the event loop, not inside the request that settled.
    for (const std::coroutine_handle<> waiter : std::exchange(m_settleWaiters, {}))
        QTimer::singleShot(0, this, [waiter] { waiter.resume(); });
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
