#include "views/main/MainWindowView.h"

#include "mounting/AppStateManager.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/MountEngine.h"
#include "mounting/NASConfigStore.h"
#include "mounting/NetworkMonitor.h"
#include "platform/gui/Workspace.h"
#include "services/KeychainManager.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowToolbar.h"
#include "views/main/NASDetailForm.h"
#include "views/main/NASDetailView.h"
#include "views/main/NetworkBindingSection.h"
#include "views/main/ShareListModel.h"

#include <QFrame>
#include <QSplitter>
#include <QVBoxLayout>

namespace vantrel {

MainWindowView::MainWindowView(AppStateManager& appState, NASConfigStore& configStore, OpenWindowAction openWindow,
    QWidget* parent)
    : MainWindowView(appState, configStore, std::move(openWindow), Services{}, parent)
{
}

MainWindowView::MainWindowView(AppStateManager& appState, NASConfigStore& configStore, OpenWindowAction openWindow,
    Services services, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_configStore(configStore)
    , m_openWindow(std::move(openWindow))
    , m_network(services.network ? *services.network : NetworkMonitor::shared())
    , m_workspace(services.workspace ? *services.workspace : Workspace::shared())
    , m_mounts(services.mounts)
    , m_engine(services.engine)
    , m_keychain(services.keychain)
    , m_editorFactory(&MainWindowView::makeEditor)
{
    setObjectName(QStringLiteral("MainWindowView"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_toolbar = new MainWindowToolbar;
    layout->addWidget(m_toolbar);
    auto* toolbarLine = new QFrame;
    toolbarLine->setFrameShape(QFrame::HLine);
    toolbarLine->setFrameShadow(QFrame::Sunken);
    layout->addWidget(toolbarLine);

    m_sidebar = new ShareListSidebar(m_configStore, m_appState, m_network);
    m_detail = new MainDetailColumn;
    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_detail);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({sidebarIdealWidth, minimumContentWidth - sidebarIdealWidth});
    layout->addWidget(m_splitter, 1);

    connect(m_toolbar, &MainWindowToolbar::aboutRequested, this, &MainWindowView::showAbout);
    connect(m_toolbar, &MainWindowToolbar::settingsRequested, this, &MainWindowView::openSettings);
    connect(m_toolbar, &MainWindowToolbar::addRequested, this, &MainWindowView::addNAS);
    connect(m_sidebar, &ShareListSidebar::picked, this, &MainWindowView::pick);
    connect(m_sidebar, &ShareListSidebar::deleteRequested, this, &MainWindowView::deleteConfig);
    connect(m_sidebar, &ShareListSidebar::linkActivated, this, &MainWindowView::openInFinder);
    connect(m_detail, &MainDetailColumn::openRequested, this, &MainWindowView::openInFinder);
    // The list follows the store and the statuses by itself; the detail follows here.
    connect(&m_configStore, &NASConfigStore::configsChanged, this, &MainWindowView::updateDetail);
    connect(&m_appState, &AppStateManager::nasStatusesChanged, this, &MainWindowView::updateDetail);

    updateDetail();
}

MainWindowView::~MainWindowView() = default;

MountControl& MainWindowView::mounts()
{
    if (!m_mounts)
        m_mounts = &AutoMountStrategy::shared();
    return *m_mounts;
}

MountEngine& MainWindowView::engine()
{
    if (!m_engine)
        m_engine = &MountEngine::shared();
    return *m_engine;
}

KeychainManager& MainWindowView::keychain()
{
    if (!m_keychain)
        m_keychain = &KeychainManager::shared();
    return *m_keychain;
}

QUuid MainWindowView::networkRefreshID() const
{
    return shareModel()->networkRefreshID();
}

QToolBar* MainWindowView::toolbar() const
{
    return m_toolbar;
}

// ---- toolbar ------------------------------------------------------------------------------------

void MainWindowView::showAbout()
{
    AboutView::showWindow(m_workspace);
}

void MainWindowView::openSettings()
{
    if (m_openWindow)
        m_openWindow(settingsWindowID);
}

NASConfig MainWindowView::newConfig()
{
    NASConfig config;
    config.mountOptions = NASDetailForm::fixedMountOptions();
    config.networkBinding.ipRange = NetworkBindingSection::allNetworksRange;
    return config;
}

void MainWindowView::addNAS()
{
    const NASConfig config = newConfig();
    if (m_configStore.addConfig(config))
        setSelectedConfigID(config.id);
}

// ---- list ---------------------------------------------------------------------------------------

QMenu* MainWindowView::makeContextMenu(const QUuid& configID, QWidget* parent)
{
    return m_sidebar->makeContextMenu(configID, parent);
}

void MainWindowView::deleteConfig(const QUuid& configID)
{
    const bool wasSelected = m_selectedConfigID == configID;
    m_configStore.deleteConfig(configID);
    if (wasSelected)
        clearSelection();
}

void MainWindowView::openInFinder(const QUrl& mountPoint)
{
    m_workspace.open(mountPoint);
}

// ---- selection ----------------------------------------------------------------------------------

void MainWindowView::setSelectedConfigID(const std::optional<QUuid>& configID)
{
    if (configID == m_selectedConfigID)
        return;
    // The list does not report a selection made here as a pick.
    m_sidebar->select(configID);
    pick(configID);
}

void MainWindowView::pick(const std::optional<QUuid>& configID)
{
    if (configID == m_selectedConfigID)
        return;
    m_selectedConfigID = configID;
    updateDetail();
    emit selectedConfigIDChanged(m_selectedConfigID);
}

// ---- detail column ------------------------------------------------------------------------------

QList<MainWindowView::MountedEntry> MainWindowView::mountedEntries() const
{
    QList<MountedEntry> entries;
    for (const NASConfig& config : m_configStore.configs()) {
        const std::optional<NASStatus> status = m_appState.status(config.id);
        if (ShareListModel::link(status))
            entries.append({config, *status});
    }
    return entries;
}

void MainWindowView::setEditorFactory(EditorFactory factory)
{
    m_editorFactory = std::move(factory);
    // The next selection builds with it; a shown editor is rebuilt now.
    if (m_detail->editor()) {
        m_detail->forgetEditor();
        updateDetail();
    }
}

QWidget* MainWindowView::makeEditor(MainWindowView& view, const NASConfig& config)
{
    // The editor's close action runs inside its own button's click; the view lets it go later.
    return new NASDetailView(config,
        [view = QPointer<MainWindowView>(&view)] {
            if (view)
                view->clearSelection();
        },
        {view.configStore(), view.appState(), view.mounts(), view.engine(), view.network(), view.keychain(),
            view.workspace()});
}

QSize MainWindowView::minimumSizeHint() const
{
    return QWidget::minimumSizeHint().expandedTo(QSize(minimumContentWidth, minimumContentHeight));
}

void MainWindowView::updateDetail()
{
    const std::optional<NASConfig> selected = m_selectedConfigID ? m_configStore.config(*m_selectedConfigID)
                                                                 : std::nullopt;
    if (selected) {
        m_detail->showEditor(selected->id,
            [this, &selected]() -> QWidget* { return m_editorFactory ? m_editorFactory(*this, *selected) : nullptr; });
        return;
    }
    m_detail->showMountedFolders(mountedEntries());
}

} // namespace vantrel
