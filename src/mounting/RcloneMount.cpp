#include "mounting/RcloneMount.h"

#include "platform/ProcessTable.h"
#include "platform/Threading.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotimer.h>

#include <csignal>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice
// (closures, braced lists), so lambdas, lists, awaiters and tasks are named first.

namespace {

// rclone's default SMB encoding without RightPeriod and Dot: with them, writing a file into a
// share's root also leaves a stray folder named "．" on the server.
const QString smbEncoding = QStringLiteral(
    "Slash,LtGt,DoubleQuote,Colon,Question,Asterisk,Pipe,BackSlash,Ctl,RightSpace,InvalidUtf8");

constexpr std::chrono::milliseconds pollInterval{50};

// Ends the options of rclone and fusermount3: the remote and the mount point follow it, so a
// share path or mount point is never read as an option.
const QString endOfOptions = QStringLiteral("--");

// fusermount3's unmount of a path; lazily, it detaches a busy or dead mount at once.
QStringList unmountArguments(const QString& path, bool lazy)
{
    QStringList arguments{QStringLiteral("-u")};
    if (lazy)
        arguments << QStringLiteral("-z");
    return arguments << endOfOptions << path;
}

QString shareInRemote(const QString& sharePath)
{
    QString path = sharePath;
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// Go's duration syntax, in whole milliseconds and at least one.
QString duration(double seconds)
{
    return QString::number(std::max<qint64>(1, static_cast<qint64>(std::llround(seconds * 1000.0))))
        + QStringLiteral("ms");
}

// Both of rclone's bounds on one try of a request: connecting, and waiting for an answer (which a
// server that is frozen never gives, while its kernel still accepts the connection).
QStringList perTryTimeouts(double seconds)
{
    return {QStringLiteral("--contimeout"), duration(seconds), QStringLiteral("--timeout"), duration(seconds)};
}

} // namespace

QStringList RcloneMount::serverTimeoutArguments(double seconds)
{
    // Two tries: a connection the server dropped while idle fails at once and the second try
    // reconnects; a server that does not answer costs both halves.
    return perTryTimeouts(std::max(0.5, seconds) / 2.0)
        + QStringList{QStringLiteral("--low-level-retries"), QStringLiteral("2")};
}

QString RcloneMount::deviceName(const LinuxMountTools::SmbShare& share)
{
    QString host = share.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + share.host + QLatin1Char(']')
                                                         : share.host;
    if (share.port)
        host += QLatin1Char(':') + QString::number(*share.port);
    // Percent-encoded: a comma would end the option that carries the name to the FUSE helper.
    return QStringLiteral("//") + host + QLatin1Char('/')
        + QString::fromLatin1(QUrl::toPercentEncoding(shareInRemote(share.sharePath), "/"));
}

std::optional<LinuxMountTools::Endpoint> RcloneMount::serverOfMount(const QString& source)
{
    if (!source.startsWith(QLatin1String("//")))
        return std::nullopt;
    const qsizetype end = source.indexOf(QLatin1Char('/'), 2);
    const QString authority = source.mid(2, end < 0 ? -1 : end - 2);
    if (authority.isEmpty())
        return std::nullopt;
    return LinuxMountTools::splitAddress(authority);
}

QString RcloneMount::message(const QString& output)
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

VantrelError::Kind RcloneMount::classify(const QString& message)
{
    const QString text = message.toLower();
    static const char* const unreachable[] = {"connection refused", "no route to host", "network is unreachable",
        "i/o timeout", "no such host", "connection reset", "host is down", "dial tcp"};
    for (const char* word : unreachable) {
        if (text.contains(QLatin1String(word)))
            return VantrelError::Kind::connectionFailed;
    }
    static const char* const refused[] = {"logon", "access denied", "access is denied", "permission denied", "password",
        "account"};
    for (const char* word : refused) {
        if (text.contains(QLatin1String(word)))
            return VantrelError::Kind::authenticationFailed;
    }
    return VantrelError::Kind::mountFailed;
}

QList<qint64> RcloneMount::mountProcesses(const QString& rclonePath, const QString& mountPoint)
{
    const QString program = QFileInfo(rclonePath).fileName();
    const QString target = LinuxMountTools::absolutePath(mountPoint);
    QList<qint64> pids;
    for (const qint64 pid : ProcessTable::ownProcessIds()) {
        const QStringList arguments = ProcessTable::commandLine(pid);
        if (arguments.size() < 3 || QFileInfo(arguments.first()).fileName() != program
            || arguments.at(1) != QLatin1String("mount"))
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

QString RcloneMount::logFileFor(const QString& mountPoint) const
{
    const QByteArray digest = QCryptographicHash::hash(LinuxMountTools::absolutePath(mountPoint).toUtf8(),
        QCryptographicHash::Sha256);
    return m_tools.logFolder + QLatin1Char('/') + QString::fromLatin1(digest.toHex().left(16)) + QStringLiteral(".log");
}

QCoro::Task<QProcessEnvironment> RcloneMount::environment(const LinuxMountTools::SmbShare& share) const
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
        auto running = m_tools.run(m_tools.tools().rclone, arguments, m_tools.mountTimeout, environment,
            share.password->toUtf8());
        const ProcessResult result = co_await std::move(running);
        obscured = result.stdout.trimmed();
        if (result.exitCode != 0 || obscured.isEmpty())
            throw VantrelError::mountFailed(
                result.exitedText(QStringLiteral("rclone obscure"), result.stderr.trimmed()));
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

QCoro::Task<> RcloneMount::mount(LinuxMountTools::SmbShare share) const
{
    const QString rclone = m_tools.tools().rclone;
    const double timeLimit = m_tools.mountTimeout;
    auto environmentTask = environment(share);
    const QProcessEnvironment environment = co_await std::move(environmentTask);
    const QString remote = QStringLiteral(":smb:") + shareInRemote(share.sharePath);

    // The mount connects lazily and would "succeed" with a wrong password; a listing fails fast.
    const QStringList listArguments = QStringList{QStringLiteral("lsf"), QStringLiteral("--max-depth"),
                                          QStringLiteral("1"), QStringLiteral("--retries"), QStringLiteral("1"),
                                          QStringLiteral("--low-level-retries"), QStringLiteral("1")}
        + perTryTimeouts(std::max(0.5, share.serverTimeout)) + QStringList{endOfOptions, remote};
    auto listingTask = m_tools.run(rclone, listArguments, timeLimit, environment);
    const ProcessResult listed = co_await std::move(listingTask);
    if (listed.exitCode != 0) {
        const QString text = message(listed.stderr.isEmpty() ? listed.stdout : listed.stderr);
        const VantrelError::Kind kind = classify(text);
        if (kind == VantrelError::Kind::mountFailed)
            throw VantrelError::mountFailed(listed.exitedText(QStringLiteral("rclone"), text));
        throw VantrelError(kind, text);
    }

    const QString logFile = logFileFor(share.mountPoint);
    auto createLog = [folder = m_tools.logFolder, logFile] {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile file(logFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    };
    QFuture<void> creating = runBlockingWork(createLog);
    co_await creating;

    const QString mountPoint = LinuxMountTools::absolutePath(share.mountPoint);
    // Written files go to the server as soon as they are closed; the default delay lost a file
    // written right before an unmount.
    QStringList mountArguments{QStringLiteral("mount"), QStringLiteral("--vfs-cache-mode"), QStringLiteral("writes"),
        QStringLiteral("--vfs-write-back"), QStringLiteral("0s"), QStringLiteral("--log-file"), logFile,
        QStringLiteral("--log-level"), QStringLiteral("NOTICE")};
    // Others change the share too: a listing cached for rclone's default five minutes would hide
    // their new files that long. A second is what the kernel's SMB client keeps attributes.
    mountArguments << QStringLiteral("--dir-cache-time") << QStringLiteral("1s");
    // A call through the mount on a server that stopped answering would otherwise hold the
    // caller's thread for rclone's default of five minutes per try, and no thread blocked in a
    // file system call can be cancelled.
    mountArguments << serverTimeoutArguments(share.serverTimeout);
    // The mount table then names the server, which the live-mount test asks whether it answers.
    mountArguments << QStringLiteral("--devname=") + deviceName(share);
    if (share.readOnly)
        mountArguments << QStringLiteral("--read-only");
    mountArguments << endOfOptions << remote << mountPoint;

    // Detached, so the mount outlives whatever becomes of this process, as a daemon would; but its
    // own process, so that a failure is known the moment it ends rather than after a wait.
    std::optional<VantrelError> failure;
    QProcess process;
    process.setProgram(rclone);
    process.setArguments(mountArguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(logFile, QIODevice::Append);
    qint64 pid = 0;
    if (!process.startDetached(&pid) || pid <= 0) {
        failure = VantrelError::mountFailed(QStringLiteral("rclone mount could not start: ") + process.errorString());
    } else {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            auto probing = m_tools.mountedType(mountPoint);
            const std::optional<QString> type = co_await std::move(probing);
            if (type == QStringLiteral("fuse.rclone"))
                co_return;
            auto alive = [pid] { return !ProcessTable::commandLine(pid).isEmpty(); };
            QFuture<bool> checking = runBlockingWork(alive);
            if (!co_await checking) {
                auto readLog = [logFile] {
                    QFile file(logFile);
                    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
                };
                QFuture<QString> reading = runBlockingWork(readLog);
                const QString log = co_await reading;
                const QString text = message(log);
                failure = VantrelError::mountFailed(text.isEmpty()
                        ? QStringLiteral("rclone mount ended without mounting ") + mountPoint
                        : QStringLiteral("rclone mount: ") + text);
                break;
            }
            if (static_cast<double>(clock.elapsed()) / 1000.0 >= timeLimit) {
                failure = VantrelError::timeout(QStringLiteral("rclone mount did not mount ") + mountPoint
                    + QStringLiteral(" within ") + ProcessRunner::wholeSeconds(timeLimit) + QStringLiteral("s"));
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

QCoro::Task<> RcloneMount::cleanUpFailedMount(QString mountPoint) const
{
    // A parent that timed out may leave its daemon behind, mounted or about to be.
    auto finding = processesServing(mountPoint);
    const QList<qint64> pids = co_await std::move(finding);
    auto ending = endProcesses(pids, m_tools.killGrace);
    co_await std::move(ending);

    auto probing = m_tools.mountedType(mountPoint);
    const std::optional<QString> type = co_await std::move(probing);
    if (type == QStringLiteral("fuse.rclone")) {
        try {
            auto detaching = detach(mountPoint);
            co_await std::move(detaching);
        } catch (const VantrelError&) {
            // The original failure is what the caller needs to see.
        }
    }
    auto removing = removeLog(mountPoint);
    co_await std::move(removing);
}

QCoro::Task<QList<qint64>> RcloneMount::processesServing(QString mountPoint) const
{
    auto find = [rclone = m_tools.tools().rclone, mountPoint] { return mountProcesses(rclone, mountPoint); };
    QFuture<QList<qint64>> finding = runBlockingWork(find);
    co_return co_await finding;
}

QCoro::Task<> RcloneMount::removeLog(QString mountPoint) const
{
    auto remove = [logFile = logFileFor(mountPoint)] { QFile::remove(logFile); };
    QFuture<void> removing = runBlockingWork(remove);
    co_await removing;
}

QCoro::Task<> RcloneMount::detach(QString path) const
{
    auto detaching = m_tools.run(m_tools.tools().fusermount, unmountArguments(path, true), m_tools.unmountTimeout);
    co_await std::move(detaching);
}

QCoro::Task<bool> RcloneMount::endProcesses(QList<qint64> pids, double grace) const
{
    if (pids.isEmpty())
        co_return true;
    ProcessTable::signal(pids, SIGTERM);
    auto waiting = waitForProcessesToEnd(pids, grace);
    if (co_await std::move(waiting))
        co_return true;
    ProcessTable::signal(pids, SIGKILL);
    auto reaping = waitForProcessesToEnd(pids, grace);
    co_return co_await std::move(reaping);
}

QCoro::Task<> RcloneMount::release(QString path, bool polite, double timeLimit) const
{
    const QString fusermount = m_tools.tools().fusermount;
    const double grace = std::min(m_tools.killGrace, timeLimit);
    auto finding = processesServing(path);
    QList<qint64> pids = co_await std::move(finding);
    auto probing = m_tools.mountedType(path);
    std::optional<QString> type = co_await std::move(probing);

    const auto unmount = [this, fusermount, path, timeLimit](bool lazy) -> QCoro::Task<bool> {
        try {
            auto running = m_tools.run(fusermount, unmountArguments(path, lazy), timeLimit);
            const ProcessResult result = co_await std::move(running);
            co_return result.exitCode == 0;
        } catch (const VantrelError&) {
            co_return false;
        }
    };

    if (type && type->startsWith(QLatin1String("fuse"))) {
        bool done = false;
        if (polite) {
            auto politely = unmount(false);
            done = co_await std::move(politely);
        }
        // Busy, dead or hanging: out of the way at once; what still holds it open fails.
        if (!done) {
            auto lazily = unmount(true);
            co_await std::move(lazily);
        }
        // Once unmounted, the process ends by itself after its last uploads.
        if (polite && done) {
            auto waiting = waitForProcessesToEnd(pids, grace);
            co_await std::move(waiting);
        }
    }
    auto ending = endProcesses(pids, grace);
    co_await std::move(ending);

    // A daemon that was still starting may have mounted meanwhile.
    auto refinding = processesServing(path);
    pids = co_await std::move(refinding);
    auto stopping = endProcesses(pids, grace);
    co_await std::move(stopping);
    auto reprobing = m_tools.mountedType(path);
    type = co_await std::move(reprobing);
    if (type && type->startsWith(QLatin1String("fuse"))) {
        auto lazily = unmount(true);
        co_await std::move(lazily);
    }
    auto removing = removeLog(path);
    co_await std::move(removing);
}

QCoro::Task<bool> RcloneMount::waitForProcessesToEnd(QList<qint64> pids, double seconds) const
{
    if (pids.isEmpty())
        co_return true;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        // A zombie has no command line, so an ended process that nobody reaped counts as ended.
        auto alive = [pids] {
            for (const qint64 pid : pids) {
                if (!ProcessTable::commandLine(pid).isEmpty())
                    return true;
            }
            return false;
        };
        QFuture<bool> checking = runBlockingWork(alive);
        if (!co_await checking)
            co_return true;
        if (static_cast<double>(clock.elapsed()) / 1000.0 >= seconds)
            co_return false;
        auto pause = QCoro::sleepFor(pollInterval);
        co_await std::move(pause);
    }
}

QCoro::Task<> RcloneMount::unmount(QString path, bool force) const
{
    auto finding = processesServing(path);
    const QList<qint64> pids = co_await std::move(finding);

    const QString fusermount = m_tools.tools().fusermount;
    auto detaching = m_tools.run(fusermount, unmountArguments(path, force), m_tools.unmountTimeout);
    const ProcessResult result = co_await std::move(detaching);
    if (result.exitCode != 0)
        throw VantrelError::unmountFailed(
            result.exitedText(QFileInfo(fusermount).fileName() + QStringLiteral(" -u"), result.stderr.trimmed()));

    // The mount process still uploads what was written last; the share is not let go of until it
    // has ended.
    auto waiting = waitForProcessesToEnd(pids, m_tools.unmountTimeout);
    if (!co_await std::move(waiting)) {
        if (!force)
            throw VantrelError::timeout(QStringLiteral("rclone mount of ") + path
                + QStringLiteral(" was still writing to the server ")
                + ProcessRunner::wholeSeconds(m_tools.unmountTimeout) + QStringLiteral("s after the unmount"));
        ProcessTable::signal(pids, SIGTERM);
    }
    auto removing = removeLog(path);
    co_await std::move(removing);
}

} // namespace vantrel
