#include "mounting/LinuxMountTools.h"

#include "platform/FileSystemInfo.h"
#include "platform/Localization.h"
#include "platform/TcpProbe.h"
#include "platform/Threading.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotimer.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice
// (closures, braced lists), so lambdas, lists, awaiters and tasks are named first.

namespace {

// rclone's default SMB encoding without RightPeriod and Dot: with them, writing a file into a
// share's root also leaves a stray folder named "．" on the server.
const QString smbEncoding = QStringLiteral(
    "Slash,LtGt,DoubleQuote,Colon,Question,Asterisk,Pipe,BackSlash,Ctl,RightSpace,InvalidUtf8");

constexpr std::chrono::milliseconds pollInterval{50};

QString toolName(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString absoluteClean(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
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

template <typename F>
auto onShareIO(F&& f)
{
    return QtConcurrent::run(&shareIOPool(), std::forward<F>(f));
}

template <typename F>
auto onWorker(F&& f)
{
    return QtConcurrent::run(QThreadPool::globalInstance(), std::forward<F>(f));
}

QStringList processArguments(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray raw = file.readAll();
    if (raw.endsWith('\0'))
        raw.chop(1);
    QStringList arguments;
    if (raw.isEmpty())
        return arguments;
    for (const QByteArray& part : raw.split('\0'))
        arguments << QFile::decodeName(part);
    return arguments;
}

void signalProcesses(const QList<qint64>& pids, int signal)
{
    for (const qint64 pid : pids)
        ::kill(static_cast<pid_t>(pid), signal);
}

constexpr quint16 smbPort = 445;

bool isKernelNetworkMount(const QString& type)
{
    static const char* const types[] = {"cifs", "smb3", "nfs", "nfs4"};
    for (const char* name : types) {
        if (type == QLatin1String(name))
            return true;
    }
    return false;
}

enum class UserSpaceMount { dead, serverGone, live };

// Whether the process behind a user-space mount still answers (a dead one fails every call at
// once) and, for an rclone mount that names its server, whether that server accepts connections.
UserSpaceMount userSpaceMountState(const FileSystemInfo::MountEntry& entry, double probeSeconds)
{
    struct stat info {};
    if (::stat(QFile::encodeName(entry.mountPoint).constData(), &info) != 0)
        return UserSpaceMount::dead;
    if (entry.type == QLatin1String("fuse.rclone")) {
        if (const auto server = LinuxMountTools::serverOfMount(entry.source)) {
            const auto limit = std::chrono::milliseconds(timerMilliseconds(probeSeconds));
            if (!TcpProbe::accepts(server->host, server->port.value_or(smbPort), limit))
                return UserSpaceMount::serverGone;
        }
    }
    return UserSpaceMount::live;
}

// What the folder check found; the coroutine acts on a dead mount, the worker does the rest.
struct FolderCheck {
    std::optional<VantrelError> error;
    bool deadUserSpaceMount = false;
};

FolderCheck checkFolder(const FileSystemInfo& fileSystem, const QString& path, const std::optional<QString>& requiredRoot,
    double probeSeconds)
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
        const QString root = absoluteClean(*requiredRoot);
        const QString target = absoluteClean(path);
        const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
        if (!target.startsWith(prefix) || target.size() <= prefix.size())
            return fail(QStringLiteral("Mount point ") + path + QStringLiteral(" is not a folder inside ") + *requiredRoot);
    }

    const QByteArray native = QFile::encodeName(path);
    if (const std::optional<FileSystemInfo::MountEntry> mounted = fileSystem.mountAt(path)) {
        if (mounted->type.startsWith(QLatin1String("fuse"))) {
            switch (userSpaceMountState(*mounted, probeSeconds)) {
            case UserSpaceMount::dead:
                check.deadUserSpaceMount = true;
                return check;
            case UserSpaceMount::serverGone:
                check.error = VantrelError::connectionFailed(
                    QStringLiteral("The server of the share mounted at ") + path + QStringLiteral(" does not answer"));
                return check;
            case UserSpaceMount::live:
                break;
            }
        }
        return fail(QStringLiteral("Mount point is already in use by a ") + mounted->type + QStringLiteral(" mount: ") + path);
    }

    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        return fail(QStringLiteral("Mount point path exists but is not a directory: ") + path);
    if (!info.exists()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(native.toStdString()), ec);
        if (ec) {
            return fail(QStringLiteral("Failed to create mount point directory '") + path + QStringLiteral("': ")
                + QString::fromLocal8Bit(ec.message()));
        }
    }
    if (::access(native.constData(), W_OK) != 0)
        return fail(QStringLiteral("Mount point is not writable: ") + path);
    const QDir folder(path);
    if (!folder.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        return fail(QStringLiteral("Mount point is not empty: ") + path);
    return check;
}

// "//host[:port]/share" with the share percent-encoded: a comma would end the option that
// carries the name to the FUSE helper.
QString deviceName(const LinuxMountTools::SmbShare& share)
{
    QString host = share.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + share.host + QLatin1Char(']') : share.host;
    if (share.port)
        host += QLatin1Char(':') + QString::number(*share.port);
    QString path = share.sharePath;
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    return QStringLiteral("//") + host + QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
}

} // namespace

