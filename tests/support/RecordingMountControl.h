#pragma once

#include "mounting/MountControl.h"

#include <QList>
#include <QUuid>

#include <functional>

namespace vantrel::test {

// Remembers every request instead of mounting anything; a test may act on a request (record a
// status, say) through the hooks, which run before the request's task completes.
class RecordingMountControl final : public MountControl {
public:
    QCoro::Task<> mount(QUuid configID) override
    {
        mounted.append(configID);
        if (onMount)
            onMount(configID);
        co_return;
    }
    QCoro::Task<> unmount(QUuid configID) override
    {
        unmounted.append(configID);
        if (onUnmount)
            onUnmount(configID);
        co_return;
    }
    void cancelRetry(const QUuid& configID) override { cancelledRetries.append(configID); }
    QCoro::Task<bool> holdsMount(QUuid configID) override { co_return heldMounts.contains(configID); }

    QList<QUuid> mounted;
    QList<QUuid> unmounted;
    QList<QUuid> cancelledRetries;
    // Shares with something mounted at their mount point.
    QList<QUuid> heldMounts;
    std::function<void(const QUuid&)> onMount;
    std::function<void(const QUuid&)> onUnmount;
};

} // namespace vantrel::test
