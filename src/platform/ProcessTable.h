#pragma once

#include <QList>
#include <QStringList>

namespace vantrel {

// The running processes of the current user, as /proc shows them.
class ProcessTable final {
public:
    static QList<qint64> ownProcessIds();
    // Its arguments, the program first; empty when the process is gone or a zombie.
    static QStringList commandLine(qint64 pid);
    static void signal(const QList<qint64>& pids, int signalNumber);
    // How many command lines were read so far in this process (diagnostics and tests).
    static quint64 commandLineReads();
};

} // namespace vantrel