LinuxMountTools::LinuxMountTools(SystemTools tools)
    : LinuxMountTools(std::move(tools), FileSystemInfo::system())
{
}

LinuxMountTools::LinuxMountTools(SystemTools tools, FileSystemInfo& fileSystem)
    : logFolder(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/vantrel-mounts"))
    , m_tools(std::move(tools))
    , m_fileSystem(fileSystem)
{
}

QCoro::Task<ProcessResult> LinuxMountTools::run(QString program, QStringList arguments, double timeLimit,
    std::optional<QProcessEnvironment> environment, std::optional<QByteArray> input) const
{
    ProcessRequest request;
    request.program = std::move(program);
    request.arguments = std::move(arguments);
    request.timeout = timeLimit;
    request.input = std::move(input);
    request.nullInput = true;
    request.environment = std::move(environment);
    request.killGrace = killGrace;
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

std::optional<LinuxMountTools::Endpoint> LinuxMountTools::serverOfMount(const QString& source)
{
    if (!source.startsWith(QLatin1String("//")))
        return std::nullopt;
    const qsizetype end = source.indexOf(QLatin1Char('/'), 2);
    const QString authority = source.mid(2, end < 0 ? -1 : end - 2);
    if (authority.isEmpty())
        return std::nullopt;
    return splitAddress(authority);
}

bool LinuxMountTools::isMounted(const QString& path) const
{
    const std::optional<FileSystemInfo::MountEntry> entry = m_fileSystem.mountAt(path);
    if (!entry)
        return false;
    if (isKernelNetworkMount(entry->type))
        return true;
    return entry->type == QLatin1String("fuse.rclone")
        && userSpaceMountState(*entry, serverProbeTimeout) == UserSpaceMount::live;
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

QString LinuxMountTools::rcloneMessage(const QString& output)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}(\\.\\d+)? *"));
    static const QRegularExpression chatter(QStringLiteral("^(NOTICE|INFO|DEBUG)\\s*:"));
    static const QRegularExpression wrappers(QStringLiteral(
        "^(Fatal error: |Failed to \\S+ with \\d+ errors?: last error was: |error in \\w+: |ERROR : [^:]*: )+"));
    QString chosen;
    QString fallback;
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        QString line = raw.trimmed();
        line.remove(stamp);
        if (line.isEmpty())
            continue;
        fallback = line;
        if (!chatter.match(line).hasMatch())
            chosen = line;
    }
    if (chosen.isEmpty())
        chosen = fallback;
    chosen.remove(wrappers);
    return chosen.trimmed();
}

