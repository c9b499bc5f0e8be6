#include "support/Fixtures.h"
#include "support/SambaServer.h"
#include "support/TestMain.h"

#include "support/AwaitTask.h"

#include "model/AppState.h"
#include "mounting/LinuxMountTools.h"
#include "mounting/RcloneMount.h"
#include "platform/FileSystemInfo.h"
#include "platform/Localization.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>

#include <csignal>

using namespace vantrel;
using vantrel::test::await;
using vantrel::test::failureOf;
using Share = LinuxMountTools::SmbShare;

namespace {

// Everything a shell would trip over, and what Tcl and rclone's own parsers care about.
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

    std::unique_ptr<LinuxMountTools> makeTools(const SystemTools& set = SystemTools::linuxSet())
    {
        auto tools = std::make_unique<LinuxMountTools>(set);
        tools->logFolder = scratch.filePath(QStringLiteral("logs"));
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
            && RcloneMount::mountProcesses(tools.tools().rclone, mountPoint).isEmpty();
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
        for (const QString& path : {tools.rclone, tools.fusermount, tools.nfsMount, tools.umount, tools.ping})
            QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(path));
    }

    void passwordMountWritesThroughToTheServerAndUnmounts()
    {
        auto tools = makeTools();
        const Share share = dataShare(QStringLiteral("Data"));
        const FileSystemInfo& fs = FileSystemInfo::system();

        QElapsedTimer clock;
        clock.start();
        await(tools->mountSMB(share));
        const double mountSeconds = secondsOf(clock);

        QCOMPARE(fs.mountedTypeAt(share.mountPoint), std::optional<QString>(QStringLiteral("fuse.rclone")));
        QCOMPARE(fs.typeName(share.mountPoint), std::optional<QString>(QStringLiteral("smbfs")));
        QVERIFY(fs.isMountRoot(share.mountPoint));

        // The password is in no process's arguments and in no log.
        const QList<qint64> pids = RcloneMount::mountProcesses(tools->tools().rclone, share.mountPoint);
        QCOMPARE(pids.size(), 1);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pids.first()));
        QVERIFY(cmdline.open(QIODevice::ReadOnly));
        const QByteArray arguments = cmdline.readAll();
        QVERIFY(arguments.contains(QFile::encodeName(share.mountPoint)));
        QVERIFY(!arguments.contains(serverPassword.toUtf8()));
        for (const QString& log : QDir(tools->logFolder).entryList(QDir::Files))
            QVERIFY(!readFile(tools->logFolder + QLatin1Char('/') + log).contains("cr$t"));

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
        // No stray entries (rclone's default encoding adds a folder named "．").
        QCOMPARE(QDir(dataFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("notes"), QStringLiteral("report.txt")}));

        QVERIFY(idle(*tools, share.mountPoint));
        QVERIFY(!fs.isMountRoot(share.mountPoint));
        QVERIFY(QDir(share.mountPoint).isEmpty());
        QVERIFY(QDir(tools->logFolder).isEmpty());
        QFile::remove(dataFolder + QStringLiteral("/report.txt"));
        QDir(dataFolder + QStringLiteral("/notes")).removeRecursively();
    }

    void readOnlyMountRefusesWrites()
    {
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
        auto tools = makeTools();
        QElapsedTimer clock;

        clock.start();
        const VantrelError wrongPassword = failureOf(
            tools->mountSMB(dataShare(QStringLiteral("Wrong"), QStringLiteral("nope"))));
        QCOMPARE(wrongPassword.kind(), VantrelError::Kind::authenticationFailed);
        QVERIFY2(wrongPassword.payload().contains(QStringLiteral("logon")), qPrintable(wrongPassword.payload()));
        QVERIFY(!wrongPassword.payload().contains(QStringLiteral("Failed to lsf")));
        qInfo("wrong password reported after %.2f s", secondsOf(clock));
        QVERIFY(secondsOf(clock) < 5.0);

        clock.restart();
        Share unreachable = dataShare(QStringLiteral("Closed"));
        unreachable.port = closedPort();
        const VantrelError refused = failureOf(tools->mountSMB(unreachable));
        QCOMPARE(refused.kind(), VantrelError::Kind::connectionFailed);
        QVERIFY2(refused.payload().contains(QStringLiteral("connection refused")), qPrintable(refused.payload()));
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
                QStringLiteral("Process ") + tools->tools().rclone + QStringLiteral(" timed out after 1s")));
        QVERIFY(secondsOf(clock) < 5.0);
        tools->mountTimeout = 20.0;

        Share guestOnPrivate = dataShare(QStringLiteral("GuestDenied"), std::nullopt);
        guestOnPrivate.user = QStringLiteral("guest");
        QCOMPARE(failureOf(tools->mountSMB(guestOnPrivate)).kind(), VantrelError::Kind::authenticationFailed);

        Share missing = dataShare(QStringLiteral("Missing"));
        missing.sharePath = QStringLiteral("nosuch");
        const VantrelError noShare = failureOf(tools->mountSMB(missing));
        QCOMPARE(noShare.kind(), VantrelError::Kind::mountFailed);
        QVERIFY2(noShare.payload().startsWith(QStringLiteral("rclone exited with code ")),
            qPrintable(noShare.payload()));

        for (const QString& name : {QStringLiteral("Wrong"), QStringLiteral("Closed"), QStringLiteral("Silent"),
                 QStringLiteral("GuestDenied"), QStringLiteral("Missing")})
            QVERIFY(idle(*tools, mountRoot() + QLatin1Char('/') + name));
    }

    void guestShareMounts()
    {
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
        auto tools = makeTools();
        const Share share = dataShare(QStringLiteral("Crashed"));
        const FileSystemInfo& fs = FileSystemInfo::system();
        await(tools->mountSMB(share));
        const QList<qint64> pids = RcloneMount::mountProcesses(tools->tools().rclone, share.mountPoint);
        QVERIFY(!pids.isEmpty());
        for (const qint64 pid : pids)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        QTRY_VERIFY(RcloneMount::mountProcesses(tools->tools().rclone, share.mountPoint).isEmpty());

        // The kernel still lists the mount, but nothing answers behind it.
        QCOMPARE(fs.mountedTypeAt(share.mountPoint), std::optional<QString>(QStringLiteral("fuse.rclone")));
        QVERIFY(!fs.typeName(share.mountPoint));

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

        // The mount's device name carries the server for the live-mount test, and no comma.
        Share share;
        share.host = QStringLiteral("fe80::1");
        share.port = 4450;
        share.sharePath = QStringLiteral("/team, docs/2024/");
        QCOMPARE(RcloneMount::deviceName(share), QStringLiteral("//[fe80::1]:4450/team%2C%20docs/2024"));
        const auto server = RcloneMount::serverOfMount(RcloneMount::deviceName(share));
        QVERIFY(server);
        QCOMPARE(server->host, QStringLiteral("fe80::1"));
        QCOMPARE(server->port, std::optional<quint16>(4450));
        QCOMPARE(RcloneMount::serverOfMount(QStringLiteral("//nas/data"))->port, std::nullopt);
        QVERIFY(!RcloneMount::serverOfMount(QStringLiteral(":smb:data")));
        QVERIFY(!RcloneMount::serverOfMount(QStringLiteral("///data")));

        QCOMPARE(LinuxMountTools::splitDomain(QStringLiteral("OFFICE;alice")),
            std::make_pair(QStringLiteral("OFFICE"), QStringLiteral("alice")));
        QCOMPARE(LinuxMountTools::splitDomain(QStringLiteral("OFFICE\\alice")),
            std::make_pair(QStringLiteral("OFFICE"), QStringLiteral("alice")));
        QCOMPARE(LinuxMountTools::splitDomain(QStringLiteral("alice")),
            std::make_pair(QString(), QStringLiteral("alice")));

        const QString listing = QStringLiteral(
            "2026/12/08 22:09:25 ERROR : : error listing: couldn't initialize SMB: response error: {Network Name Not Found} The specified share name cannot be found on the remote server.\n"
            "2026/12/08 22:09:25 Failed to lsf with 2 errors: last error was: error in ListJSON: couldn't initialize SMB: response error: {Network Name Not Found} The specified share name cannot be found on the remote server.\n");
        QCOMPARE(RcloneMount::message(listing),
            QStringLiteral(
                "couldn't initialize SMB: response error: {Network Name Not Found} The specified share name cannot be found on the remote server."));
        const QString mountLog = QStringLiteral(
            "2026/12/08 22:08:25 Fatal error: failed to mount FUSE fs: mountpoint does not exist: /x\n"
            "2026/12/08 22:08:26 NOTICE: Serving remote control on http://localhost:5572/\n");
        QCOMPARE(RcloneMount::message(mountLog),
            QStringLiteral("failed to mount FUSE fs: mountpoint does not exist: /x"));

        QCOMPARE(RcloneMount::classify(QStringLiteral("couldn't connect SMB: dial tcp 10.0.0.9:445: i/o timeout")),
            VantrelError::Kind::connectionFailed);
        QCOMPARE(
            RcloneMount::classify(QStringLiteral("couldn't connect SMB: dial tcp: lookup nas.invalid: no such host")),
            VantrelError::Kind::connectionFailed);
        QCOMPARE(RcloneMount::classify(QStringLiteral("couldn't initialize SMB: permission denied")),
            VantrelError::Kind::authenticationFailed);
        QCOMPARE(RcloneMount::classify(QStringLiteral("directory not found")), VantrelError::Kind::mountFailed);
    }
};

VANTREL_TEST_MAIN(TestLinuxMountTools)
#include "tst_LinuxMountTools.moc"
