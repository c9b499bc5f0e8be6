#pragma once

#include "model/AppState.h"
#include "mounting/LinuxMountTools.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <optional>

namespace vantrel {

// An SMB share mounted in user space by a vantrel-smbfs process over FUSE, for the Linux tool set,
// whose settings (program paths, time limits, control folder) it uses. The process outlives the
// application on purpose: it is asked for its state over its control socket, unmounted through
// fusermount3 and never killed once it has mounted, so that nothing written through it is cut
// off (only one left logging in by a failed mount is ended). Holds nothing of its own.
class SmbfsMount final {
public:
    // The mount table's type of these mounts.
    static inline const QString mountType = QStringLiteral("fuse.vantrel-smbfs");

    struct Status {
        bool online = false;
        qint64 pid = 0;
        // Files held open through the mount.
        qint64 open = 0;
        QString source;
        QString mountPoint;

        bool operator==(const Status&) const = default;
    };

    explicit SmbfsMount(const LinuxMountTools& tools)
        : m_tools(tools)
    {
    }

    // Logs in, mounts the share at its prepared, empty folder and returns once the folder is the
    // mount's root. The credentials travel on the program's standard input only. Throws
    // authenticationFailed, connectionFailed, timeout or mountFailed with the program's words.
    QCoro::Task<> mount(LinuxMountTools::SmbShare share) const;

    // Logs in and opens the share without mounting it; the latency in seconds. Throws as mount.
    QCoro::Task<double> check(LinuxMountTools::SmbShare share) const;

    // fusermount3 -u; a busy mount (or, forced, any) is detached lazily and its process serves
    // the files still open until they are closed. Throws unmountFailed or timeout.
    QCoro::Task<> unmount(QString path, bool force) const;

    // See LinuxMountTools::release. Polite unless told otherwise or files are open; never kills.
    QCoro::Task<> release(QString path, bool polite, double timeLimit) const;

    // Lazily detaches what is mounted at the path (a mount whose process died).
    QCoro::Task<> detach(QString path) const;

    // The process's own account of the mount at the path, asked over its control socket on a
    // worker thread (never the share's lane); none when it does not answer within the bound.
    QCoro::Task<std::optional<Status>> status(QString path, double seconds) const;
    // Some vantrel-smbfs process of this user serves the path, read off the main thread.
    QCoro::Task<bool> hasProcess(QString path) const;

    // The control socket of the mount at the path, inside the folder.
    static QString controlSocketPath(const QString& folder, const QString& mountPoint);
    // Where the sockets live when nobody says otherwise: the user's runtime folder.
    static QString defaultControlFolder();
    // One request on a control socket and its reply line; none on any failure or after the bound.
    // Blocks: call it off the main thread.
    static std::optional<QString> ask(const QString& socketPath, const QByteArray& request, int milliseconds);
    // A reply to "status"; none when it is not one.
    static std::optional<Status> parseStatus(const QString& line);

    // "//host[:port]/share[/folder]", the source the process mounts and the mount table shows.
    static QString sourceName(const LinuxMountTools::SmbShare& share);
    // The lines the program reads on its standard input; none for a guest.
    static std::optional<QByteArray> credentials(const LinuxMountTools::SmbShare& share);
    // The options before "--" (the same for a mount and a check).
    static QStringList options(const LinuxMountTools::SmbShare& share, const QString& controlSocket);
    // What a failed run means for the user: the program's exit code and its line on standard error.
    static VantrelError failure(int exitCode, const QString& stderr);
    // PIDs of this user's vantrel-smbfs processes serving the mount point.
    static QList<qint64> mountProcesses(const QString& program, const QString& mountPoint);

private:
    QString socketFor(const QString& mountPoint) const;
    QCoro::Task<> cleanUpFailedMount(QString mountPoint) const;
    // Ends the processes serving the path that have not mounted (still logging in): they hold
    // nothing of the user's.
    QCoro::Task<> endUnmounted(QString mountPoint) const;
    QCoro::Task<bool> fusermount(QString path, bool lazy, double timeLimit) const;
    // Waits until none of the processes runs; false when one still does after the bound.
    QCoro::Task<bool> waitForProcessesToEnd(QList<qint64> pids, double seconds) const;

    const LinuxMountTools& m_tools;
};

} // namespace vantrel
