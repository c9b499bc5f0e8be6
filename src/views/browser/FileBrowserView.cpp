#include "views/browser/FileBrowserView.h"

#include "files/CacheManager.h"
#include "files/FileSystemManager.h"
#include "files/FolderDownload.h"
#include "files/RecentFilesTracker.h"
#include "files/TransferManager.h"
#include "mounting/AppStateManager.h"
#include "mounting/NotificationService.h"
#include "platform/Defaults.h"
#include "platform/FileCopy.h"
#include "platform/FileMove.h"
#include "platform/FileWork.h"
#include "platform/Localization.h"
#include "platform/gui/FileDialogs.h"
#include "platform/gui/Workspace.h"
#include "services/LogManager.h"
#include "views/browser/BreadcrumbView.h"
#include "views/browser/FileListView.h"
#include "views/browser/PendingDrops.h"
#include "views/browser/QuickLookCoordinator.h"
#include "views/browser/TransferQueueView.h"
#include "views/widgets/Theme.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QPushButton* headerButton(const QString& objectName, const QString& symbol, const QString& text = {})
{
    auto* button = new QPushButton(text);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    Theme::setSymbol(button, symbol, Theme::Color::primary, 16);
    return button;
}

// Something exists at the path, a dangling link included.
bool isTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

FileBrowserServices::FileBrowserServices() = default;
FileBrowserServices::~FileBrowserServices() = default;
FileBrowserServices::FileBrowserServices(FileBrowserServices&&) noexcept = default;
FileBrowserServices& FileBrowserServices::operator=(FileBrowserServices&&) noexcept = default;

