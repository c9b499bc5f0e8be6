#pragma once

#include "support/SambaServer.h"

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace vantrel::test {

// A password the tests' server and mounts share: spaces, '$' and '=' must reach the server as they are.
inline const QString testPassword = QStringLiteral("s3cret pa$$ = word");

// The vantrel-smbfs executable of this build, or the one VANTREL_SMBFS_BINARY names; empty when
// there is none.
QString smbfsBinary();

// Whether a FUSE mount of the file system is at that folder now (the process's mount table).
bool isSmbfsMounted(const QString& mountPoint);

// One exchange on a control socket: the line sent, the reply line read, within the bound. Empty
// when the socket does not answer in time.
QByteArray askControl(const QString& socketPath, const QByteArray& line, int timeoutMs = 2000);

// A reply "key=value key=value ..." as a map.
QMap<QString, QString> parseStatus(const QByteArray& reply);

// What a file call run on a thread of its own did. A call through a mount that never answers
// leaves finished false instead of hanging the test; the mount must then be aborted, which ends
// the call.
struct BoundedCall {
    bool finished = false;
    long result = -1;
    int error = 0;
    qint64 elapsedMs = 0;
};
// The call returns a system call's result; errno is taken right after it.
BoundedCall runBounded(std::function<long()> call, int timeoutMs);

// One share of a SambaServer mounted by the real vantrel-smbfs, in the foreground, with the
// user's credentials on stdin. Ends with the object: polite unmount, lazy when busy, then the
// process must end; a mount that does not let go is aborted, so no mount outlives a test.
class SmbfsMount {
public:
    SmbfsMount(const SambaServer& server, const QString& share, const QString& password,
        const QStringList& extraArguments = {});
    ~SmbfsMount();
    SmbfsMount(const SmbfsMount&) = delete;
    SmbfsMount& operator=(const SmbfsMount&) = delete;

    // Starts the process and waits until the mount is live; false with error otherwise.
    bool start();
    // Unmounts and waits for the process to end; false when it failed, with error.
    bool unmount();
    // Ends the process at once (SIGKILL) and detaches the mount, which fails every waiting call.
    void abort();

    QString path(const QString& name) const { return mountPoint + QLatin1Char('/') + name; }
    QByteArray status() const { return askControl(controlPath, "status\n"); }
    QString state() const { return parseStatus(status()).value(QStringLiteral("state")); }
    bool processRunning() const { return m_process && m_process->state() != QProcess::NotRunning; }
    // Waits until the process ended by itself; true when it did.
    bool waitForEnd(int timeoutMs);
    // What the process wrote on stderr, for failure messages.
    QString output() const;

    QString source;
    QString mountPoint;
    QString controlPath;
    QString error;
    // The exit code of a process that ended before mounting; -1 otherwise.
    int exitCode = -1;

private:
    QString m_password;
    QStringList m_extraArguments;
    QTemporaryDir m_dir;
    // Unix socket paths are short: the control socket lives below /tmp.
    QTemporaryDir m_socketDir;
    std::unique_ptr<QProcess> m_process;
};

} // namespace vantrel::test
