#pragma once

#include "model/AppState.h"

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace vantrel {

class AppStateManager;
class FileBrowserState;
class LanguageManager;
class LogManager;
class NASConfigStore;
class RecentFilesTracker;
class WindowRegistry;

// The application's icon in the system tray: tinted by the overall mount state, with a menu of
// every share and its status, the recent files, mount-all and unmount-all, and the windows. The
// menu is rebuilt each time it opens, so it shows the statuses of that moment. Main thread only.
class MenuBarController final : public QObject {
    Q_OBJECT

public:
    // What the menu's commands do beyond this controller; tests record them instead.
    struct Actions {
        std::function<QCoro::Task<>()> mountAll;
        std::function<QCoro::Task<>()> unmountAll;
        std::function<void()> checkForUpdates;
        std::function<void(const QUrl&)> openUrl;
        std::function<void()> quit;
    };
    // The shared mounting strategy and update check, the desktop's default applications, and
    // quitting the application.
    static Actions productActions();

    static inline const QString iconSymbol = QStringLiteral("externaldrive.connected.to.line.below");
    static constexpr int iconSize = 64;
    static constexpr int maxRecentFiles = 5;

    MenuBarController(AppStateManager& appState, NASConfigStore& configStore, RecentFilesTracker& recentFiles,
        FileBrowserState& browserState, LanguageManager& languageManager, WindowRegistry& windows, LogManager& log,
        Actions actions, QObject* parent = nullptr);
    ~MenuBarController() override;

    // Seconds after a wake before the tray icon is checked; tests shorten it.
    double wakeCheckDelay = 1.0;

    QSystemTrayIcon* statusItem() const { return m_statusItem.get(); }
    QMenu* menu() const { return m_menu.get(); }
    QWidget* aboutWindow() const { return m_aboutWindow.data(); }
    QWidget* settingsWindow() const;
    // The tint the tray icon was last drawn with.
    QColor currentTint() const { return m_tint; }
    // False when the icon is missing or was never shown.
    bool hasUsableStatusItem() const;

    // (Re)creates the tray icon with its menu.
    void setupStatusItem();
    // Follows the overall state from now on, the current value first.
    void subscribeToState();
    // A new menu holding the complete current menu; the caller owns it.
    QMenu* buildMenu();
    // Replaces the opening menu's items with freshly built ones.
    void menuWillOpen(QMenu* menu);
    void handleSystemWake();

    static QColor color(MenuBarIconState state);
    // The symbol tinted for the tray; the application's icon where the symbol has no drawing.
    static QIcon statusIcon(const QString& symbolName, const QColor& tint);
    static QString statusMark(const MountState& state);
    static QString statusText(const MountState& state);
    // A text as a menu shows it literally ("&" would otherwise mark a mnemonic).
    static QString escapedMenuText(const QString& text);

    void mountAll();
    void unmountAll();
    void openMainWindow();
    void openSettings();
    void checkForUpdates();
    void openAbout();
    void openFileBrowser(QAction* sender);
    void openRecentFile(QAction* sender);
    void quit();

private:
    void updateIcon(MenuBarIconState state);
    void populate(QMenu* menu);
    void addNASItems(QMenu* menu);
    void addRecentFilesMenu(QMenu* menu);
    QAction* addCommand(QMenu* menu, const QString& key, const QString& defaultTitle,
        void (MenuBarController::*action)());

    AppStateManager& m_appState;
    NASConfigStore& m_configStore;
    RecentFilesTracker& m_recentFiles;
    FileBrowserState& m_browserState;
    LanguageManager& m_languageManager;
    WindowRegistry& m_windows;
    LogManager& m_log;
    Actions m_actions;

    std::unique_ptr<QSystemTrayIcon> m_statusItem;
    std::unique_ptr<QMenu> m_menu;
    QPointer<QWidget> m_aboutWindow;
    QColor m_tint;
    QMetaObject::Connection m_stateSubscription;
};

} // namespace vantrel
