#pragma once

#include "model/AppState.h"
#include "model/NASConfig.h"
#include "mounting/LinuxMountTools.h"
#include "mounting/ProcessRunner.h"
#include "mounting/SmbfsMount.h"
#include "mounting/SystemTools.h"
#include "mounting/TurnQueue.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

template <typename T>
class QPromise;

namespace vantrel {

class FileSystemInfo;
class KeychainManager;

// Mounts, unmounts and tests shares by running the system tools as child processes: the Linux
// tool set (LinuxMountTools) or the macOS one, as SystemTools chooses. Its operations may run
// concurrently, but only mountsPerServer mounts of one server run their tools at a time, the others
// of that server wait their turn in order (a server that never answers holds back no other); what it
// must know of other configurations, the caller hands in. Its coroutines are started on
// the main thread and resume there; blocking file system and Keychain work runs on worker threads. Failures are thrown
// as VantrelError; the engine writes no log lines.
class MountEngine final {
public:
    // Either the latency in seconds or the error; never both.
    struct ConnectionTestResult {
        std::optional<double> latency;
        std::optional<VantrelError> error;

        bool succeeded() const { return latency.has_value(); }
    };

    // Told, on the main thread, of each other configuration whose mount was let go.
    using ReleaseHandler = std::function<void(const QUuid& configID)>;

    MountEngine(SystemTools tools, QString mountRoot, FileSystemInfo& fileSystem, KeychainManager& keychain);
    MountEngine(const MountEngine&) = delete;
    MountEngine& operator=(const MountEngine&) = delete;

    // Built on the running system's tool set, ~/VantrelVolumes and the shared collaborators.
    static MountEngine& shared();
    static QString defaultMountRoot();

    // Time limits of the tool runs, in seconds; adjustable so tests can shorten them.
    double mountTimeout = 30.0;
    double connectionTestTimeout = 5.0;
    // A tool still running this long after the SIGTERM at its time limit is killed.
    double killGrace = 2.0;
    // How long the live-mount test may take before the share counts as not answering.
    double liveTestTimeout = 10.0;
    // How long an SMB server has to accept a TCP connection before a mount of it starts any tool.
    double serverConnectTimeout = 3.0;
    // How many mounts of one server run their tools at once; further ones wait for a free turn.
    int mountsPerServer = 4;
    // How many servers are checked for a TCP connection at once, whatever their number: each
    // check holds a socket.
    int serverChecksAtOnce = 16;
    // How long the start-up check of all leftover mounts may take, side by side.
    double leftoverCheckTimeout = 3.0;
    // Where the mounts this copy holds are recorded for a later start; empty records nothing.
    QString recordPath;
    // The device FUSE mounts need access to.
    QString fuseDevice() const { return m_fuseDevice; }
    void setFuseDevice(QString path) { m_fuseDevice = std::move(path); }

    const SystemTools& tools() const { return m_tools; }
    QString smbMountCommand() const { return m_tools.smbMount; }
    QString nfsMountCommand() const { return m_tools.nfsMount; }
    QString unmountCommand() const { return m_tools.diskutil; }
    QString pingCommand() const { return m_tools.ping; }
    QString mountRoot() const { return m_mountRoot; }
    // The Linux tool set's own settings (its log folder, the server probe's time limit).
    LinuxMountTools& linuxTools() { return m_linux; }

    // Releases the share from the other configurations first (see releaseShareFromOtherConfigs).
    QCoro::Task<QUrl> mountSMB(NASConfig config, QList<NASConfig> configs = {}, QHash<QUuid, NASStatus> statuses = {},
        ReleaseHandler released = {});
    QCoro::Task<QUrl> mountNFS(NASConfig config);
    QCoro::Task<> unmount(QUrl mountPoint, bool force = false);
    // For an SMB share with the Linux tool set: logs in to the share (the password typed in the
    // editor, else the stored one) and says which step failed; otherwise a ping.
    QCoro::Task<ConnectionTestResult> testConnection(NASConfig config);

    // Unmounts, in their order, those of configs (config itself aside) that statuses, as the
    // caller has them, record as mounted from the same address and share path, and reports each
    // one let go; errors are swallowed.
    QCoro::Task<> releaseShareFromOtherConfigs(NASConfig config, QList<NASConfig> configs,
        QHash<QUuid, NASStatus> statuses, ReleaseHandler released);

    // Whom a configuration's mounts take turns with: its host, compared without case, and port.
    static QString serverOf(const NASConfig& config);
    // Both point at one share of one server: share paths compared without their outer and doubled
    // "/", the share's name (the first component) without case. Protocol and id are not compared.
    static bool sameShare(const NASConfig& a, const NASConfig& b);
    // Equal for two configurations exactly when sameShare holds.
    static QString shareKey(const NASConfig& config);

