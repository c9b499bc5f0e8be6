#include "mounting/LinuxMountTools.h"

#include "model/NASConfig.h"
#include "mounting/SmbfsMount.h"
#include "platform/FileSystemInfo.h"
#include "platform/FileWork.h"
#include "platform/Localization.h"
#include "platform/Threading.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice
// (closures, braced lists), so lambdas, lists, awaiters and tasks are named first.

namespace {

QString toolName(const QString& path)
{
    return QFileInfo(path).fileName();
}

// Mount tools refused for lack of privilege, in the words of mount.nfs4, umount and libmount;
// "fstab options" is what mount.nfs4 says to a user without an fstab "user" entry.
bool refusedForPrivilege(const ProcessResult& result)
{
    if (result.exitCode == 0)
        return false;
    const QString text = (result.stderr + QLatin1Char('\n') + result.stdout).toLower();
    static const char* const words[] = {"permission", "not permitted", "superuser", "only root", "fstab options"};
    for (const char* word : words) {
        if (text.contains(QLatin1String(word)))
            return true;
    }
    return false;
}

// Ends the options of sudo, ping, umount and mount.nfs4 (each checked on the real tool), so that
// a share path, mount point or address is never read as one.
const QString endOfOptions = QStringLiteral("--");

bool isKernelNetworkMount(const QString& type)
{
    static const char* const types[] = {"cifs", "smb3", "nfs", "nfs4"};
    for (const char* name : types) {
        if (type == QLatin1String(name))
            return true;
    }
    return false;
}

enum class UserSpaceMount { dead, live };

// Whether the process behind a user-space mount still serves it. A vantrel-smbfs process is asked
// over its control socket, and one that does not answer but runs is left alone (it may hold
// what the server has not acknowledged); any other file system is dead when its root cannot be
// read at all.
UserSpaceMount userSpaceMountState(const FileSystemInfo::MountEntry& entry, const QString& controlFolder,
    const QString& smbfs, double statusSeconds)
{
    if (entry.type == SmbfsMount::mountType) {
        const QString socket = SmbfsMount::controlSocketPath(controlFolder, entry.mountPoint);
        const int limit = static_cast<int>(millisecondsOf(statusSeconds).count());
        if (SmbfsMount::ask(socket, QByteArrayLiteral("status\n"), limit))
            return UserSpaceMount::live;
        return SmbfsMount::mountProcesses(smbfs, entry.mountPoint).isEmpty() ? UserSpaceMount::dead
                                                                             : UserSpaceMount::live;
    }
    struct stat info {};
    if (::stat(QFile::encodeName(entry.mountPoint).constData(), &info) != 0)
        return UserSpaceMount::dead;
    return UserSpaceMount::live;
}

// What the folder check found; the coroutine acts on a dead mount, the worker does the rest.
struct FolderCheck {
    std::optional<VantrelError> error;
    bool deadUserSpaceMount = false;
};

FolderCheck checkFolder(const LinuxMountTools& tools, const QString& path, const std::optional<QString>& requiredRoot)
{
    FolderCheck check;
    auto fail = [&check](const QString& text) {
        check.error = VantrelError::mountFailed(text);
        return check;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("Mount point path is empty"));
    if (requiredRoot) {
        // Judged after "." and ".." are resolved: a share named "", "/" or ".." must not mount
        // over the root or anywhere above it.
        const QString root = LinuxMountTools::absolutePath(*requiredRoot);
        if (!LinuxMountTools::isStrictlyInside(root, LinuxMountTools::absolutePath(path)))
            return fail(
                QStringLiteral("Mount point ") + path + QStringLiteral(" is not a folder inside ") + *requiredRoot);
    }

    const QByteArray native = QFile::encodeName(path);
    if (const std::optional<FileSystemInfo::MountEntry> mounted = tools.fileSystem().mountAt(path)) {
        if (mounted->type.startsWith(QLatin1String("fuse"))
            && userSpaceMountState(*mounted, tools.controlFolder, tools.tools().smbfs, tools.statusTimeout)
                == UserSpaceMount::dead) {
            check.deadUserSpaceMount = true;
            return check;
        }
        return fail(
            QStringLiteral("Mount point is already in use by a ") + mounted->type + QStringLiteral(" mount: ") + path);
    }

    check.error = LinuxMountTools::ensureFolder(path);
    if (check.error)
        return check;
    if (::access(native.constData(), W_OK) != 0)
        return fail(QStringLiteral("Mount point is not writable: ") + path);
    const QDir folder(path);
    if (!folder.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        return fail(QStringLiteral("Mount point is not empty: ") + path);
    return check;
}

} // namespace

LinuxMountTools::LinuxMountTools(SystemTools tools)
    : LinuxMountTools(std::move(tools), FileSystemInfo::system())
{
}

namespace {

} // namespace

LinuxMountTools::LinuxMountTools(SystemTools tools, FileSystemInfo& fileSystem)
    : controlFolder(SmbfsMount::defaultControlFolder())
    , m_tools(std::move(tools))
    , m_fileSystem(fileSystem)
{
}

QString LinuxMountTools::absolutePath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

std::optional<VantrelError> LinuxMountTools::ensureFolder(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        return VantrelError::mountFailed(QStringLiteral("Mount point path exists but is not a directory: ") + path);
    if (!info.exists()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), ec);
        if (ec) {
            return VantrelError::mountFailed(QStringLiteral("Failed to create mount point directory '") + path
                + QStringLiteral("': ") + QString::fromLocal8Bit(ec.message()));
        }
    }
    return std::nullopt;
}

