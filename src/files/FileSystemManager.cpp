#include "files/FileSystemManager.h"

#include "files/CacheManager.h"
#include "platform/FileWork.h"
#include "platform/Localization.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QCollator>
#include <QCoroFuture>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include <dirent.h>

namespace vantrel {

namespace {

struct Listing {
    enum class Outcome { unreachable, failed, listed, unchanged };
    Outcome outcome = Outcome::unreachable;
    QString error;
    QList<FileItem> items; // none when unchanged
    QStringList filePaths; // the files' paths relative to the mount point, for the cache
};

bool describeTheSame(const QList<FileItem>& a, const QList<FileItem>& b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
        [](const FileItem& x, const FileItem& y) { return x.describesTheSame(y); });
}

// Blocking: runs in the share's lane. `shown` is what is on screen for this folder, if anything;
// the files' paths start with the folder's own, relativeFolder, and leave out those in `skipped`.
std::shared_ptr<Listing> listFolder(const QString& mountPath, const QString& folderPath,
    const std::optional<QList<FileItem>>& shown, const std::optional<QString>& relativeFolder,
    const QSet<QString>& skipped)
{
    auto listing = std::make_shared<Listing>();
    if (!QFileInfo::exists(mountPath))
        return listing;

    DIR* dir = ::opendir(QFile::encodeName(folderPath).constData());
    if (!dir) {
        const int code = errno;
        listing->outcome = Listing::Outcome::failed;
        listing->error = QStringLiteral("The folder “%1” couldn’t be opened: %2")
                             .arg(QFileInfo(folderPath).fileName(), QString::fromLocal8Bit(std::strerror(code)));
        return listing;
    }
    const QString prefix = folderPath.endsWith(u'/') ? folderPath : folderPath + u'/';
    const int folder = ::dirfd(dir);
    while (const dirent* child = ::readdir(dir)) {
        // Hidden entries (and "." and "..") are not shown.
        if (child->d_name[0] == '.')
            continue;
        // Read by the entry's own bytes: a name that is not valid text would not survive the
        // round trip through a path text.
        const QString path = prefix + QFile::decodeName(child->d_name);
        if (std::optional<FileItem> item = FileItem::fromFolderEntry(folder, child->d_name, QUrl::fromLocalFile(path)))
            listing->items.append(std::move(*item));
    }
    ::closedir(dir);
    sortForDisplay(listing->items);
    if (relativeFolder) {
        for (const FileItem& item : std::as_const(listing->items)) {
            if (item.isDirectory)
                continue;
            QString path = relativeFolder->isEmpty() ? item.name : *relativeFolder + u'/' + item.name;
            if (!skipped.contains(path))
                listing->filePaths.append(std::move(path));
        }
    }
    listing->outcome = Listing::Outcome::listed;
    if (shown && describeTheSame(*shown, listing->items)) {
        listing->outcome = Listing::Outcome::unchanged;
        listing->items.clear(); // freed here, not on the main thread
    }
    return listing;
}

} // namespace

void sortForDisplay(QList<FileItem>& items)
{
    // The "C" locale collates by code point and ignores numeric mode: file names still deserve
    // the natural order there.
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    QCollator collator(locale);
    collator.setNumericMode(true);
    // Sort keys make each comparison a byte comparison: listings run to tens of thousands.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(static_cast<size_t>(items.size()));
    for (const FileItem& item : std::as_const(items))
        keys.push_back(collator.sortKey(item.name));
    std::vector<qsizetype> order(static_cast<size_t>(items.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const FileItem& left = items.at(a);
        const FileItem& right = items.at(b);
        if (left.isDirectory != right.isDirectory)
            return left.isDirectory;
        return keys[static_cast<size_t>(a)].compare(keys[static_cast<size_t>(b)]) < 0;
    });
    QList<FileItem> sorted;
    sorted.reserve(items.size());
    for (qsizetype i : order)
        sorted.append(items.at(i));
    items = std::move(sorted);
}

FileSystemManager::FileSystemManager(const QUrl& mountPoint, const QUuid& configID, CacheManager& cache,
    LogManager& log, QObject* parent)
    : QObject(parent)
    , m_cache(cache)
    , m_log(log)
    , m_mountPoint(mountPoint)
    , m_configID(configID)
{
    setCurrentPath(mountPoint);
    setAtRoot(true);
}

FileSystemManager::FileSystemManager(const QUrl& mountPoint, const QUuid& configID, QObject* parent)
    : FileSystemManager(mountPoint, configID, CacheManager::shared(), LogManager::shared(), parent)
{
}

FileSystemManager::~FileSystemManager() = default;

