#pragma once

#include <QString>
#include <QStringList>

namespace vantrel {

// Ends a child and everything it starts with this process, however this process ends (a crash
// included), where the kernel's parent-death signal does not reach: the kernel clears it for a
// set-user-ID program (sudo, fusermount3, mount.nfs), and it never reaches the child's own
// children. The child runs under a guard, a shell that leads a process group of its own and ends
// the whole group once the pipe this process holds open reads end of file: the kernel closes it
// when this process ends. The guard passes input, output, exit status and SIGTERM through.
class ChildProcessGroup final {
public:
    ChildProcessGroup();
    ~ChildProcessGroup();
    ChildProcessGroup(const ChildProcessGroup&) = delete;
    ChildProcessGroup& operator=(const ChildProcessGroup&) = delete;

    // The process-wide guard; first made on the main thread.
    static ChildProcessGroup& shared();

    // A program the parent-death signal would not end: set-user-ID or set-group-ID.
    static bool needsGuard(const QString& program);
    // The program and arguments that run program with its arguments under the guard.
    static QString guardProgram();
    static QStringList guardArguments(const QString& program, const QStringList& arguments);
    // In the child between fork and exec (async-signal-safe only): leads a new process group and
    // holds the guard's end of the pipe as descriptor 3.
    void prepareChild() const;
    // Signals the guard's whole group, the tool and its children included.
    static void signalGroup(qint64 guardPid, int signalNumber);
    // What this process's end does to every guarded group; tests.
    void close();

private:
    int m_readEnd = -1;
    int m_writeEnd = -1;
};

} // namespace vantrel
