#include "support/TestMain.h"

#include "platform/ChildProcessGroup.h"

#include <QFile>
#include <QProcess>

using namespace vantrel;

namespace {

bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    // A zombie has ended; only its parent has not looked yet.
    return line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
}

// A guarded child of this process, as the process runner starts one.
void startGuarded(QProcess& process, const ChildProcessGroup& group, const QString& script)
{
    process.setProgram(ChildProcessGroup::guardProgram());
    process.setArguments(ChildProcessGroup::guardArguments(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}));
    process.setChildProcessModifier([&group] { group.prepareChild(); });
    process.start();
}

} // namespace

class TestChildProcessGroup : public QObject {
    Q_OBJECT

private slots:
    // The tool sees its own input, output and exit status, and a SIGTERM to the guard.
    void theGuardPassesTheToolThrough()
    {
        ChildProcessGroup group;
        QProcess echo;
        startGuarded(echo, group, QStringLiteral("read -r line; echo \"got $line\"; echo oops >&2; exit 3"));
        QVERIFY(echo.waitForStarted());
        echo.write("hello\n");
        echo.closeWriteChannel();
        QVERIFY(echo.waitForFinished());
        QCOMPARE(echo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(echo.exitCode(), 3);
        QCOMPARE(echo.readAllStandardOutput(), QByteArray("got hello\n"));
        QCOMPARE(echo.readAllStandardError(), QByteArray("oops\n"));

        QProcess sleeper;
        startGuarded(sleeper, group, QStringLiteral("echo $$; exec sleep 30"));
        QVERIFY(sleeper.waitForReadyRead());
        const qint64 tool = sleeper.readLine().trimmed().toLongLong();
        sleeper.terminate();
        QVERIFY(sleeper.waitForFinished());
        QCOMPARE(sleeper.exitStatus(), QProcess::CrashExit);
        QTRY_VERIFY(!running(tool));
    }

    // What the tool started itself ends too once this process has gone (its end closes the pipe).
    void theToolAndItsChildrenEndWhenThisProcessGoes()
    {
        ChildProcessGroup group;
        QProcess tool;
        startGuarded(tool, group, QStringLiteral("sleep 600 & echo $!; wait"));
        QVERIFY(tool.waitForReadyRead());
        const qint64 grandchild = tool.readLine().trimmed().toLongLong();
        QVERIFY(grandchild > 0);
        QVERIFY(running(grandchild));

        group.close();
        QVERIFY(tool.waitForFinished());
        QTRY_VERIFY(!running(grandchild));
    }
};

VANTREL_TEST_MAIN(TestChildProcessGroup)
#include "tst_ChildProcessGroup.moc"
