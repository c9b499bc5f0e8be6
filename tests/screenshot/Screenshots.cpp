#include "Screenshots.h"

#include "support/FileWorkGate.h"
#include "support/gui/SettingsFixture.h"
#include "support/gui/ViewFixture.h"

#include "app/VantrelApp.h"
#include "files/FileSystemManager.h"
#include "files/TransferManager.h"
#include "platform/AppInfo.h"
#include "platform/Localization.h"
#include "platform/gui/PreviewPanel.h"
#include "platform/gui/Symbols.h"
#include "views/browser/ConflictResolutionSheet.h"
#include "views/browser/FileBrowserView.h"
#include "views/browser/FileListView.h"
#include "views/browser/TransferQueueModel.h"
#include "views/browser/TransferQueueView.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "views/main/NASDetailView.h"
#include "views/main/SettingsView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel::test {

namespace {

// Every symbol as the desktop theme gives it and as its bundled stand-in, side by side.
QWidget* symbolSheet()
{
    auto* sheet = new QWidget;
    auto* grid = new QGridLayout(sheet);
    const QStringList names = Symbols::names();
    const int columns = 4;
    const QColor ink = sheet->palette().color(QPalette::WindowText);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const int row = int(i / columns);
        const int column = int(i % columns) * 3;
        auto* themed = new QLabel;
        themed->setPixmap(Symbols::tinted(names.at(i), ink, 24));
        auto* bundled = new QLabel;
        bundled->setPixmap(Symbols::bundledIcon(names.at(i)).pixmap(QSize(24, 24), 1.0));
        grid->addWidget(themed, row, column);
        grid->addWidget(bundled, row, column + 1);
        grid->addWidget(new QLabel(names.at(i)), row, column + 2);
    }
    return sheet;
}

