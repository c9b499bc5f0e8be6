#pragma once

#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <optional>

class QListView;
class QMenu;

namespace vantrel {

class AppStateManager;
class NASConfigStore;
class NetworkMonitor;
class ShareListModel;
class StatusPulse;

// The main window's list column: a row per stored share (status dot, name, second line, network
// badge) under its header, and a hint over the list while there is none. The rows follow the
// store, the statuses and every published address or Wi-Fi name; the dots of mounting shares
// pulse. The selection is the window's: the column reports the user's picks and shows the
// window's choice.
class ShareListSidebar final : public QWidget {
    Q_OBJECT

public:
    static constexpr int minimumListWidth = 180;

    ShareListSidebar(NASConfigStore& configStore, AppStateManager& appState, NetworkMonitor& network,
        QWidget* parent = nullptr);

    // Selects the share's row (none clears the selection) without reporting it as a pick.
    void select(const std::optional<QUuid>& configID);
    // The context menu of a row, owned by the caller.
    QMenu* makeContextMenu(const QUuid& configID, QWidget* parent = nullptr);

    ShareListModel* model() const { return m_model; }
    QListView* list() const { return m_list; }
    QWidget* emptyHint() const { return m_emptyHint; }
    StatusPulse& pulse() const { return *m_pulse; }

signals:
    // The user picked a row, or left none selected.
    void picked(const std::optional<QUuid>& configID);
    void deleteRequested(const QUuid& configID);
    // A mounted row's link was clicked.
    void linkActivated(const QUrl& mountPoint);

private:
    void reportPick();
    void updateEmptyHint();
    void updatePulse();

    NASConfigStore& m_configStore;
    bool m_selecting = false;
    StatusPulse* m_pulse;
    ShareListModel* m_model;
    QListView* m_list;
    QWidget* m_emptyHint;
};

} // namespace vantrel
