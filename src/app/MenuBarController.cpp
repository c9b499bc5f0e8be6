#include "app/MenuBarController.h"

#include "app/UpdateManager.h"
#include "app/VantrelApp.h"
#include "app/WindowRegistry.h"
#include "files/RecentFilesTracker.h"
#include "mounting/AppStateManager.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/NASConfigStore.h"
#include "platform/Localization.h"
#include "platform/Threading.h"
#include "platform/gui/Symbols.h"
#include "platform/gui/Workspace.h"
#include "services/LanguageManager.h"
#include "services/LogManager.h"
#include "views/browser/FileBrowserState.h"
#include "views/main/AboutView.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace vantrel {

MenuBarController::Actions MenuBarController::productActions()
{
    Actions actions;
    actions.mountAll = [] { return AutoMountStrategy::shared().mountAll(); };
    actions.unmountAll = [] { return AutoMountStrategy::shared().unmountAll(); };
    actions.checkForUpdates = [] { UpdateManager::shared().checkForUpdates(); };
    actions.openUrl = [](const QUrl& url) { Workspace::shared().open(url); };
    actions.quit = [] { QCoreApplication::quit(); };
    return actions;
}

MenuBarController::MenuBarController(AppStateManager& appState, NASConfigStore& configStore,
    RecentFilesTracker& recentFiles, FileBrowserState& browserState, LanguageManager& languageManager,
    WindowRegistry& windows, LogManager& log, Actions actions, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_configStore(configStore)
    , m_recentFiles(recentFiles)
    , m_browserState(browserState)
    , m_languageManager(languageManager)
    , m_windows(windows)
    , m_log(log)
    , m_actions(std::move(actions))
{
}

MenuBarController::~MenuBarController()
{
    delete m_aboutWindow.data();
}

QWidget* MenuBarController::settingsWindow() const
{
    return m_windows.find(VantrelApp::settingsWindowID);
}

QColor MenuBarController::color(MenuBarIconState state)
{
    switch (state) {
    case MenuBarIconState::allMounted: return QColor(0x34, 0xC7, 0x59);       // system green
    case MenuBarIconState::partiallyMounted: return QColor(0xFF, 0xCC, 0x00); // system yellow
    case MenuBarIconState::allFailed: return QColor(0xFF, 0x3B, 0x30);        // system red
    case MenuBarIconState::idle:
    case MenuBarIconState::offline:
    case MenuBarIconState::mounting: break;
    }
    return QColor(0x8E, 0x8E, 0x93); // system gray
}

QIcon MenuBarController::statusIcon(const QString& symbolName, const QColor& tint)
{
    if (!Symbols::isKnown(symbolName))
        return Symbols::applicationIcon();
    return QIcon(Symbols::tinted(symbolName, tint, iconSize));
}

QString MenuBarController::statusMark(const MountState& state)
{
    switch (state.kind()) {
    case MountState::Kind::idle: return QStringLiteral("\u26AA");
    case MountState::Kind::mounting: return QStringLiteral("\U0001F7E1");
    case MountState::Kind::mounted: return QStringLiteral("\U0001F7E2");
    case MountState::Kind::unmounting: return QStringLiteral("\U0001F7E0");
    case MountState::Kind::offline: return QStringLiteral("\u26AB");
    case MountState::Kind::failed: return QStringLiteral("\U0001F534");
    }
    return QString();
}

QString MenuBarController::statusText(const MountState& state)
{
    switch (state.kind()) {
    case MountState::Kind::idle: return Localization::text(QStringLiteral("status.idle"), QStringLiteral("空闲"));
    case MountState::Kind::mounting:
        return Localization::text(QStringLiteral("status.mounting"), QStringLiteral("挂载中..."));
    case MountState::Kind::mounted:
        return Localization::text(QStringLiteral("status.mounted"), QStringLiteral("已挂载"));
    case MountState::Kind::unmounting:
        return Localization::text(QStringLiteral("status.unmounting"), QStringLiteral("卸载中..."));
    case MountState::Kind::offline: return Localization::text(QStringLiteral("status.offline"), QStringLiteral("离线"));
    case MountState::Kind::failed: {
        const QString text = Localization::text(QStringLiteral("status.failed"), QStringLiteral("失败"));
        const std::optional<VantrelError> error = state.error();
        return error ? text + QStringLiteral(": ") + error->message() : text;
    }
    }
    return QString();
}

QString MenuBarController::escapedMenuText(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return escaped;
}

bool MenuBarController::hasUsableStatusItem() const
{
    return m_statusItem && m_statusItem->isVisible();
}

void MenuBarController::setupStatusItem()
{
    m_statusItem.reset();
    m_menu.reset();

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // The icon is still made: a tray that appears later shows it. Until then the main window
        // is the way in (a second launch brings it forward).
        VLOG_TO(m_log, warning, ui, QStringLiteral("System tray is not available; the main window stays the way in"));
    }

    m_statusItem = std::make_unique<QSystemTrayIcon>();
    m_statusItem->setToolTip(
        Localization::text(QStringLiteral("menubar.icon.accessibility"), QStringLiteral("Vantrel Status")));
    m_tint = color(m_appState.menuBarIconState());
    m_statusItem->setIcon(statusIcon(iconSymbol, m_tint));

    m_menu.reset(buildMenu());
    m_statusItem->setContextMenu(m_menu.get());
    // A plain click opens the menu too, as a status item does.
    connect(m_statusItem.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_menu)
            m_menu->popup(QCursor::pos());
    });
    m_statusItem->show();
}

