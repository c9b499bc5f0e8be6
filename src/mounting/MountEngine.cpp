#include "mounting/MountEngine.h"

#include "mounting/ExpectScript.h"
#include "mounting/MountRecord.h"
#include "mounting/ProcessRunner.h"
#include "platform/FileSystemInfo.h"
#include "platform/FileWork.h"
#include "platform/Localization.h"
#include "platform/TcpProbe.h"
#include "platform/Threading.h"
#include "services/KeychainManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QPromise>

#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <unistd.h>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice
// (closures, braced lists), so lambdas, lists, awaiters and tasks are named first.

namespace {

// A password that cannot travel intact: expect and vantrel-smbfs both read it as one line, and NUL
// ends a Tcl string. Nothing of it may show in the error.
bool passwordCanBePassedOn(const QString& password)
{
    return !password.contains(QChar(u'\0')) && !password.contains(QLatin1Char('\n'))
        && !password.contains(QLatin1Char('\r'));
}

constexpr quint16 smbPort = 445;

// "--" ends the options of every tool run here (sudo, ping and the BSD-style mount tools), so that
// a share path, mount point or address given by the user is never read as one.
const QString endOfOptions = QStringLiteral("--");

void requireUsableAddress(const QString& address, VantrelError::Kind kind)
{
    if (!NASConfig::isUsableAddress(address))
        throw VantrelError(kind, NASConfig::unusableAddressText(address));
}

// The share's connection time-out bounds each request to its server; a stored value out of range
// falls back to the default.
double serverTimeoutOf(const NASConfig& config)
{
    const qint64 seconds = config.mountOptions.connectionTimeout;
    return static_cast<double>(seconds >= 1 && seconds <= 3600 ? seconds : MountOptions{}.connectionTimeout);
}

} // namespace

static VantrelError quittingError()
{
    return VantrelError::mountFailed(QStringLiteral("The application is quitting"));
}

QCoro::Task<TurnQueue::Turn> MountEngine::waitForMountTurn(const NASConfig& config)
{
    if (m_refusingMounts)
        throw quittingError();
    m_mountTurns.setLimit(mountsPerServer);
    auto taking = m_mountTurns.take(serverOf(config));
    TurnQueue::Turn turn = co_await std::move(taking);
    if (!turn.held())
        throw VantrelError::mountFailed(QStringLiteral("The mount was abandoned"));
    // Quitting: the waiting mounts hand their turns on, one after the other, without a tool.
    if (m_refusingMounts)
        throw quittingError();
    co_return turn;
}

QString MountEngine::serverOf(const NASConfig& config)
{
    const LinuxMountTools::Endpoint endpoint = LinuxMountTools::splitAddress(config.address.trimmed());
    QString host = endpoint.host.toLower();
    // "nas." and "nas" name one host.
    if (host.endsWith(QLatin1Char('.')) && host.size() > 1)
        host.chop(1);
    const quint16 port = endpoint.port.value_or(config.protocol == NASProtocol::nfs ? 2049 : smbPort);
    return host + QLatin1Char('#') + QString::number(port);
}

QString MountEngine::shareKey(const NASConfig& config)
{
    QStringList parts = config.sharePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!parts.isEmpty())
        parts.first() = parts.first().toLower();
    return serverOf(config) + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

bool MountEngine::sameShare(const NASConfig& a, const NASConfig& b)
{
    if (a.address == b.address && a.sharePath == b.sharePath)
        return true;
    return shareKey(a) == shareKey(b);
}

QCoro::Task<> MountEngine::ensureServerAnswers(const NASConfig& config, const QString& mountPoint)
{
    if (!onLinux())
        co_return;
    const LinuxMountTools::Endpoint server = LinuxMountTools::splitAddress(config.address);
    const quint16 port = server.port.value_or(smbPort);
    // A bounded number of sockets at once: a thousand shares behind a firewall that drops packets
    // would otherwise exhaust this process's descriptors. No mount turn is held meanwhile.
    std::optional<TcpProbe::Result> probed;
    {
        m_serverChecks.setLimit(serverChecksAtOnce);
        auto taking = m_serverChecks.take(QString());
        const TurnQueue::Turn slot = co_await std::move(taking);
        if (!slot.held())
            throw VantrelError::mountFailed(QStringLiteral("The mount was abandoned"));
        if (m_refusingMounts)
            throw quittingError();
        auto probing = TcpProbe::check(server.host, port, millisecondsOf(serverConnectTimeout));
        probed = co_await std::move(probing);
        if (!slot.held())
            throw VantrelError::mountFailed(QStringLiteral("The mount was abandoned"));
    }
    if (probed->accepted())
        co_return;
    const std::optional<QString> refusal = probed->reason;
    // A mount still standing at the folder is for the tool set to judge and report; it runs no
    // tool for it either.
    auto inspecting = m_linux.mountedType(mountPoint);
    if (co_await std::move(inspecting))
        co_return;
    if (probed->outcome == TcpProbe::Result::Outcome::localFailure)
        throw VantrelError::connectionFailed(QStringLiteral("This computer is out of resources to connect to ")
            + config.address + QStringLiteral(": ") + *refusal);
    throw VantrelError::connectionFailed(
        QStringLiteral("The server ") + config.address + QStringLiteral(" does not accept connections: ") + *refusal);
}

