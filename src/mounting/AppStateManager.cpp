#include "mounting/AppStateManager.h"

#include <algorithm>

namespace vantrel {

AppStateManager::AppStateManager(QObject* parent)
    : QObject(parent)
{
    registerModelMetaTypes();
}

AppStateManager& AppStateManager::shared()
{
    static AppStateManager* instance = new AppStateManager;
    return *instance;
}

std::optional<NASStatus> AppStateManager::status(const QUuid& configID) const
{
    const auto it = m_nasStatuses.constFind(configID);
    if (it == m_nasStatuses.constEnd())
        return std::nullopt;
    return it.value();
}

void AppStateManager::updateStatus(const QUuid& configID, const MountState& state,
    const std::optional<QUrl>& mountPoint)
{
    NASStatus status = m_nasStatuses.value(configID, NASStatus(configID));
    status.mountState = state;
    switch (state.kind()) {
    case MountState::Kind::mounted:
        status.lastMountedAt = m_clock();
        status.mountPoint = mountPoint;
        break;
    case MountState::Kind::failed:
        status.lastError = state.error();
        status.mountPoint.reset();
        break;
    case MountState::Kind::idle:
    case MountState::Kind::mounting:
    case MountState::Kind::unmounting:
    case MountState::Kind::offline: status.mountPoint.reset(); break;
    }
    m_nasStatuses.insert(configID, status);
    emit nasStatusesChanged();
    recompute();
}

void AppStateManager::ensureStatus(const QUuid& configID)
{
    if (!m_nasStatuses.contains(configID)) {
        m_nasStatuses.insert(configID, NASStatus(configID));
        emit nasStatusesChanged();
    }
    recompute();
}

void AppStateManager::removeStatus(const QUuid& configID)
{
    // A removal is an in-place change of the map even when the id had no status: observers hear of it.
    m_nasStatuses.remove(configID);
    emit nasStatusesChanged();
    recompute();
}

void AppStateManager::recompute()
{
    m_appState = computeAppState(m_nasStatuses);
    emit appStateChanged(m_appState);
    m_menuBarIconState = computeMenuBarIconState(m_nasStatuses);
    emit menuBarIconStateChanged(m_menuBarIconState);
}

namespace {

using Kind = MountState::Kind;

qsizetype countOf(const NASStatusMap& statuses, std::initializer_list<Kind> kinds)
{
    return std::count_if(statuses.cbegin(), statuses.cend(), [&kinds](const NASStatus& s) {
        return std::find(kinds.begin(), kinds.end(), s.mountState.kind()) != kinds.end();
    });
}

} // namespace

AppState AppStateManager::computeAppState(const NASStatusMap& statuses)
{
    if (statuses.isEmpty())
        return AppState::unconfigured();
    if (countOf(statuses, {Kind::mounting, Kind::unmounting}) > 0)
        return AppState::operating();
    if (countOf(statuses, {Kind::mounted}) > 0)
        return AppState::active();
    if (countOf(statuses, {Kind::idle, Kind::offline}) > 0)
        return AppState::idle();
    return AppState::error(GlobalError::allMountsFailed);
}

MenuBarIconState AppStateManager::computeMenuBarIconState(const NASStatusMap& statuses)
{
    const qsizetype n = statuses.size();
    if (n == 0)
        return MenuBarIconState::idle;
    if (countOf(statuses, {Kind::mounting, Kind::unmounting}) > 0)
        return MenuBarIconState::mounting;
    if (countOf(statuses, {Kind::offline}) == n)
        return MenuBarIconState::offline;
    const qsizetype mounted = countOf(statuses, {Kind::mounted});
    if (mounted == n)
        return MenuBarIconState::allMounted;
    if (countOf(statuses, {Kind::failed}) == n)
        return MenuBarIconState::allFailed;
    if (mounted == 0)
        return MenuBarIconState::idle;
    return MenuBarIconState::partiallyMounted;
}

} // namespace vantrel
