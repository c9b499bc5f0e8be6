#include "platform/SingleInstance.h"

#include "platform/AppInfo.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <algorithm>

#include <unistd.h>

namespace vantrel {

QString SingleInstance::defaultSocketPath()
{
    const QString name = AppInfo::bundleIdentifier() + QLatin1Char('-') + QString::number(::getuid());
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QDir::tempPath();
    return folder + QLatin1Char('/') + name;
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
    // We hold the lock, so a socket file already there was left by a copy that crashed.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath))
        logError(QStringLiteral("Cannot listen on %1: %2").arg(m_socketPath, m_server->errorString()));
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
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto handle = [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == activateMessage)
                    emit activationRequested();
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, handle);
        handle();
        // A client that sends nothing useful is not kept around.
        if (socket->state() == QLocalSocket::UnconnectedState)
            socket->deleteLater();
    }
}

} // namespace vantrel
