#include "support/Fixtures.h"
#include "support/MountedShare.h"
#include "support/SambaServer.h"
#include "support/TestMain.h"

#include "support/AwaitTask.h"

#include "model/AppState.h"
#include "mounting/LinuxMountTools.h"
#include "mounting/SmbfsMount.h"
#include "platform/FileSystemInfo.h"
#include "platform/Localization.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <csignal>

using namespace vantrel;
using vantrel::test::await;
using vantrel::test::failureOf;
using Share = LinuxMountTools::SmbShare;

namespace {

// Everything a shell would trip over, and what Tcl and a line-based credentials reader care about.
const QString serverPassword = QStringLiteral("se cr$t! \"q\" [x]");

QString mountRoot()
{
    return QDir::homePath() + QStringLiteral("/VantrelVolumes");
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

double secondsOf(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.elapsed()) / 1000.0;
}

} // namespace

class TestLinuxMountTools : public QObject {
    Q_OBJECT

    test::SambaServer server;
    QString dataFolder;
    QString publicFolder;
    QTemporaryDir scratch;

    std::unique_ptr<LinuxMountTools> makeTools(const SystemTools& set = test::linuxTools())
    {
        auto tools = std::make_unique<LinuxMountTools>(set);
        tools->controlFolder = test::socketFolder();
        tools->mountTimeout = 20.0;
        tools->unmountTimeout = 20.0;
        return tools;
    }

    Share dataShare(const QString& name, std::optional<QString> password = serverPassword) const
    {
        Share share;
        share.host = QStringLiteral("127.0.0.1");
        share.port = server.port();
        share.sharePath = QStringLiteral("/data/");
        share.user = test::SambaServer::userName();
        share.password = std::move(password);
        share.mountPoint = mountRoot() + QLatin1Char('/') + name;
        share.requiredRoot = mountRoot();
        return share;
    }

    static bool idle(const LinuxMountTools& tools, const QString& mountPoint)
    {
        return !FileSystemInfo::system().mountedTypeAt(mountPoint)
            && SmbfsMount::mountProcesses(tools.tools().smbfs, mountPoint).isEmpty();
    }

private slots:
    void initTestCase()
    {
        server.setPassword(serverPassword);
        dataFolder = server.addShare(QStringLiteral("data"), false);
        publicFolder = server.addShare(QStringLiteral("public"), true);
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        qInfo("smbd listening after %.2f s", secondsOf(clock));
    }

    void cleanup()
    {
        // A failed check must not leave a mount for the next test or for the home's clean-up.
        test::detachMountsUnder(QDir::homePath());
    }

