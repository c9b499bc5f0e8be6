#include "mounting/MountKeepAlive.h"

#include "mounting/AppStateManager.h"
#include "mounting/MountEngine.h"
#include "mounting/NASConfigStore.h"
#include "platform/Defaults.h"

#include <QPointer>

#include <cmath>
#include <utility>
#include <vector>

namespace vantrel {

MountKeepAlive::MountKeepAlive(NASConfigStore& store, AppStateManager& appState, MountEngine& engine,
    Defaults& defaults, VanishedHandler vanished, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_appState(appState)
    , m_engine(engine)
    , m_defaults(defaults)
    , m_vanished(std::move(vanished))
{
}

bool MountKeepAlive::isEnabled() const
{
    const QVariant value = m_defaults.value(enabledKey);
    return value.typeId() == QMetaType::Bool ? value.toBool() : true;
}

double MountKeepAlive::interval() const
{
    const QVariant value = m_defaults.value(intervalKey);
    const int type = value.typeId();
    if (type != QMetaType::Double && type != QMetaType::LongLong)
        return defaultInterval;
    // A zero or negative interval would make the timer spin; a non-finite one cannot be timed.
    const double seconds = value.toDouble();
    if (!std::isfinite(seconds) || seconds < minimumInterval)
        return defaultInterval;
    return seconds;
}

void MountKeepAlive::start()
{
    if (!isEnabled())
        return;
    m_timer.cancel();
    detach(performPass());
    m_timer.start(
        millisecondsOf(interval()), [this] { detach(performPass()); }, true);
}

void MountKeepAlive::stop()
{
    m_timer.cancel();
}

QCoro::Task<> MountKeepAlive::performPass()
{
    std::vector<QCoro::Task<>> checks;
    for (const NASConfig& config : m_store.configs()) {
        if (!config.isEnabled)
            continue;
        const std::optional<NASStatus> status = m_appState.status(config.id);
        if (status && isTested(*status))
            checks.push_back(check(config));
    }
    for (QCoro::Task<>& check : checks)
        co_await check;
}

QCoro::Task<> MountKeepAlive::check(NASConfig config)
{
    const QUuid id = config.id;
    if (m_checksInFlight.contains(id))
        co_return;
    m_checksInFlight.insert(id);
    QPointer<MountKeepAlive> self(this);
    auto test = testMount(config);
    co_await test;
    if (self)
        m_checksInFlight.remove(id);
}

bool MountKeepAlive::isTested(const NASStatus& status) const
{
    return status.mountState.is(MountState::Kind::mounted)
        || (status.mountState.is(MountState::Kind::offline) && m_serversAway.contains(status.configID));
}

QCoro::Task<bool> MountKeepAlive::askSmbfs(NASConfig config, QString path)
{
    QPointer<MountKeepAlive> self(this);
    auto holding = m_engine.holdsMount(path);
    const bool held = co_await std::move(holding);
    if (!self)
        co_return true;
    if (!held) {
        m_serversAway.remove(config.id);
        co_return false;
    }
    auto asking = m_engine.smbfsStatus(path);
    const std::optional<SmbfsMount::Status> status = co_await std::move(asking);
    if (!self || !m_store.config(config.id))
        co_return true;
    if (status) {
        if (status->online)
            m_serversAway.remove(config.id);
        else
            m_serversAway.insert(config.id);
        if (m_connection)
            m_connection(config, status->online);
        co_return true;
    }
    // Silent but running: it may hold what the server has not acknowledged yet.
    auto finding = m_engine.hasSmbfsProcess(path);
    const bool running = co_await std::move(finding);
    co_return !self || running;
}

QCoro::Task<> MountKeepAlive::testMount(NASConfig config)
{
    QPointer<MountKeepAlive> self(this);
    const QString path = m_engine.mountPointPath(config);
    if (m_engine.mountsThroughSmbfs(config)) {
        auto asking = askSmbfs(config, path);
        const bool answered = co_await std::move(asking);
        if (!self || answered || !m_store.config(config.id))
            co_return;
    } else {
        auto liveTest = m_engine.isMountedAsync(path);
        const bool live = co_await liveTest;
        if (!self || live || !m_store.config(config.id))
            co_return;
    }
    auto holding = m_engine.holdsMount(path);
    if (co_await std::move(holding)) {
        auto releasing = m_engine.releaseMount(path, false, releaseTimeLimit);
        co_await std::move(releasing);
        if (!self || !m_store.config(config.id))
            co_return;
    }
    m_serversAway.remove(config.id);
    if (m_vanished)
        m_vanished(config);
}

} // namespace vantrel
