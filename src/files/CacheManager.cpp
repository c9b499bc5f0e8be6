#include "files/CacheManager.h"

#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QCoroFuture>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace vantrel {

namespace {

qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return sum;
}

qint64 totalSize(const QList<CacheEntry>& entries)
{
    qint64 total = 0;
    for (const CacheEntry& entry : entries)
        total = saturatingAdd(total, entry.fileSize);
    return total;
}

void sortNewestFirst(QList<CacheEntry>& entries)
{
    std::stable_sort(entries.begin(), entries.end(),
        [](const CacheEntry& a, const CacheEntry& b) { return a.lastAccessedAt > b.lastAccessedAt; });
}

QString normalisedPath(const QString& relativePath)
{
    // Canonically equivalent texts (precomposed or decomposed accents) name the same file.
    return relativePath.normalized(QString::NormalizationForm_C);
}

bool isInside(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && path.startsWith(folder + u'/');
}

// The canonical cache folder, or empty when it does not exist.
QString canonicalFolder(const QString& folder)
{
    return QFileInfo(folder).canonicalFilePath();
}

// A copy the cache may serve: a regular file (not a link that could lead elsewhere) whose folder
// really lies inside the cache folder.
bool isOwnedCopy(const QString& path, const QString& canonicalCacheFolder)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return false;
    return isInside(info.canonicalFilePath(), canonicalCacheFolder);
}

// Removes a copy unless a linked folder on its way would take the removal outside the cache.
void removeCopy(const QString& path, const QString& canonicalCacheFolder)
{
    const QString parent = canonicalFolder(QFileInfo(path).absolutePath());
    if (parent == canonicalCacheFolder || isInside(parent, canonicalCacheFolder))
        QFile::remove(path);
}

bool isConfigurationFolderName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-F]{8}$"));
    return pattern.match(name).hasMatch();
}

struct SourceAttributes {
    bool readable = false;
    qint64 size = 0;
    bool isDirectory = false;
    bool copyPresent = false;
};

SourceAttributes readSourceAttributes(const QString& sourcePath, const QString& destination, const QString& canonicalCache)
{
    SourceAttributes result;
    const QFileInfo info(sourcePath);
    result.readable = !sourcePath.isEmpty() && info.exists();
    result.size = info.size();
    result.isDirectory = info.isDir();
    result.copyPresent = isOwnedCopy(destination, canonicalCache);
    return result;
}

// Empty on success, else what went wrong.
QString copyIntoCache(const QString& sourcePath, const QString& destination, const QString& cacheFolder)
{
    const QFileInfo target(destination);
    const QString parent = target.absolutePath();
    if (!QDir().mkpath(parent))
        return QStringLiteral("Cannot create the folder %1").arg(parent);
    const QString canonicalCache = canonicalFolder(cacheFolder);
    // A linked folder inside the cache must not carry the copy elsewhere.
    const QString canonicalParent = canonicalFolder(parent);
    if (canonicalParent != canonicalCache && !isInside(canonicalParent, canonicalCache))
        return QStringLiteral("The folder %1 leads outside the cache folder").arg(parent);
    if (target.exists() || target.isSymLink()) {
        QFile old(destination);
        if (!old.remove())
            return old.errorString();
    }
    QFile source(sourcePath);
    if (!source.copy(destination))
        return source.errorString();
    return QString();
}

std::vector<char> ownedCopiesPresent(const QStringList& localPaths, const QString& cacheFolder)
{
    const QString canonicalCache = canonicalFolder(cacheFolder);
    std::vector<char> result(static_cast<size_t>(localPaths.size()), 0);
    for (qsizetype i = 0; i < localPaths.size(); ++i)
        result[static_cast<size_t>(i)] = !localPaths.at(i).isEmpty() && isOwnedCopy(localPaths.at(i), canonicalCache);
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
    , m_writer(std::make_unique<QThreadPool>())
    , m_latestSave(std::make_shared<std::atomic<quint64>>(0))
{
    m_writer->setMaxThreadCount(1);
    m_writer->setObjectName(QStringLiteral("com.vantrel.cacheindex"));
    createCacheDirectoryIfNeeded();
    loadIndex();
    updateStatistics();
}

CacheManager::~CacheManager()
{
    m_writer->waitForDone();
}

CacheManager& CacheManager::shared()
{
    static CacheManager* instance =
        new CacheManager(Defaults::standard(), LogManager::shared(), standardCacheDirectory(), &CacheManager::systemNow);
    return *instance;
}

QString CacheManager::standardCacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Vantrel/FileCache");
}