VantrelError::Kind LinuxMountTools::classifyRcloneFailure(const QString& message)
{
    const QString text = message.toLower();
    static const char* const unreachable[] = {"connection refused", "no route to host", "network is unreachable",
        "i/o timeout", "no such host", "connection reset", "host is down", "dial tcp"};
    for (const char* word : unreachable) {
        if (text.contains(QLatin1String(word)))
            return VantrelError::Kind::connectionFailed;
    }
    static const char* const refused[] = {"logon", "access denied", "access is denied", "permission denied",
        "password", "account"};
    for (const char* word : refused) {
        if (text.contains(QLatin1String(word)))
            return VantrelError::Kind::authenticationFailed;
    }
    return VantrelError::Kind::mountFailed;
}

QList<qint64> LinuxMountTools::rcloneMountProcesses(const QString& rclonePath, const QString& mountPoint)
{
    const QString program = toolName(rclonePath);
    const QString target = absoluteClean(mountPoint);
    const uint self = ::geteuid();
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || QFileInfo(QStringLiteral("/proc/") + entry).ownerId() != self)
            continue;
        const QStringList arguments = processArguments(pid);
        if (arguments.size() < 3 || toolName(arguments.first()) != program || arguments.at(1) != QLatin1String("mount"))
            continue;
        for (qsizetype i = 2; i < arguments.size(); ++i) {
            if (arguments.at(i).startsWith(QLatin1Char('/')) && QDir::cleanPath(arguments.at(i)) == target) {
                pids << pid;
                break;
            }
        }
    }
    return pids;
}

QString LinuxMountTools::logFileFor(const QString& mountPoint) const
{
    const QByteArray digest = QCryptographicHash::hash(absoluteClean(mountPoint).toUtf8(), QCryptographicHash::Sha256);
    return logFolder + QLatin1Char('/') + QString::fromLatin1(digest.toHex().left(16)) + QStringLiteral(".log");
}

QCoro::Task<> LinuxMountTools::prepareMountFolder(QString path, std::optional<QString> requiredRoot)
{
    const FileSystemInfo& fileSystem = m_fileSystem;
    auto inspect = [&fileSystem, path, requiredRoot, probe = serverProbeTimeout] {
        return checkFolder(fileSystem, path, requiredRoot, probe);
    };
    QFuture<FolderCheck> first = onShareIO(inspect);
    FolderCheck check = co_await first;
    if (check.deadUserSpaceMount) {
        // A user-space mount whose process died leaves the folder unusable until it is detached.
        const QStringList arguments{QStringLiteral("-u"), QStringLiteral("-z"), path};
        auto detaching = run(m_tools.fusermount, arguments, unmountTimeout);
        co_await std::move(detaching);
        QFuture<FolderCheck> second = onShareIO(inspect);
        check = co_await second;
        if (check.deadUserSpaceMount)
            check.error = VantrelError::mountFailed(QStringLiteral("Mount point holds a dead mount that could not be detached: ") + path);
    }
    if (check.error)
        throw *check.error;
}

QCoro::Task<QProcessEnvironment> LinuxMountTools::rcloneEnvironment(const SmbShare& share) const
{
    // Nothing inherited may change what rclone does or logs (a debug level would write the
    // obscured password into the log); no configuration file is read or written.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QStringList keys = environment.keys();
    for (const QString& key : keys) {
        if (key.startsWith(QLatin1String("RCLONE_")))
            environment.remove(key);
    }
    environment.insert(QStringLiteral("RCLONE_CONFIG"), QString());

    QString obscured;
    if (share.password) {
        const QStringList arguments{QStringLiteral("obscure"), QStringLiteral("-")};
        auto running = run(m_tools.rclone, arguments, mountTimeout, environment, share.password->toUtf8());
        const ProcessResult result = co_await std::move(running);
        obscured = result.stdout.trimmed();
        if (result.exitCode != 0 || obscured.isEmpty())
            throw VantrelError::mountFailed(QStringLiteral("rclone obscure exited with code ")
                + QString::number(result.exitCode) + QStringLiteral(": ") + result.stderr.trimmed());
    }
    environment.insert(QStringLiteral("RCLONE_SMB_HOST"), share.host);
    if (share.port)
        environment.insert(QStringLiteral("RCLONE_SMB_PORT"), QString::number(*share.port));
    environment.insert(QStringLiteral("RCLONE_SMB_USER"), share.user);
    if (!share.domain.isEmpty())
        environment.insert(QStringLiteral("RCLONE_SMB_DOMAIN"), share.domain);
    environment.insert(QStringLiteral("RCLONE_SMB_PASS"), obscured);
    environment.insert(QStringLiteral("RCLONE_SMB_ENCODING"), smbEncoding);
    co_return environment;
}

