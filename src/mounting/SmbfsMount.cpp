#include "mounting/SmbfsMount.h"

#include "platform/ProcessTable.h"
#include "platform/Threading.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotimer.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice
// (closures, braced lists), so lambdas, lists, awaiters and tasks are named first.

namespace {

constexpr std::chrono::milliseconds pollInterval{50};

// Ends the options of vantrel-smbfs and fusermount3: the source and the mount point follow it,
// so a share path or mount point is never read as an option.
const QString endOfOptions = QStringLiteral("--");

const QString program = QStringLiteral("vantrel-smbfs");

QStringList unmountArguments(const QString& path, bool lazy)
{
    QStringList arguments{QStringLiteral("-u")};
    if (lazy)
        arguments << QStringLiteral("-z");
    return arguments << endOfOptions << path;
}

QString shareInSource(const QString& sharePath)
{
    QString path = sharePath;
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// The line the program wrote on standard error: the last one that says something.
QString lastLine(const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = it->trimmed();
        if (!line.isEmpty())
            return line;
    }
    return QString();
}

bool holdsLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) || text.contains(QChar(u'\0'));
}

qint64 millisecondsLeft(const QElapsedTimer& clock, int limit)
{
    return std::max<qint64>(0, limit - clock.elapsed());
}

} // namespace

QString SmbfsMount::defaultControlFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QFile::decodeName(runtime) + QStringLiteral("/vantrel");
    return QStringLiteral("/tmp/vantrel-") + QString::number(::getuid());
}

QString SmbfsMount::controlSocketPath(const QString& folder, const QString& mountPoint)
{
    const QByteArray digest = QCryptographicHash::hash(LinuxMountTools::absolutePath(mountPoint).toUtf8(),
        QCryptographicHash::Sha256);
    return folder + QStringLiteral("/smbfs-") + QString::fromLatin1(digest.toHex().left(16)) + QStringLiteral(".sock");
}

QString SmbfsMount::socketFor(const QString& mountPoint) const
{
    return controlSocketPath(m_tools.controlFolder, mountPoint);
}

std::optional<QString> SmbfsMount::ask(const QString& socketPath, const QByteArray& request, int milliseconds)
{
    const QByteArray native = QFile::encodeName(socketPath);
    sockaddr_un address{};
    if (native.isEmpty() || static_cast<size_t>(native.size()) >= sizeof(address.sun_path))
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return std::nullopt;
    QElapsedTimer clock;
    clock.start();
    // Waits for the socket to be ready within what is left of the bound.
    const auto ready = [&](short events) {
        for (;;) {
            pollfd entry{fd, events, 0};
            const int n = ::poll(&entry, 1, static_cast<int>(millisecondsLeft(clock, milliseconds)));
            if (n < 0 && errno == EINTR)
                continue;
            return n > 0 && (entry.revents & (events | POLLHUP)) != 0;
        }
    };
    std::optional<QString> reply;
    do {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            if ((errno != EINPROGRESS && errno != EAGAIN) || !ready(POLLOUT))
                break;
            int error = 0;
            socklen_t length = sizeof(error);
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
                break;
        }
        qsizetype sent = 0;
        bool failed = false;
        while (sent < request.size() && !failed) {
            const ssize_t n = ::send(fd, request.constData() + sent, static_cast<size_t>(request.size() - sent),
                MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else if (n < 0 && errno == EAGAIN)
                failed = !ready(POLLOUT);
            else
                failed = true;
        }
        if (failed)
            break;
        QByteArray received;
        while (!received.contains('\n') && received.size() < 4096) {
            char buffer[512];
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n > 0) {
                received.append(buffer, n);
            } else if (n == 0) {
                break;
            } else if (errno == EINTR) {
                continue;
            } else if (errno != EAGAIN || !ready(POLLIN)) {
                break;
            }
        }
        if (received.contains('\n'))
            reply = QString::fromUtf8(received.left(received.indexOf('\n')));
    } while (false);
    ::close(fd);
    return reply;
}

