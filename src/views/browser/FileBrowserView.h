#pragma once

#include "files/FileItem.h"
#include "files/FileSystemManager.h"
#include "files/TransferTask.h"
#include "model/NASConfig.h"
#include "views/browser/ConflictResolutionSheet.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class QPushButton;

namespace vantrel {

class AppStateManager;
class BreadcrumbView;
class CacheManager;
class Defaults;
class FileDialogs;
class FileListView;
class LogManager;
class NotificationService;
class PendingDrops;
class QuickLookCoordinator;
class RecentFilesTracker;
class TransferManager;
class TransferQueueView;
class Workspace;

// What a browser window works with; null members take the shared instances.
struct FileBrowserServices {
    FileBrowserServices();
    ~FileBrowserServices();
    FileBrowserServices(FileBrowserServices&&) noexcept;
    FileBrowserServices& operator=(FileBrowserServices&&) noexcept;

    CacheManager* cache = nullptr;
    LogManager* log = nullptr;
    RecentFilesTracker* recentFiles = nullptr;
    NotificationService* notifications = nullptr;
    Workspace* workspace = nullptr;
    FileDialogs* fileDialogs = nullptr;
    Defaults* defaults = nullptr;
    // Whose statuses say when the share's server is away.
    AppStateManager* appState = nullptr;
    // "Now" of the transfers and of the file list's dates.
    Clock clock = systemNow;
    // The queue of the content this one replaces in the same window; a new queue when null.
    std::unique_ptr<TransferManager> transferManager;
    // The drops of the content this one replaces that still wait for the user; none when null.
    std::unique_ptr<PendingDrops> pendingDrops;
};

// The content of the file browser window for one mounted share: navigation and actions, the path
// bar, the listed folder, and the window's own transfer queue. It owns the window's file-system
// manager, transfer manager and preview coordinator.
//
// Everything that touches the share (is a dropped item a folder, is a name taken, moving a file
// aside, walking a folder to download it) runs on the share I/O pool: a share can hang for
// minutes and the window must not.
class FileBrowserView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int minimumContentWidth = 700;
    static constexpr int minimumContentHeight = 500;
    // The folder the last download went into, where the next save panel starts.
    static inline const QString lastDownloadFolderKey = QStringLiteral("browser.lastDownloadFolder");

    using Services = FileBrowserServices;

    FileBrowserView(const NASConfig& config, const QUrl& mountPoint, Services services = {}, QWidget* parent = nullptr);
    ~FileBrowserView() override;

    const NASConfig& config() const { return m_config; }
    QUrl mountPoint() const;

    FileSystemManager& fileSystemManager() const { return *m_fsManager; }
    TransferManager& transferManager() const { return *m_transferManager; }
    QuickLookCoordinator& quickLook() const { return *m_quickLook; }

    // The manager's current path, or the mount point while it has none.
    QUrl currentFolder() const;
    QSet<QUuid> selectedItems() const;
    std::optional<FileConflict> pendingConflict() const { return m_pendingConflict; }
    // The sheet asking about the pending conflict, while it is open.
    ConflictResolutionSheet* conflictSheet() const { return m_sheet; }
    // Conflicts of earlier drops waiting for their turn.
    int queuedConflictCount() const;

    BreadcrumbView* breadcrumb() const { return m_breadcrumb; }
    FileListView* fileList() const { return m_fileList; }
    TransferQueueView* transferQueue() const { return m_transferQueue; }

    // A folder opens in place; a file shows in the preview panel, read where it lies.
    void openItem(const FileItem& item);
    // Uploads dropped local files into the current folder; folders are skipped; a name that is
    // taken is asked about, one conflict after another; a file dropped onto itself is refused.
    void handleDrop(const QList<QUrl>& urls);
    // Asks for a destination, then downloads the selected files, and the files of selected
    // folders with their folder structure.
    void downloadSelected();
    void openInFinder();
    void resolveConflict(const FileConflict& conflict, ConflictResolution resolution);
    // The share was mounted again where it was: lists the folder on screen from the share again.
    void shareMountedAgain();

    // The first of name, "base (1).ext", "base (2).ext", ... that nothing in the folder has.
    // Blocking: the folder is on a share.
    static QString uniqueName(const QUrl& folder, const QString& name);

    // Gives the transfer queue, running transfers included, to the content replacing this one.
    std::unique_ptr<TransferManager> releaseTransferManager();
    // Gives the drops still waiting for the user to the content replacing this one; the question
    // on screen is asked again there.
    std::unique_ptr<PendingDrops> releasePendingDrops();

    // Seconds between the automatic reloads while the window is on screen.
    double autoRefreshInterval = FileSystemManager::defaultAutoRefreshInterval;

signals:
    // A message about something that could not be done is on screen (tests wait for it).
    void problemShown(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QCoro::Task<> startRefreshing(quint64 visibility);
    QCoro::Task<> checkDrop(QList<QUrl> urls, QUrl folder);
    QCoro::Task<> renameAsideAndUpload(FileConflict conflict, QUrl folder);
    QCoro::Task<> downloadFolder(QUrl folder, QUrl destination);
    void queueDownloads(const QList<FileItem>& items, const QUrl& destination);
    void showNextConflict();
    void showProblem(const QString& text);
    void updateListLoading();
    void updateListFailure();
    void togglePreview();
    void retryListing();

    NASConfig m_config;
    Workspace& m_workspace;
    FileDialogs& m_fileDialogs;
    Defaults& m_defaults;
    FileSystemManager* m_fsManager;
    std::unique_ptr<TransferManager> m_transferManager;
    QuickLookCoordinator* m_quickLook;

    std::optional<FileConflict> m_pendingConflict;
    std::unique_ptr<PendingDrops> m_pendingDrops;
    QPointer<ConflictResolutionSheet> m_sheet;
    std::optional<QUrl> m_listedPath;
    // The user asked to list a folder that could not be listed: its reload shows the spinner.
    bool m_retrying = false;
    quint64 m_visibility = 0;

    QPushButton* m_back;
    QPushButton* m_refresh;
    QPushButton* m_home;
    QPushButton* m_openInFinder;
    QPushButton* m_download;
    BreadcrumbView* m_breadcrumb;
    FileListView* m_fileList;
    TransferQueueView* m_transferQueue;
};

} // namespace vantrel