QCoro::Task<> LinuxMountTools::mountSMB(SmbShare share)
{
    auto preparing = prepareMountFolder(share.mountPoint, share.requiredRoot);
    co_await std::move(preparing);

    auto environmentTask = rcloneEnvironment(share);
    const QProcessEnvironment environment = co_await std::move(environmentTask);

    QString remotePath = share.sharePath;
    while (remotePath.startsWith(QLatin1Char('/')))
        remotePath.remove(0, 1);
    while (remotePath.endsWith(QLatin1Char('/')))
        remotePath.chop(1);
    const QString remote = QStringLiteral(":smb:") + remotePath;

    // The mount connects lazily and would "succeed" with a wrong password; a listing fails fast.
    const QStringList listArguments{QStringLiteral("lsf"), remote, QStringLiteral("--max-depth"), QStringLiteral("1"),
        QStringLiteral("--retries"), QStringLiteral("1"), QStringLiteral("--low-level-retries"), QStringLiteral("1")};
    auto listingTask = run(m_tools.rclone, listArguments, mountTimeout, environment);
    const ProcessResult listed = co_await std::move(listingTask);
    if (listed.exitCode != 0) {
        const QString message = rcloneMessage(listed.stderr.isEmpty() ? listed.stdout : listed.stderr);
        const VantrelError::Kind kind = classifyRcloneFailure(message);
        if (kind == VantrelError::Kind::mountFailed)
            throw VantrelError::mountFailed(QStringLiteral("rclone exited with code ") + QString::number(listed.exitCode)
                + QStringLiteral(": ") + message);
        throw VantrelError(kind, message);
    }

    const QString logFile = logFileFor(share.mountPoint);
    auto createLog = [folder = logFolder, logFile] {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile file(logFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    };
    QFuture<void> creating = onWorker(createLog);
    co_await creating;

    const QString mountPoint = absoluteClean(share.mountPoint);
    const qint64 waitSeconds = std::max<qint64>(1, static_cast<qint64>(std::ceil(mountTimeout)));
    QStringList mountArguments{QStringLiteral("mount"), remote, mountPoint, QStringLiteral("--daemon"),
        QStringLiteral("--daemon-wait"), QString::number(waitSeconds) + QLatin1Char('s'), QStringLiteral("--vfs-cache-mode"),
        QStringLiteral("writes"), QStringLiteral("--vfs-write-back"), QStringLiteral("0s"), QStringLiteral("--log-file"),
        logFile, QStringLiteral("--log-level"), QStringLiteral("NOTICE")};
    // The mount table then names the server, which the live-mount test asks whether it answers.
    mountArguments << QStringLiteral("--devname") << deviceName(share);
    if (share.readOnly)
        mountArguments << QStringLiteral("--read-only");

    std::optional<VantrelError> failure;
    try {
        auto mountTask = run(m_tools.rclone, mountArguments, mountTimeout, environment);
        const ProcessResult mounted = co_await std::move(mountTask);
        if (mounted.exitCode != 0) {
            auto readLog = [logFile] {
                QFile file(logFile);
                return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
            };
            QFuture<QString> reading = onWorker(readLog);
            const QString log = co_await reading;
            QString message = rcloneMessage(log);
            if (message.isEmpty())
                message = rcloneMessage(mounted.message());
            failure = VantrelError::mountFailed(QStringLiteral("rclone mount exited with code ")
                + QString::number(mounted.exitCode) + QStringLiteral(": ") + message);
        }
    } catch (const VantrelError& error) {
        failure = error;
    }

    if (!failure) {
        // rclone's parent waits for the mount on Linux; this confirms it without touching it.
        const FileSystemInfo& fileSystem = m_fileSystem;
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            auto probe = [&fileSystem, mountPoint] { return fileSystem.mountedTypeAt(mountPoint); };
            QFuture<std::optional<QString>> probing = onWorker(probe);
            const std::optional<QString> type = co_await probing;
            if (type == QStringLiteral("fuse.rclone"))
                co_return;
            if (static_cast<double>(clock.elapsed()) / 1000.0 >= mountTimeout) {
                failure = VantrelError::mountFailed(QStringLiteral("rclone mount ended without mounting ") + mountPoint);
                break;
            }
            auto pause = QCoro::sleepFor(pollInterval);
            co_await std::move(pause);
        }
    }

    auto cleaning = cleanUpFailedMount(mountPoint);
    co_await std::move(cleaning);
    throw *failure;
}

