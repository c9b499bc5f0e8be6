#include "views/main/ShareListModel.h"

#include "mounting/AppStateManager.h"
#include "mounting/NASConfigStore.h"
#include "platform/Localization.h"
#include "views/main/StatusIndicator.h"

namespace vantrel {

ShareListModel::Badge ShareListModel::badge(const NetworkMatchResult& result)
{
    if (result.matched) {
        return {true, Localization::text(QStringLiteral("network.status.matched"), QStringLiteral("Network matched")),
            QStringLiteral("checkmark.circle.fill")};
    }
    const QString ipMismatch = Localization::text(QStringLiteral("network.status.ipMismatch"),
        QStringLiteral("IP mismatch"));
    const QString ssidMismatch = Localization::text(QStringLiteral("network.status.ssidMismatch"),
        QStringLiteral("SSID mismatch"));
    QString text;
    switch (result.strategy) {
    case NetworkBindingStrategy::ipRange: text = ipMismatch; break;
    case NetworkBindingStrategy::ssid: text = ssidMismatch; break;
    case NetworkBindingStrategy::combined:
        if (result.ipMatched)
            text = ssidMismatch;
        else if (result.ssidMatched)
            text = ipMismatch;
        else
            text = Localization::text(QStringLiteral("network.status.allMismatch"), QStringLiteral("Network mismatch"));
        break;
    }
    return {false, text, QStringLiteral("exclamationmark.triangle.fill")};
}

std::optional<QUrl> ShareListModel::link(const std::optional<NASStatus>& status)
{
    if (!status || !status->mountPoint || !status->mountState.is(MountState::Kind::mounted))
        return std::nullopt;
    return status->mountPoint;
}

QString ShareListModel::linkText(const QUrl& mountPoint)
{
    const QString name = mountPoint.adjusted(QUrl::StripTrailingSlash).fileName();
    // The root folder has no name of its own.
    return name.isEmpty() ? mountPoint.toLocalFile() : name;
}

ShareListModel::ShareListModel(NASConfigStore& configStore, AppStateManager& appState, NetworkMonitor& network,
    QObject* parent)
    : RowMergingModel(parent)
    , m_configStore(configStore)
    , m_appState(appState)
    , m_network(network)
    , m_configs(configStore.configs())
    , m_statuses(appState.nasStatuses())
{
    connect(&m_configStore, &NASConfigStore::configsChanged, this, &ShareListModel::syncConfigs);
    connect(&m_appState, &AppStateManager::nasStatusesChanged, this, &ShareListModel::syncStatuses);
}

int ShareListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_configs.size());
}

std::optional<NASStatus> ShareListModel::status(const QUuid& configID) const
{
    const auto it = m_statuses.constFind(configID);
    return it == m_statuses.constEnd() ? std::nullopt : std::optional<NASStatus>(*it);
}

QVariant ShareListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_configs.size())
        return {};
    const NASConfig& config = m_configs.at(index.row());
    const std::optional<NASStatus> current = status(config.id);
    const MountState state = current ? current->mountState : MountState::idle();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return config.name;
    case Qt::AccessibleDescriptionRole: {
        // What the row shows besides the name, in its order: the dot, the second line, the badge.
        QStringList parts{StatusIndicator::accessibilityText(state)};
        if (const auto url = link(current)) {
            parts << Localization::textFormat(QStringLiteral("main.mountPointLink"), QStringLiteral("Mount point %@"),
                {linkText(*url)});
        } else if (!config.address.isEmpty()) {
            parts << config.address;
        }
        if (config.isEnabled)
            parts << badge(m_network.matchDetails(config)).text;
        return parts.join(QStringLiteral(", "));
    }
    case Qt::ToolTipRole: return config.name.isEmpty() ? QVariant() : QVariant(config.name);
    case ConfigIDRole: return config.id;
    case MountStateRole: return QVariant::fromValue(state);
    case LinkRole:
        if (const auto url = link(current))
            return *url;
        return QUrl();
    case LinkTextRole:
        if (const auto url = link(current))
            return linkText(*url);
        return QString();
    case AddressRole: return config.address;
    case BadgeVisibleRole: return config.isEnabled;
    case BadgeMatchedRole:
    case BadgeTextRole:
    case BadgeSymbolRole: {
        if (!config.isEnabled)
            return {};
        const Badge shown = badge(m_network.matchDetails(config));
        if (role == BadgeMatchedRole)
            return shown.matched;
        return role == BadgeTextRole ? shown.text : shown.symbol;
    }
    default: return {};
    }
}

int ShareListModel::row(const QUuid& configID) const
{
    for (qsizetype i = 0; i < m_configs.size(); ++i) {
        if (m_configs.at(i).id == configID)
            return int(i);
    }
    return -1;
}

QUuid ShareListModel::configID(int row) const
{
    return row >= 0 && row < m_configs.size() ? m_configs.at(row).id : QUuid();
}

bool ShareListModel::hasMountingRow() const
{
    for (const NASConfig& config : m_configs) {
        const std::optional<NASStatus> current = status(config.id);
        if (current && current->mountState.is(MountState::Kind::mounting))
            return true;
    }
    return false;
}

void ShareListModel::refreshNetwork()
{
    m_networkRefreshID = QUuid::createUuid();
    if (!m_configs.isEmpty())
        emit dataChanged(index(0), index(int(m_configs.size()) - 1),
            {BadgeMatchedRole, BadgeTextRole, BadgeSymbolRole, Qt::AccessibleDescriptionRole});
    emit networkRefreshed(m_networkRefreshID);
}

void ShareListModel::emitRowChanged(int row)
{
    emit dataChanged(index(row), index(row));
}

void ShareListModel::syncConfigs()
{
    mergeRows(m_configs, m_configStore.configs(), [](const NASConfig& config) { return config.id; });
}

void ShareListModel::syncStatuses()
{
    const QHash<QUuid, NASStatus> next = m_appState.nasStatuses();
    const QHash<QUuid, NASStatus> previous = std::exchange(m_statuses, next);
    for (qsizetype i = 0; i < m_configs.size(); ++i) {
        const QUuid id = m_configs.at(i).id;
        const auto before = previous.constFind(id);
        const auto after = next.constFind(id);
        const bool hadBefore = before != previous.constEnd();
        const bool hasAfter = after != next.constEnd();
        if (hadBefore != hasAfter || (hadBefore && !(*before == *after)))
            emitRowChanged(int(i));
    }
}

} // namespace vantrel