    // The custom mount point as stored, else <mount root>/<name>.
    QString mountPointPath(const NASConfig& config) const;
    // An SMB or NFS file system is mounted right at the path (with the Linux tool set, one whose
    // server answers). May block on a dead mount; the coroutine form runs it off the main thread, in
    // the share's lane (see runFileWork).
    bool isMounted(const QString& path) const;
    QCoro::Task<bool> isMountedAsync(QString path) const;
    // For good (quitting): no mount starts a tool any more, those waiting for their turn included;
    // they fail instead.
    void refuseMounts();
    // Something is mounted right at the path (a network or user-space mount, live or not), read
    // off the main thread.
    QCoro::Task<bool> holdsMount(QString path);
    // Leaves nothing mounted at the path and no process serving it, whatever state the mount is
    // in (see LinuxMountTools::release); never throws. The folder stays.
    QCoro::Task<> releaseMount(QString path, bool polite, double timeLimit);
    // The mounts this copy made, or adopted from a copy that died; only these are its to release
    // when it quits or unmounts everything. A mount under way counts from its tool's start.
    bool ownsMount(const QString& path) const;
    QStringList heldMounts() const;
    // Releases every held mount side by side (see releaseMount) and records that none is held.
    QCoro::Task<> releaseHeldMounts(bool polite, double timeLimit);
    // Takes over what a copy that died left mounted: the mounts of its record and the user-space
    // mounts under the mount root, unless a copy that still runs recorded them. Those at the
    // caller's own mount points are held at once (the caller's mount deals with a dead one); the
    // others are checked side by side within leftoverCheckTimeout: a live one is held, one that
    // is dead or does not answer is released. Returns the mount points released.
    QCoro::Task<QStringList> takeOverLeftovers(QStringList callerMountPoints);
    // The share is mounted by a vantrel-smbfs process of its own (SMB with the Linux tool set).
    bool mountsThroughSmbfs(const NASConfig& config) const;
    // That process's account of its mount, asked on its control socket within a short bound and
    // never behind the share's file work; none when it does not answer.
    QCoro::Task<std::optional<SmbfsMount::Status>> smbfsStatus(QString path);
    // Some vantrel-smbfs process serves the path, whether it answers or not.
    QCoro::Task<bool> hasSmbfsProcess(QString path);

    // Creates the folder (with its parents) when missing; throws mountFailed.
    static void ensureMountPoint(const QString& path);

    // "//user@address/share" with the share path's outer "/" removed and the rest percent-encoded.
    static QString smbShareUrl(const QString& user, const QString& address, const QString& sharePath);

    // A folder's file URL (ending in "/"), and a file URL's local path without the trailing "/".
    static QUrl directoryUrl(const QString& path);
    static QString localPath(const QUrl& url);

private:
    // A turn of the configuration's server to run mount tools, held until the token goes; throws
    // when quitting, or when the engine went away meanwhile (then nothing of it may be touched).
    QCoro::Task<TurnQueue::Turn> waitForMountTurn(const NASConfig& config);
    // Connection failed, without starting any tool, when the server of an SMB share mounted
    // through the Linux tool set does not accept a TCP connection.
    QCoro::Task<> ensureServerAnswers(const NASConfig& config, const QString& mountPoint);

    QCoro::Task<ProcessResult> runMountTool(QStringList arguments, std::optional<QString> password, QString user,
        QString address);
    // isMounted, else (macOS tool set) ensureMountPoint, off the main thread; true when already
    // mounted.
    QCoro::Task<bool> prepareMountPoint(QString path) const;
    QCoro::Task<ProcessResult> run(QString program, QStringList arguments, double timeout,
        std::optional<QByteArray> input = std::nullopt) const;
    bool onLinux() const { return m_tools.set == SystemTools::Set::gnuLinux; }
    QCoro::Task<ConnectionTestResult> checkSMB(NASConfig config);
    // The Linux tool set with this engine's time limits.
    LinuxMountTools& linuxSet();
    std::optional<QString> requiredRoot(const NASConfig& config) const;
    // Throws mountFailed for a custom mount point that is the mount root or a folder holding it.
    void refuseMountRootAsMountPoint(const NASConfig& config) const;
    static void removeMountPointFolder(const QString& mountRoot, const QString& path);
    // isMounted by a copy of the tool set: work off the main thread can outlive the engine (a stat
    // that hangs on a dead mount), and must then touch nothing of it.
    static bool isMountedWith(const LinuxMountTools& tools, const QString& path);
    static bool isLinuxSet(const LinuxMountTools& tools) { return tools.tools().set == SystemTools::Set::gnuLinux; }
    void hold(const QString& path);
    void letGo(const QString& path);
    // Puts the held mounts on disk, off the main thread, in the order of the changes.
    QFuture<void> writeRecord();

    SystemTools m_tools;
    QString m_mountRoot;
    FileSystemInfo& m_fileSystem;
    KeychainManager& m_keychain;
    LinuxMountTools m_linux;
    TurnQueue m_mountTurns{mountsPerServer};
    TurnQueue m_serverChecks{serverChecksAtOnce};
    bool m_refusingMounts = false;
    // Coroutines that outlive the engine check it before touching it.
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
    QStringList m_held;
    // A record that could not be read and stayed in place is never overwritten.
    bool m_recordBlocked = false;
    bool m_recordsMounts = false;
    std::shared_ptr<std::atomic<quint64>> m_recordWritten = std::make_shared<std::atomic<quint64>>(0);
    quint64 m_recordGeneration = 0;
    QString m_fuseDevice = QStringLiteral("/dev/fuse");
};

} // namespace vantrel
