#pragma once

#include "model/AppState.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QUuid>

#include <functional>
#include <optional>

namespace vantrel {

using NASStatusMap = QHash<QUuid, NASStatus>;

// The live status of every configuration and the two roll-ups computed from them. Main thread only.
class AppStateManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(vantrel::AppState appState READ appState NOTIFY appStateChanged)
    Q_PROPERTY(vantrel::NASStatusMap nasStatuses READ nasStatuses NOTIFY nasStatusesChanged)
    Q_PROPERTY(vantrel::MenuBarIconState menuBarIconState READ menuBarIconState NOTIFY menuBarIconStateChanged)

public:
    explicit AppStateManager(QObject* parent = nullptr);
    static AppStateManager& shared();

    AppState appState() const { return m_appState; }
    MenuBarIconState menuBarIconState() const { return m_menuBarIconState; }
    const QHash<QUuid, NASStatus>& nasStatuses() const { return m_nasStatuses; }
    std::optional<NASStatus> status(const QUuid& configID) const;

    // Where "now" comes from when a share is recorded as mounted (UTC by default).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    void updateStatus(const QUuid& configID, const MountState& state,
        const std::optional<QUrl>& mountPoint = std::nullopt);
    void ensureStatus(const QUuid& configID);
    void removeStatus(const QUuid& configID);

    // Pure roll-up rules, usable without an instance.
    static AppState computeAppState(const QHash<QUuid, NASStatus>& statuses);
    static MenuBarIconState computeMenuBarIconState(const QHash<QUuid, NASStatus>& statuses);

signals:
    // Emitted after each assignment, the value unchanged included; one operation emits all three,
    // in this order.
    void nasStatusesChanged();
    void appStateChanged(const vantrel::AppState& state);
    void menuBarIconStateChanged(vantrel::MenuBarIconState state);

private:
    void recompute();

    AppState m_appState = AppState::unconfigured();
    QHash<QUuid, NASStatus> m_nasStatuses;
    MenuBarIconState m_menuBarIconState = MenuBarIconState::idle;
    std::function<QDateTime()> m_clock = &QDateTime::currentDateTimeUtc;
};

} // namespace vantrel
