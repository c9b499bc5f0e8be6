#pragma once

#include "app/WindowRegistry.h"

#include <QObject>

#include <memory>

namespace vantrel {

class AppDelegate;
class AppStateManager;
class Defaults;
class FileBrowserState;
class FileBrowserView;
class LanguageManager;
class NASConfigStore;
class SingleInstance;

// The application: the shared objects its windows observe, its four windows and its delegate.
// Closing the last window does not end it; the tray icon stays.
class VantrelApp final : public QObject {
    Q_OBJECT

public:
    static inline const QString mainWindowID = QStringLiteral("main");
    static inline const QString fileBrowserWindowID = QStringLiteral("file-browser");
    static inline const QString aboutWindowID = QStringLiteral("about");
    static inline const QString settingsWindowID = QStringLiteral("settings");

    // The windows' frames are remembered in `defaults`.
    VantrelApp(AppStateManager& appState, NASConfigStore& configStore, FileBrowserState& fileBrowserState,
        LanguageManager& languageManager, Defaults& defaults, QObject* parent = nullptr);
    ~VantrelApp() override;

    // The settings and about windows; the tray menu makes windows of both kinds of its own, with
    // the same title, size and content.
    static WindowRegistry::Scene settingsScene(AppStateManager& appState, NASConfigStore& configStore,
        LanguageManager& languageManager);
    static WindowRegistry::Scene aboutScene();

    WindowRegistry& windows() { return m_windows; }

    // Installs the product's delegate, finishes launching, opens the main window and runs the
    // event loop until the application quits; returns the exit code.
    int exec();

    // The content of the file browser window for the current browser state.
    QWidget* makeFileBrowserContent();

private:
    // Takes over the transfer queue of the content it replaces, when that was a browser too.
    QWidget* makeFileBrowserContent(FileBrowserView* previous);
    void declareWindows();
    void scheduleFileBrowserRebuild();
    void rebuildFileBrowser();
    void followBrowsedShare();

    AppStateManager& m_appState;
    NASConfigStore& m_configStore;
    FileBrowserState& m_fileBrowserState;
    LanguageManager& m_languageManager;
    WindowRegistry m_windows;
    std::unique_ptr<SingleInstance> m_singleInstance;
    std::unique_ptr<AppDelegate> m_delegate;
    bool m_browserRebuildPending = false;
    // Whether the browsed share was mounted at the last status change, so that the browser hears of
    // each mount once.
    bool m_browsedShareMounted = true;
};

// The file browser window's content while no mounted share has been chosen.
QWidget* makeFileBrowserPlaceholder();

} // namespace vantrel
