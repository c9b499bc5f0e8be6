#pragma once

#include "model/AppState.h"
#include "model/NASConfig.h"
#include "views/main/MainDetailColumn.h"
#include "views/main/ShareListSidebar.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QListView;
class QMenu;
class QSplitter;
class QToolBar;

namespace vantrel {

class AppStateManager;
class KeychainManager;
class MainWindowToolbar;
class MountControl;
class MountEngine;
class NASConfigStore;
class NetworkMonitor;
class ShareListModel;
class StatusPulse;
class Workspace;

// The content of the main window: a toolbar (about, settings, add a share) over a split view of
// the share list and the detail column. The detail column shows the selected share's editor, or
// else a card for each mounted share, or else a placeholder. The window holds the selection and
// decides the detail; its parts only show and report.
class MainWindowView final : public QWidget {
    Q_OBJECT

public:
    // Opens (or brings forward) the application's window with the given identifier.
    using OpenWindowAction = std::function<void(const QString& identifier)>;
    // What the view calls besides the store and the statuses; null members take the shared ones.
    struct Services {
        NetworkMonitor* network = nullptr;
        Workspace* workspace = nullptr;
        MountControl* mounts = nullptr;
        MountEngine* engine = nullptr;       // the editor's connection test
        KeychainManager* keychain = nullptr; // the editor's passwords
    };
    // The detail column's content for a selected share, built afresh whenever the selection
    // changes; view.clearSelection() is its close action.
    using EditorFactory = std::function<QWidget*(MainWindowView& view, const NASConfig& config)>;

    using MountedEntry = MainDetailColumn::MountedEntry;

    static constexpr int minimumContentWidth = 500;
    static constexpr int minimumContentHeight = 400;
    static constexpr int sidebarIdealWidth = 220;
    static inline const QString settingsWindowID = QStringLiteral("settings");

    MainWindowView(AppStateManager& appState, NASConfigStore& configStore, OpenWindowAction openWindow,
        QWidget* parent = nullptr);
    MainWindowView(AppStateManager& appState, NASConfigStore& configStore, OpenWindowAction openWindow,
        Services services, QWidget* parent = nullptr);
    ~MainWindowView() override;

    AppStateManager& appState() const { return m_appState; }
    NASConfigStore& configStore() const { return m_configStore; }
    NetworkMonitor& network() const { return m_network; }
    Workspace& workspace() const { return m_workspace; }
    // Resolved on first use, so a view that never mounts never creates the shared strategy.
    MountControl& mounts();
    MountEngine& engine();
    KeychainManager& keychain();

    std::optional<QUuid> selectedConfigID() const { return m_selectedConfigID; }
    void setSelectedConfigID(const std::optional<QUuid>& configID);
    void clearSelection() { setSelectedConfigID(std::nullopt); }
    QUuid networkRefreshID() const;

    // The toolbar's actions.
    void showAbout();
    void openSettings();
    void addNAS();
    // The blank share that addNAS() stores.
    static NASConfig newConfig();

    // Opens a mount point in the file manager; nothing is reported back.
    void openInFinder(const QUrl& mountPoint);
    // The row's context-menu action: deletes without asking, and clears the selection when it
    // was this share.
    void deleteConfig(const QUuid& configID);
    // The context menu of a row, owned by the caller.
    QMenu* makeContextMenu(const QUuid& configID, QWidget* parent = nullptr);

    // The stored shares that are mounted now (with a mount point), in list order.
    QList<MountedEntry> mountedEntries() const;

    // The fixed minimum, or more where the editor needs it (a longer translation): nothing
    // is cut off at the side.
    QSize minimumSizeHint() const override;

    void setEditorFactory(EditorFactory factory);
    // The share editor on the view's services; its close action clears the selection.
    static QWidget* makeEditor(MainWindowView& view, const NASConfig& config);

    // Parts that tests and the screenshot tool read.
    ShareListModel* shareModel() const { return m_sidebar->model(); }
    QListView* shareList() const { return m_sidebar->list(); }
    QWidget* emptyHint() const { return m_sidebar->emptyHint(); }
    QSplitter* splitter() const { return m_splitter; }
    QToolBar* toolbar() const;
    // The page the detail column shows: the editor, the mounted folders or the placeholder.
    QWidget* currentDetail() const { return m_detail->currentDetail(); }
    QWidget* editor() const { return m_detail->editor(); }
    QWidget* mountedFoldersPage() const { return m_detail->mountedFoldersPage(); }
    QWidget* detailPlaceholder() const { return m_detail->placeholder(); }
    StatusPulse& pulse() const { return m_sidebar->pulse(); }

signals:
    void selectedConfigIDChanged(const std::optional<QUuid>& configID);

private:
    void pick(const std::optional<QUuid>& configID);
    void updateDetail();

    AppStateManager& m_appState;
    NASConfigStore& m_configStore;
    OpenWindowAction m_openWindow;
    NetworkMonitor& m_network;
    Workspace& m_workspace;
    MountControl* m_mounts;
    MountEngine* m_engine;
    KeychainManager* m_keychain;
    EditorFactory m_editorFactory;

    std::optional<QUuid> m_selectedConfigID;

    MainWindowToolbar* m_toolbar = nullptr;
    QSplitter* m_splitter = nullptr;
    ShareListSidebar* m_sidebar = nullptr;
    MainDetailColumn* m_detail = nullptr;
};

} // namespace vantrel
