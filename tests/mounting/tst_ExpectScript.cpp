#include "support/AwaitTask.h"
#include "support/TestMain.h"

#include "mounting/ExpectScript.h"
#include "mounting/ProcessRunner.h"
#include "mounting/SystemTools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace vantrel;

class TestExpectScript : public QObject {
    Q_OBJECT

private slots:
    void everyTextIsQuotedForTcl()
    {
        const QString script = ExpectScript::build(QStringLiteral("/sbin/mount_smbfs"), {"-o", "ro", "//u@h/s"},
            QStringLiteral("a\"b\\c$d[e]"));
        const QStringList lines = script.split(QLatin1Char('\n'));
        QCOMPARE(lines.at(0), QStringLiteral("set password \"a\\\"b\\\\c\\$d\\[e\\]\""));
        QCOMPARE(lines.at(1), QStringLiteral("set args [list \"-o\" \"ro\" \"//u@h/s\"]"));
        QCOMPARE(lines.at(2), QStringLiteral("spawn /sbin/mount_smbfs {*}$args"));
        QCOMPARE(lines.at(3), QStringLiteral("set timeout -1"));
        QCOMPARE(lines.at(6), QStringLiteral("        send -- \"$password\\r\""));

        // A tool path that is not one plain Tcl word is quoted like the rest.
        QCOMPARE(
            ExpectScript::build(QStringLiteral("/opt/my $tools/[x]"), {}, QString()).split(QLatin1Char('\n')).at(2),
            QStringLiteral("spawn \"/opt/my \\$tools/\\[x\\]\" {*}$args"));
    }

    // The real interpreter runs a tool at an awkward path: the prompt is answered and the tool's
    // status comes back.
    void realExpectAnswersThePromptOfAToolAtAnAwkwardPath()
    {
        const QString expect = SystemTools{}.expect;
        if (!QFile::exists(expect))
            QSKIP("expect is not installed");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("tools $x [y] {z}"));
        QVERIFY(QDir().mkpath(folder));
        const QString tool = folder + QStringLiteral("/prompt");
        QFile file(tool);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n"
                   "printf 'Password for host: '\n"
                   "IFS= read -r password\n"
                   "printf '%s' \"$password\" > \"$(dirname \"$0\")/received\"\n"
                   "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/arguments\"\n"
                   "exit 3\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        const QString password = QStringLiteral("-p$w [x] \"q\" \\");
        const QStringList arguments{QStringLiteral("-o"), QStringLiteral("a b"), QStringLiteral("$HOME")};
        const QByteArray script = ExpectScript::build(tool, arguments, password).toUtf8();
        const ProcessResult result = test::await(ProcessRunner::run(expect, {QStringLiteral("-")}, 30.0, script));
        QCOMPARE(result.exitCode, 3);
        QFile received(folder + QStringLiteral("/received"));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(received.readAll()), password);
        QFile passed(folder + QStringLiteral("/arguments"));
        QVERIFY(passed.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(passed.readAll()), QStringLiteral("-o\na b\n$HOME\n"));
    }
};

VANTREL_TEST_MAIN(TestExpectScript)
#include "tst_ExpectScript.moc"