MountEngine::MountEngine(SystemTools tools, QString mountRoot, FileSystemInfo& fileSystem, KeychainManager& keychain)
    : m_tools(std::move(tools))
    , m_mountRoot(std::move(mountRoot))
    , m_fileSystem(fileSystem)
    , m_keychain(keychain)
    , m_linux(m_tools, fileSystem)
{
}

MountEngine& MountEngine::shared()
{
    return sharedInstance([] {
        auto* engine = new MountEngine(SystemTools::platformDefault(), defaultMountRoot(), FileSystemInfo::system(),
            KeychainManager::shared());
        engine->recordPath = MountRecord::defaultPath();
        return engine;
    });
}

QString MountEngine::defaultMountRoot()
{
    return QDir::homePath() + QStringLiteral("/VantrelVolumes");
}

QString MountEngine::mountPointPath(const NASConfig& config) const
{
    const std::optional<QString>& custom = config.mountOptions.customMountPoint;
    if (custom && !custom->isEmpty())
        return *custom;
    return m_mountRoot + QLatin1Char('/') + config.name;
}

LinuxMountTools& MountEngine::linuxSet()
{
    m_linux.mountTimeout = mountTimeout;
    m_linux.unmountTimeout = mountTimeout;
    m_linux.connectionTestTimeout = connectionTestTimeout;
    m_linux.killGrace = killGrace;
    return m_linux;
}

void MountEngine::refuseMountRootAsMountPoint(const NASConfig& config) const
{
    // A default mount point has its own rule: strictly inside the root.
    if (requiredRoot(config))
        return;
    const QString path = mountPointPath(config);
    // Mounted over the root (or a folder above it), a share would hide every other share's
    // folder, and their mounts would then create folders on this share's server.
    const QString root = LinuxMountTools::absolutePath(m_mountRoot);
    const QString target = LinuxMountTools::absolutePath(path);
    if (target == root || LinuxMountTools::isStrictlyInside(target, root))
        throw VantrelError::mountFailed(QStringLiteral("Mount point ") + path
            + QStringLiteral(" is or holds the folder of all default mount points (") + m_mountRoot
            + QStringLiteral("); choose a folder inside it or elsewhere"));
}

std::optional<QString> MountEngine::requiredRoot(const NASConfig& config) const
{
    const std::optional<QString>& custom = config.mountOptions.customMountPoint;
    if (custom && !custom->isEmpty())
        return std::nullopt;
    return m_mountRoot;
}

QCoro::Task<ProcessResult> MountEngine::run(QString program, QStringList arguments, double timeout,
    std::optional<QByteArray> input) const
{
    ProcessRequest request{.program = std::move(program),
        .arguments = std::move(arguments),
        .timeout = timeout,
        .input = std::move(input),
        .nullInput = false,
        .environment = std::nullopt,
        .killGrace = killGrace};
    auto task = ProcessRunner::run(std::move(request));
    co_return co_await std::move(task);
}

bool MountEngine::isMounted(const QString& path) const
{
    return isMountedWith(m_linux, path);
}

bool MountEngine::isMountedWith(const LinuxMountTools& tools, const QString& path)
{
    if (isLinuxSet(tools))
        return tools.isMounted(path);
    const FileSystemInfo& fileSystem = tools.fileSystem();
    const std::optional<QString> type = fileSystem.typeName(path);
    if (!type || (*type != QLatin1String("smbfs") && *type != QLatin1String("nfs")))
        return false;
    // A plain folder on a network-mounted home has the network type too; only a mount root counts.
    return fileSystem.isMountRoot(path);
}

