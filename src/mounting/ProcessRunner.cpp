#include "mounting/ProcessRunner.h"

#include "model/AppState.h"
#include "platform/ChildProcessGroup.h"
#include "platform/Encodings.h"
#include "platform/Threading.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTimer>

#include <qcoro/qcoroprocess.h>

#include <limits>
#include <memory>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice
// (closures, braced lists), so awaiters and tasks are named first.

namespace {

// Suspends until a started QProcess runs or has failed to start; true when it runs.
class StartedAwaiter {
public:
    explicit StartedAwaiter(QProcess* process)
        : m_process(process)
    {
    }

    bool await_ready() noexcept
    {
        m_started = m_process->state() == QProcess::Running;
        return m_process->state() != QProcess::Starting;
    }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        auto resume = [this, waiting](bool started) {
            QObject::disconnect(m_onStarted);
            QObject::disconnect(m_onFailed);
            m_started = started;
            // Not from inside the process's own signal: the coroutine may delete the process.
            QTimer::singleShot(0, [waiting] { waiting.resume(); });
        };
        m_onStarted = QObject::connect(m_process, &QProcess::started, m_process, [resume] { resume(true); });
        m_onFailed = QObject::connect(m_process, &QProcess::errorOccurred, m_process,
            [resume](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    resume(false);
            });
    }
    bool await_resume() const noexcept { return m_started; }

private:
    QProcess* m_process;
    bool m_started = false;
    QMetaObject::Connection m_onStarted;
    QMetaObject::Connection m_onFailed;
};

// The tools running now; touched on the main thread only.
QSet<QProcess*>& runningChildren()
{
    static QSet<QProcess*> children;
    return children;
}

} // namespace

namespace {

const char* const guardedProperty = "vantrelGuarded";

// A guarded child is killed with its whole group: killing the guard alone would leave the tool.
void killChild(QProcess* child)
{
    if (child->state() == QProcess::NotRunning)
        return;
    if (child->property(guardedProperty).toBool())
        ChildProcessGroup::signalGroup(child->processId(), SIGKILL);
    else
        child->kill();
}

} // namespace

void ProcessRunner::endAll()
{
    const QSet<QProcess*> children = runningChildren();
    for (QProcess* child : children)
        killChild(child);
}

int ProcessRunner::runningCount()
{
    return static_cast<int>(runningChildren().size());
}

QString ProcessResult::message() const
{
    const QString error = stderr.trimmed();
    return error.isEmpty() ? stdout.trimmed() : error;
}

QString ProcessResult::exitedText(const QString& tool, const QString& detail) const
{
    return tool + QStringLiteral(" exited with code ") + QString::number(exitCode) + QStringLiteral(": ") + detail;
}

QString ProcessRunner::wholeSeconds(double seconds)
{
    if (!(seconds > 0.0))
        return QStringLiteral("0");
    if (seconds >= static_cast<double>(std::numeric_limits<qint64>::max()))
        return QString::number(std::numeric_limits<qint64>::max());
    return QString::number(static_cast<qint64>(seconds));
}

QCoro::Task<ProcessResult> ProcessRunner::run(ProcessRequest request)
{
    auto process = std::make_unique<QProcess>();
    // The parent-death signal below does not reach a set-user-ID tool, nor what it starts.
    const bool guarded = ChildProcessGroup::needsGuard(request.program);
    if (guarded) {
        process->setProgram(ChildProcessGroup::guardProgram());
        process->setArguments(ChildProcessGroup::guardArguments(request.program, request.arguments));
        process->setProperty(guardedProperty, true);
    } else {
        process->setProgram(request.program);
        process->setArguments(request.arguments);
    }
    const ChildProcessGroup* group = guarded ? &ChildProcessGroup::shared() : nullptr;
    process->setProcessChannelMode(QProcess::SeparateChannels);
    if (request.environment)
        process->setProcessEnvironment(*request.environment);
    if (!request.input) {
        if (request.nullInput)
            process->setStandardInputFile(QProcess::nullDevice());
        else
            process->setInputChannelMode(QProcess::ForwardedInputChannel);
    }

    // A child outlives a parent that crashed; the kernel ends it then. A daemon the child starts
    // is not covered: its owner finds it by its mount point.
    const pid_t parent = ::getpid();
    process->setChildProcessModifier([parent, group] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (group)
            group->prepareChild();
    });

    QProcess* registered = process.get();
    runningChildren().insert(registered);
    const auto unregister = qScopeGuard([registered] { runningChildren().remove(registered); });

    process->start(QIODevice::ReadWrite);
    StartedAwaiter starting(process.get());
    const bool started = co_await starting;
    if (!started) {
        const QString description = process->errorString();
        process->close();
        throw VantrelError::mountFailed(
            QStringLiteral("Failed to launch ") + request.program + QStringLiteral(": ") + description);
    }

    if (request.input) {
        process->write(*request.input);
        process->closeWriteChannel();
    }

    // SIGTERM at the time limit; a tool that ignores it is killed after the grace, so that no
    // stuck tool can hold its caller for ever.
    QProcess* child = process.get();
    QTimer grace;
    grace.setSingleShot(true);
    QObject::connect(&grace, &QTimer::timeout, child, [child] { killChild(child); });
    QTimer deadline;
    deadline.setSingleShot(true);
    const int graceMilliseconds = timerMilliseconds(request.killGrace);
    QObject::connect(&deadline, &QTimer::timeout, child, [child, &grace, graceMilliseconds] {
        if (child->state() == QProcess::NotRunning)
            return;
        child->terminate();
        grace.start(graceMilliseconds);
    });
    deadline.start(timerMilliseconds(request.timeout));

    // A child that even SIGKILL does not end (asleep in the kernel on a dead server) is left to
    // the kernel after one more grace: its caller is not held longer than its bounds.
    const auto bound = std::chrono::milliseconds(timerMilliseconds(request.timeout))
        + 2 * std::chrono::milliseconds(graceMilliseconds);
    auto watched = qCoro(child);
    auto finished = watched.waitForFinished(bound);
    const bool ended = co_await std::move(finished);
    deadline.stop();
    grace.stop();
    if (!ended && child->state() != QProcess::NotRunning) {
        killChild(child);
        QProcess* orphan = process.release();
        QObject::connect(orphan, &QProcess::finished, orphan, &QObject::deleteLater);
        throw VantrelError::timeout(QStringLiteral("Process ") + request.program + QStringLiteral(" timed out after ")
            + wholeSeconds(request.timeout) + QStringLiteral("s and did not end"));
    }

    const QByteArray out = child->readAllStandardOutput();
    const QByteArray err = child->readAllStandardError();
    child->close();

    if (child->exitStatus() == QProcess::CrashExit)
        throw VantrelError::timeout(QStringLiteral("Process ") + request.program + QStringLiteral(" timed out after ")
            + wholeSeconds(request.timeout) + QStringLiteral("s"));

    co_return ProcessResult{child->exitCode(), encoding::parseUtf8(out).value_or(QString()),
        encoding::parseUtf8(err).value_or(QString())};
}

} // namespace vantrel
