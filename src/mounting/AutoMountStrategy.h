#pragma once

#include "model/AppState.h"
#include "model/NASConfig.h"
#include "mounting/MountControl.h"
#include "mounting/MountKeepAlive.h"
#include "mounting/MountSchedule.h"
#include "platform/Threading.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

class AppStateManager;
class Defaults;
class MountEngine;
class NASConfigStore;
class NetworkMonitor;
class NotificationService;
class PowerEvents;

// Decides when shares are mounted and unmounted without the user asking: at launch, after network
// changes (debounced), after wake, when the keep-alive finds a share gone, and on demand. Every mount and unmount
// of the program goes through performMount / performUnmount, which record each state change and
// post the notifications; a failed mount is retried on a growing back-off.
//
// Everything runs on the main thread: the operations are coroutines whose child processes run
// asynchronously, so no worker thread is needed.
class AutoMountStrategy final : public QObject, public MountControl {
    Q_OBJECT

public:
    static inline const QString autoMountOnLaunchKey = QStringLiteral("autoMountOnLaunch");

    AutoMountStrategy(NASConfigStore& store, AppStateManager& appState, NetworkMonitor& network, MountEngine& engine,
        NotificationService& notifications, Defaults& defaults, PowerEvents& power, QObject* parent = nullptr);
    ~AutoMountStrategy() override;
    static AutoMountStrategy& shared(); // built on the shared collaborators

    // Times in seconds; adjustable so tests can shorten them.
    double debounceDelay = 2.0;
    double scheduledMountDelay = 5.0;
    QList<double> retryIntervals{10.0, 30.0, 60.0, 300.0};
    double launchMountDelay = 2.0;
    double wakeEvaluationDelay = 2.0;
    // The limit of each tool run and each wait for a process to end while quitting: five of them
    // at most, one after the other, stay within the quit's own time cap.
    double quitToolTimeLimit = 0.75;
    // How many mounts one turn of the event loop starts; with many shares due at once the rest
    // follow in the next turns, so the interface stays responsive.
    int mountsStartedPerTurn = 10;

    // Installs the network and sleep/wake triggers and the keep-alive check, and schedules the
    // launch mount unless "autoMountOnLaunch" is stored as false.
    void start();
    // For good: no trigger, keep-alive, delayed mount or retry starts a mount any more, and a mount
    // under way is undone when it ends. Quitting calls it before unmounting everything.
    void stop();

    // Quitting: stops everything (see stop), ends the tools still running and leaves nothing
    // mounted at any configuration's mount point, whatever its state: mounted, still mounting,
    // dead, or busy (then it is detached lazily once the polite unmount fails).
    QCoro::Task<> shutDown();

    // None of these reports an error: outcomes end in the share's status.
    QCoro::Task<> mountAll();
    QCoro::Task<> unmountAll();
    QCoro::Task<> mount(QUuid configID) override;
    QCoro::Task<> unmount(QUuid configID) override;
    QCoro::Task<bool> holdsMount(QUuid configID) override;

    void scheduleEvaluation();
    QCoro::Task<> evaluate();
    void scheduleMount(const NASConfig& config);

    QCoro::Task<> performMount(NASConfig config);
    // The share is `unmounting` while the tool runs. A request for a share whose unmount is under
    // way starts no second one: it ends when that one has recorded its outcome.
    QCoro::Task<> performUnmount(NASConfig config);
    void scheduleRetry(const NASConfig& config);
    void cancelRetry(const QUuid& configID) override;
    void cancelAllRetries();

    void handleSystemWake();
    void handleSystemSleep();
    MountKeepAlive& keepAlive() { return m_keepAlive; }

