#include "platform/ProcessTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <csignal>

#include <unistd.h>

namespace vantrel {

namespace {

std::atomic<quint64> commandLineReadCount{0};

} // namespace

quint64 ProcessTable::commandLineReads()
{
    return commandLineReadCount.load();
}

QList<qint64> ProcessTable::ownProcessIds()
{
    const uint self = ::geteuid();
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric && QFileInfo(QStringLiteral("/proc/") + entry).ownerId() == self)
            pids << pid;
    }
    return pids;
}

QStringList ProcessTable::commandLine(qint64 pid)
{
    ++commandLineReadCount;
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray raw = file.readAll();
    if (raw.endsWith('\0'))
        raw.chop(1);
    QStringList arguments;
    if (raw.isEmpty())
        return arguments;
    for (const QByteArray& part : raw.split('\0'))
        arguments << QFile::decodeName(part);
    return arguments;
}

void ProcessTable::signal(const QList<qint64>& pids, int signalNumber)
{
    for (const qint64 pid : pids) {
        if (pid > 0)
            ::kill(static_cast<pid_t>(pid), signalNumber);
    }
}

} // namespace vantrel
