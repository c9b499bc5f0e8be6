#include "platform/SingleInstance.h"

#include "platform/AppInfo.h"
#include "platform/AppPaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <utility>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

// A folder that is the user's alone: a real folder (not a link) that the user owns and nobody else
// may enter. With `make`, a missing one is made, and one of the user's that others may enter is
// closed to them.
bool isPrivateFolder(const QString& folder, bool make)
{
    const QByteArray native = QFile::encodeName(folder);
    if (make && ::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    if ((info.st_mode & 0077) == 0)
        return true;
    return make && ::chmod(native.constData(), 0700) == 0;
}

// The identity of what stands at the path itself (a link is not followed); none when nothing does.
std::optional<std::pair<quint64, quint64>> identityAt(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return std::pair<quint64, quint64>{info.st_dev, info.st_ino};
}

} // namespace

QString SingleInstance::defaultSocketPath()
{
    const QString uid = QString::number(::getuid());
    const QString name = AppInfo::bundleIdentifier() + QLatin1Char('-') + uid;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime, false))
        return runtime + QLatin1Char('/') + name;
    // Never the shared temporary folder itself: another user could plant a lock there and keep
    // the application from starting. A folder of our own in it, or failing that (someone else took
    // its name) one in the user's cache folder, whose path may be too long for a socket.
    const QString temporary = QDir::tempPath() + QStringLiteral("/vantrel-") + uid;
    if (isPrivateFolder(temporary, true))
        return temporary + QLatin1Char('/') + name;
    const QString own = AppPaths::cacheDirectory();
    QDir().mkpath(QFileInfo(own).path());
    isPrivateFolder(own, true);
    return own + QLatin1Char('/') + name;
}

SingleInstance::SingleInstance(const QString& socketPath, SystemLog& systemLog, QObject* parent)
    : QObject(parent)
    , m_socketPath(socketPath)
    , m_systemLog(systemLog)
{
}

void SingleInstance::logError(const QString& message)
{
    m_systemLog.write(SystemLog::Type::Error, QStringLiteral("SingleInstance"), message);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

bool SingleInstance::claim()
{
    if (m_claimed)
        return m_isPrimary;
    m_claimed = true;

    // The lock decides who is first, so two copies started at the same moment cannot both take
    // over the socket.
    m_lock = std::make_unique<QLockFile>(m_socketPath + QStringLiteral(".lock"));
    // Only a lock whose process is gone is stale, however long the first copy has been running.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        m_isPrimary = true;
        listen();
        return true;
    }
    if (m_lock->error() != QLockFile::LockFailedError) {
        // No lock file can be made here (no temp folder): run rather than refuse to start.
        logError(QStringLiteral("Cannot create the instance lock %1").arg(m_lock->fileName()));
        m_isPrimary = true;
        listen();
        return true;
    }
    m_lock.reset();
    return false;
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    m_socketWatcher = new QFileSystemWatcher(this);
    connect(m_socketWatcher, &QFileSystemWatcher::fileChanged, this, [this] { keepListening(); });
    // We hold the lock, so a socket file already there was left by a copy that crashed.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        logError(QStringLiteral("Cannot listen on %1: %2").arg(m_socketPath, m_server->errorString()));
        m_listenFailureLogged = true;
        m_listenCheck.start(listenCheckInterval, [this] { keepListening(); });
        return;
    }
    watchSocketFile();
}

void SingleInstance::watchSocketFile()
{
    m_socketIdentity = identityAt(m_socketPath);
    // The watch ends with the file it was put on; each new socket file gets one of its own.
    if (!m_socketWatcher->files().isEmpty())
        m_socketWatcher->removePaths(m_socketWatcher->files());
    m_socketWatcher->addPath(m_socketPath);
}

void SingleInstance::keepListening()
{
    // Listening on a socket file that is gone, or that something else was renamed over, nobody
    // could reach us either.
    const std::optional<std::pair<quint64, quint64>> standing = identityAt(m_socketPath);
    if (m_server->isListening() && standing && standing == m_socketIdentity)
        return;
    // The server closes itself, and removes its socket file, when accepting fails.
    const QString reason = m_server->isListening() ? QStringLiteral("its socket file was removed or replaced")
                                                   : m_server->errorString();
    m_server->close();
    QLocalServer::removeServer(m_socketPath);
    if (m_server->listen(m_socketPath)) {
        m_listenFailureLogged = false;
        logError(QStringLiteral("Stopped listening on %1 (%2); listening again").arg(m_socketPath, reason));
        watchSocketFile();
        return;
    }
    if (!m_listenFailureLogged) {
        m_listenFailureLogged = true;
        logError(QStringLiteral("Cannot listen on %1: %2").arg(m_socketPath, m_server->errorString()));
    }
    // Nothing will announce when listening can work again (file handles freed): try again.
    m_listenCheck.start(listenCheckInterval, [this] { keepListening(); });
}

bool SingleInstance::activateRunningInstance()
{
    // The first copy may hold the lock but not listen yet: retry briefly.
    const QDeadlineTimer deadline(connectTimeoutMs);
    QLocalSocket socket;
    while (true) {
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        if (deadline.hasExpired()) {
            logError(QStringLiteral("The running instance does not answer: %1").arg(socket.errorString()));
            return false;
        }
        QThread::msleep(20);
    }
    socket.write(activateMessage);
    // Written bytes stay readable for the first copy after this one has gone.
    socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        while (m_connections.size() >= std::max(1, maxConnections))
            drop(m_connections.constFirst());
        m_connections.append(socket);
        // What a client sends is held only up to the bound, so a message without an end cannot
        // fill the memory.
        socket->setReadBufferSize(maxMessageBytes + 1);
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->setInterval(idleTimeout);
        connect(idle, &QTimer::timeout, this, [this, socket] { drop(socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, idle] {
            idle->start();
            readFrom(socket);
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket); });
        idle->start();
        readFrom(socket);
        if (socket->state() == QLocalSocket::UnconnectedState)
            drop(socket);
    }
}

void SingleInstance::readFrom(QLocalSocket* socket)
{
    while (socket->canReadLine()) {
        if (socket->readLine(maxMessageBytes + 1) == activateMessage)
            emit activationRequested();
    }
    if (socket->bytesAvailable() > maxMessageBytes)
        drop(socket);
}

void SingleInstance::drop(QLocalSocket* socket)
{
    if (!m_connections.removeOne(socket))
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace vantrel
