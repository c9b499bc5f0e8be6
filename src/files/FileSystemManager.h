#pragma once

#include "files/FileItem.h"
#include "platform/Threading.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <optional>

namespace vantrel {

class CacheManager;
class LogManager;

// Lists the folders of one mounted share for one browser window, falling back to the offline
// cache's entries when the share cannot be reached. Each window owns its own instance.
//
// Reachability tests, listings and file tests run in the share's lane; published state changes
// on the main thread. A listing that finds the folder as it is shown publishes nothing, and the
// per-file work of a large folder (comparing, naming the files for the cache, looking them up
// there) stays off the main thread, so that the timer refresh of a large unchanged folder costs it
// next to nothing. Loads may overlap (the user moves on during a slow listing): only the load
// started last publishes, so a late listing of a folder the user has left is dropped. A timer
// refresh never starts while the folder's listing is still under way, or a folder slower to list
// than the interval would never be shown.
class FileSystemManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<vantrel::FileItem> currentItems READ currentItems NOTIFY currentItemsChanged)
    Q_PROPERTY(std::optional<QUrl> currentPath READ currentPath NOTIFY currentPathChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(bool isAtRoot READ isAtRoot NOTIFY isAtRootChanged)
    Q_PROPERTY(bool isOfflineMode READ isOfflineMode NOTIFY isOfflineModeChanged)

public:
    static constexpr double defaultAutoRefreshInterval = 5.0;

    // Seconds a live listing may take before the share counts as unreachable and the cache is
    // listed instead; the listing's thread is freed by the mount's own time limit.
    double listingTimeout = 15.0;

    FileSystemManager(const QUrl& mountPoint, const QUuid& configID, CacheManager& cache, LogManager& log,
        QObject* parent = nullptr);
    // With the shared cache and logger.
    FileSystemManager(const QUrl& mountPoint, const QUuid& configID, QObject* parent = nullptr);
    ~FileSystemManager() override;

    QList<FileItem> currentItems() const { return m_currentItems; }
    std::optional<QUrl> currentPath() const { return m_currentPath; }
    bool isLoading() const { return m_isLoading; }
    std::optional<QString> lastError() const { return m_lastError; }
    bool isAtRoot() const { return m_isAtRoot; }
    bool isOfflineMode() const { return m_isOfflineMode; }
    QUrl mountPoint() const { return m_mountPoint; }
    QUuid configID() const { return m_configID; }

    // The URL's path below the mount point ("" for the mount point and anything outside it).
    QString relativePath(const QUrl& url) const;
    // The URL's path without a trailing separator (the root keeps its own), the form in which
    // paths of a share are compared.
    static QString pathText(const QUrl& url);

    QCoro::Task<> refresh();
    // Reloads the current folder from the share itself, leaving offline mode: the user's answer to
    // a folder that could not be listed, and the step after the share is mounted again.
    QCoro::Task<> retry();
    QCoro::Task<> navigate(QUrl url);
    QCoro::Task<> navigateUp();
    QCoro::Task<> loadDirectory(QUrl url);
    QCoro::Task<> loadCachedDirectory();

    // The share's server does not answer (its mount stays): each folder lists the cache's entries
    // at once, without waiting on the share; once it answers again the current folder is listed
    // live.
    void setShareOffline(bool offline);
    bool isShareOffline() const { return m_shareOffline; }

    // Starts or restarts the repeating refresh; the first comes one interval from now.
    void startAutoRefresh(double intervalSeconds = defaultAutoRefreshInterval);
    void stopAutoRefresh();
    bool isAutoRefreshActive() const;
    int autoRefreshIntervalMs() const;

signals:
    void currentItemsChanged();
    void currentPathChanged();
    void isLoadingChanged(bool isLoading);
    void lastErrorChanged();
    void isAtRootChanged(bool isAtRoot);
    void isOfflineModeChanged(bool isOfflineMode);

private:
    void setCurrentItems(QList<FileItem> items);
    void setCurrentPath(const QUrl& url);
    void setLoading(bool on);
    void setLastError(const std::optional<QString>& error);
    void setAtRoot(bool on);
    void setOfflineMode(bool on);
    bool isWithinMountPoint(const QString& path) const;
    // Copies into the cache the files (paths relative to the mount point) that it lacks.
    QCoro::Task<> handToCache(QStringList filePaths, QString folderPath, QString folderRelativePath);

    CacheManager& m_cache;
    LogManager& m_log;
    QUrl m_mountPoint;
    QUuid m_configID;

    QList<FileItem> m_currentItems;
    QString m_listedFolder; // the folder whose live listing m_currentItems is; empty for the cache's
    std::optional<QUrl> m_currentPath;
    bool m_isLoading = false;
    std::optional<QString> m_lastError;
    bool m_isAtRoot = true;
    bool m_isOfflineMode = false;
    bool m_shareOffline = false;

    ScheduledCall m_refreshTimer{this};
    quint64 m_loadGeneration = 0;
    QSet<QString> m_cachingInFlight; // relative paths handed to the cache and not yet done
};

// The display order: folders first, then by name in the platform's localised standard order
// (numbers compared by value); stable.
void sortForDisplay(QList<FileItem>& items);

} // namespace vantrel
