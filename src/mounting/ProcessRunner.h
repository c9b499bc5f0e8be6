#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <optional>

namespace vantrel {

struct ProcessResult {
    qint32 exitCode = 0;
    QString stdout;
    QString stderr;

    // What the tool said: standard error trimmed, or standard output when that is empty.
    QString message() const;
    // "<tool> exited with code <n>: <detail>", as a failed run is reported.
    QString exitedText(const QString& tool, const QString& detail) const;

    bool operator==(const ProcessResult&) const = default;
};

// One run of a system tool, without a shell.
struct ProcessRequest {
    QString program;
    QStringList arguments;
    // Seconds until SIGTERM; the clock starts once the input is handed over.
    double timeout = 30.0;
    // Given (even empty): the child reads exactly these bytes and then end of input. Otherwise it
    // inherits this process's standard input, or reads the null device with nullInput.
    std::optional<QByteArray> input;
    bool nullInput = false;
    // Replaces the inherited environment when given.
    std::optional<QProcessEnvironment> environment;
    // A child still running this long after the SIGTERM is killed.
    double killGrace = 2.0;
};

// Runs the system tools as child processes, asynchronously on the calling thread's event loop.
// Each child is this class's until it ends: quitting kills what still runs, and a child whose
// parent dies without that (a crash) is killed by the kernel, a set-user-ID tool and what it
// started by their guard (ChildProcessGroup). A run ends at its time limit plus twice the grace,
// even when the child cannot be ended.
class ProcessRunner final {
public:
    // Standard output and standard error are captured apart and decoded as strict UTF-8 (empty
    // when malformed). Throws mountFailed when the tool cannot start and timeout when the child
    // died by any signal.
    static QCoro::Task<ProcessResult> run(ProcessRequest request);

    // A time limit as the timeout errors write it: whole seconds, truncated.
    static QString wholeSeconds(double seconds);

    // Kills every tool still running (quitting): its run ends as a failure. Main thread only.
    static void endAll();
    // How many tools run now.
    static int runningCount();
};

} // namespace vantrel
