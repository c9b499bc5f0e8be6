#pragma once

#include <QUuid>

#include <qcoro/qcorotask.h>

namespace vantrel {

// What the windows ask of the automatic mounting: mount or unmount one share on demand, or drop
// its pending retry. Views take a MountControl& (the shared strategy by default), so tests can
// hand them a recording one. None of these reports an error: outcomes end in the share's status.
class MountControl {
public:
    virtual ~MountControl() = default;

    // Mounts the stored configuration with this id now, whatever its network binding; an id the
    // store does not hold does nothing.
    virtual QCoro::Task<> mount(QUuid configID) = 0;
    // Cancels a pending retry, then unmounts the share's mount point (idle without one).
    virtual QCoro::Task<> unmount(QUuid configID) = 0;
    virtual void cancelRetry(const QUuid& configID) = 0;
    // Something is mounted at the share's mount point, whatever its status says (a mount left
    // after a failed unmount, or by a server that went away), so that it can be unmounted.
    virtual QCoro::Task<bool> holdsMount(QUuid configID) = 0;
};

} // namespace vantrel