QCoro::Task<> LinuxMountTools::cleanUpFailedMount(QString mountPoint) const
{
    // A parent that timed out may leave its daemon behind, mounted or about to be.
    const QString rclone = m_tools.rclone;
    auto find = [rclone, mountPoint] { return rcloneMountProcesses(rclone, mountPoint); };
    QFuture<QList<qint64>> finding = onWorker(find);
    const QList<qint64> pids = co_await finding;
    signalProcesses(pids, SIGTERM);
    auto waiting = waitForProcessesToEnd(pids, killGrace);
    if (!co_await std::move(waiting))
        signalProcesses(pids, SIGKILL);

    const FileSystemInfo& fileSystem = m_fileSystem;
    auto probe = [&fileSystem, mountPoint] { return fileSystem.mountedTypeAt(mountPoint); };
    QFuture<std::optional<QString>> probing = onWorker(probe);
    const std::optional<QString> type = co_await probing;
    if (type == QStringLiteral("fuse.rclone")) {
        const QStringList arguments{QStringLiteral("-u"), QStringLiteral("-z"), mountPoint};
        try {
            auto detaching = run(m_tools.fusermount, arguments, unmountTimeout);
            co_await std::move(detaching);
        } catch (const VantrelError&) {
            // The original failure is what the caller needs to see.
        }
    }
    auto removeLog = [logFile = logFileFor(mountPoint)] { QFile::remove(logFile); };
    QFuture<void> removing = onWorker(removeLog);
    co_await removing;
}

QCoro::Task<bool> LinuxMountTools::waitForProcessesToEnd(QList<qint64> pids, double seconds) const
{
    if (pids.isEmpty())
        co_return true;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        // A zombie has no command line, so an ended process that nobody reaped counts as ended.
        auto alive = [pids] {
            for (const qint64 pid : pids) {
                if (!processArguments(pid).isEmpty())
                    return true;
            }
            return false;
        };
        QFuture<bool> checking = onWorker(alive);
        if (!co_await checking)
            co_return true;
        if (static_cast<double>(clock.elapsed()) / 1000.0 >= seconds)
            co_return false;
        auto pause = QCoro::sleepFor(pollInterval);
        co_await std::move(pause);
    }
}