void MenuBarController::subscribeToState()
{
    disconnect(m_stateSubscription);
    m_stateSubscription = connect(&m_appState, &AppStateManager::menuBarIconStateChanged, this,
        &MenuBarController::updateIcon);
    updateIcon(m_appState.menuBarIconState());
}

void MenuBarController::updateIcon(MenuBarIconState state)
{
    if (!m_statusItem)
        return;
    const QColor tint = color(state);
    if (tint == m_tint && !m_statusItem->icon().isNull())
        return;
    m_tint = tint;
    m_statusItem->setIcon(statusIcon(iconSymbol, m_tint));
}

QMenu* MenuBarController::buildMenu()
{
    auto* menu = new QMenu;
    menu->setToolTipsVisible(true);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { menuWillOpen(menu); });
    populate(menu);
    return menu;
}

void MenuBarController::menuWillOpen(QMenu* menu)
{
    menu->clear();
    populate(menu);
}

void MenuBarController::populate(QMenu* menu)
{
    addNASItems(menu);
    addRecentFilesMenu(menu);
    menu->addSeparator();
    addCommand(menu, textKey(QStringLiteral("menubar.mountAll")), QStringLiteral("立即挂载全部"),
        &MenuBarController::mountAll);
    addCommand(menu, textKey(QStringLiteral("menubar.unmountAll")), QStringLiteral("立即断开全部"),
        &MenuBarController::unmountAll);
    menu->addSeparator();
    addCommand(menu, textKey(QStringLiteral("menubar.openMainWindow")), QStringLiteral("打开主窗口"),
        &MenuBarController::openMainWindow);
    addCommand(menu, textKey(QStringLiteral("menubar.openSettings")), QStringLiteral("打开设置..."),
        &MenuBarController::openSettings)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    addCommand(menu, textKey(QStringLiteral("menubar.checkForUpdates")), QStringLiteral("检查更新..."),
        &MenuBarController::checkForUpdates);
    menu->addSeparator();
    addCommand(menu, textKey(QStringLiteral("menubar.about")), QStringLiteral("关于 Vantrel"),
        &MenuBarController::openAbout);
    menu->addSeparator();
    addCommand(menu, textKey(QStringLiteral("menubar.quit")), QStringLiteral("退出 Vantrel"), &MenuBarController::quit)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

QAction* MenuBarController::addCommand(QMenu* menu, const QString& key, const QString& defaultTitle,
    void (MenuBarController::*action)())
{
    QAction* item = menu->addAction(escapedMenuText(Localization::text(key, defaultTitle)));
    item->setObjectName(key);
    connect(item, &QAction::triggered, this, action);
    return item;
}

void MenuBarController::addNASItems(QMenu* menu)
{
    const QList<NASConfig>& configs = m_configStore.configs();
    if (configs.isEmpty()) {
        QAction* item = menu->addAction(
            escapedMenuText(Localization::text(QStringLiteral("menubar.noConfigs"), QStringLiteral("暂无 NAS 配置"))));
        item->setEnabled(false);
        return;
    }
    for (const NASConfig& config : configs) {
        const std::optional<NASStatus> status = m_appState.status(config.id);
        const MountState state = status ? status->mountState : MountState::idle();
        QAction* line = menu->addAction(escapedMenuText(
            statusMark(state) + QLatin1Char(' ') + config.name + QStringLiteral("  \u2014  ") + statusText(state)));
        line->setEnabled(false);
        if (state.is(MountState::Kind::mounted)) {
            QAction* browse = menu->addAction(escapedMenuText(
                Localization::text(QStringLiteral("menubar.browseFiles"), QStringLiteral("  浏览文件..."))));
            browse->setObjectName(QStringLiteral("menubar.browseFiles"));
            browse->setData(QVariant::fromValue(config.id));
            connect(browse, &QAction::triggered, this, [this, browse] { openFileBrowser(browse); });
        }
    }
}

void MenuBarController::addRecentFilesMenu(QMenu* menu)
{
    const QList<RecentFile> files = m_recentFiles.recentFiles();
    if (files.isEmpty())
        return;
    menu->addSeparator();
    QAction* header = menu->addAction(
        escapedMenuText(Localization::text(QStringLiteral("menubar.recentFiles"), QStringLiteral("最近文件"))));
    header->setEnabled(false);
    for (qsizetype i = 0; i < std::min<qsizetype>(files.size(), maxRecentFiles); ++i) {
        const RecentFile& file = files.at(i);
        QAction* item = menu->addAction(escapedMenuText(QStringLiteral("  ") + file.name));
        item->setData(QVariant::fromValue(file.url));
        item->setToolTip(file.url.path());
        connect(item, &QAction::triggered, this, [this, item] { openRecentFile(item); });
    }
}

void MenuBarController::handleSystemWake()
{
    QTimer::singleShot(timerMilliseconds(wakeCheckDelay), this, [this] {
        if (!hasUsableStatusItem())
            setupStatusItem();
    });
}

void MenuBarController::mountAll()
{
    if (m_actions.mountAll) {
        auto task = m_actions.mountAll();
        Q_UNUSED(task); // runs on by itself
    }
}

void MenuBarController::unmountAll()
{
    if (m_actions.unmountAll) {
        auto task = m_actions.unmountAll();
        Q_UNUSED(task);
    }
}

void MenuBarController::openMainWindow()
{
    // Created when it was closed or never opened: the menu is then the only way back to it.
    m_windows.open(VantrelApp::mainWindowID);
}

void MenuBarController::openSettings()
{
    // The one settings window of the application, also the one the main window opens.
    const bool existed = m_windows.find(VantrelApp::settingsWindowID) != nullptr;
    SceneWindow* window = m_windows.open(VantrelApp::settingsWindowID);
    if (window && !existed)
        centreOnScreen(window);
}

void MenuBarController::checkForUpdates()
{
    if (m_actions.checkForUpdates)
        m_actions.checkForUpdates();
}

void MenuBarController::openAbout()
{
    if (m_aboutWindow) {
        bringToFront(m_aboutWindow);
        return;
    }
    // The same window as the main window's about button shows: whichever opens first makes it.
    m_aboutWindow = AboutView::showWindow(Workspace::shared());
}

void MenuBarController::openFileBrowser(QAction* sender)
{
    if (!sender || sender->data().typeId() != QMetaType::QUuid)
        return;
    const QUuid id = sender->data().toUuid();
    const std::optional<NASConfig> config = m_configStore.config(id);
    if (!config)
        return;
    const std::optional<NASStatus> status = m_appState.status(id);
    if (!status || !status->mountPoint)
        return;
    // The share already shown only comes forward: rebuilding would lose its folder, its open
    // question and its drops under way.
    if (m_browserState.config() != config || m_browserState.mountPoint() != status->mountPoint)
        m_browserState.configure(*config, *status->mountPoint);
    // Created when it was never opened, so the choice is never lost.
    m_windows.open(VantrelApp::fileBrowserWindowID);
}

void MenuBarController::openRecentFile(QAction* sender)
{
    if (!sender || sender->data().typeId() != QMetaType::QUrl)
        return;
    if (m_actions.openUrl)
        m_actions.openUrl(sender->data().toUrl());
}

void MenuBarController::quit()
{
    if (m_actions.quit)
        m_actions.quit();
}

} // namespace vantrel