FileBrowserView::FileBrowserView(const NASConfig& config, const QUrl& mountPoint, Services services, QWidget* parent)
    : QWidget(parent)
    , m_config(config)
    , m_workspace(services.workspace ? *services.workspace : Workspace::shared())
    , m_fileDialogs(services.fileDialogs ? *services.fileDialogs : FileDialogs::shared())
    , m_defaults(services.defaults ? *services.defaults : Defaults::standard())
    , m_fsManager(
          new FileSystemManager(mountPoint, config.id, services.cache ? *services.cache : CacheManager::shared(),
              services.log ? *services.log : LogManager::shared(), this))
    , m_transferManager(std::move(services.transferManager))
    , m_quickLook(new QuickLookCoordinator(this))
    , m_pendingDrops(services.pendingDrops ? std::move(services.pendingDrops) : std::make_unique<PendingDrops>())
{
    setObjectName(QStringLiteral("FileBrowserView"));
    setMinimumSize(minimumContentWidth, minimumContentHeight);
    if (!m_transferManager) {
        m_transferManager = std::make_unique<TransferManager>(services.recentFiles ? *services.recentFiles
                                                                                   : RecentFilesTracker::shared(),
            services.notifications ? *services.notifications : NotificationService::shared(), services.clock);
    }

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 8, 12, 8);
    header->setSpacing(12);
    auto* navigation = new QHBoxLayout;
    navigation->setSpacing(4);
    m_back = headerButton(QStringLiteral("backButton"), QStringLiteral("arrow.backward"));
    m_refresh = headerButton(QStringLiteral("refreshButton"), QStringLiteral("arrow.clockwise"));
    m_home = headerButton(QStringLiteral("homeButton"), QStringLiteral("house"));
    for (QPushButton* button : {m_back, m_refresh, m_home})
        navigation->addWidget(button);
    // Symbols only: named and reachable for the keyboard and screen readers.
    for (const auto& [button, text] :
        {std::pair{m_back, Localization::text(QStringLiteral("browser.back"), QStringLiteral("Back"))},
            std::pair{m_refresh, Localization::text(QStringLiteral("browser.refresh"), QStringLiteral("Refresh"))},
            std::pair{m_home, Localization::text(QStringLiteral("browser.home"), QStringLiteral("Home"))}}) {
        button->setToolTip(text);
        button->setAccessibleName(text);
        button->setFocusPolicy(Qt::StrongFocus);
    }
    header->addLayout(navigation);
    header->addStretch(1);
    m_openInFinder = headerButton(QStringLiteral("openInFinderButton"), QStringLiteral("finder"),
        Localization::text(QStringLiteral("browser.openInFinder"), QStringLiteral("Open in Finder")));
    m_download = headerButton(QStringLiteral("downloadButton"), QStringLiteral("arrow.down.circle"),
        Localization::text(QStringLiteral("browser.download"), QStringLiteral("Download")));
    header->addWidget(m_openInFinder);
    header->addWidget(m_download);
    root->addLayout(header);

    m_breadcrumb = new BreadcrumbView;
    auto* pathRow = new QHBoxLayout;
    pathRow->setContentsMargins(12, 4, 12, 4);
    pathRow->addWidget(m_breadcrumb);
    root->addLayout(pathRow);
    root->addWidget(divider());

    m_fileList = new FileListView(m_workspace);
    m_fileList->model()->setClock(services.clock);
    root->addWidget(m_fileList, 1);
    root->addWidget(divider());

    m_transferQueue = new TransferQueueView(*m_transferManager, services.clock);
    root->addWidget(m_transferQueue);

    // Navigation starts a listing and returns; the manager publishes what it finds.
    connect(m_back, &QPushButton::clicked, this, [this] { m_fsManager->navigateUp(); });
    connect(m_refresh, &QPushButton::clicked, this, [this] { m_fsManager->refresh(); });
    connect(m_home, &QPushButton::clicked, this, [this] { m_fsManager->navigate(m_fsManager->mountPoint()); });
    connect(m_openInFinder, &QPushButton::clicked, this, &FileBrowserView::openInFinder);
    connect(m_download, &QPushButton::clicked, this, &FileBrowserView::downloadSelected);
    connect(m_breadcrumb, &BreadcrumbView::navigateRequested, this,
        [this](const QUrl& url) { m_fsManager->navigate(url); });

    connect(m_fileList, &FileListView::openRequested, this, &FileBrowserView::openItem);
    connect(m_fileList, &FileListView::selectionChanged, this,
        [this](const QSet<QUuid>& ids) { m_download->setEnabled(!ids.isEmpty()); });
    connect(m_fileList, &FileListView::filesDropped, this, &FileBrowserView::handleDrop);
    connect(m_fileList, &FileListView::retryRequested, this, &FileBrowserView::retryListing);
    connect(m_fileList, &FileListView::previewKeyPressed, this, &FileBrowserView::togglePreview);

    connect(m_fsManager, &FileSystemManager::currentItemsChanged, this, [this] {
        m_listedPath = m_fsManager->currentPath();
        m_fileList->setItems(m_fsManager->currentItems());
        updateListLoading();
    });
    connect(m_fsManager, &FileSystemManager::isLoadingChanged, this, [this] {
        updateListLoading();
        updateListFailure();
    });
    connect(m_fsManager, &FileSystemManager::lastErrorChanged, this, &FileBrowserView::updateListFailure);
    connect(m_fsManager, &FileSystemManager::currentPathChanged, this, [this] {
        m_breadcrumb->setPath(currentFolder(), this->mountPoint(), m_config.name);
        updateListLoading();
    });
    connect(m_fsManager, &FileSystemManager::isAtRootChanged, this,
        [this](bool atRoot) { m_back->setEnabled(!atRoot); });

    // While the share's server is away its mount stays; the folders list what the cache holds.
    AppStateManager* appState = services.appState ? services.appState : &AppStateManager::shared();
    const auto followStatus = [this, appState] {
        const std::optional<NASStatus> status = appState->status(m_config.id);
        m_fsManager->setShareOffline(status && status->mountState.is(MountState::Kind::offline));
    };
    connect(appState, &AppStateManager::nasStatusesChanged, this, followStatus);
    followStatus();

    // What the drops find may arrive after this content has handed them to the next one.
    connect(m_pendingDrops.get(), &PendingDrops::conflictsAdded, this, &FileBrowserView::showNextConflict);
    connect(m_pendingDrops.get(), &PendingDrops::problemReported, this, &FileBrowserView::showProblem);
    // Questions taken over from the content this one replaces, once this one is in its window.
    if (m_pendingDrops->count() > 0)
        QTimer::singleShot(0, this, &FileBrowserView::showNextConflict);

    m_back->setEnabled(!m_fsManager->isAtRoot());
    m_download->setEnabled(false);
    m_breadcrumb->setPath(currentFolder(), this->mountPoint(), m_config.name);
    updateListLoading();
}

FileBrowserView::~FileBrowserView()
{
    // The panel observes the transfer manager, which goes first with the members.
    delete m_transferQueue;
}

int FileBrowserView::queuedConflictCount() const
{
    return m_pendingDrops ? m_pendingDrops->count() : 0;
}

QUrl FileBrowserView::mountPoint() const
{
    return m_fsManager->mountPoint();
}

QUrl FileBrowserView::currentFolder() const
{
    return m_fsManager->currentPath().value_or(mountPoint());
}