bool FileSystemManager::isWithinMountPoint(const QString& path) const
{
    const QString root = pathText(m_mountPoint);
    // Whole components only: /a/Media2 is not inside /a/Media.
    return path == root || path.startsWith(root.endsWith(u'/') ? root : root + u'/');
}

QString FileSystemManager::pathText(const QUrl& url)
{
    QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

QString FileSystemManager::relativePath(const QUrl& url) const
{
    const QString root = pathText(m_mountPoint);
    const QString path = pathText(url);
    if (path == root || !isWithinMountPoint(path))
        return QString();
    return path.mid(root.endsWith(u'/') ? root.size() : root.size() + 1);
}

QCoro::Task<> FileSystemManager::refresh()
{
    if (!m_currentPath)
        co_return;
    // Named tasks: GCC 12 mishandles temporaries inside a co_await expression.
    QCoro::Task<> load = loadDirectory(*m_currentPath);
    co_await load;
}

QCoro::Task<> FileSystemManager::retry()
{
    setOfflineMode(false);
    QCoro::Task<> load = refresh();
    co_await load;
}

QCoro::Task<> FileSystemManager::navigate(QUrl url)
{
    setCurrentPath(url);
    setAtRoot(pathText(url) == pathText(m_mountPoint));
    QCoro::Task<> load = loadDirectory(url);
    co_await load;
}

QCoro::Task<> FileSystemManager::navigateUp()
{
    if (!m_currentPath || pathText(*m_currentPath) == pathText(m_mountPoint))
        co_return;
    const QUrl parent =
        m_currentPath->adjusted(QUrl::StripTrailingSlash).adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash);
    QCoro::Task<> navigation = navigate(isWithinMountPoint(pathText(parent)) ? parent : m_mountPoint);
    co_await navigation;
}

QCoro::Task<> FileSystemManager::loadDirectory(QUrl url)
{
    QPointer<FileSystemManager> self(this);
    const quint64 generation = ++m_loadGeneration;
    setLoading(true);
    setLastError(std::nullopt);

    if (!m_isOfflineMode && !m_shareOffline) {
        const QString mountPath = pathText(m_mountPoint);
        const QString folderPath = pathText(url);
        std::optional<QList<FileItem>> shown;
        if (m_listedFolder == folderPath)
            shown = m_currentItems;
        // Files of a folder outside the share would be cached under a wrong path.
        std::optional<QString> relativeFolder;
        if (isWithinMountPoint(folderPath))
            relativeFolder = relativePath(url);
        // Copies under way are not looked up again.
        QFuture<std::shared_ptr<Listing>> job = runFileWork(folderPath,
            [mountPath, folderPath, shown = std::move(shown), relativeFolder, inFlight = m_cachingInFlight] {
                return listFolder(mountPath, folderPath, shown, relativeFolder, inFlight);
            });
        QCoro::Task<std::optional<std::shared_ptr<Listing>>> bounded = awaitWithin(job, millisecondsOf(listingTimeout));
        const std::optional<std::shared_ptr<Listing>> answered = co_await bounded;
        // A load started after this one owns the published state (and isLoading) now.
        if (!self || generation != m_loadGeneration)
            co_return;
        if (!answered)
            VLOG_TO(m_log, warning, cache,
                QStringLiteral("Live directory listing did not answer within %1 s. Trying cache.")
                    .arg(QString::number(listingTimeout, 'g', QLocale::FloatingPointShortest)));
        const std::shared_ptr<Listing> listing = answered.value_or(std::make_shared<Listing>());
        if (listing->outcome == Listing::Outcome::listed || listing->outcome == Listing::Outcome::unchanged) {
            if (listing->outcome == Listing::Outcome::listed) {
                setCurrentItems(std::move(listing->items));
                m_listedFolder = folderPath;
            }
            setOfflineMode(false);
            if (relativeFolder)
                handToCache(std::move(listing->filePaths), folderPath, *relativeFolder);
            setLoading(false);
            co_return;
        }
        if (listing->outcome == Listing::Outcome::failed)
            VLOG_TO(m_log, warning, cache,
                QStringLiteral("Live directory listing failed: ") + listing->error + QStringLiteral(". Trying cache."));
    }

    QCoro::Task<> offline = loadCachedDirectory();
    co_await offline;
    if (!self)
        co_return;
    setLoading(false);
}

