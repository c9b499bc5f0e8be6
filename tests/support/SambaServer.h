#pragma once

#include <QProcess>
#include <QString>
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
    // A line of the [global] section, e.g. "server signing = mandatory". Before start.
    void addGlobalOption(const QString& line) { m_globalOptions += QStringLiteral("  ") + line + QLatin1Char('\n'); }
    // A share served from a new folder of its own; returns that folder. Before start.
    QString addShare(const QString& name, bool guestAllowed);

    // Starts smbd and waits until it accepts connections; false with errorString() otherwise.
    bool start();
    // Stops smbd and everything it started; safe to call when not running.
    void stop();
    bool isRunning() const;
    // Stops (SIGSTOP) or resumes every process of the server: connections are still accepted by
    // the kernel, but nothing answers. stop() resumes it first.
    void freeze();
    void thaw();

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
    QString m_globalOptions;
    QString m_error;
    std::unique_ptr<QProcess> m_smbd;
};

} // namespace vantrel::test