std::optional<SmbfsMount::Status> SmbfsMount::parseStatus(const QString& line)
{
    // Values are single words but for the source and the mount point, which may hold spaces:
    // each field runs up to the next known key.
    static const QRegularExpression field(
        QStringLiteral("(?:^| )(state|pid|open|source|mountpoint)=(.*?)(?= (?:state|pid|open|source|mountpoint)=|$)"));
    Status status;
    bool hasState = false;
    bool hasPid = false;
    QRegularExpressionMatchIterator it = field.globalMatch(line.trimmed());
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QString key = match.captured(1);
        const QString value = match.captured(2);
        bool ok = true;
        if (key == QLatin1String("state")) {
            if (value == QLatin1String("online"))
                status.online = true;
            else if (value != QLatin1String("offline"))
                return std::nullopt;
            hasState = true;
        } else if (key == QLatin1String("pid")) {
            status.pid = value.toLongLong(&ok);
            hasPid = ok && status.pid > 0;
        } else if (key == QLatin1String("open")) {
            status.open = value.toLongLong(&ok);
        } else if (key == QLatin1String("source")) {
            status.source = value;
        } else {
            status.mountPoint = value;
        }
        if (!ok || status.open < 0)
            return std::nullopt;
    }
    if (!hasState || !hasPid)
        return std::nullopt;
    return status;
}

QString SmbfsMount::sourceName(const LinuxMountTools::SmbShare& share)
{
    QString host = share.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + share.host + QLatin1Char(']')
                                                         : share.host;
    if (share.port)
        host += QLatin1Char(':') + QString::number(*share.port);
    return QStringLiteral("//") + host + QLatin1Char('/') + shareInSource(share.sharePath);
}

std::optional<QByteArray> SmbfsMount::credentials(const LinuxMountTools::SmbShare& share)
{
    if (!share.password)
        return std::nullopt;
    QByteArray lines = "user=" + share.user.toUtf8() + '\n';
    if (!share.domain.isEmpty())
        lines += "domain=" + share.domain.toUtf8() + '\n';
    // Last: its value is the rest of the line, whatever it holds.
    lines += "password=" + share.password->toUtf8() + '\n';
    return lines;
}

QStringList SmbfsMount::options(const LinuxMountTools::SmbShare& share, const QString& controlSocket)
{
    QStringList arguments;
    if (share.password)
        arguments << QStringLiteral("--credentials-stdin");
    const qint64 seconds = std::max<qint64>(1, static_cast<qint64>(std::ceil(share.serverTimeout)));
    arguments << QStringLiteral("--timeout") << QString::number(seconds);
    if (share.readOnly)
        arguments << QStringLiteral("--read-only");
    if (!controlSocket.isEmpty())
        arguments << QStringLiteral("--control") << controlSocket;
    return arguments;
}

VantrelError SmbfsMount::failure(int exitCode, const QString& stderr)
{
    const QString line = lastLine(stderr);
    const auto said = [&](const QString& fallback) { return line.isEmpty() ? fallback : line; };
    switch (exitCode) {
    case 3: return VantrelError::connectionFailed(said(QStringLiteral("The server does not answer")));
    case 4: return VantrelError::authenticationFailed(said(QStringLiteral("The server refused the login")));
    case 8: return VantrelError::authenticationFailed(said(QStringLiteral("Access to the share is denied")));
    case 5: return VantrelError::mountFailed(said(QStringLiteral("The server has no such share or folder")));
    case 6:
        return VantrelError::mountFailed(
            said(QStringLiteral("FUSE is not available: no access to /dev/fuse or no fusermount3")));
    case 7: return VantrelError::mountFailed(said(QStringLiteral("The mount point cannot be used")));
    default: break;
    }
    return VantrelError::mountFailed(
        program + QStringLiteral(" exited with code ") + QString::number(exitCode) + QStringLiteral(": ") + line);
}

QList<qint64> SmbfsMount::mountProcesses(const QString& programPath, const QString& mountPoint)
{
    const QString name = QFileInfo(programPath).fileName();
    const QString target = LinuxMountTools::absolutePath(mountPoint);
    QList<qint64> pids;
    for (const qint64 pid : ProcessTable::ownProcessIds()) {
        const QStringList arguments = ProcessTable::commandLine(pid);
        if (arguments.size() < 3 || QFileInfo(arguments.first()).fileName() != name
            || arguments.contains(QLatin1String("--check")))
            continue;
        // The mount point is the last argument, after "--".
        const qsizetype end = arguments.lastIndexOf(endOfOptions);
        if (end >= 0 && end == arguments.size() - 3 && QDir::cleanPath(arguments.last()) == target)
            pids << pid;
    }
    return pids;
}