QCoro::Task<> FileSystemManager::handToCache(QStringList filePaths, QString folderPath, QString folderRelativePath)
{
    QPointer<FileSystemManager> self(this);
    if (filePaths.isEmpty())
        co_return;
    QCoro::Task<QStringList> lookup = m_cache.uncachedPaths(m_configID, std::move(filePaths));
    const QStringList uncached = co_await lookup;
    if (!self)
        co_return;

    const QString prefix = folderPath.endsWith(u'/') ? folderPath : folderPath + u'/';
    QList<CacheSource> sources;
    sources.reserve(uncached.size());
    for (const QString& path : uncached) {
        if (m_cachingInFlight.contains(path))
            continue;
        m_cachingInFlight.insert(path);
        const QString name = folderRelativePath.isEmpty() ? path : path.mid(folderRelativePath.size() + 1);
        sources.append({prefix + name, path});
    }
    if (sources.isEmpty())
        co_return;
    // One request walks the files a slice at a time, so the main thread never takes them all at
    // once. It outlives this manager; the manager only remembers what is under way, so a refresh
    // during a slow copy does not ask for it again.
    const auto copy = [](CacheManager& cache, QPointer<FileSystemManager> owner, QUuid configID,
                          QList<CacheSource> files) -> QCoro::Task<> {
        QCoro::Task<QList<std::optional<CacheEntry>>> request = cache.cacheFiles(configID, files);
        co_await request;
        if (owner) {
            for (const CacheSource& file : std::as_const(files))
                owner->m_cachingInFlight.remove(file.relativePath);
        }
    };
    copy(m_cache, self, m_configID, std::move(sources));
}

QCoro::Task<> FileSystemManager::loadCachedDirectory()
{
    setOfflineMode(true);
    m_listedFolder.clear();
    if (!m_currentPath) {
        setCurrentItems({});
        co_return;
    }
    const QString folder = relativePath(*m_currentPath);

    QList<CacheEntry> entries = m_cache.entries(m_configID);
    std::stable_sort(entries.begin(), entries.end(),
        [](const CacheEntry& a, const CacheEntry& b) { return a.lastAccessedAt > b.lastAccessedAt; });

    QList<FileItem> items;
    if (folder.isEmpty() || folder == u".") {
        for (const CacheEntry& entry : std::as_const(entries)) {
            if (!entry.relativePath.contains(u'/'))
                items.append(FileItem::fromCacheEntry(entry));
        }
    } else {
        const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
        for (const CacheEntry& entry : std::as_const(entries)) {
            if (entry.relativePath.startsWith(prefix) && !entry.relativePath.mid(prefix.size()).contains(u'/'))
                items.append(FileItem::fromCacheEntry(entry));
        }
    }
    sortForDisplay(items);
    setCurrentItems(items);
    if (m_currentItems.isEmpty())
        setLastError(Localization::text(QStringLiteral("filesystem.offline.empty"),
            QStringLiteral("NAS 已断开连接。此目录没有缓存的文件。")));
    VLOG_TO(m_log, debug, cache,
        QStringLiteral("Loaded %1 cached entries for offline browsing").arg(m_currentItems.size()));
}

void FileSystemManager::startAutoRefresh(double intervalSeconds)
{
    // The manager's own: destroying the manager stops it. A firing does not wait for the refresh it
    // starts, and starts none while the folder is still listed.
    m_refreshTimer.start(
        std::max(std::chrono::milliseconds(1), millisecondsOf(intervalSeconds)),
        [this] {
            if (m_isLoading)
                return;
            refresh();
        },
        true);
}

void FileSystemManager::stopAutoRefresh()
{
    m_refreshTimer.cancel();
}

bool FileSystemManager::isAutoRefreshActive() const
{
    return m_refreshTimer.isActive();
}

int FileSystemManager::autoRefreshIntervalMs() const
{
    return m_refreshTimer.isActive() ? timerMilliseconds(m_refreshTimer.interval()) : 0;
}

void FileSystemManager::setCurrentItems(QList<FileItem> items)
{
    m_currentItems = std::move(items);
    emit currentItemsChanged();
}

void FileSystemManager::setCurrentPath(const QUrl& url)
{
    m_currentPath = url;
    emit currentPathChanged();
}

void FileSystemManager::setLoading(bool on)
{
    if (m_isLoading == on)
        return;
    m_isLoading = on;
    emit isLoadingChanged(on);
}

void FileSystemManager::setLastError(const std::optional<QString>& error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    emit lastErrorChanged();
}

void FileSystemManager::setAtRoot(bool on)
{
    if (m_isAtRoot == on)
        return;
    m_isAtRoot = on;
    emit isAtRootChanged(on);
}

void FileSystemManager::setShareOffline(bool offline)
{
    if (m_shareOffline == offline)
        return;
    m_shareOffline = offline;
    // Back: the next listing asks the share again.
    if (!offline)
        setOfflineMode(false);
    if (m_currentPath)
        detach(loadDirectory(*m_currentPath));
}

void FileSystemManager::setOfflineMode(bool on)
{
    if (m_isOfflineMode == on)
        return;
    m_isOfflineMode = on;
    emit isOfflineModeChanged(on);
}

} // namespace vantrel
