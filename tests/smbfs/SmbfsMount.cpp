#include "smbfs/SmbfsMount.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <future>
#include <thread>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantrel::test {

namespace {

// Mount table fields escape blanks, tabs, newlines and backslashes as octal.
QString unescapeMountField(const QByteArray& field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(static_cast<char>(code));
                i += 3;
                continue;
            }
        }
        out.append(field.at(i));
    }
    return QString::fromUtf8(out);
}

int runFusermount(const QStringList& arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral("fusermount3"), arguments);
    if (!tool.waitForFinished(15000)) {
        tool.kill();
        tool.waitForFinished(2000);
        return -1;
    }
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

} // namespace

QString smbfsBinary()
{
    // Another build of the program (e.g. a sanitizer build) can be tried with the same tests.
    const QString chosen = qEnvironmentVariable("VANTREL_SMBFS_BINARY");
    return chosen.isEmpty() ? QStringLiteral(VANTREL_SMBFS_BINARY) : chosen;
}

namespace {

// The file system type of the mount at that folder, empty when there is none.
QByteArray mountedType(const QString& mountPoint)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QString wanted = QDir::cleanPath(mountPoint);
    QByteArray type;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const qsizetype separator = line.indexOf(" - ");
        if (separator < 0)
            continue;
        const QList<QByteArray> fields = line.left(separator).split(' ');
        const QList<QByteArray> rest = line.mid(separator + 3).split(' ');
        if (fields.size() > 4 && !rest.isEmpty() && unescapeMountField(fields.at(4)) == wanted)
            type = rest.first(); // the last one stacked there is the one seen
    }
    return type;
}

// Whatever is mounted there goes, so that no test leaves a mount behind.
void detachAnyFuseMount(const QString& mountPoint)
{
    if (mountedType(mountPoint).startsWith("fuse"))
        runFusermount({QStringLiteral("-u"), QStringLiteral("-z"), mountPoint});
}

} // namespace

bool isSmbfsMounted(const QString& mountPoint)
{
    return mountedType(mountPoint) == "fuse.vantrel-smbfs";
}

QByteArray askControl(const QString& socketPath, const QByteArray& line, int timeoutMs)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<qsizetype>(sizeof(address.sun_path)))
        return {};
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    timeval bound{};
    bound.tv_sec = timeoutMs / 1000;
    bound.tv_usec = (timeoutMs % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && ::write(fd, line.constData(), static_cast<size_t>(line.size())) == line.size()) {
        char buffer[512];
        while (!reply.contains('\n') && clock.elapsed() < timeoutMs) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0)
                break;
            reply.append(buffer, got);
        }
    }
    ::close(fd);
    return reply.contains('\n') ? reply.left(reply.indexOf('\n')) : QByteArray();
}

QMap<QString, QString> parseStatus(const QByteArray& reply)
{
    QMap<QString, QString> values;
    for (const QByteArray& pair : reply.trimmed().split(' ')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromUtf8(pair.left(equals)), QString::fromUtf8(pair.mid(equals + 1)));
    }
    return values;
}

BoundedCall runBounded(std::function<long()> call, int timeoutMs)
{
    // The thread may outlive this call (until the mount is aborted), so it owns what it uses.
    auto promise = std::make_shared<std::promise<BoundedCall>>();
    std::future<BoundedCall> future = promise->get_future();
    std::thread([promise, call = std::move(call)] {
        QElapsedTimer clock;
        clock.start();
        BoundedCall done;
        errno = 0;
        done.result = call();
        done.error = errno;
        done.elapsedMs = clock.elapsed();
        done.finished = true;
        promise->set_value(done);
    }).detach();
    if (future.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        BoundedCall pending;
        pending.elapsedMs = timeoutMs;
        return pending;
    }
    return future.get();
}

