#pragma once

#include "model/AppState.h"
#include "model/NASConfig.h"
#include "platform/Threading.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>

namespace vantrel {

class AppStateManager;
class Defaults;
class MountEngine;
class NASConfigStore;

// The keep-alive: every interval a pass tests whether each enabled share recorded as mounted still
// is, and hands the ones found gone to the owner, after releasing what is left of their mount (a
// mount whose process died stays in the mount table, and the next mount needs its folder back).
// A share mounted by vantrel-smbfs is asked over its process's control socket, never through the
// share's lane: its server going away is the process's business (the share shows offline, the
// mount stays), and only a mount whose process is gone is released. A share's test that is still running (a mount
// that hangs) is not started again, so it holds one thread however long it takes, and tests of
// other shares never wait for it. Runs on the main thread.
class MountKeepAlive final : public QObject {
    Q_OBJECT

public:
    static inline const QString enabledKey = QStringLiteral("keepAliveEnabled");
    static inline const QString intervalKey = QStringLiteral("keepAliveInterval");

    // Told, on the main thread, of a share recorded as mounted whose mount point no longer holds
    // a network file system; the configuration is still in the store then.
    using VanishedHandler = std::function<void(const NASConfig& config)>;

    // Told, on the main thread, what a share's vantrel-smbfs process says of its server at each
    // test: online, or offline while the server does not answer (the mount stays).
    using ConnectionHandler = std::function<void(const NASConfig& config, bool online)>;

    MountKeepAlive(NASConfigStore& store, AppStateManager& appState, MountEngine& engine, Defaults& defaults,
        VanishedHandler vanished, QObject* parent = nullptr);

    void setConnectionHandler(ConnectionHandler handler) { m_connection = std::move(handler); }

    // Times in seconds; adjustable so tests can shorten them.
    double defaultInterval = 180.0;
    double minimumInterval = 1.0;
    // The limit of each tool run that releases a share found gone.
    double releaseTimeLimit = 5.0;

    // Unless switched off: a pass now, then one every interval, as the settings read now.
    void start();
    void stop();
    bool isRunning() const { return m_timer.isActive(); }
    std::chrono::milliseconds timerInterval() const { return m_timer.interval(); }

    // One pass: tests the mounted shares all at once, skipping any whose test from an earlier
    // pass still runs.
    QCoro::Task<> performPass();
    // One share's test, unless one still runs.
    QCoro::Task<> check(NASConfig config);
    bool isChecking() const { return !m_checksInFlight.isEmpty(); }
    // A mount found standing whose process says its server is away: tested, shown offline, until
    // the server answers again.
    void noteServerAway(const QUuid& configID) { m_serversAway.insert(configID); }

    // The settings as read now; a missing or unusable value reads as the default.
    bool isEnabled() const;
    double interval() const;

    // A share in this status is tested: mounted, or offline while its vantrel-smbfs process waits
    // for the server with the mount still standing.
    bool isTested(const NASStatus& status) const;

private:
    QCoro::Task<> testMount(NASConfig config);
    // True when the share's vantrel-smbfs process answered or still runs: the test is over.
    QCoro::Task<bool> askSmbfs(NASConfig config, QString path);

    NASConfigStore& m_store;
    AppStateManager& m_appState;
    MountEngine& m_engine;
    Defaults& m_defaults;
    VanishedHandler m_vanished;
    ConnectionHandler m_connection;
    QSet<QUuid> m_checksInFlight;
    // Shares whose process last said its server does not answer.
    QSet<QUuid> m_serversAway;
    ScheduledCall m_timer{this};
};

} // namespace vantrel
