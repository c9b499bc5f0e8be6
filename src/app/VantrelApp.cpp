#include "app/VantrelApp.h"

#include "app/AppDelegate.h"
#include "app/MenuBarController.h"
#include "files/FileSystemManager.h"
#include "files/RecentFilesTracker.h"
#include "files/TransferManager.h"
#include "mounting/AppStateManager.h"
#include "mounting/NASConfigStore.h"
#include "platform/Localization.h"
#include "platform/SingleInstance.h"
#include "platform/gui/Symbols.h"
#include "services/LanguageManager.h"
#include "services/LogManager.h"
#include "views/browser/FileBrowserState.h"
#include "views/browser/FileBrowserView.h"
#include "views/browser/PendingDrops.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "views/main/SettingsView.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace vantrel {

QWidget* makeFileBrowserPlaceholder()
{
    auto* placeholder = new QWidget;
    placeholder->setObjectName(QStringLiteral("FileBrowserPlaceholder"));
    placeholder->setMinimumSize(500, 300);

    auto* layout = new QVBoxLayout(placeholder);
    layout->setSpacing(16);
    layout->addStretch();

    const QColor secondary = placeholder->palette().color(QPalette::PlaceholderText);
    auto* image = new QLabel;
    image->setObjectName(QStringLiteral("symbol"));
    image->setPixmap(Symbols::tinted(QStringLiteral("externaldrive.badge.xmark"), secondary, 48));
    layout->addWidget(image, 0, Qt::AlignHCenter);

    auto* title = new QLabel(
        Localization::text(QStringLiteral("browser.empty.title"), QStringLiteral("No NAS mounted")));
    title->setObjectName(QStringLiteral("title"));
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    auto* hint = new QLabel(Localization::text(QStringLiteral("browser.empty.hint"),
        QStringLiteral("Mount a NAS from the main window to browse files.")));
    hint->setObjectName(QStringLiteral("hint"));
    QFont caption = hint->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    hint->setFont(caption);
    for (QLabel* label : {title, hint}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, secondary);
        label->setPalette(palette);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label, 0, Qt::AlignHCenter);
    }
    layout->addStretch();
    return placeholder;
}