QCoro::Task<bool> MountEngine::isMountedAsync(QString path) const
{
    auto check = [tools = m_linux, path] { return isMountedWith(tools, path); };
    QFuture<bool> mounted = runFileWork(path, std::move(check));
    // A test that does not answer in time is a share that does not answer; its thread is freed
    // by the mount's own time limit, or when the mount is released.
    auto bounded = awaitWithin(mounted, millisecondsOf(liveTestTimeout));
    const std::optional<bool> live = co_await std::move(bounded);
    co_return live.value_or(false);
}

void MountEngine::refuseMounts()
{
    m_refusingMounts = true;
}

QCoro::Task<bool> MountEngine::holdsMount(QString path)
{
    if (!onLinux()) {
        auto test = isMountedAsync(path);
        co_return co_await std::move(test);
    }
    auto probing = m_linux.mountedType(path);
    const std::optional<QString> type = co_await std::move(probing);
    if (!type)
        co_return false;
    static const char* const types[] = {"cifs", "smb3", "nfs", "nfs4"};
    for (const char* name : types) {
        if (*type == QLatin1String(name))
            co_return true;
    }
    co_return type->startsWith(QLatin1String("fuse"));
}

QCoro::Task<> MountEngine::releaseMount(QString path, bool polite, double timeLimit)
{
    // What outlives its engine (a test that drops it) touches nothing of it.
    const std::weak_ptr<const bool> alive = m_alive;
    if (onLinux()) {
        LinuxMountTools& tools = linuxSet();
        auto releasing = tools.release(path, polite, timeLimit);
        co_await std::move(releasing);
        if (!alive.expired())
            letGo(path);
        co_return;
    }
    try {
        auto running = run(m_tools.diskutil, QStringList{QStringLiteral("unmount"), QStringLiteral("force"), path},
            timeLimit);
        co_await std::move(running);
    } catch (const VantrelError&) {
        // Nothing more can be done for it here.
    }
    if (!alive.expired())
        letGo(path);
}

bool MountEngine::mountsThroughSmbfs(const NASConfig& config) const
{
    return onLinux() && config.protocol == NASProtocol::smb;
}

QCoro::Task<std::optional<SmbfsMount::Status>> MountEngine::smbfsStatus(QString path)
{
    const SmbfsMount smbfs(linuxSet());
    auto asking = smbfs.status(path, m_linux.statusTimeout);
    co_return co_await std::move(asking);
}

QCoro::Task<bool> MountEngine::hasSmbfsProcess(QString path)
{
    const SmbfsMount smbfs(linuxSet());
    auto finding = smbfs.hasProcess(path);
    co_return co_await std::move(finding);
}

bool MountEngine::ownsMount(const QString& path) const
{
    return m_held.contains(LinuxMountTools::absolutePath(path));
}

QStringList MountEngine::heldMounts() const
{
    return m_held;
}

void MountEngine::hold(const QString& path)
{
    const QString absolute = LinuxMountTools::absolutePath(path);
    if (m_held.contains(absolute))
        return;
    m_held.append(absolute);
    m_recordsMounts = true;
    writeRecord();
}

void MountEngine::letGo(const QString& path)
{
    if (m_held.removeAll(LinuxMountTools::absolutePath(path)) > 0)
        writeRecord();
}

QFuture<void> MountEngine::writeRecord()
{
    // A copy that neither mounted nor took over anything (one that hands over to the running
    // copy) leaves the record of the copy that did alone.
    if (recordPath.isEmpty() || m_recordBlocked || !m_recordsMounts)
        return QtFuture::makeReadyFuture();
    MountRecord record;
    record.mounts = m_held;
    record.owner = MountRecord::currentOwner();
    const quint64 generation = ++m_recordGeneration;
    auto write = [record, generation, written = m_recordWritten, path = recordPath] {
        // Writes may run side by side on the pool; an older state never replaces a newer one.
        static QMutex order;
        const QMutexLocker lock(&order);
        if (generation <= written->load())
            return;
        record.write(path);
        written->store(generation);
    };
    return runBlockingWork(std::move(write));
}

QCoro::Task<> MountEngine::releaseHeldMounts(bool polite, double timeLimit)
{
    const QStringList paths = m_held;
    std::vector<QCoro::Task<>> releases;
    releases.reserve(static_cast<size_t>(paths.size()));
    for (const QString& path : paths)
        releases.push_back(releaseMount(path, polite, timeLimit));
    for (QCoro::Task<>& release : releases)
        co_await release;
    QFuture<void> writing = writeRecord();
    co_await writing;
}

