#include "mounting/AutoMountStrategy.h"

#include "mounting/AppStateManager.h"
#include "mounting/MountEngine.h"
#include "mounting/NASConfigStore.h"
#include "mounting/NetworkMonitor.h"
#include "mounting/NotificationService.h"
#include "mounting/ProcessRunner.h"
#include "platform/Defaults.h"
#include "platform/PowerEvents.h"

#include <QPointer>
#include <QPromise>
#include <QScopeGuard>
#include <QTimer>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

namespace vantrel {

namespace {

// A failure that is not one of ours is shown as `unknown` with its own description.
VantrelError asVantrelError(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const VantrelError& error) {
        return error;
    } catch (const std::exception& error) {
        return VantrelError::unknown(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        return VantrelError::unknown(QString());
    }
}

// A share without an address (a blank one just added) has nothing to mount yet; only an explicit
// request tries it.
bool hasAddress(const NASConfig& config)
{
    return !config.address.isEmpty();
}

} // namespace

const QString& AutoMountStrategy::shareKeyOf(const NASConfig& config) const
{
    // Asked for every pair of 200 shares in one turn: each key is worked out once per spelling.
    const QString source = config.address + QChar(u'\x1f') + config.sharePath;
    ShareKey& entry = m_shareKeys[config.id];
    if (entry.source != source || entry.key.isEmpty()) {
        entry.source = source;
        entry.key = MountEngine::shareKey(config);
    }
    return entry.key;
}

bool AutoMountStrategy::sameShare(const NASConfig& a, const NASConfig& b) const
{
    return a.id != b.id && a.protocol == NASProtocol::smb && b.protocol == NASProtocol::smb
        && shareKeyOf(a) == shareKeyOf(b);
}

AutoMountStrategy::AutoMountStrategy(NASConfigStore& store, AppStateManager& appState, NetworkMonitor& network,
    MountEngine& engine, NotificationService& notifications, Defaults& defaults, PowerEvents& power, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_appState(appState)
    , m_network(network)
    , m_engine(engine)
    , m_notifications(notifications)
    , m_defaults(defaults)
    , m_power(power)
    , m_keepAlive(
          store, appState, engine, defaults, [this](const NASConfig& config) { recoverVanishedMount(config); }, this)
{
    // A deleted configuration must not come back through work armed for it earlier.
    connect(&m_store, &NASConfigStore::configRemoved, this, &AutoMountStrategy::handleConfigRemoved);
    connect(&m_notifications, &NotificationService::retryRequested, this, &AutoMountStrategy::handleRetryRequest);
    m_keepAlive.setConnectionHandler(
        [this](const NASConfig& config, bool online) { handleServerConnection(config, online); });
}

void AutoMountStrategy::handleServerConnection(const NASConfig& config, bool online)
{
    const std::optional<NASStatus> status = m_appState.status(config.id);
    // Only a share shown mounted or offline; an unmount under way, say, has its own end.
    const bool shownOnline = status && status->mountState.is(MountState::Kind::mounted);
    const bool shownOffline = status && status->mountState.is(MountState::Kind::offline);
    if ((online && !shownOffline) || (!online && !shownOnline))
        return;
    if (online) {
        m_appState.updateStatus(config.id, MountState::mounted(),
            MountEngine::directoryUrl(m_engine.mountPointPath(config)));
        return;
    }
    showServerAway(config);
}

void AutoMountStrategy::showServerAway(const NASConfig& config)
{
    // The mount stays: its process reconnects by itself, and files open through it go on then.
    m_appState.updateStatus(config.id, MountState::offline(), std::nullopt);
    m_notifications.notifyMountFailure(config.name,
        VantrelError::connectionFailed(QStringLiteral("The server of ") + config.name
            + QStringLiteral(" does not answer; the share stays mounted and reconnects when it answers again")));
}

AutoMountStrategy::~AutoMountStrategy() = default;

AutoMountStrategy& AutoMountStrategy::shared()
{
    return sharedInstance([] {
        return new AutoMountStrategy(NASConfigStore::shared(), AppStateManager::shared(), NetworkMonitor::shared(),
            MountEngine::shared(), NotificationService::shared(), Defaults::standard(), PowerEvents::shared());
    });
}

bool AutoMountStrategy::isInStore(const QUuid& configID) const
{
    return m_store.config(configID).has_value();
}

bool AutoMountStrategy::shareHeldByOther(const NASConfig& config) const
{
    if (config.protocol != NASProtocol::smb)
        return false;
    // Whether the other holds anything is asked first: comparing shares costs more, and 200 shares
    // retried in one turn ask this of every pair.
    for (const NASConfig& other : m_store.configs()) {
        // A mount of it waiting for its delay holds the share too: a keep-alive that finds the
        // other's mount gone schedules it again, and both would then run.
        bool holds = m_mountsInFlight.contains(other.id) || m_schedule.pendingMountCount(other.id) > 0;
        if (!holds) {
            const std::optional<NASStatus> status = m_appState.status(other.id);
            holds = status && m_keepAlive.isTested(*status);
        }
        if (holds && sameShare(config, other))
            return true;
    }
    return false;
}

std::optional<QUuid> AutoMountStrategy::otherMountOfShareInFlight(const NASConfig& config) const
{
    if (config.protocol != NASProtocol::smb)
        return std::nullopt;
    for (const NASConfig& other : m_store.configs()) {
        if (m_mountsInFlight.contains(other.id) && sameShare(config, other))
            return other.id;
    }
    return std::nullopt;
}

// ---- triggers -------------------------------------------------------------------------------

void AutoMountStrategy::setupNetworkObserver()
{
    // Both values are announced on every assignment, a repeat included; Qt signals carry no
    // current value at connection time, so every announcement from now on counts. The Wi-Fi
    // name alone triggers nothing.
    connect(&m_network, &NetworkMonitor::isConnectedChanged, this, &AutoMountStrategy::scheduleEvaluation,
        Qt::UniqueConnection);
    connect(&m_network, &NetworkMonitor::currentIPAddressChanged, this, &AutoMountStrategy::scheduleEvaluation,
        Qt::UniqueConnection);
}

void AutoMountStrategy::setupSleepWakeObservers()
{
    connect(&m_power, &PowerEvents::didWake, this, &AutoMountStrategy::handleSystemWake, Qt::UniqueConnection);
    connect(&m_power, &PowerEvents::willSleep, this, &AutoMountStrategy::handleSystemSleep, Qt::UniqueConnection);
}

void AutoMountStrategy::scheduleEvaluation()
{
    if (m_stopped || m_launchMountPending)
        return;
    m_debounce.start(millisecondsOf(debounceDelay), [this] { detach(evaluate()); });
}

// ---- evaluation -------------------------------------------------------------------------------

QCoro::Task<> AutoMountStrategy::evaluate()
{
    const QList<NASConfig> enabled = m_store.enabledConfigs();

    if (!m_network.isConnected()) {
        cancelAllRetries();
        for (const NASConfig& config : m_store.enabledConfigs())
            m_appState.updateStatus(config.id, MountState::offline(), std::nullopt);
        co_return;
    }

    std::vector<QCoro::Task<>> checks;
    for (const NASConfig& config : enabled) {
        if (!hasAddress(config))
            continue;
        if (!m_network.matches(config)) {
            cancelRetry(config.id);
            detach(performUnmount(config));
            continue;
        }

        const std::optional<NASStatus> status = m_appState.status(config.id);
        if (!status || !m_keepAlive.isTested(*status)) {
            // A mount under way ends in its own result; another configuration holding the share
            // keeps it.
            if (!m_mountsInFlight.contains(config.id) && !shareHeldByOther(config))
                scheduleMount(config);
            continue;
        }
        checks.push_back(m_keepAlive.check(config));
    }
    for (QCoro::Task<>& check : checks)
        co_await check;
}

void AutoMountStrategy::recoverVanishedMount(const NASConfig& config)
{
    m_appState.updateStatus(config.id, MountState::offline(), std::nullopt);
    if (m_network.matches(config) && m_network.isConnected())
        scheduleMount(config);
}

void AutoMountStrategy::scheduleMount(const NASConfig& config)
{
    const QUuid id = config.id;
    cancelRetry(id);
    m_schedule.resetRetryCount(id);

    m_schedule.scheduleMount(id, millisecondsOf(scheduledMountDelay), [this, config] {
        startInTurn([this, config] {
            if (isInStore(config.id))
                detach(performMount(config));
        });
    });
}

void AutoMountStrategy::startInTurn(std::function<void()> start)
{
    m_mountStarts.push_back(std::move(start));
    if (std::exchange(m_mountStartsScheduled, true))
        return;
    QTimer::singleShot(0, this, &AutoMountStrategy::startQueuedMounts);
}

void AutoMountStrategy::startQueuedMounts()
{
    m_mountStartsScheduled = false;
    for (int started = 0; started < std::max(1, mountsStartedPerTurn) && !m_mountStarts.empty(); ++started) {
        const std::function<void()> start = std::move(m_mountStarts.front());
        m_mountStarts.pop_front();
        if (!m_stopped)
            start();
    }
    if (!m_mountStarts.empty() && !std::exchange(m_mountStartsScheduled, true))
        QTimer::singleShot(0, this, &AutoMountStrategy::startQueuedMounts);
}

// ---- bulk and single-share entry points ------------------------------------------------------

QCoro::Task<> AutoMountStrategy::mountAll()
{
    std::vector<QCoro::Task<>> children;
    QList<NASConfig> chosen;
    QSet<QString> chosenShares;
    for (const NASConfig& config : m_store.enabledConfigs()) {
        if (!hasAddress(config) || !m_network.matches(config))
            continue;
        // One configuration per share: the first in the list, unless another already holds it.
        const bool smb = config.protocol == NASProtocol::smb;
        if (smb && chosenShares.contains(shareKeyOf(config)))
            continue;
        if (shareHeldByOther(config))
            continue;
        if (smb)
            chosenShares.insert(shareKeyOf(config));
        chosen.append(config);
    }
    QPointer<AutoMountStrategy> self(this);
    for (const NASConfig& config : std::as_const(chosen)) {
        if (!children.empty() && children.size() % static_cast<size_t>(std::max(1, mountsStartedPerTurn)) == 0) {
            // The rest in the next turns: starting 200 mounts in one would stall the interface.
            auto nextTurn = QCoro::sleepFor(std::chrono::milliseconds(0));
            co_await std::move(nextTurn);
            if (!self)
                co_return;
        }
        children.push_back(performMount(config));
    }
    for (QCoro::Task<>& child : children)
        co_await child;
}

QCoro::Task<> AutoMountStrategy::unmountAll()
{
    std::vector<QCoro::Task<>> children;
    for (const NASConfig& config : m_store.enabledConfigs()) {
        cancelRetry(config.id);
        children.push_back(performUnmount(config, true));
    }
    for (const QUrl& mountPoint : std::exchange(m_ownerlessMounts, {}))
        children.push_back(releaseOwnerlessMount(mountPoint));
    for (QCoro::Task<>& child : children)
        co_await child;
}

QCoro::Task<> AutoMountStrategy::shutDown()
{
    stop();
    const std::shared_ptr<int> underWay = m_operations;
    QPointer<AutoMountStrategy> self(this);
    // A mount still starting (its vantrel-smbfs), a listing waiting on a frozen server: nothing of this
    // application may outlive it, nor may a mount waiting for its turn start now. What they leave
    // behind is released below.
    m_engine.refuseMounts();
    ProcessRunner::endAll();

    QList<QUuid> recorded;
    for (const NASConfig& config : m_store.configs()) {
        const std::optional<NASStatus> status = m_appState.status(config.id);
        if (status && !status->mountState.is(MountState::Kind::idle))
            recorded.append(config.id);
    }
    // Everything this copy mounted or adopted, live, dead, busy or still starting, and nothing
    // else: not what another copy, the user or another program mounted at a share's folder.
    m_ownerlessMounts.clear();
    auto releasing = m_engine.releaseHeldMounts(true, quitToolTimeLimit);
    co_await std::move(releasing);
    if (!self)
        co_return;
    for (const QUuid& id : std::as_const(recorded)) {
        if (isInStore(id))
            m_appState.updateStatus(id, MountState::idle(), std::nullopt);
    }
}

QCoro::Task<> AutoMountStrategy::releaseOwnerlessMount(QUrl mountPoint)
{
    const std::shared_ptr<int> underWay = m_operations;
    QPointer<AutoMountStrategy> self(this);
    bool released = true;
    try {
        auto task = m_engine.unmount(mountPoint, false);
        co_await task;
    } catch (...) {
        released = false;
    }
    // The next unmount-all (at the latest when the application quits) tries again.
    if (self && !released)
        m_ownerlessMounts.insert(mountPoint);
}

QCoro::Task<> AutoMountStrategy::mount(QUuid configID)
{
    const std::optional<NASConfig> config = m_store.config(configID);
    if (!config)
        co_return;
    auto task = performMount(*config);
    co_await task;
}

QCoro::Task<> AutoMountStrategy::unmount(QUuid configID)
{
    cancelRetry(configID);
    const std::optional<NASConfig> config = m_store.config(configID);
    if (!config)
        co_return;
    auto task = performUnmount(*config);
    co_await task;
}

QCoro::Task<bool> AutoMountStrategy::holdsMount(QUuid configID)
{
    const std::optional<NASConfig> config = m_store.config(configID);
    if (!config)
        co_return false;
    auto holding = m_engine.holdsMount(m_engine.mountPointPath(*config));
    co_return co_await std::move(holding);
}

void AutoMountStrategy::handleRetryRequest(const QString& nasName)
{
    QList<QUuid> ids;
    for (const NASConfig& config : m_store.configs()) {
        if (config.name == nasName)
            ids.append(config.id);
    }
    for (const QUuid& id : ids)
        detach(mount(id));
}

void AutoMountStrategy::handleConfigRemoved(const QUuid& configID)
{
    m_shareKeys.remove(configID);
    cancelRetry(configID);
    m_schedule.cancelMounts(configID);
}

// ---- mount and unmount ------------------------------------------------------------------------

QCoro::Task<> AutoMountStrategy::performMount(NASConfig config)
{
    const QUuid id = config.id;
    // A second tool run on a busy mount point would fail and report a failure while the share is
    // in fact being mounted.
    if (m_stopped || m_mountsInFlight.contains(id))
        co_return;
    m_mountsInFlight.insert(id);
    const std::shared_ptr<int> underWay = m_operations;
    QPointer<AutoMountStrategy> self(this);

    m_appState.updateStatus(id, MountState::mounting(), std::nullopt);

    // Two mounts of one share at once would both stand: this one takes the share over once the
    // other has ended, and the other, let go at once, announces nothing.
    while (const std::optional<QUuid> ahead = otherMountOfShareInFlight(config)) {
        const QUuid other = *ahead;
        ++m_mountsWaitingBehind[other];
        while (self && m_mountsInFlight.contains(other)) {
            auto ended = qCoro(this, &AutoMountStrategy::mountEnded);
            co_await std::move(ended);
        }
        if (!self)
            co_return;
        if (--m_mountsWaitingBehind[other] <= 0)
            m_mountsWaitingBehind.remove(other);
        if (m_stopped || !isInStore(id)) {
            m_mountsInFlight.remove(id);
            emit mountEnded(id);
            co_return;
        }
    }

    std::optional<QUrl> mountPoint;
    std::optional<VantrelError> failure;
    bool serverAway = false;
    try {
        // Other configurations holding an SMB share let it go first and are idle from then on,
        // unless deleted meanwhile: a status would bring them back.
        const auto released = [self](const QUuid& other) {
            if (self && self->isInStore(other))
                self->m_appState.updateStatus(other, MountState::idle());
        };
        auto task = config.protocol == NASProtocol::smb
            ? m_engine.mountSMB(config, m_store.configs(), m_appState.nasStatuses(), released)
            : m_engine.mountNFS(config);
        mountPoint = co_await task;
        // The mount found may be one standing while its server is away (a retry of a share shown
        // offline): it is not mounted for the user until the server answers.
        if (self && m_engine.mountsThroughSmbfs(config)) {
            auto asking = m_engine.smbfsStatus(MountEngine::localPath(*mountPoint));
            const std::optional<SmbfsMount::Status> state = co_await std::move(asking);
            serverAway = state && !state->online;
        }
    } catch (...) {
        failure = asVantrelError(std::current_exception());
    }

    if (!self)
        co_return;
    m_mountsInFlight.remove(id);
    const auto announceEnd = qScopeGuard([this, id] { emit mountEnded(id); });
    // Deleted while the tool ran: no status, notification or retry for it, and a share mounted
    // for it has no owner left to unmount it. Nor does one that ends after the strategy stopped.
    if (!isInStore(id) || m_stopped) {
        if (mountPoint)
            detach(releaseOwnerlessMount(*mountPoint));
        co_return;
    }

    if (mountPoint && serverAway) {
        m_schedule.resetRetryCount(id);
        m_keepAlive.noteServerAway(id);
        showServerAway(config);
    } else if (mountPoint) {
        m_schedule.resetRetryCount(id);
        m_appState.updateStatus(id, MountState::mounted(), mountPoint);
        if (!m_mountsWaitingBehind.contains(id))
            m_notifications.notifyMountSuccess(config.name);
    } else {
        m_appState.updateStatus(id, MountState::failed(*failure), std::nullopt);
        m_notifications.notifyMountFailure(config.name, *failure);
        scheduleRetry(config);
        offerShareToNext(config);
    }
}

void AutoMountStrategy::offerShareToNext(const NASConfig& failed)
{
    if (failed.protocol != NASProtocol::smb || !m_network.isConnected())
        return;
    bool after = false;
    for (const NASConfig& other : m_store.configs()) {
        if (other.id == failed.id) {
            after = true;
            continue;
        }
        if (!after || !sameShare(failed, other))
            continue;
        if (!other.isEnabled || !hasAddress(other) || !m_network.matches(other))
            continue;
        // One that failed already is on its own retries; one mounted or under way holds the share.
        const std::optional<NASStatus> status = m_appState.status(other.id);
        if (status
            && (status->mountState.is(MountState::Kind::failed) || status->mountState.is(MountState::Kind::mounted)))
            continue;
        if (m_mountsInFlight.contains(other.id) || shareHeldByOther(other))
            return;
        const QUuid id = other.id;
        startInTurn([this, id] {
            const std::optional<NASConfig> current = m_store.config(id);
            if (current && current->isEnabled && !shareHeldByOther(*current))
                detach(performMount(*current));
        });
        return;
    }
}

QCoro::Task<> AutoMountStrategy::performUnmount(NASConfig config)
{
    auto task = performUnmount(std::move(config), false);
    co_await std::move(task);
}

QCoro::Task<> AutoMountStrategy::performUnmount(NASConfig config, bool onlyHeld)
{
    const QUuid id = config.id;
    // A second tool run would find the folder no longer mounted and could record a failure after
    // the first one succeeded.
    if (const auto running = m_unmountsInFlight.constFind(id); running != m_unmountsInFlight.cend()) {
        QFuture<void> ended = *running;
        co_await ended;
        co_return;
    }

    const std::shared_ptr<int> underWay = m_operations;
    QPointer<AutoMountStrategy> self(this);
    const std::optional<NASStatus> status = m_appState.status(id);
    std::optional<QUrl> mountPoint = status ? status->mountPoint : std::nullopt;
    // Unmounting everything: only what this copy mounted or adopted, never a mount of the user's
    // or of another program that stands at a share's folder.
    if (onlyHeld) {
        if (mountPoint && !m_engine.ownsMount(MountEngine::localPath(*mountPoint)))
            mountPoint.reset();
        if (!mountPoint && m_engine.ownsMount(m_engine.mountPointPath(config)))
            mountPoint = MountEngine::directoryUrl(m_engine.mountPointPath(config));
    }
    if (!mountPoint && !onlyHeld) {
        // A mount the status no longer records (a failed unmount, a server that went away) is
        // still the share's to let go.
        const QString path = m_engine.mountPointPath(config);
        auto holding = m_engine.holdsMount(path);
        if (co_await std::move(holding))
            mountPoint = MountEngine::directoryUrl(path);
        if (!self)
            co_return;
        if (const auto running = m_unmountsInFlight.constFind(id); running != m_unmountsInFlight.cend()) {
            QFuture<void> ended = *running;
            co_await ended;
            co_return;
        }
    }
    if (!mountPoint) {
        if (isInStore(id))
            m_appState.updateStatus(id, MountState::idle(), std::nullopt);
        co_return;
    }

    QPromise<void> ending;
    ending.start();
    m_unmountsInFlight.insert(id, ending.future());
    m_appState.updateStatus(id, MountState::unmounting(), std::nullopt);

    std::optional<VantrelError> failure;
    try {
        auto task = m_engine.unmount(*mountPoint, false);
        co_await task;
    } catch (...) {
        failure = asVantrelError(std::current_exception());
    }

    if (self)
        m_unmountsInFlight.remove(id);
    if (self && isInStore(id)) {
        if (failure) {
            m_appState.updateStatus(id, MountState::failed(*failure), std::nullopt);
        } else {
            m_appState.updateStatus(id, MountState::idle(), std::nullopt);
            m_notifications.notifyUnmount(config.name);
        }
    }
    ending.finish();
}

// ---- retries --------------------------------------------------------------------------------

void AutoMountStrategy::scheduleRetry(const NASConfig& config)
{
    const QUuid id = config.id;
    m_schedule.scheduleRetry(id, retryIntervals, [this, id] { fireRetry(id); });
}

void AutoMountStrategy::fireRetry(const QUuid& configID)
{
    startInTurn([this, configID] { retryNow(configID); });
}

void AutoMountStrategy::retryNow(const QUuid& configID)
{
    // The configuration as it is now: the user may have edited, disabled or deleted it meanwhile.
    const std::optional<NASConfig> current = m_store.config(configID);
    if (!current || !current->isEnabled || !hasAddress(*current))
        return;
    if (m_network.matches(*current) && m_network.isConnected() && !shareHeldByOther(*current))
        detach(performMount(*current));
}

void AutoMountStrategy::cancelRetry(const QUuid& configID)
{
    m_schedule.cancelRetry(configID);
}

void AutoMountStrategy::cancelAllRetries()
{
    m_schedule.cancelAllRetries();
}

std::optional<qint64> AutoMountStrategy::retryCount(const QUuid& configID) const
{
    return m_schedule.retryCount(configID);
}

std::optional<std::chrono::milliseconds> AutoMountStrategy::retryTimerInterval(const QUuid& configID) const
{
    return m_schedule.retryTimerInterval(configID);
}

int AutoMountStrategy::pendingMountCount(const QUuid& configID) const
{
    return m_schedule.pendingMountCount(configID);
}

// ---- start, stop, sleep and wake --------------------------------------------------------

void AutoMountStrategy::start()
{
    setupNetworkObserver();
    setupSleepWakeObservers();
    if (!m_stopped)
        m_keepAlive.start();

    const QVariant autoMount = m_defaults.value(autoMountOnLaunchKey);
    const bool mount = !(autoMount.typeId() == QMetaType::Bool && !autoMount.toBool());
    m_launchMountPending = mount;
    QTimer::singleShot(timerMilliseconds(launchMountDelay), this, [this, mount] { detach(launchMount(mount)); });
}

QCoro::Task<> AutoMountStrategy::launchMount(bool mount)
{
    const std::shared_ptr<int> underWay = m_operations;
    // The leftovers at the folders mounted below are held at once; the others are checked
    // meanwhile, without holding these mounts back.
    QStringList ownFolders;
    if (mount && !m_stopped) {
        for (const NASConfig& config : m_store.enabledConfigs())
            ownFolders.append(m_engine.mountPointPath(config));
    }
    detach(takeOverLeftovers(ownFolders));
    m_launchMountPending = false;
    if (!mount || m_stopped)
        co_return;
    auto mounting = mountAll();
    co_await std::move(mounting);
}

QCoro::Task<> AutoMountStrategy::takeOverLeftovers(QStringList ownFolders)
{
    const std::shared_ptr<int> underWay = m_operations;
    auto taking = m_engine.takeOverLeftovers(std::move(ownFolders));
    co_await std::move(taking);
}

void AutoMountStrategy::stop()
{
    m_stopped = true;
    disconnect(&m_network, nullptr, this, nullptr);
    disconnect(&m_power, nullptr, this, nullptr);
    m_debounce.cancel();
    m_keepAlive.stop();
    m_schedule.cancelAll();
    m_mountStarts.clear();
}

void AutoMountStrategy::handleSystemWake()
{
    if (!m_stopped)
        m_keepAlive.start();
    QTimer::singleShot(timerMilliseconds(wakeEvaluationDelay), this, [this] { scheduleEvaluation(); });
}

void AutoMountStrategy::handleSystemSleep()
{
    cancelAllRetries();
    m_keepAlive.stop();
}

} // namespace vantrel