    // Inspection of the pending work, for diagnostics and tests.
    std::optional<qint64> retryCount(const QUuid& configID) const;
    std::optional<std::chrono::milliseconds> retryTimerInterval(const QUuid& configID) const;
    int pendingMountCount(const QUuid& configID) const;
    bool isMountInFlight(const QUuid& configID) const { return m_mountsInFlight.contains(configID); }
    // A mount, unmount or check started here has not ended: the engine is still in use.
    bool hasOperationsUnderWay() const { return m_operations.use_count() > 1 || m_keepAlive.isChecking(); }

signals:
    // A mount started by performMount has ended, whatever its outcome.
    void mountEnded(const QUuid& configID);

private:
    // onlyHeld: only a mount the engine holds is let go.
    QCoro::Task<> performUnmount(NASConfig config, bool onlyHeld);
    void setupNetworkObserver();
    void setupSleepWakeObservers();
    void handleRetryRequest(const QString& nasName);
    void handleConfigRemoved(const QUuid& configID);
    void fireRetry(const QUuid& configID);
    // Runs the start of a mount in a later turn, at most mountsStartedPerTurn per turn.
    void startInTurn(std::function<void()> start);
    void startQueuedMounts();
    void retryNow(const QUuid& configID);
    bool isInStore(const QUuid& configID) const;
    // A share the keep-alive found gone is marked offline and, when its network is up, mounted
    // again after the usual delay.
    void recoverVanishedMount(const NASConfig& config);
    // What a share's vantrel-smbfs process says of its server: offline (one notification, the
    // mount stays) or mounted again.
    void handleServerConnection(const NASConfig& config, bool online);
    void showServerAway(const NASConfig& config);
    // Unmounts a share mounted for a configuration that is gone; kept for unmountAll on failure.
    QCoro::Task<> releaseOwnerlessMount(QUrl mountPoint);
    // What a copy that died left behind is taken over beside the launch mount.
    QCoro::Task<> launchMount(bool mount);
    QCoro::Task<> takeOverLeftovers(QStringList ownFolders);
    // Another configuration of the same SMB share is mounted or being mounted: the share is
    // taken, and only an explicit request moves it over.
    bool shareHeldByOther(const NASConfig& config) const;
    // Both SMB configurations (different ones) of one share (MountEngine::sameShare).
    bool sameShare(const NASConfig& a, const NASConfig& b) const;
    const QString& shareKeyOf(const NASConfig& config) const;
    // The chosen configuration of a share failed (a stale password, say): the next one of the same
    // share in the list that has not failed yet may mount it.
    void offerShareToNext(const NASConfig& failed);
    // The other configuration of the same SMB share whose mount is under way, if any.
    std::optional<QUuid> otherMountOfShareInFlight(const NASConfig& config) const;

    struct ShareKey {
        QString source;
        QString key;
    };
    mutable QHash<QUuid, ShareKey> m_shareKeys;

    NASConfigStore& m_store;
    AppStateManager& m_appState;
    NetworkMonitor& m_network;
    MountEngine& m_engine;
    NotificationService& m_notifications;
    Defaults& m_defaults;
    PowerEvents& m_power;

    MountSchedule m_schedule{this}; // delayed mounts and retries
    MountKeepAlive m_keepAlive;
    QSet<QUuid> m_mountsInFlight;
    // Ends when the share's running unmount has recorded its outcome; later requests wait on it.
    QHash<QUuid, QFuture<void>> m_unmountsInFlight;
    // Mounts waiting for another configuration's mount of the same share to end, by that one's id.
    QHash<QUuid, int> m_mountsWaitingBehind;
    // The launch mount has yet to run: it reads the network itself, so announcements before it
    // (the monitor's first values among them) start no evaluation of their own.
    bool m_launchMountPending = false;
    std::deque<std::function<void()>> m_mountStarts;
    bool m_mountStartsScheduled = false;
    QSet<QUrl> m_ownerlessMounts;
    // Each running operation holds a copy; one that ends after the strategy has gone drops its own.
    std::shared_ptr<int> m_operations = std::make_shared<int>(0);
    bool m_stopped = false;
    ScheduledCall m_debounce{this};
};

} // namespace vantrel
