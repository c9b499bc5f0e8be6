#include "mounting/ProcessRunner.h"

#include "model/AppState.h"
#include "platform/Threading.h"

#include <QProcess>
#include <QStringDecoder>
#include <QTimer>

#include <qcoro/qcoroprocess.h>

#include <limits>
#include <memory>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice
// (closures, braced lists), so awaiters and tasks are named first.

namespace {

// Strict UTF-8: anything malformed yields empty text rather than a lossy repair.
QString decodeUtf8OrEmpty(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    return decoder.hasError() ? QString() : text;
}

QString wholeSeconds(double seconds)
{
    if (!(seconds > 0.0))
        return QStringLiteral("0");
    if (seconds >= static_cast<double>(std::numeric_limits<qint64>::max()))
        return QString::number(std::numeric_limits<qint64>::max());
    return QString::number(static_cast<qint64>(seconds));
}

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

} // namespace

QCoro::Task<ProcessResult> ProcessRunner::run(QString executablePath, QStringList arguments, double timeout,
    std::optional<QByteArray> stdinData)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(executablePath);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    if (!stdinData)
        process->setInputChannelMode(QProcess::ForwardedInputChannel);

    process->start(QIODevice::ReadWrite);
    StartedAwaiter starting(process.get());
    const bool started = co_await starting;
    if (!started) {
        const QString description = process->errorString();
        process->close();
        throw VantrelError::mountFailed(
            QStringLiteral("Failed to launch ") + executablePath + QStringLiteral(": ") + description);
    }

    if (stdinData) {
        process->write(*stdinData);
        process->closeWriteChannel();
    }

    QTimer deadline;
    deadline.setSingleShot(true);
    QProcess* child = process.get();
    QObject::connect(&deadline, &QTimer::timeout, child, [child] {
        if (child->state() != QProcess::NotRunning)
            child->terminate();
    });
    deadline.start(timerMilliseconds(timeout));

    auto watched = qCoro(child);
    auto finished = watched.waitForFinished(std::chrono::milliseconds(-1));
    co_await std::move(finished);
    deadline.stop();

    const QByteArray out = child->readAllStandardOutput();
    const QByteArray err = child->readAllStandardError();
    child->close();

    if (child->exitStatus() == QProcess::CrashExit)
        throw VantrelError::timeout(QStringLiteral("Process ") + executablePath + QStringLiteral(" timed out after ")
            + wholeSeconds(timeout) + QStringLiteral("s"));

    co_return ProcessResult{child->exitCode(), decodeUtf8OrEmpty(out), decodeUtf8OrEmpty(err)};
}

} // namespace vantrel