// The settings tabs' services on the fixture, with a little use to show: two cached files with
// three hits in four lookups, a clean-up two hours ago, and a log file. Made once and kept for the
// rest of the run, like the shared instances they stand for.
test::SettingsStandIns& settingsStandIns(ViewFixture& fx)
{
    static SettingsStandIns* standIns = nullptr;
    if (standIns)
        return *standIns;
    fx.defaults.setValue(CacheDirectoryManager::lastCleanupKey, QDateTime::currentDateTime().addSecs(-2 * 3600));
    standIns = new SettingsStandIns(fx);
    standIns->disk.bytes = 182'400'000'000;
    QCoro::waitFor(standIns->cacheDirectory.updateDiskSpace());

    const QUuid config = QUuid::createUuid();
    QDir().mkpath(fx.dir.filePath(QStringLiteral("share")));
    for (const QString& name : {QStringLiteral("Report.pdf"), QStringLiteral("Holiday.jpg")}) {
        QFile file(fx.dir.filePath(QStringLiteral("share/") + name));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(2'400'000, 'x'));
        file.close();
        QCoro::waitFor(standIns->cache.cacheFile(QUrl::fromLocalFile(file.fileName()), config, name));
    }
    for (int i = 0; i < 3; ++i)
        standIns->cache.isCached(config, QStringLiteral("Report.pdf"));
    standIns->cache.isCached(config, QStringLiteral("Missing.txt"));

    QDir().mkpath(fx.log.logDirectory());
    QFile log(fx.log.logFilePath());
    if (log.open(QIODevice::WriteOnly))
        log.write(QByteArray(48'000, 'l'));
    return *standIns;
}

// The settings window with one tab current.
QWidget* settingsWindow(ViewFixture& fx, int tab)
{
    auto* view = new SettingsView(fx.appState, fx.configStore, fx.languageManager, settingsStandIns(fx).services());
    // Opening the window starts at the first tab; switch once it is open.
    QTimer::singleShot(0, view, [view, tab] { view->tabs()->setCurrentIndex(tab); });
    return view;
}

// The share editor on the sample share of that name.
std::optional<NASConfig> sampleShare(ViewFixture& fx, const QString& name)
{
    for (const NASConfig& candidate : fx.configStore.configs()) {
        if (candidate.name == name)
            return candidate;
    }
    return std::nullopt;
}

MainWindowView* mainWindow(ViewFixture& fx)
{
    return new MainWindowView(fx.appState, fx.configStore, [](const QString&) {},
        {&fx.network.monitor, &fx.workspace, &fx.mounts, &fx.engine, &fx.keychain});
}

// The main window with a sample share selected, its editor in the detail column.
QWidget* mainWindowEditing(ViewFixture& fx, const QString& name)
{
    MainWindowView* view = mainWindow(fx);
    if (const std::optional<NASConfig> share = sampleShare(fx, name))
        view->setSelectedConfigID(share->id);
    return view;
}

QWidget* editorOf(ViewFixture& fx, const QString& name)
{
    return new NASDetailView(sampleShare(fx, name), [] {},
        {fx.configStore, fx.appState, fx.mounts, fx.engine, fx.network.monitor, fx.keychain, fx.workspace});
}

// A share's folder with a few subfolders and files of several kinds, sizes and ages.
QString sampleFolder(const QString& root, const QDateTime& now)
{
    const QString share = root + QStringLiteral("/Media/Projects");
    struct Entry {
        const char* name;
        qint64 size; // -1: a folder
        qint64 secondsAgo;
    };
    const Entry entries[] = {
        {"Archive", -1, 86400 * 40},
        {"Photos 2024", -1, 3600 * 5},
        {"Reports", -1, 86400 * 3},
        {"budget-2025.pdf", 284'311, 600},
        {"holiday-video.mp4", 734'003'200, 86400 * 9},
        {"meeting notes.txt", 4'812, 45},
        {"project-backup.tar.gz", 1'288'490'188, 86400 * 70},
        {"song.flac", 31'457'280, 86400 * 400},
        {"sunset.jpg", 3'145'728, 3600 * 26},
    };
    for (const Entry& entry : entries) {
        const QString path = share + u'/' + QString::fromUtf8(entry.name);
        if (entry.size < 0) {
            QDir().mkpath(path);
        } else {
            QDir().mkpath(share);
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.resize(entry.size); // sparse: the size without the bytes
        }
    }
    // Dates last: a new entry changes its folder's date.
    for (const Entry& entry : entries) {
        const QByteArray path = QFile::encodeName(share + u'/' + QString::fromUtf8(entry.name));
        const timespec when{time_t(now.addSecs(-entry.secondsAgo).toSecsSinceEpoch()), 0};
        const timespec times[2] = {when, when};
        ::utimensat(AT_FDCWD, path.constData(), times, 0);
    }
    return root + QStringLiteral("/Media");
}

// The browser on the sample folder, one row selected, with a running, a paused and a failed
// transfer in its panel. The manager runs one copy at a time, so the three are drawn as given.
QWidget* fileBrowser(ViewFixture& fx)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString mountPoint = sampleFolder(fx.dir.path(), now);
    NASConfig config;
    config.name = QStringLiteral("Media");
    FileBrowserView::Services services;
    services.log = &fx.log;
    services.workspace = &fx.workspace;
    services.fileDialogs = &fx.fileDialogs;
    services.clock = [now] { return now; };
    auto* view = new FileBrowserView(config, QUrl::fromLocalFile(mountPoint), std::move(services));
    view->fileSystemManager().navigate(QUrl::fromLocalFile(mountPoint + QStringLiteral("/Projects")));

    const auto task = [&](const char* name, TransferDirection direction, TransferStatus status, qint64 total,
                          qint64 done) {
        TransferTask t;
        t.id = QUuid::createUuid();
        t.sourceURL = QUrl::fromLocalFile(mountPoint + QStringLiteral("/Projects/") + QString::fromUtf8(name));
        t.direction = direction;
        t.status = status;
        t.totalBytes = total;
        t.bytesTransferred = done;
        t.startDate = now.addSecs(-12);
        return t;
    };
    TransferTask failed = task("project-backup.tar.gz", TransferDirection::download, TransferStatus::failed,
        1'288'490'188, 0);
    failed.errorMessage = Localization::textFormat(QStringLiteral("transfer.error.write"),
        QStringLiteral("The file “%@” couldn’t be written: %@"),
        {QStringLiteral("project-backup.tar.gz"), QStringLiteral("No space left on device")});
    view->transferQueue()->showTasks({
        task("holiday-video.mp4", TransferDirection::download, TransferStatus::running, 734'003'200, 301'989'888),
        task("Quarterly report final version.docx", TransferDirection::upload, TransferStatus::paused, 8'388'608,
            2'097'152),
        failed,
    });

    QObject::connect(&view->fileSystemManager(), &FileSystemManager::currentItemsChanged, view, [view] {
        if (view->fileList()->items().size() > 3)
            view->fileList()->table()->selectRow(3);
    });
    return view;
}

// Runs the event loop until the condition holds (or a few seconds have passed).
bool waitUntil(const std::function<bool()>& condition, int milliseconds = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

// A share that stops answering for the folders it is told, for the rest of the tool's run.
FileWorkGate& hangingShare()
{
    static auto* gate = new FileWorkGate;
    return *gate;
}

FileBrowserView* browserOn(ViewFixture& fx, const QString& mountPoint, const QDateTime& now)
{
    NASConfig config;
    config.name = QStringLiteral("Media");
    FileBrowserView::Services services;
    services.log = &fx.log;
    services.workspace = &fx.workspace;
    services.fileDialogs = &fx.fileDialogs;
    services.clock = [now] { return now; };
    auto* view = new FileBrowserView(config, QUrl::fromLocalFile(mountPoint), std::move(services));
    // Listed at once, as on showing.
    view->fileSystemManager().refresh();
    waitUntil([view] { return !view->fileList()->items().isEmpty(); });
    return view;
}

// The browser moving from a listed folder into one of 20,000 files whose listing has not come yet.
QWidget* browserLoadingLargeFolder(ViewFixture& fx)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString mountPoint = sampleFolder(fx.dir.path(), now);
    const QString large = mountPoint + QStringLiteral("/Projects/Photos 2024");
    for (int i = 0; i < 20000; ++i) {
        QFile file(large + QStringLiteral("/IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
    }
    FileBrowserView* view = browserOn(fx, mountPoint + QStringLiteral("/Projects"), now);
    hangingShare().hold(large);
    view->fileSystemManager().navigate(QUrl::fromLocalFile(large));
    return view;
}

// The browser in a folder whose listing did not answer in time, with nothing of it cached.
QWidget* browserFolderNotListed(ViewFixture& fx)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString mountPoint = sampleFolder(fx.dir.path(), now);
    FileBrowserView* view = browserOn(fx, mountPoint + QStringLiteral("/Projects"), now);
    const QString reports = mountPoint + QStringLiteral("/Projects/Reports");
    QFile(reports + QStringLiteral("/q1.pdf")).open(QIODevice::WriteOnly);
    hangingShare().hold(reports);
    view->fileSystemManager().listingTimeout = 0.1;
    view->fileSystemManager().navigate(QUrl::fromLocalFile(reports));
    waitUntil([view] { return !view->fileSystemManager().isLoading(); });
    return view;
}

// The queue after 105 finished downloads, the user looking at the first ones, when one more
// starts.
QWidget* browserQueueRunning(ViewFixture& fx)
{
    const QDateTime now = QDateTime::currentDateTime();
    // The reports before the sample's dates: written later, they would date their folder after
    // the browser's fixed clock.
    const QString shared = fx.dir.path() + QStringLiteral("/Media/Projects/Reports");
    QDir().mkpath(shared);
    QStringList reports;
    for (int i = 0; i < 105; ++i) {
        const QString name = shared + QStringLiteral("/report-%1.txt").arg(i + 1, 3, 10, QLatin1Char('0'));
        QFile file(name);
        if (file.open(QIODevice::WriteOnly))
            file.write("report");
        file.close();
        reports.append(name);
    }
    const QString mountPoint = sampleFolder(fx.dir.path(), now);
    FileBrowserView* view = browserOn(fx, mountPoint + QStringLiteral("/Projects"), now);
    const QString local = fx.dir.path() + QStringLiteral("/Downloads");
    QDir().mkpath(local);
    TransferManager& transfers = view->transferManager();
    for (const QString& name : std::as_const(reports))
        transfers.addDownload(QUrl::fromLocalFile(name), QUrl::fromLocalFile(local));
    waitUntil([&transfers] {
        return transfers.tasks().size() == 105 && transfers.tasks().last().status == TransferStatus::completed;
    });
    // Once on screen: the user looks at the first rows when one more download starts.
    const QString video = mountPoint + QStringLiteral("/Projects/holiday-video.mp4");
    QTimer::singleShot(100, view, [view, local, video] {
        view->transferQueue()->list()->verticalScrollBar()->setValue(0);
        hangingShare().hold(local + QStringLiteral("/holiday-video.mp4"), 1);
        view->transferManager().addDownload(QUrl::fromLocalFile(video), QUrl::fromLocalFile(local));
    });
    return view;
}

// The editor of a share whose connection test passed and whose mount then failed.
QWidget* editorAfterFailedMount(ViewFixture& fx)
{
    const std::optional<NASConfig> share = sampleShare(fx, QStringLiteral("Studio Media"));
    auto* view = static_cast<NASDetailView*>(editorOf(fx, QStringLiteral("Studio Media")));
    if (!share)
        return view;
    fx.setState(*share, MountState::idle());
    view->testConnection();
    waitUntil([view] { return view->testResult() && view->testResult()->kind != TestConnectionResult::Kind::testing; });
    fx.setState(*share, MountState::mounting());
    fx.setState(*share,
        MountState::failed(VantrelError::mountFailed(QStringLiteral("mount error(13): Permission denied"))));
    return view;
}

// The preview window on a file it has no view for, so it shows the file's details.
class OneFile final : public PreviewPanelDataSource {
public:
    explicit OneFile(QUrl file)
        : m_file(std::move(file))
    {
    }
    int numberOfPreviewItems(PreviewPanel&) override { return 1; }
    std::optional<QUrl> previewItem(PreviewPanel&, int) override { return m_file; }

private:
    QUrl m_file;
};

QWidget* previewPanel(ViewFixture& fx)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString file = sampleFolder(fx.dir.path(), now) + QStringLiteral("/Projects/project-backup.tar.gz");
    auto* panel = new PreviewPanel;
    auto* source = new OneFile(QUrl::fromLocalFile(file));
    QObject::connect(panel, &QObject::destroyed, [source] { delete source; });
    panel->setDataSource(source);
    panel->makeKeyAndOrderFront();
    return panel;
}

} // namespace

QList<ScreenshotWindow> screenshotWindows()
{
    const WindowRegistry::Scene about = VantrelApp::aboutScene();
    const QString settingsTitle = Localization::text(QStringLiteral("window.settings.title"), QStringLiteral("设置"));
    QList<ScreenshotWindow> windows{
        {QStringLiteral("main"), QStringLiteral("Vantrel"), QSize(760, 500),
            [](ViewFixture& fx) -> QWidget* { return mainWindow(fx); }},
        // Nothing mounted and nothing selected: the detail column's placeholder.
        {QStringLiteral("main-placeholder"), QStringLiteral("Vantrel"), QSize(760, 500),
            [](ViewFixture& fx) -> QWidget* {
                for (const NASConfig& config : fx.configStore.configs())
                    fx.setState(config, MountState::idle());
                return mainWindow(fx);
            }},
        // The editor where the user meets it: in the detail column, beside the list.
        {QStringLiteral("main-editor"), QStringLiteral("Vantrel"), QSize(760, 640),
            [](ViewFixture& fx) { return mainWindowEditing(fx, QStringLiteral("Backup Server")); }},
        // The same at the window's minimum width, where long texts have to wrap.
        {QStringLiteral("main-editor-narrow"), QStringLiteral("Vantrel"), QSize(500, 640),
            [](ViewFixture& fx) { return mainWindowEditing(fx, QStringLiteral("Studio Media")); }},
        // Between the two, where the form wraps some rows and not others.
        {QStringLiteral("main-editor-medium"), QStringLiteral("Vantrel"), QSize(600, 640),
            [](ViewFixture& fx) { return mainWindowEditing(fx, QStringLiteral("Studio Media")); }},
        {QStringLiteral("editor-smb"), QStringLiteral("Vantrel"), QSize(560, 860),
            [](ViewFixture& fx) { return editorOf(fx, QStringLiteral("Studio Media")); }},
        {QStringLiteral("editor-nfs"), QStringLiteral("Vantrel"), QSize(560, 860),
            [](ViewFixture& fx) { return editorOf(fx, QStringLiteral("Backup Server")); }},
        {QStringLiteral("about"), about.title, QSize(),
            [](ViewFixture& fx) -> QWidget* { return new AboutView(AppInfo::infoDictionary(), fx.workspace); }},
        {QStringLiteral("browser"),
            Localization::text(QStringLiteral("window.browser.title"), QStringLiteral("File Browser")), QSize(900, 600),
            fileBrowser},
        {QStringLiteral("browser-loading"),
            Localization::text(QStringLiteral("window.browser.title"), QStringLiteral("File Browser")), QSize(900, 600),
            browserLoadingLargeFolder},
        {QStringLiteral("browser-not-listed"),
            Localization::text(QStringLiteral("window.browser.title"), QStringLiteral("File Browser")), QSize(900, 600),
            browserFolderNotListed},
        {QStringLiteral("browser-queue-running"),
            Localization::text(QStringLiteral("window.browser.title"), QStringLiteral("File Browser")), QSize(900, 600),
            browserQueueRunning},
        {QStringLiteral("editor-mount-failed"), QStringLiteral("Vantrel"), QSize(560, 860), editorAfterFailedMount},
        {QStringLiteral("browser-empty"),
            Localization::text(QStringLiteral("window.browser.title"), QStringLiteral("File Browser")), QSize(900, 600),
            [](ViewFixture&) { return makeFileBrowserPlaceholder(); }},
        {QStringLiteral("preview"), Localization::text(QStringLiteral("preview.title"), QStringLiteral("Preview")),
            QSize(640, 480), previewPanel},
        // The name-conflict sheet's content (a sheet is a window of its own, drawn here inside one).
        {QStringLiteral("conflict"), QStringLiteral("Vantrel"), QSize(),
            [](ViewFixture&) -> QWidget* {
                return new ConflictResolutionSheet(QStringLiteral("Quarterly report.pdf"), nullptr);
            }},
        {QStringLiteral("symbols"), QStringLiteral("Symbols"), QSize(), [](ViewFixture&) { return symbolSheet(); }},
    };
    const QStringList tabs{QStringLiteral("language"), QStringLiteral("launch"), QStringLiteral("notifications"),
        QStringLiteral("cache"), QStringLiteral("advanced"), QStringLiteral("logging")};
    for (int i = 0; i < tabs.size(); ++i) {
        windows.append({QStringLiteral("settings-") + tabs.at(i), settingsTitle, QSize(580, 460),
            [i](ViewFixture& fx) { return settingsWindow(fx, i); }});
    }
    return windows;
}

} // namespace vantrel::test