bool LinuxMountTools::isStrictlyInside(const QString& root, const QString& path)
{
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.startsWith(prefix) && path.size() > prefix.size();
}

QCoro::Task<ProcessResult> LinuxMountTools::run(QString program, QStringList arguments, double timeLimit,
    std::optional<QProcessEnvironment> environment, std::optional<QByteArray> input) const
{
    ProcessRequest request{.program = std::move(program),
        .arguments = std::move(arguments),
        .timeout = timeLimit,
        .input = std::move(input),
        .nullInput = true,
        .environment = std::move(environment),
        .killGrace = killGrace};
    auto task = ProcessRunner::run(std::move(request));
    co_return co_await std::move(task);
}

LinuxMountTools::Endpoint LinuxMountTools::splitAddress(const QString& address)
{
    Endpoint endpoint{address, std::nullopt};
    auto portOf = [](const QString& text) -> std::optional<quint16> {
        bool ok = false;
        const uint value = text.toUInt(&ok);
        if (!ok || value == 0 || value > 65535 || text.startsWith(QLatin1Char('+')))
            return std::nullopt;
        return static_cast<quint16>(value);
    };
    if (address.startsWith(QLatin1Char('['))) {
        const qsizetype close = address.indexOf(QLatin1Char(']'));
        if (close < 0)
            return endpoint;
        const QString rest = address.mid(close + 1);
        if (rest.isEmpty()) {
            endpoint.host = address.mid(1, close - 1);
        } else if (rest.startsWith(QLatin1Char(':'))) {
            if (const auto port = portOf(rest.mid(1))) {
                endpoint.host = address.mid(1, close - 1);
                endpoint.port = port;
            }
        }
        return endpoint;
    }
    // More than one colon: a bare IPv6 address, which carries no port.
    if (address.count(QLatin1Char(':')) != 1)
        return endpoint;
    const qsizetype colon = address.indexOf(QLatin1Char(':'));
    if (const auto port = portOf(address.mid(colon + 1))) {
        endpoint.host = address.left(colon);
        endpoint.port = port;
    }
    return endpoint;
}

std::pair<QString, QString> LinuxMountTools::splitDomain(const QString& user)
{
    for (const QChar separator : {QLatin1Char(';'), QLatin1Char('\\')}) {
        const qsizetype at = user.indexOf(separator);
        if (at > 0)
            return {user.left(at), user.mid(at + 1)};
    }
    return {QString(), user};
}

bool LinuxMountTools::isMounted(const QString& path) const
{
    const std::optional<FileSystemInfo::MountEntry> entry = m_fileSystem.mountAt(path);
    if (!entry)
        return false;
    if (isKernelNetworkMount(entry->type))
        return true;
    if (entry->type != SmbfsMount::mountType)
        return false;
    const int limit = static_cast<int>(millisecondsOf(statusTimeout).count());
    return SmbfsMount::ask(SmbfsMount::controlSocketPath(controlFolder, path), QByteArrayLiteral("status\n"), limit)
        .has_value();
}