QDateTime CacheManager::systemNow()
{
    return QDateTime::currentDateTimeUtc();
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

QString CacheManager::lookupKey(const QUuid& configID, const QString& relativePath)
{
    return configID.toString(QUuid::Id128) + u'/' + normalisedPath(relativePath);
}

void CacheManager::rebuildLookup()
{
    m_byPath.clear();
    m_byPath.reserve(m_index.size());
    for (const CacheEntry& entry : std::as_const(m_index))
        m_byPath.insert(lookupKey(entry.configID, entry.relativePath), entry.id);
}

std::optional<qsizetype> CacheManager::findEntry(const QUuid& configID, const QString& relativePath) const
{
    const auto it = m_byPath.constFind(lookupKey(configID, relativePath));
    if (it == m_byPath.constEnd())
        return std::nullopt;
    for (qsizetype i = 0; i < m_index.size(); ++i) {
        if (m_index.at(i).id == it.value())
            return i;
    }
    return std::nullopt;
}

void CacheManager::createCacheDirectoryIfNeeded()
{
    const QString folder = cacheDirectory();
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
}

void CacheManager::keepIndexAside(const QString& reason)
{
    // Moving keeps the unreadable file whole: the next save must not be its only fate.
    const QString path = indexFilePath();
    const QString aside = path + QStringLiteral(".unreadable-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmsszzz"));
    if (QFile::rename(path, aside))
        m_corruptIndexCopyPath = aside;
    VLOG_TO(m_log, error, cache,
        QStringLiteral("Cache index %1 kept at %2: %3")
            .arg(path, m_corruptIndexCopyPath.isEmpty() ? QStringLiteral("(move failed)") : m_corruptIndexCopyPath, reason));
}

