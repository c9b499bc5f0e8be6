#pragma once

#include "platform/SystemLog.h"
#include "platform/Threading.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

class QFileSystemWatcher;
class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace vantrel {

// Makes sure only one copy of the application runs per user. The first copy holds a lock file and
// listens on a local socket; a later copy finds the lock held, asks the first over the socket to
// come forward, and is told to stop. A lock or socket left behind by a crashed copy does not
// count: the lock names a process that no longer runs, and the socket is replaced.
//
// Any program of the user can connect, so the first copy bounds what a client may make it hold: a
// message's size, how long a connection may stay idle, and how many connections stay open (a new
// one pushes out the oldest, so a launch is heard however many clients linger). It also makes sure
// it keeps listening: a failed accept (no file handles left) closes the socket and removes its
// file, which the first copy watches, so it listens again without waking up while all is well.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // Named after the bundle identifier and the user's id, so two users of one machine never
    // meet; in the user's runtime folder (XDG_RUNTIME_DIR) when it is the user's alone, else in a
    // private folder of the user's, made when missing.
    static QString defaultSocketPath();

    // The lock file sits next to the socket, with ".lock" appended. Failures are written to
    // `systemLog`.
    explicit SingleInstance(const QString& socketPath = defaultSocketPath(), SystemLog& systemLog = SystemLog::shared(),
        QObject* parent = nullptr);
    ~SingleInstance() override;

    QString socketPath() const { return m_socketPath; }
    // How long a later copy tries to reach the first one (which may still be starting).
    int connectTimeoutMs = 1000;
    // The bounds on clients, and how soon the first copy tries again when listening failed; tests
    // shorten the times.
    qint64 maxMessageBytes = 256;
    int maxConnections = 8;
    std::chrono::milliseconds idleTimeout{5000};
    std::chrono::milliseconds listenCheckInterval{5000};

    // True when this process is the only copy (and now listens); false when another copy runs.
    // Only the first call does any work.
    bool claim();
    // Asks the running copy to come forward; false when it could not be reached in time.
    bool activateRunningInstance();
    bool isPrimary() const { return m_isPrimary; }
    // Whether the first copy is reachable by later ones.
    bool isListening() const;

    static inline const QByteArray activateMessage = QByteArrayLiteral("activate\n");

signals:
    // A later copy asked this one to come forward.
    void activationRequested();

private:
    void listen();
    void keepListening();
    void watchSocketFile();
    void onNewConnection();
    void readFrom(QLocalSocket* socket);
    void drop(QLocalSocket* socket);

    void logError(const QString& message);

    QString m_socketPath;
    SystemLog& m_systemLog;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    QFileSystemWatcher* m_socketWatcher = nullptr;
    // Device and inode of the socket file listened on.
    std::optional<std::pair<quint64, quint64>> m_socketIdentity;
    QList<QLocalSocket*> m_connections; // oldest first
    ScheduledCall m_listenCheck{this};
    bool m_listenFailureLogged = false;
    bool m_claimed = false;
    bool m_isPrimary = false;
};

} // namespace vantrel