QSet<QUuid> FileBrowserView::selectedItems() const
{
    return m_fileList->selection();
}

void FileBrowserView::updateListLoading()
{
    // A reload of the folder on screen keeps what is shown; only a folder not yet listed shows the
    // loading state (an empty folder would otherwise flash a spinner every few seconds).
    const bool listingAnotherFolder = m_fsManager->currentPath() != m_listedPath;
    if (!m_fsManager->isLoading())
        m_retrying = false;
    const bool loading = m_fsManager->isLoading() && (listingAnotherFolder || m_retrying);
    // The rows of the folder left behind would stand, clickable, under the new path.
    if (loading && listingAnotherFolder && !m_fileList->items().isEmpty())
        m_fileList->setItems({});
    m_fileList->setLoading(loading);
}

void FileBrowserView::updateListFailure()
{
    // Every load clears the error first: a reload keeps the failure on screen until it has an
    // answer, instead of reading as an empty folder meanwhile.
    if (m_fsManager->isLoading())
        return;
    m_fileList->setFailure(m_fsManager->lastError());
}

void FileBrowserView::shareMountedAgain()
{
    m_fsManager->retry();
}

void FileBrowserView::retryListing()
{
    m_retrying = true;
    m_fsManager->retry();
    updateListLoading();
}

void FileBrowserView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startRefreshing(++m_visibility);
}

void FileBrowserView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    ++m_visibility;
    m_fsManager->stopAutoRefresh();
}

QCoro::Task<> FileBrowserView::startRefreshing(quint64 visibility)
{
    QPointer<FileBrowserView> self(this);
    QCoro::Task<> refresh = m_fsManager->refresh();
    co_await refresh;
    // Hidden (or hidden and shown again) in the meantime: that showing decides.
    if (!self || visibility != m_visibility)
        co_return;
    m_fsManager->startAutoRefresh(autoRefreshInterval);
}

void FileBrowserView::openItem(const FileItem& item)
{
    if (item.isDirectory)
        m_fsManager->navigate(item.url);
    else
        m_quickLook->preview(item.url);
}

void FileBrowserView::togglePreview()
{
    if (m_quickLook->isShown()) {
        m_quickLook->closePreview();
        return;
    }
    // The current row when it is selected, else the first selected file in the list's order.
    QTableView* table = m_fileList->table();
    const QModelIndex current = table->currentIndex();
    const QSet<QUuid> selected = m_fileList->selection();
    const QList<FileItem>& items = m_fileList->items();
    if (current.isValid() && current.row() < items.size() && selected.contains(items.at(current.row()).id)
        && !items.at(current.row()).isDirectory) {
        m_quickLook->preview(items.at(current.row()).url);
        return;
    }
    for (const FileItem& item : items) {
        if (selected.contains(item.id) && !item.isDirectory) {
            m_quickLook->preview(item.url);
            return;
        }
    }
}

void FileBrowserView::openInFinder()
{
    m_workspace.open(currentFolder());
}

void FileBrowserView::downloadSelected()
{
    // What is selected now: later listings give the same entries other ids.
    const QSet<QUuid> selected = selectedItems();
    QList<FileItem> chosen;
    for (const FileItem& item : m_fsManager->currentItems()) {
        if (selected.contains(item.id))
            chosen.append(item);
    }
    if (chosen.isEmpty())
        return;
    FileDialogs::SaveOptions options;
    // Beside the folder chosen last, under its name, so that the same answer goes to the same
    // place; the first time "Downloads" in the home folder (not in the working folder).
    const QString last = m_defaults.stringValue(lastDownloadFolderKey).value_or(QString());
    if (QDir::isAbsolutePath(last) && QFileInfo(last).fileName() != QString()) {
        options.directory = QFileInfo(last).absolutePath();
        options.suggestedName = QFileInfo(last).fileName();
    } else {
        options.directory = QDir::homePath();
        options.suggestedName = QStringLiteral("Downloads");
    }
    options.canCreateDirectories = true;
    m_fileDialogs.chooseSaveLocation(options, this, this, [this, chosen](const std::optional<QUrl>& destination) {
        if (!destination || !destination->isLocalFile())
            return;
        m_defaults.setValue(lastDownloadFolderKey, FileSystemManager::pathText(*destination));
        queueDownloads(chosen, *destination);
    });
}

void FileBrowserView::queueDownloads(const QList<FileItem>& items, const QUrl& destination)
{
    if (!m_transferManager)
        return;
    for (const FileItem& item : items) {
        if (item.isDirectory)
            downloadFolder(item.url, destination);
        else
            m_transferManager->addDownload(item.url, destination);
    }
}