QCoro::Task<QStringList> MountEngine::takeOverLeftovers(QStringList callerMountPoints)
{
    struct Found {
        QStringList mountPoints; // nested mounts first
        bool recordKeptInPlace = false;
    };
    auto find = [path = recordPath, root = LinuxMountTools::absolutePath(m_mountRoot), linux = onLinux(),
                    &fileSystem = m_fileSystem] {
        Found found;
        std::optional<MountRecord> record;
        if (!path.isEmpty())
            record = MountRecord::read(path, nullptr, &found.recordKeptInPlace);
        const bool ownerRuns = record && MountRecord::isAlive(record->owner);
        // A record of an earlier boot names mounts that went with it.
        const bool recordCounts = record && !ownerRuns && record->owner.bootID == MountRecord::currentBootID();
        for (const FileSystemInfo::MountEntry& entry : fileSystem.mountTable()) {
            const QString& mountPoint = entry.mountPoint;
            if (found.mountPoints.contains(mountPoint) || (ownerRuns && record->mounts.contains(mountPoint)))
                continue;
            const bool recorded = recordCounts && record->mounts.contains(mountPoint);
            const bool underRoot = linux && entry.type.startsWith(QLatin1String("fuse"))
                && LinuxMountTools::isStrictlyInside(root, mountPoint);
            if ((recorded && LinuxMountTools::isShareMountType(entry.type)) || underRoot)
                found.mountPoints.prepend(mountPoint);
        }
        return found;
    };
    QFuture<Found> finding = runBlockingWork(std::move(find));
    const Found found = co_await finding;
    m_recordBlocked = found.recordKeptInPlace;
    m_recordsMounts = true;

    QStringList callers;
    for (const QString& path : std::as_const(callerMountPoints))
        callers.append(LinuxMountTools::absolutePath(path));
    QStringList checked;
    std::vector<QFuture<bool>> checks;
    for (const QString& path : found.mountPoints) {
        if (callers.contains(path)) {
            hold(path);
            continue;
        }
        // Each in its own lane: one that hangs holds no other.
        auto check = [tools = m_linux, path] { return tools.isLiveLeftover(path); };
        checks.push_back(runFileWork(path, std::move(check)));
        checked.append(path);
    }

    QElapsedTimer clock;
    clock.start();
    const qint64 bound = millisecondsOf(leftoverCheckTimeout).count();
    QStringList dead;
    for (qsizetype i = 0; i < checked.size(); ++i) {
        const std::chrono::milliseconds left(std::max<qint64>(0, bound - clock.elapsed()));
        auto waiting = awaitWithin(checks[static_cast<size_t>(i)], left);
        const std::optional<bool> live = co_await std::move(waiting);
        if (live.value_or(false))
            hold(checked.at(i));
        else
            dead.append(checked.at(i));
    }
    std::vector<QCoro::Task<>> releases;
    for (const QString& path : std::as_const(dead))
        releases.push_back(releaseMount(path, false, mountTimeout));
    for (QCoro::Task<>& release : releases)
        co_await release;
    // The dead copy's record gives way to this one's.
    QFuture<void> writing = writeRecord();
    co_await writing;
    co_return dead;
}

void MountEngine::ensureMountPoint(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() && info.isDir())
        return;
    if (!info.exists() && path.startsWith(QLatin1String("/Volumes/"))) {
        throw VantrelError::mountFailed(QStringLiteral("无法自动创建 /Volumes/ 下的挂载点（需要 root 权限）。")
            + QStringLiteral("请使用默认路径，或手动在终端执行：sudo mkdir -p '") + path + QLatin1Char('\''));
    }
    if (const std::optional<VantrelError> error = LinuxMountTools::ensureFolder(path))
        throw *error;
}

QCoro::Task<bool> MountEngine::prepareMountPoint(QString path) const
{
    struct Outcome {
        bool mounted = false;
        std::optional<VantrelError> error;
    };
    auto work = [tools = m_linux, path] {
        Outcome result;
        if (isMountedWith(tools, path)) {
            result.mounted = true;
            return result;
        }
        // The Linux tool set checks the folder itself, right before its tool runs.
        if (isLinuxSet(tools))
            return result;
        try {
            ensureMountPoint(path);
        } catch (const VantrelError& error) {
            result.error = error;
        }
        return result;
    };
    QFuture<Outcome> future = runFileWork(path, std::move(work));
    const Outcome outcome = co_await future;
    if (outcome.error)
        throw *outcome.error;
    co_return outcome.mounted;
}