QCoro::Task<std::optional<QString>> LinuxMountTools::mountedType(QString path) const
{
    const FileSystemInfo& fileSystem = m_fileSystem;
    auto probe = [&fileSystem, path] { return fileSystem.mountedTypeAt(path); };
    QFuture<std::optional<QString>> probing = runBlockingWork(probe);
    co_return co_await probing;
}

QCoro::Task<> LinuxMountTools::prepareMountFolder(QString path, std::optional<QString> requiredRoot)
{
    // A copy: the check may outlive this object when the folder hangs.
    auto inspect = [tools = *this, path, requiredRoot] { return checkFolder(tools, path, requiredRoot); };
    QFuture<FolderCheck> first = runFileWork(path, inspect);
    FolderCheck check = co_await first;
    if (check.deadUserSpaceMount) {
        // A user-space mount whose process died leaves the folder unusable until it is detached.
        const SmbfsMount smbfs(*this);
        auto detaching = smbfs.detach(path);
        co_await std::move(detaching);
        QFuture<FolderCheck> second = runFileWork(path, inspect);
        check = co_await second;
        if (check.deadUserSpaceMount)
            check.error = VantrelError::mountFailed(
                QStringLiteral("Mount point holds a dead mount that could not be detached: ") + path);
    }
    if (check.error)
        throw *check.error;
}

QCoro::Task<> LinuxMountTools::mountSMB(SmbShare share)
{
    auto preparing = prepareMountFolder(share.mountPoint, share.requiredRoot);
    co_await std::move(preparing);
    const SmbfsMount smbfs(*this);
    auto mounting = smbfs.mount(std::move(share));
    co_await std::move(mounting);
}

QCoro::Task<double> LinuxMountTools::checkSMB(SmbShare share)
{
    const SmbfsMount smbfs(*this);
    auto checking = smbfs.check(std::move(share));
    co_return co_await std::move(checking);
}

QCoro::Task<> LinuxMountTools::unmount(QString mountPoint, bool force)
{
    const QString path = absolutePath(mountPoint);
    auto inspecting = mountedType(path);
    const std::optional<QString> type = co_await std::move(inspecting);

    if (type && type->startsWith(QLatin1String("fuse"))) {
        const SmbfsMount smbfs(*this);
        auto unmounting = smbfs.unmount(path, force);
        co_await std::move(unmounting);
        co_return;
    }

    const QStringList arguments = force ? QStringList{QStringLiteral("-f"), endOfOptions, path}
                                        : QStringList{endOfOptions, path};
    auto running = runWithSudoRetry(m_tools.umount, arguments, unmountTimeout);
    const ProcessResult result = co_await std::move(running);
    if (result.exitCode != 0)
        throw VantrelError::unmountFailed(result.exitedText(toolName(m_tools.umount), result.stderr.trimmed()));
}

QCoro::Task<> LinuxMountTools::release(QString mountPoint, bool polite, double timeLimit)
{
    const QString path = absolutePath(mountPoint);
    auto inspecting = mountedType(path);
    const std::optional<QString> type = co_await std::move(inspecting);
    if (!type || type->startsWith(QLatin1String("fuse"))) {
        // Also without a mount: a vantrel-smbfs process may still be starting one there.
        const SmbfsMount smbfs(*this);
        auto releasing = smbfs.release(path, polite, timeLimit);
        co_await std::move(releasing);
        co_return;
    }
    if (!isKernelNetworkMount(*type))
        co_return;
    // Each step ends within timeLimit whatever its tool does (one that ignores SIGTERM, or hangs
    // in the kernel), so the lazy detach is always reached.
    if (polite) {
        try {
            auto politely = runWithSudoRetry(m_tools.umount, QStringList{endOfOptions, path}, timeLimit, true);
            const ProcessResult result = co_await std::move(politely);
            if (result.exitCode == 0)
                co_return;
        } catch (const VantrelError&) {
            // Stuck or killed: the detach below still frees the folder.
        }
    }
    try {
        auto lazily = runWithSudoRetry(m_tools.umount, QStringList{QStringLiteral("-l"), endOfOptions, path}, timeLimit,
            true);
        co_await std::move(lazily);
    } catch (const VantrelError&) {
        // Nothing more can be done for it here.
    }
}

bool LinuxMountTools::isLiveLeftover(const QString& path) const
{
    const std::optional<FileSystemInfo::MountEntry> entry = m_fileSystem.mountAt(path);
    if (!entry)
        return false;
    if (isKernelNetworkMount(entry->type))
        return true;
    return entry->type.startsWith(QLatin1String("fuse"))
        && userSpaceMountState(*entry, controlFolder, m_tools.smbfs, statusTimeout) == UserSpaceMount::live;
}