QCoro::Task<> FileBrowserView::downloadFolder(QUrl folder, QUrl destination)
{
    // The window's content may be gone or replaced when the walk ends: only the queue and the
    // pending drops, which the next content takes over, are used after it.
    QPointer<TransferManager> transfers(m_transferManager.get());
    QPointer<PendingDrops> pending(m_pendingDrops.get());
    struct Prepared {
        FolderDownloadPlan plan;
        QString failedFolder;
    };
    QFuture<Prepared> walk = runFileWork(folder.toLocalFile(), [folder, destination] {
        Prepared prepared{planFolderDownload(folder, destination), {}};
        if (!prepared.plan.unreadable)
            createPlannedFolders(prepared.plan, &prepared.failedFolder);
        return prepared;
    });
    const Prepared prepared = co_await walk;
    const QString name = QFileInfo(folder.adjusted(QUrl::StripTrailingSlash).toLocalFile()).fileName();
    if (prepared.plan.unreadable || !prepared.failedFolder.isEmpty()) {
        if (!pending)
            co_return;
        pending->report(prepared.plan.unreadable
                ? Localization::textFormat(QStringLiteral("browser.folderUnreadable"),
                    QStringLiteral("The folder “%@” couldn’t be read, so it was not downloaded."), {name})
                : Localization::textFormat(QStringLiteral("browser.folderNotCreated"),
                    QStringLiteral("The folder “%@” couldn’t be created, so “%@” was not downloaded."),
                    {prepared.failedFolder, name}));
        co_return;
    }
    // The queue may have moved on to the window's next content; it still takes the files.
    if (!transfers)
        co_return;
    for (const FolderDownloadPlan::File& file : prepared.plan.files)
        transfers->addDownload(file.source, file.destinationFolder, file.size);
}

void FileBrowserView::handleDrop(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return;
    checkDrop(urls, currentFolder());
}

QCoro::Task<> FileBrowserView::checkDrop(QList<QUrl> urls, QUrl folder)
{
    // As for a folder download: only what the next content takes over is used after the check.
    QPointer<TransferManager> transfers(m_transferManager.get());
    QPointer<PendingDrops> pending(m_pendingDrops.get());
    struct Checked {
        QUrl source;
        QUrl target;
        bool isFolder = false;
        bool isTaken = false;
        bool isItself = false;
    };
    QFuture<QList<Checked>> checks = runFileWork(folder.toLocalFile(), [urls, folder] {
        QList<Checked> result;
        const QDir destination(folder.toLocalFile());
        for (const QUrl& url : urls) {
            const QFileInfo source(url.toLocalFile());
            Checked checked;
            checked.source = url;
            // Asked of the file system: a local file URL never ends in a slash, folder or not.
            checked.isFolder = source.isDir();
            checked.target = QUrl::fromLocalFile(destination.filePath(source.fileName()));
            checked.isTaken = !checked.isFolder && isTaken(checked.target.toLocalFile());
            // Dragged from this very folder (by whatever path): renaming or replacing the target
            // would move or destroy the file about to be read.
            checked.isItself = checked.isTaken && isSameFile(url.toLocalFile(), checked.target.toLocalFile());
            result.append(checked);
        }
        return result;
    });
    const QList<Checked> checked = co_await checks;
    // The window was closed meanwhile: its queue went with it.
    if (!transfers || !pending)
        co_return;
    QList<FileConflict> conflicts;
    QStringList alreadyThere;
    for (const Checked& item : checked) {
        if (item.isFolder)
            continue;
        if (item.isItself)
            alreadyThere.append(QFileInfo(item.target.toLocalFile()).fileName());
        else if (item.isTaken)
            conflicts.append(FileConflict{QUuid::createUuid(), item.source, item.target});
        else
            transfers->addUpload(item.source, folder);
    }
    if (!alreadyThere.isEmpty()) {
        pending->report(Localization::textFormat(QStringLiteral("browser.alreadyInFolder"),
            QStringLiteral("“%@” is already in this folder, so it was not uploaded."),
            {alreadyThere.join(QStringLiteral("”, “"))}));
    }
    pending->append(conflicts);
}

