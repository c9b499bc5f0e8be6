#include "support/SambaServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>

#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace vantrel::test {

namespace {

QString findTool(const QString& name)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

SambaServer::SambaServer()
    // smbd keeps Unix sockets in its state folders, whose paths may not exceed 107 bytes: the
    // per-test temporary folder is too deep.
    : m_dir(QStringLiteral("/tmp/vantrel-smbd-XXXXXX"))
    , m_port(freePort())
{
}

SambaServer::~SambaServer()
{
    stop();
}

QString SambaServer::userName()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

QString SambaServer::addShare(const QString& name, bool guestAllowed, const QStringList& options)
{
    const QString folder = m_dir.path() + QStringLiteral("/shares/") + name;
    QDir().mkpath(folder);
    m_shares += QStringLiteral("[%1]\n  path = %2\n  read only = no\n  guest ok = %3\n")
                    .arg(name, folder, guestAllowed ? QStringLiteral("yes") : QStringLiteral("no"));
    for (const QString& option : options)
        m_shares += QStringLiteral("  ") + option + QLatin1Char('\n');
    return folder;
}

bool SambaServer::writeConfiguration()
{
    const QString state = m_dir.path() + QStringLiteral("/state");
    for (const char* sub : {"lock", "state", "cache", "private", "pid", "ncalrpc", "binddns", "usershares"})
        QDir().mkpath(state + QLatin1Char('/') + QLatin1String(sub));
    const QString user = userName();
    QString conf;
    conf += QStringLiteral("[global]\n");
    conf += QStringLiteral("  interfaces = 127.0.0.1\n  bind interfaces only = yes\n");
    conf += QStringLiteral("  smb ports = %1\n").arg(m_port);
    conf += QStringLiteral("  server role = standalone server\n  disable netbios = yes\n");
    conf += QStringLiteral("  passdb backend = tdbsam:%1/private/passdb.tdb\n").arg(state);
    for (const char* sub : {"lock", "state", "cache", "pid"})
        conf += QStringLiteral("  %1 directory = %2/%1\n").arg(QLatin1String(sub), state);
    for (const char* sub : {"private", "ncalrpc", "binddns"})
        conf += QStringLiteral("  %1 dir = %2/%1\n").arg(QLatin1String(sub), state);
    conf += QStringLiteral("  usershare path = %1/usershares\n").arg(state);
    conf += QStringLiteral("  log file = %1/smbd.log\n  log level = 1\n").arg(state);
    conf += QStringLiteral(
        "  load printers = no\n  printing = bsd\n  printcap name = /dev/null\n  disable spoolss = yes\n");
    conf += QStringLiteral("  map to guest = Bad User\n  guest account = %1\n").arg(user);
    conf += m_globals;
    conf += m_shares;

    QFile file(m_dir.path() + QStringLiteral("/smb.conf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("cannot write smb.conf: ") + file.errorString();
        return false;
    }
    file.write(conf.toUtf8());
    return true;
}

bool SambaServer::addUser()
{
    QFile::remove(m_dir.path() + QStringLiteral("/state/private/passdb.tdb"));
    QProcess pdbedit;
    pdbedit.setProcessChannelMode(QProcess::MergedChannels);
    pdbedit.start(findTool(QStringLiteral("pdbedit")),
        {QStringLiteral("-s"), m_dir.path() + QStringLiteral("/smb.conf"), QStringLiteral("-a"), QStringLiteral("-t"),
            QStringLiteral("-u"), userName()});
    const QByteArray line = m_password.toUtf8() + '\n';
    pdbedit.write(line + line);
    pdbedit.closeWriteChannel();
    if (!pdbedit.waitForFinished(10000) || pdbedit.exitStatus() != QProcess::NormalExit || pdbedit.exitCode() != 0) {
        m_error = QStringLiteral("pdbedit failed: ") + pdbedit.errorString() + QLatin1Char(' ')
            + QString::fromUtf8(pdbedit.readAll());
        return false;
    }
    return true;
}

bool SambaServer::start()
{
    if (isRunning())
        return true;
    m_error.clear();
    const QString smbd = findTool(QStringLiteral("smbd"));
    if (smbd.isEmpty() || findTool(QStringLiteral("pdbedit")).isEmpty()) {
        m_error = QStringLiteral("smbd or pdbedit is not installed (package samba)");
        return false;
    }
    if (m_port == 0 || !m_dir.isValid()) {
        m_error = QStringLiteral("no free port or private folder");
        return false;
    }
    if (!writeConfiguration() || !addUser())
        return false;

    m_smbd = std::make_unique<QProcess>();
    m_smbd->setProgram(smbd);
    m_smbd->setArguments({QStringLiteral("--foreground"), QStringLiteral("--no-process-group"), QStringLiteral("-s"),
        m_dir.path() + QStringLiteral("/smb.conf")});
    m_smbd->setStandardInputFile(QProcess::nullDevice());
    m_smbd->setStandardOutputFile(m_dir.path() + QStringLiteral("/state/smbd.out"), QIODevice::Append);
    m_smbd->setStandardErrorFile(m_dir.path() + QStringLiteral("/state/smbd.out"), QIODevice::Append);
    m_smbd->setChildProcessModifier([] {
        // Its own session, so that its stop signal to "the group" stays inside; and it dies
        // with the test even when the test crashes.
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    m_smbd->start();
    if (!m_smbd->waitForStarted(10000)) {
        m_error = QStringLiteral("smbd did not start: ") + m_smbd->errorString();
        m_smbd.reset();
        return false;
    }

    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_smbd->state() == QProcess::NotRunning) {
            m_error = QStringLiteral("smbd exited with code %1: %2").arg(m_smbd->exitCode()).arg(log());
            m_smbd.reset();
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(200)) {
            socket.disconnectFromHost();
            return true;
        }
        QThread::msleep(20);
    }
    m_error = QStringLiteral("smbd is not listening on port %1: %2").arg(m_port).arg(log());
    stop();
    return false;
}

void SambaServer::stop()
{
    if (!m_smbd)
        return;
    const auto pid = static_cast<pid_t>(m_smbd->processId());
    thaw();
    if (m_smbd->state() != QProcess::NotRunning) {
        ::kill(pid, SIGTERM);
        if (!m_smbd->waitForFinished(5000)) {
            ::kill(-pid, SIGKILL);
            m_smbd->waitForFinished(5000);
        }
    }
    // Connection workers and helpers it started share its process group.
    if (pid > 0)
        ::kill(-pid, SIGKILL);
    m_smbd.reset();
    // Except the RPC daemon it starts on demand, which makes a session of its own; it names the
    // configuration file of this instance.
    // It may be forking a worker while it is ended: look again until a pass finds none.
    const QByteArray configuration = "--configfile=" + QFile::encodeName(m_dir.path() + QStringLiteral("/smb.conf"));
    for (int pass = 0; pass < 20; ++pass) {
        bool found = false;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            bool numeric = false;
            const pid_t other = static_cast<pid_t>(entry.toInt(&numeric));
            if (!numeric)
                continue;
            QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(other));
            if (commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().split('\0').contains(configuration)) {
                ::kill(other, SIGKILL);
                found = true;
            }
        }
        if (!found)
            break;
        QThread::msleep(20);
    }
}