bool LinuxMountTools::isShareMountType(const QString& type)
{
    return isKernelNetworkMount(type) || type.startsWith(QLatin1String("fuse"));
}

QCoro::Task<ProcessResult> LinuxMountTools::runWithinStep(QString program, QStringList arguments,
    double stepLimit) const
{
    // SIGTERM at half the step, SIGKILL a quarter later, given up on at its end.
    ProcessRequest request{.program = std::move(program),
        .arguments = std::move(arguments),
        .timeout = stepLimit / 2.0,
        .input = std::nullopt,
        .nullInput = true,
        .environment = std::nullopt,
        .killGrace = std::min(killGrace, stepLimit / 4.0)};
    auto task = ProcessRunner::run(std::move(request));
    co_return co_await std::move(task);
}

QCoro::Task<ProcessResult> LinuxMountTools::runWithSudoRetry(QString program, QStringList arguments, double timeLimit,
    bool withinStep) const
{
    auto first = withinStep ? runWithinStep(program, arguments, timeLimit) : run(program, arguments, timeLimit);
    const ProcessResult result = co_await std::move(first);
    if (!refusedForPrivilege(result) || !QFileInfo::exists(m_tools.sudo))
        co_return result;
    // "-n": sudo fails at once instead of asking for a password nobody can type here.
    const QStringList sudoArguments = QStringList{QStringLiteral("-n"), endOfOptions, program} + arguments;
    auto second = withinStep ? runWithinStep(m_tools.sudo, sudoArguments, timeLimit)
                             : run(m_tools.sudo, sudoArguments, timeLimit);
    co_return co_await std::move(second);
}

QCoro::Task<> LinuxMountTools::mountNFS(NfsShare share)
{
    // mount.nfs4 reads its first argument as the export whatever it holds, even "-V"; an address
    // is checked before any tool runs.
    if (!NASConfig::isUsableAddress(share.address))
        throw VantrelError::mountFailed(NASConfig::unusableAddressText(share.address));
    auto preparing = prepareMountFolder(share.mountPoint, share.requiredRoot);
    co_await std::move(preparing);

    // The mount point comes after the options and "--".
    const QStringList arguments{share.address + QLatin1Char(':') + share.exportPath, QStringLiteral("-o"),
        nfsOptions(share.readOnly), endOfOptions, share.mountPoint};
    auto running = runWithSudoRetry(m_tools.nfsMount, arguments, mountTimeout);
    const ProcessResult result = co_await std::move(running);
    if (result.exitCode != 0)
        throw nfsMountFailure(toolName(m_tools.nfsMount), result);
}

QString LinuxMountTools::nfsOptions(bool readOnly)
{
    return readOnly ? QStringLiteral("vers=4,tcp,noresvport,ro") : QStringLiteral("vers=4,tcp,noresvport");
}

VantrelError LinuxMountTools::nfsMountFailure(const QString& tool, const ProcessResult& result)
{
    const QString message = result.message();
    if (result.exitCode == 1 && message.contains(QLatin1String("sudo")))
        return VantrelError::mountFailed(Localization::text(QStringLiteral("nfs.error.sudoRequired"),
            QStringLiteral(
                "NFS 挂载需要 root 权限。请在终端配置 sudoers 以允许免密执行 mount_nfs，或手动挂载后使用自定义挂载点。")));
    return VantrelError::mountFailed(result.exitedText(tool, message));
}

QCoro::Task<double> LinuxMountTools::testConnection(QString address)
{
    if (!NASConfig::isUsableAddress(address))
        throw VantrelError::connectionFailed(NASConfig::unusableAddressText(address));
    const QString host = splitAddress(address).host;
    const QStringList arguments{QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"),
        QString::number(pingWait), endOfOptions, host};
    QElapsedTimer clock;
    clock.start();
    auto running = run(m_tools.ping, arguments, connectionTestTimeout);
    const ProcessResult result = co_await std::move(running);
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (result.exitCode != 0)
        throw VantrelError::connectionFailed(QStringLiteral("Ping to ") + address
            + QStringLiteral(" failed (exit code ") + QString::number(result.exitCode) + QLatin1Char(')'));
    co_return elapsed;
}

} // namespace vantrel
