#include "support/AwaitTask.h"
#include "support/TestMain.h"

#include "model/AppState.h"
#include "mounting/ProcessRunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <variant>

#include <sys/stat.h>

using namespace vantrel;
using Result = ProcessResult;

namespace {

std::variant<Result, VantrelError> run(const QString& path, const QStringList& arguments, double timeout,
    std::optional<QByteArray> input = std::nullopt)
{
    ProcessRequest request;
    request.program = path;
    request.arguments = arguments;
    request.timeout = timeout;
    request.input = std::move(input);
    auto settled = QCoro::waitFor(test::settle(ProcessRunner::run(std::move(request))));
    if (settled.error)
        return *settled.error;
    return *settled.value;
}

Result shell(const QString& script, std::optional<QByteArray> input = std::nullopt)
{
    auto outcome = run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, 30.0, std::move(input));
    if (auto* error = std::get_if<VantrelError>(&outcome))
        qFatal("unexpected failure: %s", error->what());
    return std::get<Result>(outcome);
}

VantrelError failure(const std::variant<Result, VantrelError>& outcome)
{
    if (!std::holds_alternative<VantrelError>(outcome))
        qFatal("expected a failure");
    return std::get<VantrelError>(outcome);
}

} // namespace

class TestProcessRunner : public QObject {
    Q_OBJECT

private slots:
    // The parent-death signal does not reach a set-user-ID tool nor its children: such a tool
    // runs in a process group of its own whose leader ends it with this process, and killing the
    // run kills what the tool started too.
    void aSetUserIDToolRunsInAGroupThatEndsWithTheRun()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString tool = dir.filePath(QStringLiteral("setuid-sh"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/sh"), tool));
        QVERIFY(QFile::setPermissions(tool, QFile::permissions(tool) | QFileDevice::ExeOwner));
        QCOMPARE(::chmod(QFile::encodeName(tool).constData(), 04755), 0);
        const QString pidFile = dir.filePath(QStringLiteral("grandchild"));

        ProcessRequest request;
        request.program = tool;
        // A child of its own lingers, and the tool ignores SIGTERM.
        request.arguments = QStringList{QStringLiteral("-c"),
            QStringLiteral("sleep 600 & echo $! > '%1'; trap '' TERM; wait").arg(pidFile)};
        request.timeout = 0.3;
        request.killGrace = 0.2;
        const auto settled = QCoro::waitFor(test::settle(ProcessRunner::run(request)));
        QVERIFY(settled.error);
        QCOMPARE(settled.error->kind(), VantrelError::Kind::timeout);
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 grandchild = file.readAll().trimmed().toLongLong();
        QVERIFY(grandchild > 0);
        const auto ended = [grandchild] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(grandchild));
            if (!stat.open(QIODevice::ReadOnly))
                return true;
            const QByteArray line = stat.readAll();
            return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
        };
        QTRY_VERIFY(ended());
    }

    void missingOrUnrunnableExecutableFailsToLaunch()
    {
        const VantrelError missing = failure(run(QStringLiteral("/nonexistent/tool"), {}, 30.0, QByteArray("x")));
        QCOMPARE(missing.kind(), VantrelError::Kind::mountFailed);
        QVERIFY2(missing.payload().startsWith(QStringLiteral("Failed to launch /nonexistent/tool: ")),
            qPrintable(missing.payload()));
        QVERIFY(missing.payload().size() > QStringLiteral("Failed to launch /nonexistent/tool: ").size());

        const VantrelError directory = failure(run(QStringLiteral("/tmp"), {}, 30.0));
        QCOMPARE(directory.kind(), VantrelError::Kind::mountFailed);
        QVERIFY(directory.payload().startsWith(QStringLiteral("Failed to launch /tmp: ")));
    }

    void deathBySignalIsATimeoutNamingWholeSeconds()
    {
        const QString sleeper = QStringLiteral(VANTREL_TEST_TOOLS_DIR "/sleeper");
        QElapsedTimer clock;
        clock.start();
        const VantrelError timedOut = failure(run(sleeper, {QStringLiteral("30")}, 0.3));
        QVERIFY(clock.elapsed() < 10'000);
        QCOMPARE(timedOut,
            VantrelError::timeout(QStringLiteral("Process ") + sleeper + QStringLiteral(" timed out after 0s")));

        // Any signal counts, not only the time limit's; seconds are truncated, not rounded.
        const VantrelError killed = failure(
            run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo out; kill -KILL $$")}, 30.9));
        QCOMPARE(killed, VantrelError::timeout(QStringLiteral("Process /bin/sh timed out after 30s")));
    }

    void exitStatusAndSeparateStreams()
    {
        QCOMPARE(shell(QStringLiteral("echo out; echo err >&2; exit 64")), (Result{64, "out\n", "err\n"}));
        QCOMPARE(shell(QStringLiteral("exit 64")), (Result{64, "", ""}));
        QCOMPARE(shell(QStringLiteral("echo only-error >&2")), (Result{0, "", "only-error\n"}));
        QCOMPARE(shell(QStringLiteral("true")), (Result{0, "", ""}));
    }

    void standardInput()
    {
        // Given: exactly these bytes, then end of input.
        const QByteArray data("line one\n\"quoted\" $x\nno newline at end");
        QCOMPARE(shell(QStringLiteral("cat; echo done >&2"), data), (Result{0, QString::fromUtf8(data), "done\n"}));
        // Empty: end of input at once (cat would otherwise wait forever).
        QCOMPARE(shell(QStringLiteral("cat; echo done"), QByteArray()), (Result{0, "done\n", ""}));
        // Absent: the child inherits this process's standard input.
        const QString ours = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/0"));
        const Result inherited = shell(QStringLiteral("readlink /proc/$$/fd/0"));
        QCOMPARE(inherited.stdout.trimmed(), ours);
        const Result piped = shell(QStringLiteral("readlink /proc/$$/fd/0"), QByteArray());
        QVERIFY(piped.stdout.trimmed() != ours);
    }

    // A tool that ignores SIGTERM at its time limit would hold its caller for ever.
    void childIgnoringTerminationIsKilledAfterTheGrace()
    {
        ProcessRequest request;
        request.program = QStringLiteral("/bin/sh");
        request.arguments = QStringList{QStringLiteral("-c"),
            QStringLiteral("trap '' TERM; while :; do sleep 0.05; done")};
        request.timeout = 0.3;
        request.killGrace = 0.2;
        QElapsedTimer clock;
        clock.start();
        const auto settled = QCoro::waitFor(test::settle(ProcessRunner::run(request)));
        QVERIFY(clock.elapsed() < 3'000);
        QVERIFY(settled.error);
        QCOMPARE(*settled.error, VantrelError::timeout(QStringLiteral("Process /bin/sh timed out after 0s")));
    }

    void environmentAndNullInputWhenAsked()
    {
        ProcessRequest request;
        request.program = QStringLiteral("/bin/sh");
        request.arguments = QStringList{QStringLiteral("-c"),
            QStringLiteral("printf '%s|%s|' \"$ONLY\" \"$HOME\"; cat; readlink /proc/$$/fd/0")};
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("ONLY"), QStringLiteral("this"));
        request.environment = environment;
        request.nullInput = true;
        // Reading the null device ends at once, where an inherited terminal would wait.
        const Result result = test::await(ProcessRunner::run(request));
        QCOMPARE(result.stdout, QStringLiteral("this||/dev/null\n"));

        // Input given wins over the null device.
        request.input = QByteArray("fed ");
        const QString fed = test::await(ProcessRunner::run(request)).stdout;
        QVERIFY2(fed.startsWith(QStringLiteral("this||fed pipe:")), qPrintable(fed));
    }

    void messageIsStandardErrorElseStandardOutput()
    {
        QCOMPARE((Result{1, QStringLiteral(" out \n"), QStringLiteral("\n err\r\n")}).message(), QStringLiteral("err"));
        QCOMPARE((Result{1, QStringLiteral(" out \n"), QStringLiteral(" \n")}).message(), QStringLiteral("out"));
        QCOMPARE(ProcessRunner::wholeSeconds(5.0), QStringLiteral("5"));
        QCOMPARE(ProcessRunner::wholeSeconds(0.9), QStringLiteral("0"));
        QCOMPARE(ProcessRunner::wholeSeconds(-1.0), QStringLiteral("0"));
    }

    void outputThatIsNotUtf8BecomesEmpty()
    {
        QCOMPARE(shell(QStringLiteral("printf 'ab\\377\\376cd'; printf '日本 ok' >&2")),
            (Result{0, "", QStringLiteral("日本 ok")}));
        // A multi-byte character cut short is invalid too.
        QCOMPARE(shell(QStringLiteral("printf 'x\\346\\227'")).stdout, QString());
    }
};

VANTREL_TEST_MAIN(TestProcessRunner)
#include "tst_ProcessRunner.moc"