void CacheManager::loadIndex()
{
    m_corruptIndexCopyPath.clear();
    const QString path = indexFilePath();
    const auto setIndex = [this](QList<CacheEntry> index) {
        m_index = std::move(index);
        rebuildLookup();
        m_entries = m_index;
        emit entriesChanged(m_entries);
    };
    if (!QFileInfo::exists(path)) {
        setIndex({});
        return;
    }

    QString error;
    std::optional<QList<CacheEntry>> decoded;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        error = file.errorString();
    else
        decoded = decodeCacheIndex(file.readAll(), &error);
    file.close();
    if (!decoded) {
        VLOG_TO(m_log, error, cache, QStringLiteral("Failed to load cache index: ") + error);
        keepIndexAside(error);
        setIndex({});
        return;
    }

    QList<CacheEntry> index = std::move(*decoded);
    sortNewestFirst(index);

    // An edited index must not lead the cache to files outside its folder, nor give two entries
    // one copy.
    QList<CacheEntry> confined;
    QSet<QString> seen;
    for (const CacheEntry& entry : std::as_const(index)) {
        const std::optional<QString> expected = cachedFilePath(entry.configID, entry.relativePath);
        const bool placed = expected && entry.localURL.isLocalFile() &&
            QDir::cleanPath(entry.localURL.toLocalFile()) == *expected;
        const QString key = lookupKey(entry.configID, entry.relativePath);
        if (!placed || seen.contains(key))
            continue;
        seen.insert(key);
        confined.append(entry);
    }
    const qsizetype refused = index.size() - confined.size();
    if (refused > 0)
        keepIndexAside(QStringLiteral("%1 entries point outside the cache folder or repeat a path").arg(refused));

    const QString canonicalCache = canonicalFolder(cacheDirectory());
    QList<CacheEntry> kept;
    kept.reserve(confined.size());
    for (const CacheEntry& entry : std::as_const(confined)) {
        if (isOwnedCopy(entry.localURL.toLocalFile(), canonicalCache))
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
    const quint64 generation = ++*m_latestSave;
    auto latest = m_latestSave;
    LogManager* log = &m_log;
    const QList<CacheEntry> snapshot = m_index;
    const QString path = indexFilePath();
    // Writes are serial; one superseded by a newer snapshot before it started is skipped.
    QThreadPool* writer = m_writer.get();
    writer->start([generation, latest, log, snapshot, path] {
        if (latest->load() != generation)
            return;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        QString error;
        if (!file.open(QIODevice::WriteOnly))
            error = file.errorString();
        else if (file.write(encodeCacheIndex(snapshot)) < 0 || !file.commit())
            error = file.errorString();
        if (!error.isEmpty())
            log->log(LogLevel::error, QStringLiteral("Failed to save cache index: ") + error,
                LogManager::Category::cache, __FILE__, "saveIndex", __LINE__);
    });
    m_entries = m_index;
    emit entriesChanged(m_entries);
}

void CacheManager::waitForIndexWrites()
{
    m_writer->waitForDone();
}

void CacheManager::updateStatistics()
{
    CacheStatistics next;
    next.entryCount = m_index.size();
    next.totalSize = totalSize(m_index);
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
    const SerialGate::Turn turn = co_await m_requests.enter();

    const QString sourcePath = sourceURL.toLocalFile();
    const std::optional<QString> destination = cachedFilePath(configID, relativePath);
    if (!destination) {
        VLOG_TO(m_log, error, cache,
            QStringLiteral("Failed to cache file: the path \"%1\" leads outside the cache folder").arg(relativePath));
        co_return std::nullopt;
    }
    const QString canonicalCache = canonicalFolder(cacheDirectory());

    // Named futures: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    QFuture<SourceAttributes> statJob =
        QtConcurrent::run(&shareIOPool(), readSourceAttributes, sourcePath, *destination, canonicalCache);
    const SourceAttributes attributes = co_await statJob;
    if (!self)
        co_return std::nullopt;

    if (!attributes.readable) {
        VLOG_TO(m_log, warning, cache, QStringLiteral("Cannot read file attributes for caching: ") + sourcePath);
        co_return std::nullopt;
    }
    if (attributes.size > maxSingleFileSize) {
        VLOG_TO(m_log, info, cache,
            QStringLiteral("Skipping cache for large file (%1 bytes): %2").arg(attributes.size).arg(sourceURL.fileName()));
        co_return std::nullopt;
    }

    if (const std::optional<qsizetype> existing = findEntry(configID, relativePath)) {
        if (attributes.copyPresent) {
            CacheEntry& entry = m_index[*existing];
            entry.lastAccessedAt = m_clock();
            const CacheEntry result = entry;
            saveIndex();
            updateStatistics();
            co_return result;
        }
        // The copy vanished behind the index's back: copy the file again under a new entry.
        m_index.removeAt(*existing);
        rebuildLookup();
    }

    setProcessing(true);
    QCoro::Task<> eviction = evictLocked(attributes.size);
    co_await eviction;
    if (!self)
        co_return std::nullopt;

    QFuture<QString> copyJob = QtConcurrent::run(&shareIOPool(), copyIntoCache, sourcePath, *destination, cacheDirectory());
    const QString copyError = co_await copyJob;
    if (!self)
        co_return std::nullopt;
    if (!copyError.isEmpty()) {
        VLOG_TO(m_log, error, cache, QStringLiteral("Failed to cache file: ") + copyError);
        setProcessing(false);
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
    m_index.append(entry);
    sortNewestFirst(m_index);
    m_byPath.insert(lookupKey(configID, relativePath), entry.id);
    saveIndex();
    updateStatistics();
    VLOG_TO(m_log, info, cache, QStringLiteral("Cached file: %1 (%2 bytes)").arg(entry.fileName, QString::number(entry.fileSize)));
    setProcessing(false);
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
    qint64 total = totalSize(m_index);
    const qint64 max = maxCacheSize();
    const auto fits = [&] { return saturatingAdd(total, requiredSpace) <= max; };
    if (fits())
        co_return;

    QList<CacheEntry> oldestFirst = m_index;
    std::stable_sort(oldestFirst.begin(), oldestFirst.end(),
        [](const CacheEntry& a, const CacheEntry& b) { return a.lastAccessedAt < b.lastAccessedAt; });
    const QString canonicalCache = canonicalFolder(cacheDirectory());
    QSet<QUuid> removed;
    for (const CacheEntry& entry : std::as_const(oldestFirst)) {
        if (fits())
            break;
        removeCopy(entry.localURL.toLocalFile(), canonicalCache);
        removed.insert(entry.id);
        total = saturatingAdd(total, -entry.fileSize);
        VLOG_TO(m_log, debug, cache, QStringLiteral("Evicted cache entry (LRU): ") + entry.fileName);
    }
    if (removed.isEmpty())
        co_return;
    m_index.removeIf([&removed](const CacheEntry& entry) { return removed.contains(entry.id); });
    rebuildLookup();
    removeEmptyDirectories();
    saveIndex();
    updateStatistics();
    VLOG_TO(m_log, info, cache, QStringLiteral("LRU eviction: removed %1 entries").arg(removed.size()));
}

void CacheManager::removeEmptyDirectories()
{
    // Only the cache's own configuration folders: "cache.location" may name a folder that also
    // holds the user's files.
    const QDir folder(cacheDirectory());
    const QFileInfoList items = folder.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo& item : items) {
        if (!isConfigurationFolderName(item.fileName()))
            continue;
        if (QDir(item.filePath()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            folder.rmdir(item.fileName());
    }
}

void CacheManager::removeEntry(const CacheEntry& entry)
{
    const auto it = std::find_if(m_index.cbegin(), m_index.cend(), [&entry](const CacheEntry& e) { return e.id == entry.id; });
    if (it == m_index.cend())
        return;
    const CacheEntry indexed = *it;
    removeCopy(indexed.localURL.toLocalFile(), canonicalFolder(cacheDirectory()));
    m_index.erase(it);
    rebuildLookup();
    saveIndex();
    updateStatistics();
    VLOG_TO(m_log, debug, cache, QStringLiteral("Removed cache entry: ") + indexed.fileName);
}

void CacheManager::clearAllCache()
{
    const QString folder = cacheDirectory();
    const std::optional<QString> location = m_defaults.stringValue(cacheLocationKey);
    if (!location || location->isEmpty()) {
        // The default folder is the cache's alone.
        QDir(folder).removeRecursively();
    } else {
        // A folder the user chose may hold other files: remove only the copies, the index and
        // the configuration folders they leave empty.
        const QString canonicalCache = canonicalFolder(folder);
        for (const CacheEntry& entry : std::as_const(m_index))
            removeCopy(entry.localURL.toLocalFile(), canonicalCache);
        QFile::remove(folder + u'/' + indexFileName);
        const QDir root(folder);
        for (const QFileInfo& item : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
            if (!isConfigurationFolderName(item.fileName()))
                continue;
            QStringList folders;
            QDirIterator it(item.filePath(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
                QDirIterator::Subdirectories);
            while (it.hasNext())
                folders.append(it.next());
            // Deepest first, so a folder is empty by the time its turn comes; rmdir spares the rest.
            std::sort(folders.begin(), folders.end(),
                [](const QString& a, const QString& b) { return a.count(u'/') > b.count(u'/'); });
            for (const QString& path : std::as_const(folders))
                QDir().rmdir(path);
            root.rmdir(item.fileName());
        }
    }
    createCacheDirectoryIfNeeded();
    m_index.clear();
    m_byPath.clear();
    m_statistics.hitCount = 0;
    m_statistics.missCount = 0;
    saveIndex();
    updateStatistics();
    VLOG_TO(m_log, info, cache, QStringLiteral("Cleared all cache"));
}

QList<CacheEntry> CacheManager::entries(const QUuid& configID) const
{
    QList<CacheEntry> result;
    for (const CacheEntry& entry : m_index) {
        if (entry.configID == configID)
            result.append(entry);
    }
    return result;
}

bool CacheManager::isCached(const QUuid& configID, const QString& relativePath)
{
    const std::optional<qsizetype> position = findEntry(configID, relativePath);
    const bool cached = position &&
        isOwnedCopy(m_index.at(*position).localURL.toLocalFile(), canonicalFolder(cacheDirectory()));
    ++(cached ? m_statistics.hitCount : m_statistics.missCount);
    updateStatistics();
    return cached;
}

QCoro::Task<QStringList> CacheManager::uncachedPaths(QUuid configID, QStringList relativePaths)
{
    QPointer<CacheManager> self(this);
    QHash<QUuid, QString> localPathById;
    for (const CacheEntry& entry : std::as_const(m_index)) {
        if (entry.configID == configID)
            localPathById.insert(entry.id, entry.localURL.toLocalFile());
    }
    QStringList localPaths; // empty where the index holds no entry
    localPaths.reserve(relativePaths.size());
    for (const QString& relativePath : std::as_const(relativePaths))
        localPaths.append(localPathById.value(m_byPath.value(lookupKey(configID, relativePath))));
    const QString cacheFolder = cacheDirectory();

    // The cache folder is local, but a test per file is still disk work: keep it off the main thread.
    QFuture<std::vector<char>> testJob = QtConcurrent::run(&shareIOPool(), ownedCopiesPresent, localPaths, cacheFolder);
    const std::vector<char> present = co_await testJob;
    if (!self)
        co_return QStringList();

    QStringList uncached;
    for (qsizetype i = 0; i < relativePaths.size(); ++i) {
        if (!present[static_cast<size_t>(i)])
            uncached.append(relativePaths.at(i));
    }
    m_statistics.hitCount += relativePaths.size() - uncached.size();
    m_statistics.missCount += uncached.size();
    if (!relativePaths.isEmpty())
        updateStatistics();
    co_return uncached;
}

QByteArray encodeCacheIndex(const QList<CacheEntry>& entries)
{
    QJsonArray array;
    for (const CacheEntry& entry : entries) {
        QJsonObject object; // keeps its keys sorted
        object.insert(QStringLiteral("cachedAt"), encoding::secondsSinceReferenceDate(entry.cachedAt));
        object.insert(QStringLiteral("configID"), encoding::uuidText(entry.configID));
        if (entry.contentHash)
            object.insert(QStringLiteral("contentHash"), *entry.contentHash);
        object.insert(QStringLiteral("fileName"), entry.fileName);
        object.insert(QStringLiteral("fileSize"), entry.fileSize);
        object.insert(QStringLiteral("id"), encoding::uuidText(entry.id));
        object.insert(QStringLiteral("isDirectory"), entry.isDirectory);
        object.insert(QStringLiteral("lastAccessedAt"), encoding::secondsSinceReferenceDate(entry.lastAccessedAt));
        object.insert(QStringLiteral("localURL"), entry.localURL.isLocalFile()
                ? encoding::fileUrlText(entry.localURL.toLocalFile())
                : entry.localURL.toString(QUrl::FullyEncoded));
        object.insert(QStringLiteral("relativePath"), entry.relativePath);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

std::optional<QList<CacheEntry>> decodeCacheIndex(const QByteArray& json, QString* error)
{
    const auto fail = [error](const QString& message) -> std::optional<QList<CacheEntry>> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("The data is not valid JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset));
    if (!document.isArray())
        return fail(QStringLiteral("The data is not a JSON array."));

    QList<CacheEntry> entries;
    const QJsonArray array = document.array();
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject())
            return fail(QStringLiteral("Entry %1 is not an object.").arg(i));
        const QJsonObject object = array.at(i).toObject();
        QString problem;
        const auto field = [&](const char* key, QJsonValue::Type type) -> QJsonValue {
            const QJsonValue value = object.value(QLatin1String(key));
            if (problem.isEmpty() && value.type() != type)
                problem = value.isUndefined() ? QStringLiteral("No value for key \"%1\"").arg(QLatin1String(key))
                                              : QStringLiteral("The value of \"%1\" has the wrong type").arg(QLatin1String(key));
            return value;
        };
        const auto uuid = [&](const char* key) {
            const std::optional<QUuid> id = encoding::parseUuid(field(key, QJsonValue::String).toString());
            if (problem.isEmpty() && !id)
                problem = QStringLiteral("The value of \"%1\" is not a UUID").arg(QLatin1String(key));
            return id.value_or(QUuid());
        };
        const auto date = [&](const char* key) {
            const QDateTime when = encoding::dateFromReferenceSeconds(field(key, QJsonValue::Double).toDouble());
            if (problem.isEmpty() && !when.isValid())
                problem = QStringLiteral("The value of \"%1\" is not a date").arg(QLatin1String(key));
            return when;
        };

        CacheEntry entry;
        entry.id = uuid("id");
        entry.configID = uuid("configID");
        entry.relativePath = field("relativePath", QJsonValue::String).toString();
        const QString urlText = field("localURL", QJsonValue::String).toString();
        entry.localURL = QUrl(urlText, QUrl::StrictMode);
        if (problem.isEmpty() && (urlText.isEmpty() || !entry.localURL.isValid()))
            problem = QStringLiteral("The value of \"localURL\" is not a URL");
        const QJsonValue size = field("fileSize", QJsonValue::Double);
        // A whole number within 64 bits: the two fallbacks differ for anything else.
        if (problem.isEmpty() && size.toInteger(0) != size.toInteger(1))
            problem = QStringLiteral("The value of \"fileSize\" is not a whole number");
        entry.fileSize = size.toInteger();
        entry.isDirectory = field("isDirectory", QJsonValue::Bool).toBool();
        entry.fileName = field("fileName", QJsonValue::String).toString();
        entry.cachedAt = date("cachedAt");
        entry.lastAccessedAt = date("lastAccessedAt");
        const QJsonValue hash = object.value(QStringLiteral("contentHash"));
        if (hash.isString())
            entry.contentHash = hash.toString();
        else if (!hash.isUndefined() && !hash.isNull() && problem.isEmpty())
            problem = QStringLiteral("The value of \"contentHash\" has the wrong type");
        if (!problem.isEmpty())
            return fail(QStringLiteral("Entry %1: %2.").arg(i).arg(problem));
        entries.append(entry);
    }
    return entries;
}

} // namespace vantrel