    void linuxToolSetIsTheDefaultAndInstalled()
    {
        QCOMPARE(SystemTools::platformDefault(), SystemTools::linuxSet());
        QCOMPARE(SystemTools{}.set, SystemTools::Set::macOS);
        const SystemTools tools = SystemTools::linuxSet();
        for (const QString& path : {tools.fusermount, tools.nfsMount, tools.umount, tools.ping})
            QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(path));
        // No program beside this test: the installation's private program folder.
        QCOMPARE(tools.smbfs,
            QDir::cleanPath(
                QCoreApplication::applicationDirPath() + QStringLiteral("/../libexec/vantrel/vantrel-smbfs")));
    }

    void passwordMountWritesThroughToTheServerAndUnmounts()
    {
        VANTREL_REQUIRE_SMBFS();
        auto tools = makeTools();
        const Share share = dataShare(QStringLiteral("Data"));
        const FileSystemInfo& fs = FileSystemInfo::system();

        QElapsedTimer clock;
        clock.start();
        await(tools->mountSMB(share));
        const double mountSeconds = secondsOf(clock);

        QCOMPARE(fs.mountedTypeAt(share.mountPoint), std::optional<QString>(SmbfsMount::mountType));
        QCOMPARE(fs.typeName(share.mountPoint), std::optional<QString>(QStringLiteral("smbfs")));
        QVERIFY(fs.isMountRoot(share.mountPoint));
        QVERIFY(tools->isMounted(share.mountPoint));

        // The password is in neither the process's arguments nor its environment.
        const QList<qint64> pids = SmbfsMount::mountProcesses(tools->tools().smbfs, share.mountPoint);
        QCOMPARE(pids.size(), 1);
        QVERIFY(!readFile(QStringLiteral("/proc/%1/cmdline").arg(pids.first())).contains(serverPassword.toUtf8()));
        QVERIFY(!readFile(QStringLiteral("/proc/%1/environ").arg(pids.first())).contains(serverPassword.toUtf8()));

        // The process answers on its control socket.
        const SmbfsMount smbfs(*tools);
        const std::optional<SmbfsMount::Status> status = await(smbfs.status(share.mountPoint, 2.0));
        QVERIFY(status);
        QVERIFY(status->online);
        QCOMPARE(status->pid, pids.first());
        QCOMPARE(status->open, 0);

        // Written into the share's root and into a new folder, right before the unmount.
        QVERIFY(writeFile(share.mountPoint + QStringLiteral("/report.txt"), QByteArrayLiteral("quarterly\n")));
        QVERIFY(QDir(share.mountPoint).mkdir(QStringLiteral("notes")));
        QVERIFY(writeFile(share.mountPoint + QStringLiteral("/notes/a.txt"), QByteArray(300000, 'n')));

        clock.restart();
        await(tools->unmount(share.mountPoint));
        const double unmountSeconds = secondsOf(clock);
        qInfo("mount %.2f s, unmount with upload %.2f s", mountSeconds, unmountSeconds);

        QCOMPARE(readFile(dataFolder + QStringLiteral("/report.txt")), QByteArrayLiteral("quarterly\n"));
        QCOMPARE(readFile(dataFolder + QStringLiteral("/notes/a.txt")), QByteArray(300000, 'n'));
        // No stray entries.
        QCOMPARE(QDir(dataFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("notes"), QStringLiteral("report.txt")}));

        QVERIFY(idle(*tools, share.mountPoint));
        QVERIFY(!fs.isMountRoot(share.mountPoint));
        QVERIFY(QDir(share.mountPoint).isEmpty());
        QFile::remove(dataFolder + QStringLiteral("/report.txt"));
        QDir(dataFolder + QStringLiteral("/notes")).removeRecursively();
    }

    void readOnlyMountRefusesWrites()
    {
        VANTREL_REQUIRE_SMBFS();
        auto tools = makeTools();
        Share share = dataShare(QStringLiteral("ReadOnly"));
        share.readOnly = true;
        QVERIFY(writeFile(dataFolder + QStringLiteral("/existing.txt"), "kept"));
        await(tools->mountSMB(share));
        QCOMPARE(readFile(share.mountPoint + QStringLiteral("/existing.txt")), QByteArrayLiteral("kept"));
        QVERIFY(!writeFile(share.mountPoint + QStringLiteral("/new.txt"), "x"));
        await(tools->unmount(share.mountPoint));
        QVERIFY(!QFile::exists(dataFolder + QStringLiteral("/new.txt")));
        QFile::remove(dataFolder + QStringLiteral("/existing.txt"));
    }

    void failuresAreClassifiedQuickly()
    {
        VANTREL_REQUIRE_SMBFS();
        auto tools = makeTools();
        QElapsedTimer clock;

        clock.start();
        const VantrelError wrongPassword = failureOf(
            tools->mountSMB(dataShare(QStringLiteral("Wrong"), QStringLiteral("nope"))));
        QCOMPARE(wrongPassword.kind(), VantrelError::Kind::authenticationFailed);
        QVERIFY(!wrongPassword.payload().isEmpty());
        qInfo("wrong password reported after %.2f s", secondsOf(clock));
        QVERIFY(secondsOf(clock) < 5.0);

        clock.restart();
        Share unreachable = dataShare(QStringLiteral("Closed"));
        unreachable.port = closedPort();
        const VantrelError refused = failureOf(tools->mountSMB(unreachable));
        QCOMPARE(refused.kind(), VantrelError::Kind::connectionFailed);
        qInfo("closed port reported after %.2f s", secondsOf(clock));
        QVERIFY(secondsOf(clock) < 5.0);

        // A server that accepts the connection and never answers: bounded by the time limit.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        Share stalled = dataShare(QStringLiteral("Silent"));
        stalled.port = silent.serverPort();
        tools->mountTimeout = 1.0;
        clock.restart();
        QCOMPARE(failureOf(tools->mountSMB(stalled)),
            VantrelError::timeout(
                QStringLiteral("Process ") + tools->tools().smbfs + QStringLiteral(" timed out after 1s")));
        QVERIFY(secondsOf(clock) < 5.0);
        tools->mountTimeout = 20.0;

        Share guestOnPrivate = dataShare(QStringLiteral("GuestDenied"), std::nullopt);
        guestOnPrivate.user = QStringLiteral("guest");
        QCOMPARE(failureOf(tools->mountSMB(guestOnPrivate)).kind(), VantrelError::Kind::authenticationFailed);

        Share missing = dataShare(QStringLiteral("Missing"));
        missing.sharePath = QStringLiteral("nosuch");
        const VantrelError noShare = failureOf(tools->mountSMB(missing));
        QCOMPARE(noShare.kind(), VantrelError::Kind::mountFailed);
        QVERIFY(!noShare.payload().isEmpty());

        for (const QString& name : {QStringLiteral("Wrong"), QStringLiteral("Closed"), QStringLiteral("Silent"),
                 QStringLiteral("GuestDenied"), QStringLiteral("Missing")})
            QVERIFY2(idle(*tools, mountRoot() + QLatin1Char('/') + name), qPrintable(name));
    }

    void guestShareMounts()
    {
        VANTREL_REQUIRE_SMBFS();
        auto tools = makeTools();
        Share share = dataShare(QStringLiteral("Public"), std::nullopt);
        share.user = QStringLiteral("guest");
        share.sharePath = QStringLiteral("public");
        await(tools->mountSMB(share));
        QVERIFY(FileSystemInfo::system().isMountRoot(share.mountPoint));
        QVERIFY(writeFile(share.mountPoint + QStringLiteral("/hello.txt"), "from a guest"));
        await(tools->unmount(share.mountPoint));
        QCOMPARE(readFile(publicFolder + QStringLiteral("/hello.txt")), QByteArrayLiteral("from a guest"));
        QVERIFY(idle(*tools, share.mountPoint));
    }

    void nonAsciiPasswordWorksWithoutAUtf8Locale()
    {
        VANTREL_REQUIRE_SMBFS();
        test::SambaServer other;
        const QString password = QStringLiteral("pässwörd €");
        other.setPassword(password);
        other.addShare(QStringLiteral("data"), false);
        QVERIFY2(other.start(), qPrintable(other.errorString()));

        const QByteArray savedAll = qgetenv("LC_ALL");
        const QByteArray savedLang = qgetenv("LANG");
        qputenv("LC_ALL", "C");
        qputenv("LANG", "C");
        auto tools = makeTools();
        Share share = dataShare(QStringLiteral("Umlauts"), password);
        share.port = other.port();
        const test::Settled<void> mounted = QCoro::waitFor(test::settle(tools->mountSMB(share)));
        qputenv("LC_ALL", savedAll);
        qputenv("LANG", savedLang);
        QVERIFY2(!mounted.error, mounted.error ? mounted.error->what() : "");
        await(tools->unmount(share.mountPoint));
    }

    void mountFolderIsCheckedBeforeMounting()
    {
        auto tools = makeTools();
        const QString root = mountRoot();
        QVERIFY(QDir().mkpath(root));

        // A computed mount point must lie strictly inside the root.
        for (const QString& name : {QString(), QStringLiteral("/"), QStringLiteral(".."), QStringLiteral("../Outside"),
                 QStringLiteral("a/../../Outside"), QStringLiteral(".")}) {
            const VantrelError error = failureOf(tools->prepareMountFolder(root + QLatin1Char('/') + name, root));
            QCOMPARE(error.kind(), VantrelError::Kind::mountFailed);
            QVERIFY2(error.payload().contains(QStringLiteral("is not a folder inside")), qPrintable(error.payload()));
        }
        QVERIFY(!QFileInfo::exists(QDir::homePath() + QStringLiteral("/Outside")));

        await(tools->prepareMountFolder(root + QStringLiteral("/team/docs"), root));
        QVERIFY(QFileInfo(root + QStringLiteral("/team/docs")).isDir());

        // A custom mount point may be anywhere, and is created when missing.
        const QString custom = scratch.filePath(QStringLiteral("custom/place"));
        await(tools->prepareMountFolder(custom, std::nullopt));
        QVERIFY(QFileInfo(custom).isDir());

        // Never on top of anything: a hidden file is content too.
        QVERIFY(writeFile(custom + QStringLiteral("/.keep"), "x"));
        VantrelError error = failureOf(tools->prepareMountFolder(custom, std::nullopt));
        QCOMPARE(error.payload(), QStringLiteral("Mount point is not empty: ") + custom);

        const QString file = scratch.filePath(QStringLiteral("plain-file"));
        QVERIFY(writeFile(file, "x"));
        error = failureOf(tools->prepareMountFolder(file, std::nullopt));
        QCOMPARE(error.payload(), QStringLiteral("Mount point path exists but is not a directory: ") + file);
        error = failureOf(tools->prepareMountFolder(file + QStringLiteral("/below"), std::nullopt));
        QVERIFY2(error.payload().startsWith(QStringLiteral("Failed to create mount point directory '") + file),
            qPrintable(error.payload()));
        QCOMPARE(readFile(file), QByteArrayLiteral("x"));
    }

    void deadMountIsDetachedBeforeMountingAgain()
    {
        VANTREL_REQUIRE_SMBFS();
        auto tools = makeTools();
        const Share share = dataShare(QStringLiteral("Crashed"));
        const FileSystemInfo& fs = FileSystemInfo::system();
        await(tools->mountSMB(share));
        const QList<qint64> pids = SmbfsMount::mountProcesses(tools->tools().smbfs, share.mountPoint);
        QVERIFY(!pids.isEmpty());
        for (const qint64 pid : pids)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        QTRY_VERIFY(SmbfsMount::mountProcesses(tools->tools().smbfs, share.mountPoint).isEmpty());

        // The kernel still lists the mount, but nothing answers behind it.
        QCOMPARE(fs.mountedTypeAt(share.mountPoint), std::optional<QString>(SmbfsMount::mountType));
        QVERIFY(!fs.typeName(share.mountPoint));
        QVERIFY(!tools->isMounted(share.mountPoint));

        await(tools->mountSMB(share));
        QVERIFY(fs.isMountRoot(share.mountPoint));
        await(tools->unmount(share.mountPoint));
        QVERIFY(idle(*tools, share.mountPoint));
    }

    void nfsMountsThroughMountNfs4WithTheSudoRetry()
    {
        test::StandInControl control(scratch.filePath(QStringLiteral("control-nfs")));
        auto tools = makeTools(test::linuxStandInTools());
        LinuxMountTools::NfsShare share{QStringLiteral("nas.local"), QStringLiteral("/export/team"),
            mountRoot() + QStringLiteral("/Team"), true, mountRoot()};

        await(tools->mountNFS(share));
        QCOMPARE(control.calls(QStringLiteral("mount.nfs4")),
            (QList<QStringList>{{QStringLiteral("nas.local:/export/team"), QStringLiteral("-o"),
                QStringLiteral("vers=4,tcp,noresvport,ro"), QStringLiteral("--"), share.mountPoint}}));
        QVERIFY(control.calls(QStringLiteral("sudo")).isEmpty());

        // Refused for lack of privilege: once more through sudo without a prompt.
        control.reset();
        share.readOnly = false;
        control.set(QStringLiteral("mount.nfs4.refuse-unprivileged"));
        await(tools->mountNFS(share));
        QCOMPARE(control.calls(QStringLiteral("sudo")),
            (QList<QStringList>{{QStringLiteral("-n"), QStringLiteral("--"), tools->tools().nfsMount,
                QStringLiteral("nas.local:/export/team"), QStringLiteral("-o"), QStringLiteral("vers=4,tcp,noresvport"),
                QStringLiteral("--"), share.mountPoint}}));

        control.set(QStringLiteral("sudo.needs-password"));
        VantrelError error = failureOf(tools->mountNFS(share));
        QCOMPARE(error,
            VantrelError::mountFailed(Localization::text(QStringLiteral("nfs.error.sudoRequired"),
                QStringLiteral(
                    "NFS 挂载需要 root 权限。请在终端配置 sudoers 以允许免密执行 mount_nfs，或手动挂载后使用自定义挂载点。"))));

        SystemTools withoutSudo = test::linuxStandInTools();
        withoutSudo.sudo = QStringLiteral("/nonexistent/sudo");
        auto plain = makeTools(withoutSudo);
        error = failureOf(plain->mountNFS(share));
        QCOMPARE(error,
            VantrelError::mountFailed(
                QStringLiteral("mount.nfs4 exited with code 32: mount.nfs4: failed to apply fstab options")));

        // Any other failure is not retried.
        control.reset();
        control.set(QStringLiteral("mount.nfs4.exit"), "32");
        control.set(QStringLiteral("mount.nfs4.stderr"), "mount.nfs4: Connection refused\n");
        error = failureOf(tools->mountNFS(share));
        QCOMPARE(error,
            VantrelError::mountFailed(
                QStringLiteral("mount.nfs4 exited with code 32: mount.nfs4: Connection refused")));
        QVERIFY(control.calls(QStringLiteral("sudo")).isEmpty());
    }

    void kernelMountsUnmountThroughUmount()
    {
        test::StandInControl control(scratch.filePath(QStringLiteral("control-umount")));
        auto tools = makeTools(test::linuxStandInTools());
        const QString path = mountRoot() + QStringLiteral("/Kernel");
        QVERIFY(QDir().mkpath(path));

        await(tools->unmount(path, true));
        await(tools->unmount(path + QLatin1Char('/'), false));
        QCOMPARE(control.calls(QStringLiteral("umount")),
            (QList<QStringList>{{QStringLiteral("-f"), QStringLiteral("--"), path}, {QStringLiteral("--"), path}}));

        control.reset();
        control.set(QStringLiteral("umount.refuse-unprivileged"));
        await(tools->unmount(path));
        QCOMPARE(control.calls(QStringLiteral("sudo")),
            (QList<QStringList>{
                {QStringLiteral("-n"), QStringLiteral("--"), tools->tools().umount, QStringLiteral("--"), path}}));

        control.set(QStringLiteral("sudo.needs-password"));
        const VantrelError error = failureOf(tools->unmount(path));
        QCOMPARE(error,
            VantrelError::unmountFailed(QStringLiteral("umount exited with code 1: sudo: a password is required")));
        QVERIFY(QFileInfo(path).isDir());
    }

    void connectionTestUsesLinuxPingFlags()
    {
        test::StandInControl control(scratch.filePath(QStringLiteral("control-ping")));
        auto tools = makeTools(test::linuxStandInTools());
        await(tools->testConnection(QStringLiteral("nas.local:4450")));
        QCOMPARE(control.calls(QStringLiteral("ping")),
            (QList<QStringList>{{QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("3"),
                QStringLiteral("--"), QStringLiteral("nas.local")}}));

        control.set(QStringLiteral("ping.exit"), "1");
        QCOMPARE(failureOf(tools->testConnection(QStringLiteral("nas.local"))),
            VantrelError::connectionFailed(QStringLiteral("Ping to nas.local failed (exit code 1)")));

        auto real = makeTools();
        const double latency = await(real->testConnection(QStringLiteral("127.0.0.1")));
        QVERIFY2(latency > 0.0 && latency < 5.0, qPrintable(QString::number(latency)));
    }

    void programFailuresBecomeTheirErrorKindsWithTheProgramsLine()
    {
        test::StandInControl control(scratch.filePath(QStringLiteral("control-smbfs")));
        SystemTools set = test::linuxStandInTools();
        set.smbfs = QStringLiteral(VANTREL_TEST_TOOLS_DIR) + QStringLiteral("/vantrel-smbfs");
        auto tools = makeTools(set);
        const Share share = dataShare(QStringLiteral("StandIn"));
        const QString line = QStringLiteral("//127.0.0.1/data: the server refused the login of ann");
        control.set(QStringLiteral("vantrel-smbfs.stderr"), "starting\n" + line.toUtf8() + "\n\n");

        const QList<std::pair<int, VantrelError::Kind>> kinds{{3, VantrelError::Kind::connectionFailed},
            {4, VantrelError::Kind::authenticationFailed}, {5, VantrelError::Kind::mountFailed},
            {6, VantrelError::Kind::mountFailed}, {7, VantrelError::Kind::mountFailed},
            {8, VantrelError::Kind::authenticationFailed}};
        for (const auto& [code, kind] : kinds) {
            control.set(QStringLiteral("vantrel-smbfs.exit"), QByteArray::number(code));
            QCOMPARE(failureOf(tools->mountSMB(share)), VantrelError(kind, line));
        }
        control.set(QStringLiteral("vantrel-smbfs.exit"), "1");
        QCOMPARE(failureOf(tools->mountSMB(share)),
            VantrelError::mountFailed(QStringLiteral("vantrel-smbfs exited with code 1: ") + line));
        // Nothing said: the cause in plain words all the same.
        control.unset(QStringLiteral("vantrel-smbfs.stderr"));
        control.set(QStringLiteral("vantrel-smbfs.exit"), "6");
        const VantrelError fuse = failureOf(tools->mountSMB(share));
        QCOMPARE(fuse.kind(), VantrelError::Kind::mountFailed);
        QVERIFY2(fuse.payload().contains(QStringLiteral("/dev/fuse")), qPrintable(fuse.payload()));

        // The credentials on standard input, password last; the password nowhere else.
        Share withDomain = share;
        withDomain.domain = QStringLiteral("OFFICE");
        withDomain.password = QStringLiteral("a=b c\\d");
        withDomain.readOnly = true;
        withDomain.serverTimeout = 7.5;
        control.reset();
        control.set(QStringLiteral("vantrel-smbfs.exit"), "4");
        failureOf(tools->mountSMB(withDomain));
        QCOMPARE(control.read(QStringLiteral("vantrel-smbfs.stdin")),
            "user=" + withDomain.user.toUtf8() + "\ndomain=OFFICE\npassword=a=b c\\d\n");
        const QString mountPoint = LinuxMountTools::absolutePath(withDomain.mountPoint);
        QCOMPARE(control.calls(QStringLiteral("vantrel-smbfs")),
            (QList<QStringList>{{QStringLiteral("--credentials-stdin"), QStringLiteral("--timeout"),
                QStringLiteral("8"), QStringLiteral("--read-only"), QStringLiteral("--control"),
                SmbfsMount::controlSocketPath(tools->controlFolder, mountPoint), QStringLiteral("--"),
                QStringLiteral("//127.0.0.1:") + QString::number(server.port()) + QStringLiteral("/data"),
                mountPoint}}));
        QVERIFY(!control.read(QStringLiteral("vantrel-smbfs.env")).contains("a=b c"));

        // A guest sends nothing, and a name that would end the credentials' line is refused.
        control.reset();
        control.set(QStringLiteral("vantrel-smbfs.exit"), "3");
        failureOf(tools->mountSMB(dataShare(QStringLiteral("StandIn"), std::nullopt)));
        QVERIFY(
            !control.calls(QStringLiteral("vantrel-smbfs")).first().contains(QStringLiteral("--credentials-stdin")));
        QVERIFY(!control.exists(QStringLiteral("vantrel-smbfs.stdin")));
        Share forged = share;
        forged.user = QStringLiteral("ann\npassword=x");
        QCOMPARE(failureOf(tools->mountSMB(forged)).kind(), VantrelError::Kind::authenticationFailed);
        QCOMPARE(control.runs(QStringLiteral("vantrel-smbfs")), 1);

        // The check: its latency line, or the step that failed.
        control.reset();
        control.set(QStringLiteral("vantrel-smbfs.stdout"), "latency_ms=42\n");
        QCOMPARE(await(tools->checkSMB(share)), 0.042);
        QCOMPARE(control.calls(QStringLiteral("vantrel-smbfs")).first().first(), QStringLiteral("--check"));
        QCOMPARE(control.calls(QStringLiteral("vantrel-smbfs")).first().last(),
            QStringLiteral("//127.0.0.1:") + QString::number(server.port()) + QStringLiteral("/data"));
        control.set(QStringLiteral("vantrel-smbfs.exit"), "5");
        control.set(QStringLiteral("vantrel-smbfs.stderr"), "no share named data\n");
        QCOMPARE(failureOf(tools->checkSMB(share)), VantrelError::mountFailed(QStringLiteral("no share named data")));
    }

    void statusIsAskedOnTheControlSocketWithinItsBound()
    {
        auto tools = makeTools();
        QVERIFY(QDir().mkpath(tools->controlFolder));
        const QString mountPoint = mountRoot() + QStringLiteral("/Team Docs");
        const QString socket = SmbfsMount::controlSocketPath(tools->controlFolder, mountPoint);
        QCOMPARE(socket, SmbfsMount::controlSocketPath(tools->controlFolder, mountPoint + QStringLiteral("/./")));
        QVERIFY(
            QFileInfo(socket).fileName().contains(QRegularExpression(QStringLiteral("^smbfs-[0-9a-f]{16}\\.sock$"))));

        QLocalServer daemon;
        QVERIFY2(daemon.listen(socket), qPrintable(socket + QStringLiteral(": ") + daemon.errorString()));
        QByteArray asked;
        QByteArray reply = "state=offline pid=4242 open=2 source=//nas/team docs mountpoint=" + mountPoint.toUtf8()
            + "\n";
        bool answer = true;
        connect(&daemon, &QLocalServer::newConnection, this, [&] {
            QLocalSocket* client = daemon.nextPendingConnection();
            connect(client, &QLocalSocket::readyRead, client, [&, client] {
                asked += client->readAll();
                if (answer && asked.endsWith('\n')) {
                    client->write(reply);
                    client->flush();
                    client->disconnectFromServer();
                }
            });
        });
        const SmbfsMount smbfs(*tools);
        std::optional<SmbfsMount::Status> status = await(smbfs.status(mountPoint, 5.0));
        QCOMPARE(asked, QByteArrayLiteral("status\n"));
        QCOMPARE(status,
            (std::optional<SmbfsMount::Status>{
                SmbfsMount::Status{false, 4242, 2, QStringLiteral("//nas/team docs"), mountPoint}}));

        reply = "state=online pid=7 open=0\n";
        status = await(smbfs.status(mountPoint, 5.0));
        QVERIFY(status && status->online && status->pid == 7 && status->open == 0);

        // Garbage is no answer; neither is silence, which costs the bound and no more.
        for (const QByteArray& bad : {QByteArrayLiteral("ok\n"), QByteArrayLiteral("state=asleep pid=7\n"),
                 QByteArrayLiteral("state=online\n"), QByteArrayLiteral("state=online pid=x open=1\n")}) {
            reply = bad;
            QVERIFY2(!await(smbfs.status(mountPoint, 5.0)), bad.constData());
        }
        answer = false;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!await(smbfs.status(mountPoint, 0.3)));
        QVERIFY(clock.elapsed() >= 250);
        daemon.close();
        QVERIFY(!await(smbfs.status(mountPoint, 5.0)));
        QVERIFY(!await(smbfs.status(mountRoot() + QStringLiteral("/Nobody"), 5.0)));
    }

    void addressesAndMessagesAreRead()
    {
        using Endpoint = LinuxMountTools::Endpoint;
        auto split = [](const QString& text) {
            const Endpoint e = LinuxMountTools::splitAddress(text);
            return e.host + QLatin1Char('|') + (e.port ? QString::number(*e.port) : QString());
        };
        QCOMPARE(split(QStringLiteral("nas.local")), QStringLiteral("nas.local|"));
        QCOMPARE(split(QStringLiteral("nas.local:4450")), QStringLiteral("nas.local|4450"));
        QCOMPARE(split(QStringLiteral("[fe80::1]:445")), QStringLiteral("fe80::1|445"));
        QCOMPARE(split(QStringLiteral("[fe80::1]")), QStringLiteral("fe80::1|"));
        QCOMPARE(split(QStringLiteral("fe80::1")), QStringLiteral("fe80::1|"));
        QCOMPARE(split(QStringLiteral("nas.local:smb")), QStringLiteral("nas.local:smb|"));
        QCOMPARE(split(QStringLiteral("nas.local:70000")), QStringLiteral("nas.local:70000|"));

        // The source names the server as the mount table shows it, the share path as it stands.
        Share share;
        share.host = QStringLiteral("fe80::1");
        share.port = 4450;
        share.sharePath = QStringLiteral("/team, docs/2024/");
        QCOMPARE(SmbfsMount::sourceName(share), QStringLiteral("//[fe80::1]:4450/team, docs/2024"));
        share.host = QStringLiteral("nas");
        share.port.reset();
        QCOMPARE(SmbfsMount::sourceName(share), QStringLiteral("//nas/team, docs/2024"));

        QCOMPARE(LinuxMountTools::splitDomain(QStringLiteral("OFFICE;alice")),
            std::make_pair(QStringLiteral("OFFICE"), QStringLiteral("alice")));
        QCOMPARE(LinuxMountTools::splitDomain(QStringLiteral("OFFICE\\alice")),
            std::make_pair(QStringLiteral("OFFICE"), QStringLiteral("alice")));
        QCOMPARE(LinuxMountTools::splitDomain(QStringLiteral("alice")),
            std::make_pair(QString(), QStringLiteral("alice")));
    }
};

VANTREL_TEST_MAIN(TestLinuxMountTools)
#include "tst_LinuxMountTools.moc"
