#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace vantrel::test {

// A real Samba server for one test: listens on 127.0.0.1 only, on a free high port chosen per
// instance, keeps its configuration and state in a private temporary folder, and knows one user
// (the current Unix user) with a password. It runs in a session of its own (smbd signals its
// whole process group when it stops) and dies with the test process; the destructor stops it.
class SambaServer {
public:
    SambaServer();
    ~SambaServer();
    SambaServer(const SambaServer&) = delete;
    SambaServer& operator=(const SambaServer&) = delete;

    // The account smbd authenticates: the user running the test.
    static QString userName();

    // Takes effect at the next start. No line breaks (pdbedit reads it as a line).
    void setPassword(const QString& password) { m_password = password; }
    // A share served from a new folder of its own; returns that folder. Before start. Each extra
    // option is one "key = value" line of the share's section.
    QString addShare(const QString& name, bool guestAllowed, const QStringList& options = {});
    // A "key = value" line of the global section, such as "server signing = mandatory". Takes
    // effect at the next start.
    void addGlobalOption(const QString& line) { m_globals += QStringLiteral("  ") + line + QLatin1Char('\n'); }

    // Starts smbd and waits until it accepts connections; false with errorString() otherwise.
    bool start();
    // Stops smbd and everything it started; safe to call when not running.
    void stop();
    bool isRunning() const;
    // Stops (SIGSTOP) or resumes every process of the server: connections are still accepted by
    // the kernel, but nothing answers. stop() resumes it first.
    void freeze();
    void thaw();
    // stop() and start() again on the same port, with the same shares and files.
    bool restart();
    // Ends (SIGKILL) the workers serving client connections, as a server that drops an idle
    // connection does; the listener stays. Returns how many there were.
    int dropConnections();
    // The workers serving client connections now (the main smbd and its helpers excluded).
    QList<qint64> connectionProcesses() const;

    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }
    // smbd's own log, for failure messages.
    QString log() const;

private:
    bool writeConfiguration();
    bool addUser();

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    QString m_password;
    QString m_shares;
    QString m_globals;
    QString m_error;
    std::unique_ptr<QProcess> m_smbd;
};

} // namespace vantrel::test