void SambaServer::freeze()
{
    if (isRunning())
        ::kill(-static_cast<pid_t>(m_smbd->processId()), SIGSTOP);
}

void SambaServer::thaw()
{
    if (m_smbd && m_smbd->processId() > 0)
        ::kill(-static_cast<pid_t>(m_smbd->processId()), SIGCONT);
}

bool SambaServer::restart()
{
    stop();
    return start();
}

QList<qint64> SambaServer::connectionProcesses() const
{
    QList<qint64> workers;
    if (!isRunning())
        return workers;
    const qint64 main = m_smbd->processId();
    // A worker is a child of the main smbd that keeps the plain name; the helpers it starts
    // (notifyd, cleanupd, scavenger) rename themselves.
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == main)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QByteArray name = line.mid(open + 1, close - open - 1);
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == main && name == "smbd")
            workers.append(pid);
    }
    return workers;
}

int SambaServer::dropConnections()
{
    const QList<qint64> workers = connectionProcesses();
    for (const qint64 pid : workers)
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    return static_cast<int>(workers.size());
}

bool SambaServer::isRunning() const
{
    return m_smbd && m_smbd->state() != QProcess::NotRunning;
}

QString SambaServer::log() const
{
    QString text;
    for (const char* name : {"/state/smbd.out", "/state/smbd.log"}) {
        QFile file(m_dir.path() + QLatin1String(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

} // namespace vantrel::test