QString MountEngine::smbShareUrl(const QString& user, const QString& address, const QString& sharePath)
{
    qsizetype begin = 0;
    qsizetype end = sharePath.size();
    while (begin < end && sharePath.at(begin) == QLatin1Char('/'))
        ++begin;
    while (end > begin && sharePath.at(end - 1) == QLatin1Char('/'))
        --end;
    const QString share = sharePath.mid(begin, end - begin);
    // The characters a URL path allows stay; inner "/" keep the folder structure.
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(share, QByteArrayLiteral("!$&'()*+,;=:@/")));
    return QStringLiteral("//") + user + QLatin1Char('@') + address + QLatin1Char('/') + encoded;
}

QUrl MountEngine::directoryUrl(const QString& path)
{
    return QUrl::fromLocalFile(path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/'));
}

QString MountEngine::localPath(const QUrl& url)
{
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QCoro::Task<> MountEngine::releaseShareFromOtherConfigs(NASConfig config, QList<NASConfig> configs,
    QHash<QUuid, NASStatus> statuses, ReleaseHandler released)
{
    for (const NASConfig& other : configs) {
        if (other.id == config.id)
            continue;
        const auto status = statuses.constFind(other.id);
        if (status == statuses.cend() || !status->mountState.is(MountState::Kind::mounted) || !status->mountPoint
            || !sameShare(other, config))
            continue;
        bool letGo = false;
        try {
            auto task = unmount(*status->mountPoint, false);
            co_await std::move(task);
            letGo = true;
        } catch (const std::exception&) {
            // Another configuration that cannot let go keeps its status; this mount goes ahead.
        }
        if (letGo && released)
            released(other.id);
    }
}

QCoro::Task<ProcessResult> MountEngine::runMountTool(QStringList arguments, std::optional<QString> password,
    QString user, QString address)
{
    if (!password) {
        auto task = run(m_tools.smbMount, arguments, mountTimeout);
        co_return co_await std::move(task);
    }

    if (QFileInfo::exists(m_tools.expect)) {
        const QByteArray script = ExpectScript::build(m_tools.smbMount, arguments, *password).toUtf8();
        QStringList expectArguments;
        expectArguments << QStringLiteral("-");
        auto task = run(m_tools.expect, expectArguments, mountTimeout, script);
        co_return co_await std::move(task);
    }

    // Without expect the tool reads the password from a temporary Keychain item.
    KeychainManager& keychain = m_keychain;
    auto write = [&keychain, address, user, pw = *password]() -> std::optional<VantrelError> {
        try {
            keychain.writeSystemSMBKeychainEntry(address, user, pw);
        } catch (const VantrelError& error) {
            return error;
        } catch (const std::exception& error) {
            return VantrelError::keychainError(QString::fromLocal8Bit(error.what()));
        }
        return std::nullopt;
    };
    // Keychain calls are synchronous D-Bus round trips that may wait on an unlock prompt.
    QFuture<std::optional<VantrelError>> writing = runBlockingWork(std::move(write));
    const std::optional<VantrelError> written = co_await writing;
    if (written)
        throw *written;

    arguments.prepend(QStringLiteral("-N"));
    std::optional<ProcessResult> result;
    std::exception_ptr failure;
    try {
        auto task = run(m_tools.smbMount, arguments, mountTimeout);
        result = co_await std::move(task);
    } catch (...) {
        failure = std::current_exception();
    }
    auto cleanup = [&keychain, address, user] { keychain.cleanupSystemSMBKeychain(address, user); };
    QFuture<void> cleaning = runBlockingWork(std::move(cleanup));
    co_await cleaning;
    if (failure)
        std::rethrow_exception(failure);
    co_return *result;
}

namespace {

// Past an await the engine may be gone (a test that drops it): the mount goes no further.
void requireEngine(const std::weak_ptr<const bool>& alive)
{
    if (alive.expired())
        throw VantrelError::mountFailed(QStringLiteral("The mount was abandoned"));
}

} // namespace

QCoro::Task<QUrl> MountEngine::mountSMB(NASConfig config, QList<NASConfig> configs, QHash<QUuid, NASStatus> statuses,
    ReleaseHandler released)
{
    // What outlives its engine (a test that drops it) touches nothing of it.
    const std::weak_ptr<const bool> alive = m_alive;
    if (config.sharePath.isEmpty())
        throw VantrelError::mountFailed(QStringLiteral("共享路径不能为空"));
    requireUsableAddress(config.address, VantrelError::Kind::mountFailed);
    refuseMountRootAsMountPoint(config);

    auto release = releaseShareFromOtherConfigs(config, std::move(configs), std::move(statuses), std::move(released));
    co_await std::move(release);
    requireEngine(alive);

    const QString path = mountPointPath(config);
    auto prepare = prepareMountPoint(path);
    const bool mountedAlready = co_await std::move(prepare);
    requireEngine(alive);
    if (mountedAlready)
        co_return directoryUrl(path);
    QString user = QStringLiteral("guest");
    std::optional<QString> password;
    if (config.authMethod == AuthMethod::password) {
        user = config.username.value_or(QStringLiteral("guest"));
        KeychainManager& keychain = m_keychain;
        const QString account = config.keychainIdentifier;
        auto read = [&keychain, account] { return keychain.getPassword(account); };
        QFuture<std::optional<QString>> reading = runBlockingWork(std::move(read));
        password = co_await reading;
        requireEngine(alive);
        if (!password || password->isEmpty())
            throw VantrelError::authenticationFailed(
                QStringLiteral("No password found in keychain for ") + config.name);
        if (!passwordCanBePassedOn(*password))
            throw VantrelError::authenticationFailed(QStringLiteral("The password of ") + config.name
                + QStringLiteral(
                    " contains a line break or a NUL character, which cannot be passed to the mount tool"));
    }

    if (onLinux()) {
        // Cheap before expensive: an unreachable server costs a connect, not a round of tools.
        auto answering = ensureServerAnswers(config, path);
        co_await std::move(answering);
        requireEngine(alive);
        auto waiting = waitForMountTurn(config);
        const TurnQueue::Turn turn = co_await std::move(waiting);
        requireEngine(alive);
        const LinuxMountTools::Endpoint server = LinuxMountTools::splitAddress(config.address);
        const auto [domain, account] = LinuxMountTools::splitDomain(user);
        const LinuxMountTools::SmbShare share{server.host, server.port, config.sharePath, domain, account, password,
            path, config.mountOptions.readOnly, requiredRoot(config), serverTimeoutOf(config)};
        // Held from the tool's start: a quit meanwhile releases what it leaves.
        const bool held = ownsMount(path);
        hold(path);
        try {
            auto mounting = linuxSet().mountSMB(share);
            co_await std::move(mounting);
        } catch (...) {
            if (!held && !alive.expired())
                letGo(path);
            throw;
        }
        co_return directoryUrl(path);
    }

    QStringList arguments;
    if (config.mountOptions.readOnly)
        arguments << QStringLiteral("-o") << QStringLiteral("ro");
    arguments << endOfOptions << smbShareUrl(user, config.address, config.sharePath) << path;

    auto waiting = waitForMountTurn(config);
    const TurnQueue::Turn turn = co_await std::move(waiting);
    requireEngine(alive);
    auto run = runMountTool(arguments, password, user, config.address);
    const ProcessResult result = co_await std::move(run);
    if (result.exitCode == 0) {
        if (!alive.expired())
            hold(path);
        co_return directoryUrl(path);
    }

    const QString message = result.message();
    if (result.exitCode == 64 && message.isEmpty())
        throw VantrelError::mountFailed(
            QStringLiteral("mount_smbfs 参数错误。可能原因：挂载点已被占用、共享路径格式不正确、或缺少必要参数。"));
    throw VantrelError::mountFailed(result.exitedText(QStringLiteral("mount_smbfs"), message));
}

QCoro::Task<QUrl> MountEngine::mountNFS(NASConfig config)
{
    // What outlives its engine (a test that drops it) touches nothing of it.
    const std::weak_ptr<const bool> alive = m_alive;
    if (config.sharePath.isEmpty())
        throw VantrelError::mountFailed(
            Localization::text(QStringLiteral("nfs.error.emptySharePath"), QStringLiteral("NFS 共享路径不能为空")));
    requireUsableAddress(config.address, VantrelError::Kind::mountFailed);

    const QString path = mountPointPath(config);
    refuseMountRootAsMountPoint(config);
    auto prepare = prepareMountPoint(path);
    const bool mountedAlready = co_await std::move(prepare);
    requireEngine(alive);
    if (mountedAlready)
        co_return directoryUrl(path);

    auto waiting = waitForMountTurn(config);
    const TurnQueue::Turn turn = co_await std::move(waiting);
    requireEngine(alive);
    if (onLinux()) {
        const LinuxMountTools::NfsShare share{config.address, config.sharePath, path, config.mountOptions.readOnly,
            requiredRoot(config)};
        const bool held = ownsMount(path);
        hold(path);
        try {
            auto mounting = linuxSet().mountNFS(share);
            co_await std::move(mounting);
        } catch (...) {
            if (!held && !alive.expired())
                letGo(path);
            throw;
        }
        co_return directoryUrl(path);
    }

    const QStringList arguments{QStringLiteral("-o"), LinuxMountTools::nfsOptions(config.mountOptions.readOnly),
        endOfOptions, config.address + QLatin1Char(':') + config.sharePath, path};

    auto first = run(m_tools.nfsMount, arguments, mountTimeout);
    ProcessResult result = co_await std::move(first);
    if (result.exitCode == 0) {
        if (!alive.expired())
            hold(path);
        co_return directoryUrl(path);
    }

    if (result.exitCode == 1) {
        const QString error = result.stderr.trimmed().toLower();
        const bool refused = error.contains(QLatin1String("permission"))
            || error.contains(QLatin1String("not permitted"));
        requireEngine(alive);
        if (refused && QFileInfo::exists(m_tools.sudo)) {
            const QStringList sudoArguments = QStringList{QStringLiteral("-n"), endOfOptions, m_tools.nfsMount}
                + arguments;
            auto retry = run(m_tools.sudo, sudoArguments, mountTimeout);
            result = co_await std::move(retry);
        }
    }

    if (result.exitCode == 0) {
        if (!alive.expired())
            hold(path);
        co_return directoryUrl(path);
    }
    if (result.exitCode == 64)
        throw VantrelError::mountFailed(Localization::text(QStringLiteral("nfs.error.invalidArgument"),
            QStringLiteral("mount_nfs 参数错误。请检查 NFS 服务器地址和共享路径是否正确。当前仅支持 NFSv4。")));
    throw LinuxMountTools::nfsMountFailure(QStringLiteral("mount_nfs"), result);
}

void MountEngine::removeMountPointFolder(const QString& mountRoot, const QString& path)
{
    // Only a folder strictly inside the mount root, judged after "." and ".." are resolved, and
    // only while empty: a share named "" or ".." must never reach the root or anything above it.
    const QString root = QDir::cleanPath(mountRoot);
    const QString target = QDir::cleanPath(path);
    if (root.isEmpty() || !LinuxMountTools::isStrictlyInside(root, target))
        return;
    QDir().rmdir(target);
}

QCoro::Task<> MountEngine::unmount(QUrl mountPoint, bool force)
{
    // What outlives its engine (a test that drops it) touches nothing of it.
    const std::weak_ptr<const bool> alive = m_alive;
    const QString path = localPath(mountPoint);
    if (onLinux()) {
        auto unmounting = linuxSet().unmount(path, force);
        co_await std::move(unmounting);
    } else {
        // diskutil takes no "--": an absolute path is never read as an option.
        const QString absolute = LinuxMountTools::absolutePath(path);
        const QStringList arguments = force ? QStringList{QStringLiteral("unmount"), QStringLiteral("force"), absolute}
                                            : QStringList{QStringLiteral("unmount"), absolute};
        auto running = run(m_tools.diskutil, arguments, mountTimeout);
        const ProcessResult result = co_await std::move(running);
        if (result.exitCode != 0)
            throw VantrelError::unmountFailed(
                result.exitedText(QStringLiteral("diskutil unmount"), result.stderr.trimmed()));
    }

    if (alive.expired())
        co_return;
    letGo(path);
    auto remove = [root = m_mountRoot, path] { removeMountPointFolder(root, path); };
    QFuture<void> removing = runFileWork(path, std::move(remove));
    co_await removing;
}

QCoro::Task<MountEngine::ConnectionTestResult> MountEngine::checkSMB(NASConfig config)
{
    const QString program = m_tools.smbfs;
    const QString fuseDevice = m_fuseDevice;
    // Local causes first, in their own words: they are not the server's fault.
    auto inspect = [program, fuseDevice]() -> std::optional<VantrelError> {
        if (!QFileInfo(program).isExecutable())
            return VantrelError::mountFailed(
                QStringLiteral("The SMB file system program is missing or cannot run: ") + program);
        if (::access(QFile::encodeName(fuseDevice).constData(), R_OK | W_OK) != 0)
            return VantrelError::mountFailed(QStringLiteral("No access to ") + fuseDevice
                + QStringLiteral(": shares cannot be mounted on this computer (is the fuse3 package installed?)"));
        return std::nullopt;
    };
    QFuture<std::optional<VantrelError>> inspecting = runBlockingWork(inspect);
    if (const std::optional<VantrelError> local = co_await inspecting)
        co_return ConnectionTestResult{std::nullopt, *local};

    QString user = QStringLiteral("guest");
    std::optional<QString> password;
    if (config.authMethod == AuthMethod::password) {
        user = config.username.value_or(QStringLiteral("guest"));
        // The password typed in the editor is the one to test; the stored one otherwise.
        password = config.password;
        if (!password || password->isEmpty()) {
            KeychainManager& keychain = m_keychain;
            auto read = [&keychain, account = config.keychainIdentifier] { return keychain.getPassword(account); };
            QFuture<std::optional<QString>> reading = runBlockingWork(std::move(read));
            password = co_await reading;
        }
        if (!password || password->isEmpty())
            co_return ConnectionTestResult{std::nullopt,
                VantrelError::authenticationFailed(QStringLiteral("No password found in keychain for ") + config.name)};
        if (!passwordCanBePassedOn(*password))
            co_return ConnectionTestResult{std::nullopt,
                VantrelError::authenticationFailed(QStringLiteral("The password of ") + config.name
                    + QStringLiteral(" contains a line break or a NUL character, which cannot be passed to the mount "
                                     "tool"))};
    }
    const LinuxMountTools::Endpoint server = LinuxMountTools::splitAddress(config.address);
    const auto [domain, account] = LinuxMountTools::splitDomain(user);
    LinuxMountTools::SmbShare share{server.host, server.port, config.sharePath, domain, account, password, QString(),
        config.mountOptions.readOnly, std::nullopt, serverTimeoutOf(config)};
    // The program's own bound comes first, so that it says which step did not answer.
    share.serverTimeout = std::max(1.0, std::min(share.serverTimeout, std::floor(connectionTestTimeout) - 1.0));
    try {
        auto checking = linuxSet().checkSMB(share);
        const double latency = co_await std::move(checking);
        co_return ConnectionTestResult{latency, std::nullopt};
    } catch (const VantrelError& error) {
        co_return ConnectionTestResult{std::nullopt, error};
    }
}

QCoro::Task<MountEngine::ConnectionTestResult> MountEngine::testConnection(NASConfig config)
{
    const QString address = config.address;
    if (!NASConfig::isUsableAddress(address))
        co_return ConnectionTestResult{std::nullopt,
            VantrelError::connectionFailed(NASConfig::unusableAddressText(address))};
    if (onLinux() && config.protocol == NASProtocol::smb) {
        auto checking = checkSMB(config);
        co_return co_await std::move(checking);
    }
    if (onLinux()) {
        try {
            auto pinging = linuxSet().testConnection(address);
            const double latency = co_await std::move(pinging);
            co_return ConnectionTestResult{latency, std::nullopt};
        } catch (const VantrelError& error) {
            co_return ConnectionTestResult{std::nullopt, error};
        }
    }
    QStringList arguments;
    arguments << QStringLiteral("-c") << QStringLiteral("1") << QStringLiteral("-W") << QStringLiteral("3000")
              << endOfOptions << address;
    QElapsedTimer clock;
    clock.start();
    try {
        auto running = run(m_tools.ping, arguments, connectionTestTimeout);
        const ProcessResult result = co_await std::move(running);
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        if (result.exitCode == 0)
            co_return ConnectionTestResult{elapsed, std::nullopt};
        co_return ConnectionTestResult{std::nullopt,
            VantrelError::connectionFailed(QStringLiteral("Ping to ") + address + QStringLiteral(" failed (exit code ")
                + QString::number(result.exitCode) + QLatin1Char(')'))};
    } catch (const VantrelError& error) {
        co_return ConnectionTestResult{std::nullopt, error};
    } catch (const std::exception& error) {
        co_return ConnectionTestResult{std::nullopt,
            VantrelError::connectionFailed(QStringLiteral("Ping failed: ") + QString::fromLocal8Bit(error.what()))};
    }
}

} // namespace vantrel