QCoro::Task<> LinuxMountTools::unmount(QString mountPoint, bool force)
{
    const QString path = absoluteClean(mountPoint);
    const FileSystemInfo& fileSystem = m_fileSystem;
    const QString rclone = m_tools.rclone;
    struct Found {
        std::optional<QString> type;
        QList<qint64> pids;
    };
    auto inspect = [&fileSystem, rclone, path] {
        Found found{fileSystem.mountedTypeAt(path), {}};
        if (found.type && found.type->startsWith(QLatin1String("fuse")))
            found.pids = rcloneMountProcesses(rclone, path);
        return found;
    };
    QFuture<Found> inspecting = onWorker(inspect);
    const Found found = co_await inspecting;

    if (found.type && found.type->startsWith(QLatin1String("fuse"))) {
        QStringList arguments{QStringLiteral("-u")};
        if (force)
            arguments << QStringLiteral("-z");
        arguments << path;
        auto detaching = run(m_tools.fusermount, arguments, unmountTimeout);
        const ProcessResult result = co_await std::move(detaching);
        if (result.exitCode != 0)
            throw VantrelError::unmountFailed(toolName(m_tools.fusermount) + QStringLiteral(" -u exited with code ")
                + QString::number(result.exitCode) + QStringLiteral(": ") + result.stderr.trimmed());

        // The mount process still uploads what was written last; the share is not let go of
        // until it has ended.
        auto waiting = waitForProcessesToEnd(found.pids, unmountTimeout);
        if (!co_await std::move(waiting)) {
            if (!force)
                throw VantrelError::timeout(QStringLiteral("rclone mount of ") + path
                    + QStringLiteral(" was still writing to the server ") + ProcessRunner::wholeSeconds(unmountTimeout)
                    + QStringLiteral("s after the unmount"));
            signalProcesses(found.pids, SIGTERM);
        }
        auto removeLog = [logFile = logFileFor(path)] { QFile::remove(logFile); };
        QFuture<void> removing = onWorker(removeLog);
        co_await removing;
        co_return;
    }

    QStringList arguments;
    if (force)
        arguments << QStringLiteral("-f");
    arguments << path;
    auto running = runWithSudoRetry(m_tools.umount, arguments, unmountTimeout);
    const ProcessResult result = co_await std::move(running);
    if (result.exitCode != 0)
        throw VantrelError::unmountFailed(toolName(m_tools.umount) + QStringLiteral(" exited with code ")
            + QString::number(result.exitCode) + QStringLiteral(": ") + result.stderr.trimmed());
}

QCoro::Task<ProcessResult> LinuxMountTools::runWithSudoRetry(QString program, QStringList arguments,
    double timeLimit) const
{
    auto first = run(program, arguments, timeLimit);
    const ProcessResult result = co_await std::move(first);
    if (!refusedForPrivilege(result) || !QFileInfo::exists(m_tools.sudo))
        co_return result;
    // "-n": sudo fails at once instead of asking for a password nobody can type here.
    const QStringList sudoArguments = QStringList{QStringLiteral("-n"), program} + arguments;
    auto second = run(m_tools.sudo, sudoArguments, timeLimit);
    co_return co_await std::move(second);
}

QCoro::Task<> LinuxMountTools::mountNFS(NfsShare share)
{
    auto preparing = prepareMountFolder(share.mountPoint, share.requiredRoot);
    co_await std::move(preparing);

    QString options = QStringLiteral("vers=4,tcp,noresvport");
    if (share.readOnly)
        options += QStringLiteral(",ro");
    const QStringList arguments{share.address + QLatin1Char(':') + share.exportPath, share.mountPoint, QStringLiteral("-o"), options};
    auto running = runWithSudoRetry(m_tools.nfsMount, arguments, mountTimeout);
    const ProcessResult result = co_await std::move(running);
    if (result.exitCode == 0)
        co_return;

    const QString message = result.message();
    if (result.exitCode == 1 && message.contains(QLatin1String("sudo")))
        throw VantrelError::mountFailed(Localization::text(QStringLiteral("nfs.error.sudoRequired"),
            QStringLiteral("NFS 挂载需要 root 权限。请在终端配置 sudoers 以允许免密执行 mount_nfs，或手动挂载后使用自定义挂载点。")));
    throw VantrelError::mountFailed(toolName(m_tools.nfsMount) + QStringLiteral(" exited with code ")
        + QString::number(result.exitCode) + QStringLiteral(": ") + message);
}

QCoro::Task<double> LinuxMountTools::testConnection(QString address)
{
    const QString host = splitAddress(address).host;
    const QStringList arguments{QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"), QString::number(pingWait), host};
    QElapsedTimer clock;
    clock.start();
    auto running = run(m_tools.ping, arguments, connectionTestTimeout);
    const ProcessResult result = co_await std::move(running);
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (result.exitCode != 0)
        throw VantrelError::connectionFailed(QStringLiteral("Ping to ") + address + QStringLiteral(" failed (exit code ")
            + QString::number(result.exitCode) + QLatin1Char(')'));
    co_return elapsed;
}

} // namespace vantrel
