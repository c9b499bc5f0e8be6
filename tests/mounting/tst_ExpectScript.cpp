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
        QCOMPARE(lines.at(0), QStringLiteral("encoding system utf-8"));
        QCOMPARE(lines.at(1), QStringLiteral("set password \"a\\\"b\\\\c\\$d\\[e\\]\""));
        QCOMPARE(lines.at(2), QStringLiteral("set args [list \"-o\" \"ro\" \"//u@h/s\"]"));
        QCOMPARE(lines.at(3), QStringLiteral("spawn /sbin/mount_smbfs {*}$args"));
        QCOMPARE(lines.at(4), QStringLiteral("set timeout -1"));
        QCOMPARE(lines.at(7), QStringLiteral("        send -- \"$password\\r\""));

        // A tool path that is not one plain Tcl word is quoted like the rest.
        QCOMPARE(
            ExpectScript::build(QStringLiteral("/opt/my $tools/[x]"), {}, QString()).split(QLatin1Char('\n')).at(3),
            QStringLiteral("spawn \"/opt/my \\$tools/\\[x\\]\" {*}$args"));

        // Outside printable ASCII everything is escaped, so the script is plain ASCII.
        const QString wide = ExpectScript::build(QStringLiteral("/t"), {QStringLiteral("ü")}, QStringLiteral("ä\t😀"));
        QCOMPARE(wide.split(QLatin1Char('\n')).at(1), QStringLiteral("set password \"\\u00e4\\u0009\\ud83d\\ude00\""));
        QCOMPARE(wide.split(QLatin1Char('\n')).at(2), QStringLiteral("set args [list \"\\u00fc\"]"));
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
        QCOMPARE(runScript(tool, arguments, password), 3);
        QCOMPARE(readUtf8(folder + QStringLiteral("/received")), password);
        QCOMPARE(readUtf8(folder + QStringLiteral("/arguments")), QStringLiteral("-o\na b\n$HOME\n"));

        // Without a UTF-8 locale too, text outside ASCII reaches the tool as UTF-8.
        const QByteArray savedAll = qgetenv("LC_ALL");
        qputenv("LC_ALL", "C");
        const QString umlauts = QStringLiteral("pässwörd 😀");
        const int status = runScript(tool, {QStringLiteral("Müller")}, umlauts);
        qputenv("LC_ALL", savedAll);
        QCOMPARE(status, 3);
        QCOMPARE(readUtf8(folder + QStringLiteral("/received")), umlauts);
        QCOMPARE(readUtf8(folder + QStringLiteral("/arguments")), QStringLiteral("Müller\n"));
    }

private:
    static int runScript(const QString& tool, const QStringList& arguments, const QString& password)
    {
        const QByteArray script = ExpectScript::build(tool, arguments, password).toUtf8();
        ProcessRequest request;
        request.program = SystemTools{}.expect;
        request.arguments = QStringList{QStringLiteral("-")};
        request.timeout = 30.0;
        request.input = script;
        return test::await(ProcessRunner::run(std::move(request))).exitCode;
    }

    static QString readUtf8(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<missing>");
    }
};

VANTREL_TEST_MAIN(TestExpectScript)
#include "tst_ExpectScript.moc"