QCoro::Task<std::optional<SmbfsMount::Status>> SmbfsMount::status(QString path, double seconds) const
{
    const int limit = static_cast<int>(millisecondsOf(seconds).count());
    auto query = [socket = socketFor(path), limit]() -> std::optional<Status> {
        const std::optional<QString> reply = ask(socket, QByteArrayLiteral("status\n"), limit);
        return reply ? parseStatus(*reply) : std::nullopt;
    };
    QFuture<std::optional<Status>> asking = runBlockingWork(query);
    // The socket's own bound frees the thread; this one holds even when every worker is taken.
    auto bounded = awaitWithin(asking, millisecondsOf(seconds + 1.0));
    const std::optional<std::optional<Status>> answered = co_await std::move(bounded);
    co_return answered.value_or(std::nullopt);
}

QCoro::Task<bool> SmbfsMount::hasProcess(QString path) const
{
    auto find = [smbfs = m_tools.tools().smbfs, path] { return !mountProcesses(smbfs, path).isEmpty(); };
    QFuture<bool> finding = runBlockingWork(find);
    co_return co_await finding;
}

QCoro::Task<> SmbfsMount::mount(LinuxMountTools::SmbShare share) const
{
    if (holdsLineBreak(share.user) || holdsLineBreak(share.domain))
        throw VantrelError::authenticationFailed(
            QStringLiteral("The user name contains a line break or a NUL character, which cannot be passed to ")
            + program);
    const QString mountPoint = LinuxMountTools::absolutePath(share.mountPoint);
    const QString socket = socketFor(mountPoint);
    auto makeFolder = [folder = m_tools.controlFolder] {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    QFuture<void> making = runBlockingWork(makeFolder);
    co_await making;

    const QStringList arguments = options(share, socket) + QStringList{endOfOptions, sourceName(share), mountPoint};
    std::optional<VantrelError> error;
    try {
        // The parent returns once the mount is live; its daemon lives on in a session of its own.
        auto running = m_tools.run(m_tools.tools().smbfs, arguments, m_tools.mountTimeout, std::nullopt,
            credentials(share));
        const ProcessResult result = co_await std::move(running);
        if (result.exitCode == 0)
            co_return;
        error = failure(result.exitCode, result.stderr);
    } catch (const VantrelError& thrown) {
        error = thrown;
    }
    auto cleaning = cleanUpFailedMount(mountPoint);
    co_await std::move(cleaning);
    throw *error;
}

QCoro::Task<double> SmbfsMount::check(LinuxMountTools::SmbShare share) const
{
    if (holdsLineBreak(share.user) || holdsLineBreak(share.domain))
        throw VantrelError::authenticationFailed(
            QStringLiteral("The user name contains a line break or a NUL character, which cannot be passed to ")
            + program);
    const QStringList arguments = QStringList{QStringLiteral("--check")} + options(share, QString())
        + QStringList{endOfOptions, sourceName(share)};
    QElapsedTimer clock;
    clock.start();
    auto running = m_tools.run(m_tools.tools().smbfs, arguments, m_tools.connectionTestTimeout, std::nullopt,
        credentials(share));
    const ProcessResult result = co_await std::move(running);
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (result.exitCode != 0)
        throw failure(result.exitCode, result.stderr);
    static const QRegularExpression latency(QStringLiteral("(?:^|\\n)latency_ms=(\\d+(?:\\.\\d+)?)"));
    const QRegularExpressionMatch match = latency.match(result.stdout);
    co_return match.hasMatch() ? match.captured(1).toDouble() / 1000.0 : elapsed;
}

QCoro::Task<> SmbfsMount::endUnmounted(QString mountPoint) const
{
    auto find = [smbfs = m_tools.tools().smbfs, mountPoint] { return mountProcesses(smbfs, mountPoint); };
    QFuture<QList<qint64>> finding = runBlockingWork(find);
    const QList<qint64> pids = co_await finding;
    if (pids.isEmpty())
        co_return;
    ProcessTable::signal(pids, SIGTERM);
    auto waiting = waitForProcessesToEnd(pids, m_tools.killGrace);
    if (co_await std::move(waiting))
        co_return;
    // Mounted meanwhile: unmounted, it ends by itself.
    auto probing = m_tools.mountedType(mountPoint);
    if (co_await std::move(probing))
        co_return;
    ProcessTable::signal(pids, SIGKILL);
    auto reaping = waitForProcessesToEnd(pids, m_tools.killGrace);
    co_await std::move(reaping);
}

QCoro::Task<> SmbfsMount::cleanUpFailedMount(QString mountPoint) const
{
    // A parent ended at its time limit leaves its daemon still logging in (ended: it serves no
    // file yet), or one that mounted meanwhile (unmounted: it ends by itself).
    auto releasing = release(mountPoint, false, m_tools.unmountTimeout);
    co_await std::move(releasing);
}

QCoro::Task<bool> SmbfsMount::fusermount(QString path, bool lazy, double timeLimit) const
{
    try {
        auto running = m_tools.run(m_tools.tools().fusermount, unmountArguments(path, lazy), timeLimit);
        const ProcessResult result = co_await std::move(running);
        co_return result.exitCode == 0;
    } catch (const VantrelError&) {
        co_return false;
    }
}

QCoro::Task<> SmbfsMount::detach(QString path) const
{
    auto detaching = fusermount(path, true, m_tools.unmountTimeout);
    co_await std::move(detaching);
}

QCoro::Task<bool> SmbfsMount::waitForProcessesToEnd(QList<qint64> pids, double seconds) const
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

QCoro::Task<> SmbfsMount::release(QString path, bool polite, double timeLimit) const
{
    auto asking = status(path, std::min(m_tools.statusTimeout, timeLimit));
    const std::optional<Status> state = co_await std::move(asking);
    auto probing = m_tools.mountedType(path);
    std::optional<QString> type = co_await std::move(probing);
    if (type && type->startsWith(QLatin1String("fuse"))) {
        bool done = false;
        // A file still open is served to its end by a lazy detach; a polite unmount would fail.
        if (polite && (!state || state->open == 0)) {
            auto politely = fusermount(path, false, timeLimit);
            done = co_await std::move(politely);
        }
        if (!done) {
            auto lazily = fusermount(path, true, timeLimit);
            co_await std::move(lazily);
        }
        if (done && state) {
            auto waiting = waitForProcessesToEnd(QList<qint64>{state->pid}, timeLimit);
            co_await std::move(waiting);
        }
    } else if (!state) {
        // No mount and no answer: a process still logging in, left by a parent that was ended.
        // It serves nothing yet; one detached earlier that still serves open files answers.
        auto ending = endUnmounted(path);
        co_await std::move(ending);
    }
    // A daemon that was still starting may have mounted meanwhile.
    auto reprobing = m_tools.mountedType(path);
    type = co_await std::move(reprobing);
    if (type == mountType) {
        auto lazily = fusermount(path, true, timeLimit);
        co_await std::move(lazily);
    }
}

QCoro::Task<> SmbfsMount::unmount(QString path, bool force) const
{
    auto asking = status(path, m_tools.statusTimeout);
    const std::optional<Status> state = co_await std::move(asking);
    const QString tool = QFileInfo(m_tools.tools().fusermount).fileName() + QStringLiteral(" -u");

    if (!force) {
        auto politely = m_tools.run(m_tools.tools().fusermount, unmountArguments(path, false), m_tools.unmountTimeout);
        const ProcessResult result = co_await std::move(politely);
        if (result.exitCode == 0) {
            // Nothing was open: the process ends by itself at once.
            if (state) {
                auto waiting = waitForProcessesToEnd(QList<qint64>{state->pid}, m_tools.unmountTimeout);
                co_await std::move(waiting);
            }
            co_return;
        }
        auto probing = m_tools.mountedType(path);
        const std::optional<QString> type = co_await std::move(probing);
        if (!type || !type->startsWith(QLatin1String("fuse")))
            throw VantrelError::unmountFailed(result.exitedText(tool, result.stderr.trimmed()));
    }
    // Busy: out of the way now; the process serves what is open until it is closed, then ends.
    auto lazily = m_tools.run(m_tools.tools().fusermount, unmountArguments(path, true), m_tools.unmountTimeout);
    const ProcessResult result = co_await std::move(lazily);
    if (result.exitCode != 0)
        throw VantrelError::unmountFailed(result.exitedText(tool + QStringLiteral(" -z"), result.stderr.trimmed()));
}

} // namespace vantrel