void FileBrowserView::showNextConflict()
{
    if (m_sheet || !m_pendingDrops)
        return;
    const std::optional<FileConflict> next = m_pendingDrops->takeNext();
    if (!next)
        return;
    const FileConflict conflict = *next;
    m_pendingConflict = conflict;
    auto* sheet = new ConflictResolutionSheet(QFileInfo(conflict.destination.toLocalFile()).fileName(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet = sheet;
    connect(sheet, &ConflictResolutionSheet::resolved, this,
        [this, conflict](ConflictResolution resolution) { resolveConflict(conflict, resolution); });
    connect(sheet, &QDialog::finished, this, [this] {
        m_sheet = nullptr;
        // The next question once this sheet is gone.
        QTimer::singleShot(0, this, &FileBrowserView::showNextConflict);
    });
    sheet->open();
}

void FileBrowserView::resolveConflict(const FileConflict& conflict, ConflictResolution resolution)
{
    if (m_pendingConflict && m_pendingConflict->id == conflict.id)
        m_pendingConflict.reset();
    // The folder the file was dropped on, even if the window has moved on since.
    const QUrl folder = Workspace::containingFolder(conflict.destination).adjusted(QUrl::StripTrailingSlash);
    if (!m_transferManager)
        return;
    switch (resolution) {
    case ConflictResolution::overwrite:
        // The copy replaces a file; a folder of that name makes the transfer fail instead.
        m_transferManager->addUpload(conflict.source, folder);
        break;
    case ConflictResolution::rename: renameAsideAndUpload(conflict, folder); break;
    case ConflictResolution::skip: break;
    }
}

QCoro::Task<> FileBrowserView::renameAsideAndUpload(FileConflict conflict, QUrl folder)
{
    QPointer<TransferManager> transfers(m_transferManager.get());
    QPointer<PendingDrops> pending(m_pendingDrops.get());
    struct Moved {
        bool ok = false;
        QString newName;
        QString error;
    };
    const QString existing = conflict.destination.toLocalFile();
    QFuture<Moved> move = runFileWork(folder.toLocalFile(), [existing, folder] {
        Moved moved;
        moved.newName = uniqueName(folder, QFileInfo(existing).fileName());
        QFile file(existing);
        // Never replaces: a name taken since it was found free fails the move instead.
        moved.ok = file.rename(QDir(folder.toLocalFile()).filePath(moved.newName));
        if (!moved.ok)
            moved.error = file.errorString();
        return moved;
    });
    const Moved moved = co_await move;
    const QString aside = QDir(folder.toLocalFile()).filePath(moved.newName);
    if (moved.ok && transfers) {
        // The queue gives the name back should this upload never come.
        transfers->addUpload(conflict.source, folder, aside);
        co_return;
    }
    if (moved.ok) {
        // The window closed during the move and its queue with it: nothing will take the name, so
        // the existing file gets it back.
        QFuture<bool> undo = runFileWork(folder.toLocalFile(),
            [aside, existing] { return renameWithoutReplacing(aside, existing); });
        co_await undo;
        co_return;
    }
    // Uploading now would replace the very file that could not be moved aside.
    if (pending) {
        pending->report(Localization::textFormat(QStringLiteral("browser.renameFailed"),
            QStringLiteral("“%@” couldn’t be renamed to “%@”, so “%@” was not uploaded: %@"),
            {QFileInfo(existing).fileName(), moved.newName, QFileInfo(conflict.source.toLocalFile()).fileName(),
                moved.error}));
    }
}

QString FileBrowserView::uniqueName(const QUrl& folder, const QString& name)
{
    const QDir dir(folder.toLocalFile());
    if (!isTaken(dir.filePath(name)))
        return name;
    // The extension is what follows the last dot, unless that dot starts the name (".profile").
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    for (qint64 n = 1;; ++n) {
        const QString candidate = base + QStringLiteral(" (") + QString::number(n) + u')' + extension;
        if (!isTaken(dir.filePath(candidate)))
            return candidate;
    }
}

void FileBrowserView::showProblem(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("problemMessage"));
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    emit problemShown(text);
}

std::unique_ptr<PendingDrops> FileBrowserView::releasePendingDrops()
{
    if (!m_pendingDrops)
        return nullptr;
    m_pendingDrops->disconnect(this);
    if (m_sheet) {
        m_sheet->disconnect(this);
        delete m_sheet.data();
    }
    // Unanswered here, so asked first there.
    if (m_pendingConflict) {
        m_pendingDrops->putBack(*m_pendingConflict);
        m_pendingConflict.reset();
    }
    return std::move(m_pendingDrops);
}

std::unique_ptr<TransferManager> FileBrowserView::releaseTransferManager()
{
    // The panel would otherwise go on drawing a queue that is no longer this window's.
    delete m_transferQueue;
    m_transferQueue = nullptr;
    return std::move(m_transferManager);
}

} // namespace vantrel
