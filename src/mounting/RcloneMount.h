#pragma once

#include "model/AppState.h"
#include "mounting/LinuxMountTools.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

namespace vantrel {

// An SMB share mounted in user space by an rclone process over FUSE, for the Linux tool set,
// whose settings (tool paths, time limits, log folder) it uses. Holds nothing of its own.
class RcloneMount final {
public:
    explicit RcloneMount(const LinuxMountTools& tools)
        : m_tools(tools)
    {
    }

    // Mounts the share at its prepared, empty folder and returns once the folder is the mount's
    // root. A first listing reports a refused login or an unreachable server quickly (the mount
    // itself connects lazily). The password travels obscured, in the children's environment
    // only. Throws authenticationFailed, connectionFailed, timeout or mountFailed.
    QCoro::Task<> mount(LinuxMountTools::SmbShare share) const;

    // fusermount3 -u ("-z" when forced), then waits until the rclone process has ended, so that
    // what was written last reaches the server. Throws unmountFailed or timeout.
    QCoro::Task<> unmount(QString path, bool force) const;

    // Lazily detaches what is mounted at the path (a mount whose process died).
    QCoro::Task<> detach(QString path) const;

    // See LinuxMountTools::release; each wait for a process to end also takes at most timeLimit.
    QCoro::Task<> release(QString path, bool polite, double timeLimit) const;

    // The flags that bound each request to the server to about `seconds` in all: two tries, each
    // with half of it to connect and half to wait for an answer.
    static QStringList serverTimeoutArguments(double seconds);

    // "//host[:port]/share", the device name the mount table shows for the mount.
    static QString deviceName(const LinuxMountTools::SmbShare& share);
    // The server named by such a device name.
    static std::optional<LinuxMountTools::Endpoint> serverOfMount(const QString& source);
    // The rclone message worth showing from its output or log: the last line that says
    // something, without time stamps and repeated wrappers.
    static QString message(const QString& output);
    // What an rclone failure means for the user.
    static VantrelError::Kind classify(const QString& message);
    // PIDs of this user's rclone mount processes serving the mount point.
    static QList<qint64> mountProcesses(const QString& rclonePath, const QString& mountPoint);

private:
    QCoro::Task<QProcessEnvironment> environment(const LinuxMountTools::SmbShare& share) const;
    QCoro::Task<> cleanUpFailedMount(QString mountPoint) const;
    // mountProcesses and the removal of the mount's log, off the main thread.
    QCoro::Task<QList<qint64>> processesServing(QString mountPoint) const;
    QCoro::Task<> removeLog(QString mountPoint) const;
    QCoro::Task<bool> waitForProcessesToEnd(QList<qint64> pids, double seconds) const;
    // SIGTERM, then SIGKILL after the grace; true once none runs.
    QCoro::Task<bool> endProcesses(QList<qint64> pids, double grace) const;
    QString logFileFor(const QString& mountPoint) const;

    const LinuxMountTools& m_tools;
};

} // namespace vantrel
