#pragma once

#include "model/AppState.h"
#include "mounting/ProcessRunner.h"
#include "mounting/SystemTools.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <optional>
#include <utility>

namespace vantrel {

class FileSystemInfo;

// The Linux tool set: SMB shares through a vantrel-smbfs process over FUSE (SmbfsMount, no
// privilege needed), NFS v4 through the kernel client with a non-interactive sudo retry, unmounting, and
// the connection test with Linux ping flags. Holds no mutable state; coroutines resume on the
// thread that started them, and file-system and /proc work runs on worker threads. Failures are
// thrown as VantrelError; nothing is logged here.
class LinuxMountTools final {
public:
    struct SmbShare {
        QString host;
        std::optional<quint16> port;
        // "share" or "share/folder"; outer "/" are ignored.
        QString sharePath;
        // Empty for the server's default domain.
        QString domain;
        QString user;
        // None mounts as guest.
        std::optional<QString> password;
        QString mountPoint;
        bool readOnly = false;
        // When set, the mount point must lie strictly inside this folder (a computed default
        // mount point); a custom mount point may be anywhere.
        std::optional<QString> requiredRoot;
        // Seconds any one request to the server may take, through the mount too: a call on a
        // server that stopped answering fails after this instead of holding its thread.
        double serverTimeout = 30.0;
    };

    struct NfsShare {
        QString address;
        QString exportPath;
        QString mountPoint;
        bool readOnly = false;
        std::optional<QString> requiredRoot;
    };

    struct Endpoint {
        QString host;
        std::optional<quint16> port;
    };

    // The failure of an NFS mount tool's run (whichever platform's).
    static VantrelError nfsMountFailure(const QString& tool, const ProcessResult& result);
    // The NFS mount options, "vers=4,tcp,noresvport" and ",ro" for a read-only share (whichever
    // platform's tool).
    static QString nfsOptions(bool readOnly);

    explicit LinuxMountTools(SystemTools tools = SystemTools::linuxSet());
    LinuxMountTools(SystemTools tools, FileSystemInfo& fileSystem);

    // Time limits in seconds; adjustable so tests can shorten them.
    double mountTimeout = 30.0;
    double unmountTimeout = 30.0;
    double connectionTestTimeout = 5.0;
    // How long ping waits for the reply, in whole seconds (Linux ping counts seconds).
    int pingWait = 3;
    // A tool still running this long after SIGTERM at its time limit is killed.
    double killGrace = 2.0;
    // How long a vantrel-smbfs process has to answer on its control socket.
    double statusTimeout = 2.0;
    // Where the vantrel-smbfs processes keep their control sockets, one per mount point.
    QString controlFolder;

    const SystemTools& tools() const { return m_tools; }
    const FileSystemInfo& fileSystem() const { return m_fileSystem; }

    // Mounts the share at the mount point and returns once the folder is the mount's root; the
    // process logs in first, so a refused login or an unreachable server is reported before any
    // mount. The password travels on the process's standard input only. Throws
    // authenticationFailed, connectionFailed, timeout or mountFailed.
    QCoro::Task<> mountSMB(SmbShare share);

    // Logs in to the share and opens it without mounting; the latency in seconds. Throws as
    // mountSMB, saying which step failed.
    QCoro::Task<double> checkSMB(SmbShare share);

    // mount.nfs4 with nfsOptions; refused for lack of privilege, it is tried
    // once more through "sudo -n". Throws mountFailed or timeout.
    QCoro::Task<> mountNFS(NfsShare share);

    // fusermount3 -u for a user-space mount, lazily ("-z") when busy or forced, so that its
    // process serves the files still open to their end; umount ("-f" when
    // forced, retried through "sudo -n" when refused) for a kernel mount. The folder stays.
    // Throws unmountFailed, timeout or mountFailed (a tool that cannot start).
    QCoro::Task<> unmount(QString mountPoint, bool force = false);

    // Leaves nothing mounted at the path, whatever state the mount is in. Polite first unless told
    // otherwise or files are open through it; when that fails (busy, dead, a server that does not
    // answer) the mount is detached lazily and its process, never killed, ends by itself once the
    // last open file is closed. Each tool run takes at most timeLimit seconds. Never throws.
    QCoro::Task<> release(QString mountPoint, bool polite, double timeLimit);

    // What a copy that died left mounted at the path still serves: a kernel network mount, or a
    // user-space mount whose process answers (and whose server, when it names one, accepts
    // connections). Blocks: call it off the main thread, in the path's lane.
    bool isLiveLeftover(const QString& path) const;
    // A kernel network mount or a user-space one: the kinds of mount this tool set makes.
    static bool isShareMountType(const QString& type);

    // One ping; the latency in seconds, including the ping process's start and end. Throws
    // connectionFailed when no reply came, timeout or mountFailed when ping could not run.
    QCoro::Task<double> testConnection(QString address);

    // A network share is mounted right at the path, by the kernel's mount table: an SMB or NFS
    // kernel mount, or a vantrel-smbfs mount whose process answers on its control socket (online
    // or not: a server that went away is the process's business). Blocks for up to
    // statusTimeout: call it off the main thread.
    bool isMounted(const QString& path) const;

    // The kernel's type of what is mounted right at the path, read off the main thread; none when
    // nothing is.
    QCoro::Task<std::optional<QString>> mountedType(QString path) const;

    // The mount point's folder before a mount: inside requiredRoot when given, created when
    // missing, a writable and empty folder. A dead user-space mount left at the folder is
    // detached first; a live one whose server does not answer is reported as connectionFailed
    // and kept, so that what it still has to write is not lost. Throws mountFailed otherwise.
    QCoro::Task<> prepareMountFolder(QString path, std::optional<QString> requiredRoot);

    // One tool run with this set's kill grace: no shell, the null device as input unless some is
    // given.
    QCoro::Task<ProcessResult> run(QString program, QStringList arguments, double timeLimit,
        std::optional<QProcessEnvironment> environment = std::nullopt,
        std::optional<QByteArray> input = std::nullopt) const;

    // "host", "host:port", "[v6]" or "[v6]:port"; a bare IPv6 address stays whole.
    static Endpoint splitAddress(const QString& address);
    // A "DOMAIN;user" or "DOMAIN\user" name split into its parts; otherwise no domain.
    static std::pair<QString, QString> splitDomain(const QString& user);
    // The path made absolute, with "." and ".." resolved (links are not followed).
    static QString absolutePath(const QString& path);
    // The path lies below the root and is not the root itself. Both must have "." and ".." resolved
    // already, or a share named "" or ".." would pass for the root or a folder above it.
    static bool isStrictlyInside(const QString& root, const QString& path);
    // A mount point's folder, created with its parents when missing; an error when it cannot be
    // made or something other than a folder has its name.
    static std::optional<VantrelError> ensureFolder(const QString& path);

private:
    // A kernel mount tool, once more through "sudo -n" when refused for lack of privilege.
    // withinStep: each run ends within timeLimit (see runWithinStep).
    QCoro::Task<ProcessResult> runWithSudoRetry(QString program, QStringList arguments, double timeLimit,
        bool withinStep = false) const;
    // A run that ends within stepLimit whatever its tool does.
    QCoro::Task<ProcessResult> runWithinStep(QString program, QStringList arguments, double stepLimit) const;

    SystemTools m_tools;
    FileSystemInfo& m_fileSystem;
};

} // namespace vantrel