VantrelApp::VantrelApp(AppStateManager& appState, NASConfigStore& configStore, FileBrowserState& fileBrowserState,
    LanguageManager& languageManager, Defaults& defaults, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_configStore(configStore)
    , m_fileBrowserState(fileBrowserState)
    , m_languageManager(languageManager)
    , m_windows(&defaults)
{
    // Every window shows it, the about window included.
    QApplication::setWindowIcon(Symbols::applicationIcon());
    declareWindows();
    m_windows.setLocale(m_languageManager.locale());
    connect(&m_languageManager, &LanguageManager::localeChanged, this,
        [this](const QLocale& locale) { m_windows.setLocale(locale); });

    // configure() announces the configuration and the mount point one after the other; the
    // browser is rebuilt once both are in, never for a mix of two shares.
    connect(&m_fileBrowserState, &FileBrowserState::configChanged, this, &VantrelApp::scheduleFileBrowserRebuild);
    connect(&m_fileBrowserState, &FileBrowserState::mountPointChanged, this, &VantrelApp::scheduleFileBrowserRebuild);
    // A share mounted again while it is browsed: the browser goes on with it.
    connect(&m_appState, &AppStateManager::nasStatusesChanged, this, &VantrelApp::followBrowsedShare);
    connect(&m_fileBrowserState, &FileBrowserState::mountPointChanged, this, [this] { m_browsedShareMounted = true; });
}

VantrelApp::~VantrelApp() = default;

void VantrelApp::declareWindows()
{
    m_windows.declare({mainWindowID, Localization::text(QStringLiteral("window.main.title"), QStringLiteral("Vantrel")),
        QSize(600, 500), WindowRegistry::Resizability::contentMinimumSize,
        [this]() -> QWidget* {
            return new MainWindowView(m_appState, m_configStore,
                [this](const QString& identifier) { m_windows.open(identifier); });
        },
        false, false, true});
    m_windows.declare({fileBrowserWindowID,
        Localization::text(QStringLiteral("window.browser.title"), QStringLiteral("File Browser")), QSize(900, 600),
        WindowRegistry::Resizability::contentMinimumSize, [this] { return makeFileBrowserContent(); }, false, false,
        true});
    m_windows.declare(aboutScene());
    m_windows.declare(settingsScene(m_appState, m_configStore, m_languageManager));
}

WindowRegistry::Scene VantrelApp::settingsScene(AppStateManager& appState, NASConfigStore& configStore,
    LanguageManager& languageManager)
{
    // The view sets its own minimum size. The main window and the tray menu share this one window,
    // kept when closed as the tray menu's window always was.
    return {settingsWindowID, Localization::text(QStringLiteral("window.settings.title"), QStringLiteral("设置")),
        QSize(580, 460), WindowRegistry::Resizability::automatic,
        [appState = &appState, configStore = &configStore, languageManager = &languageManager]() -> QWidget* {
            return new SettingsView(*appState, *configStore, *languageManager);
        },
        true, true, true};
}

WindowRegistry::Scene VantrelApp::aboutScene()
{
    return {aboutWindowID, Localization::text(QStringLiteral("window.about.title"), QStringLiteral("关于 Vantrel")),
        QSize(AboutView::contentWidth, AboutView::contentHeight), WindowRegistry::Resizability::contentSize,
        []() -> QWidget* { return new AboutView; }, false, true};
}

QWidget* VantrelApp::makeFileBrowserContent()
{
    return makeFileBrowserContent(nullptr);
}

QWidget* VantrelApp::makeFileBrowserContent(FileBrowserView* previous)
{
    // Whatever is built now reflects every change announced so far.
    m_browserRebuildPending = false;
    const std::optional<NASConfig>& config = m_fileBrowserState.config();
    const std::optional<QUrl>& mountPoint = m_fileBrowserState.mountPoint();
    if (!config || !mountPoint)
        return makeFileBrowserPlaceholder();
    // Another share in the same window starts over at its root, but the window's transfers go on,
    // and so do its drops still waiting for an answer (for the folder they were dropped on).
    FileBrowserView::Services services;
    if (previous) {
        services.transferManager = previous->releaseTransferManager();
        services.pendingDrops = previous->releasePendingDrops();
    }
    return new FileBrowserView(*config, *mountPoint, std::move(services));
}

void VantrelApp::scheduleFileBrowserRebuild()
{
    if (m_browserRebuildPending)
        return;
    m_browserRebuildPending = true;
    QMetaObject::invokeMethod(this, &VantrelApp::rebuildFileBrowser, Qt::QueuedConnection);
}

void VantrelApp::rebuildFileBrowser()
{
    // Already done when the window was created in between with the latest state.
    if (!m_browserRebuildPending)
        return;
    SceneWindow* window = m_windows.find(fileBrowserWindowID);
    if (!window) {
        m_browserRebuildPending = false;
        return;
    }
    window->setContent(makeFileBrowserContent(qobject_cast<FileBrowserView*>(window->content())));
}

void VantrelApp::followBrowsedShare()
{
    const std::optional<NASConfig>& config = m_fileBrowserState.config();
    const std::optional<QUrl>& shown = m_fileBrowserState.mountPoint();
    if (!config || !shown)
        return;
    const std::optional<NASStatus> status = m_appState.status(config->id);
    const bool mounted = status && status->mountState.kind() == MountState::Kind::mounted && status->mountPoint;
    const bool mountedAgain = mounted && !m_browsedShareMounted;
    m_browsedShareMounted = mounted;
    if (!mounted)
        return;
    if (FileSystemManager::pathText(*status->mountPoint) != FileSystemManager::pathText(*shown)) {
        // Elsewhere now: the old folder is not the share any more; the new root is.
        m_fileBrowserState.configure(*config, *status->mountPoint);
        return;
    }
    if (!mountedAgain)
        return;
    // Same place: the folder on screen is the share's again, even where it was listed from the
    // cache meanwhile.
    if (SceneWindow* window = m_windows.find(fileBrowserWindowID)) {
        if (auto* view = qobject_cast<FileBrowserView*>(window->content()))
            view->shareMountedAgain();
    }
}

int VantrelApp::exec()
{
    m_singleInstance = std::make_unique<SingleInstance>();
    connect(m_singleInstance.get(), &SingleInstance::activationRequested, this, [this] {
        VLOG(debug, lifecycle, QStringLiteral("Activation requested by another launch"));
        m_windows.open(mainWindowID);
    });

    AppDelegate::Services services = AppDelegate::productServices();
    services.makeMenuBarController = [this] {
        return std::make_unique<MenuBarController>(m_appState, m_configStore, RecentFilesTracker::shared(),
            m_fileBrowserState, m_languageManager, m_windows, LogManager::shared(),
            MenuBarController::productActions());
    };
    m_delegate = std::make_unique<AppDelegate>(LogManager::shared(), *m_singleInstance, std::move(services));

    connect(qApp, &QCoreApplication::aboutToQuit, m_delegate.get(), &AppDelegate::applicationWillTerminate);
    connect(qApp, &QGuiApplication::applicationStateChanged, m_delegate.get(), [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_delegate->applicationDidBecomeActive();
    });

    m_delegate->applicationDidFinishLaunching();
    if (m_delegate->isPrimaryInstance())
        m_windows.open(mainWindowID);
    return QApplication::exec();
}

} // namespace vantrel
