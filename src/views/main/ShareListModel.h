#pragma once

#include "model/AppState.h"
#include "model/NASConfig.h"
#include "mounting/NetworkMonitor.h"
#include "views/widgets/RowMergingModel.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace vantrel {

class AppStateManager;
class NASConfigStore;

// The share list: one row per stored configuration, in the store's order, keyed by its id. Rows
// are inserted, removed and changed in place as the store and the statuses publish; a publish
// that changed nothing changes no row.
class ShareListModel final : public RowMergingModel<QAbstractListModel> {
    Q_OBJECT

public:
    enum Role {
        ConfigIDRole = Qt::UserRole + 1, // QUuid
        MountStateRole,                  // MountState: the status's, idle without one
        LinkRole,                        // QUrl of the mount point while mounted, else invalid
        LinkTextRole,                    // the mount point's own folder name
        AddressRole,
        BadgeVisibleRole, // bool: only enabled shares show a badge
        BadgeMatchedRole, // bool
        BadgeTextRole,
        BadgeSymbolRole,
    };

    // The network badge of an enabled share.
    struct Badge {
        bool matched = false;
        QString text;
        QString symbol;
        bool operator==(const Badge&) const = default;
    };
    static Badge badge(const NetworkMatchResult& result);
    // The mount point while the status says mounted and has one; none otherwise.
    static std::optional<QUrl> link(const std::optional<NASStatus>& status);
    static QString linkText(const QUrl& mountPoint);

    ShareListModel(NASConfigStore& configStore, AppStateManager& appState, NetworkMonitor& network,
        QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // -1 for an id no row has.
    int row(const QUuid& configID) const;
    QUuid configID(int row) const;
    bool hasMountingRow() const;

    // Changed on every published address or Wi-Fi name, repeats included; every badge is then
    // evaluated afresh.
    QUuid networkRefreshID() const { return m_networkRefreshID; }
    void refreshNetwork();

signals:
    void networkRefreshed(const QUuid& networkRefreshID);

private:
    void syncConfigs();
    void syncStatuses();
    std::optional<NASStatus> status(const QUuid& configID) const;
    void emitRowChanged(int row);

    NASConfigStore& m_configStore;
    AppStateManager& m_appState;
    NetworkMonitor& m_network;
    QList<NASConfig> m_configs;
    QHash<QUuid, NASStatus> m_statuses;
    QUuid m_networkRefreshID = QUuid::createUuid();
};

} // namespace vantrel
