#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <optional>

namespace vantrel {

struct ProcessResult {
    qint32 exitCode = 0;
    QString stdout;
    QString stderr;

    bool operator==(const ProcessResult&) const = default;
};

// Runs the system tools as child processes, asynchronously on the calling thread's event loop.
class ProcessRunner final {
public:
    // Runs a tool without a shell, stdout and stderr captured apart. With stdinData (even
    // empty) the child reads exactly those bytes and then end of input; without it, the
    // child's standard input is inherited. The time limit starts once the input is handed over;
    // when it passes the child gets SIGTERM. Throws mountFailed when the tool cannot start and
    // timeout when the child died by any signal.
    static QCoro::Task<ProcessResult> run(QString executablePath, QStringList arguments, double timeout,
        std::optional<QByteArray> stdinData = std::nullopt);
};

} // namespace vantrel