SmbfsMount::SmbfsMount(const SambaServer& server, const QString& share, const QString& password,
    const QStringList& extraArguments)
    : source(QStringLiteral("//127.0.0.1:%1/%2").arg(server.port()).arg(share))
    , m_password(password)
    , m_extraArguments(extraArguments)
    , m_socketDir(QStringLiteral("/tmp/vantrel-smbfs-XXXXXX"))
{
    mountPoint = m_dir.path() + QStringLiteral("/share");
    controlPath = m_socketDir.path() + QStringLiteral("/control.sock");
    QDir().mkpath(mountPoint);
}

SmbfsMount::~SmbfsMount()
{
    if (!unmount())
        abort();
}

bool SmbfsMount::start()
{
    error.clear();
    exitCode = -1;
    const QString binary = smbfsBinary();
    if (binary.isEmpty() || !QFileInfo(binary).isExecutable()) {
        error = QStringLiteral("vantrel-smbfs is not built: ") + binary;
        return false;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(binary);
    QStringList arguments{QStringLiteral("--foreground"), QStringLiteral("--credentials-stdin"),
        QStringLiteral("--control"), controlPath};
    arguments += m_extraArguments;
    arguments += {QStringLiteral("--"), source, mountPoint};
    m_process->setArguments(arguments);
    m_process->setStandardOutputFile(m_dir.path() + QStringLiteral("/daemon.log"), QIODevice::Append);
    m_process->setStandardErrorFile(m_dir.path() + QStringLiteral("/daemon.log"), QIODevice::Append);
    // A test that crashes takes its daemon along; the next run detaches what is left.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->start();
    if (!m_process->waitForStarted(10000)) {
        error = QStringLiteral("vantrel-smbfs did not start: ") + m_process->errorString();
        m_process.reset();
        return false;
    }
    m_process->write("user=" + SambaServer::userName().toUtf8() + "\npassword=" + m_password.toUtf8() + '\n');
    m_process->closeWriteChannel();

    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        if (isSmbfsMounted(mountPoint))
            return true;
        if (m_process->waitForFinished(20)) {
            exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
            error = QStringLiteral("vantrel-smbfs exited with code %1 before mounting: %2")
                        .arg(m_process->exitCode())
                        .arg(output());
            m_process.reset();
            return false;
        }
    }
    error = QStringLiteral("the mount did not appear within 30 s: ") + output();
    abort();
    return false;
}

bool SmbfsMount::unmount()
{
    if (!m_process) {
        detachAnyFuseMount(mountPoint);
        return true;
    }
    if (isSmbfsMounted(mountPoint) && runFusermount({QStringLiteral("-u"), mountPoint}) != 0)
        runFusermount({QStringLiteral("-u"), QStringLiteral("-z"), mountPoint});
    const bool ended = m_process->state() == QProcess::NotRunning || m_process->waitForFinished(20000);
    if (!ended) {
        error = QStringLiteral("vantrel-smbfs did not end within 20 s of the unmount: ") + output();
        abort();
        return false;
    }
    const bool clean = m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
    if (!clean)
        error = QStringLiteral("vantrel-smbfs ended with code %1 (%2): %3")
                    .arg(m_process->exitCode())
                    .arg(m_process->exitStatus() == QProcess::NormalExit ? "exit" : "crash")
                    .arg(output());
    m_process.reset();
    if (isSmbfsMounted(mountPoint)) {
        error = QStringLiteral("the mount outlived its process");
        detachAnyFuseMount(mountPoint);
        return false;
    }
    detachAnyFuseMount(mountPoint);
    return clean;
}

bool SmbfsMount::waitForEnd(int timeoutMs)
{
    return !m_process || m_process->state() == QProcess::NotRunning || m_process->waitForFinished(timeoutMs);
}

void SmbfsMount::abort()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    m_process.reset();
    detachAnyFuseMount(mountPoint);
}

QString SmbfsMount::output() const
{
    QFile log(m_dir.path() + QStringLiteral("/daemon.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).right(4000) : QString();
}

} // namespace vantrel::test
