#include "support/AwaitTask.h"
#include "support/Fixtures.h"
#include "support/MountedShare.h"
#include "support/MountingFixture.h"
#include "support/SambaServer.h"
#include "support/SilentListener.h"
#include "support/TestMain.h"

#include "model/AppState.h"
#include "mounting/MountEngine.h"
#include "mounting/SmbfsMount.h"
#include "platform/FileSystemInfo.h"
#include "platform/Localization.h"
#include "platform/SecretStore.h"
#include "services/KeychainManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QTcpServer>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <memory>

#include <sys/resource.h>
#include <vector>

using namespace vantrel;
using vantrel::test::await;
using vantrel::test::failureOf;

namespace {

const QString toolsDir = QStringLiteral(VANTREL_TEST_TOOLS_DIR);

struct Fixture : test::MountingFixture {
    QString root = QDir::homePath() + QStringLiteral("/VantrelVolumes");
    std::unique_ptr<MountEngine> engine = make(test::standInTools());

    std::unique_ptr<MountEngine> make(const SystemTools& tools)
    {
        return std::make_unique<MountEngine>(tools, root, fileSystem, keychain);
    }
};

NASConfig smbConfig(const QString& name)
{
    NASConfig config;
    config.name = name;
    config.address = QStringLiteral("nas.local");
    config.sharePath = QStringLiteral("/team/");
    config.authMethod = AuthMethod::password;
    config.username = QStringLiteral("alice");
    config.keychainIdentifier = QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    return config;
}

NASConfig guestConfig(const QString& name)
{
    NASConfig config = smbConfig(name);
    config.authMethod = AuthMethod::guest;
    config.username.reset();
    return config;
}

// Everything a shell, Tcl or a line-based credentials reader would trip over.
const QString serverPassword = QStringLiteral("se cr$t! \"q\" [x]");

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

double secondsOf(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.elapsed()) / 1000.0;
}

NASConfig nfsConfig(const QString& name)
{
    NASConfig config;
    config.name = name;
    config.protocol = NASProtocol::nfs;
    config.address = QStringLiteral("filer");
    config.sharePath = QStringLiteral("/export/data");
    return config;
}

// User text made to look like options, with Tcl's and URL special characters; each starts
// with "-Z", which no tool's own option here does.
const QString hostileShare = QStringLiteral("-Zshare,host=evil:x\"$y[1]");
const QString hostileUser = QStringLiteral("-Zuser'a=b,c");
const QString hostileMountPoint = QStringLiteral("-Zmount [x]");

// User text never names an option: it follows "--", or sits inside an argument that starts with
// text of ours (a URL, an NFS export, an SMB source, an option's value).
void verifyOperandsOnly(const QString& tool, const QList<QStringList>& calls)
{
    QVERIFY2(!calls.isEmpty(), qPrintable(tool + QStringLiteral(" never ran")));
    for (const QStringList& argv : calls) {
        const qsizetype end = argv.indexOf(QStringLiteral("--"));
        for (qsizetype i = 0; i < argv.size(); ++i) {
            // An option's name is ours; only its value, after "=", may hold user text.
            const QString& argument = argv.at(i);
            const bool option = argument.startsWith(QLatin1Char('-')) && (end < 0 || i < end);
            QVERIFY2(!(option && argument.section(QLatin1Char('='), 0, 0).contains(QStringLiteral("-Z"))),
                qPrintable(tool + QStringLiteral(" reads user text as an option: ") + argv.join(QLatin1Char(' '))));
        }
    }
}

} // namespace

class TestMountEngine : public QObject {
    Q_OBJECT

    test::SambaServer server;
    QString dataFolder;
    QString publicFolder;

    // The Linux tool set with the real vantrel-smbfs and FUSE, and the stand-ins for what needs
    // privilege here.
    std::unique_ptr<MountEngine> linuxEngine(Fixture& f, SystemTools tools = test::linuxStandInTools())
    {
        auto engine = f.make(tools);
        engine->mountTimeout = 20.0;
        engine->linuxTools().controlFolder = test::socketFolder();
        return engine;
    }

    NASConfig serverConfig(Fixture& f, const QString& name, const QString& password = serverPassword) const
    {
        NASConfig config = smbConfig(name);
        config.address = QStringLiteral("127.0.0.1:") + QString::number(server.port());
        config.sharePath = QStringLiteral("/data/");
        config.username = test::SambaServer::userName();
        if (!f.keychain.savePassword(password, config.keychainIdentifier))
            qWarning("the test password was not stored");
        return config;
    }

private slots:
    void initTestCase()
    {
        Localization::useCatalog(QStringLiteral("zh-Hans"));
        server.setPassword(serverPassword);
        dataFolder = server.addShare(QStringLiteral("data"), false);
        publicFolder = server.addShare(QStringLiteral("public"), true);
        QVERIFY2(server.start(), qPrintable(server.errorString()));
    }

    void cleanup()
    {
        // A failed check must not leave a mount behind for the next test or the home's clean-up.
        test::detachMountsUnder(QDir::homePath());
    }

    void defaultsAndMountPointRule()
    {
        const SystemTools tools;
        QCOMPARE(tools.smbMount, QStringLiteral("/sbin/mount_smbfs"));
        QCOMPARE(tools.expect, QStringLiteral("/usr/bin/expect"));
        QCOMPARE(tools.nfsMount, QStringLiteral("/sbin/mount_nfs"));
        QCOMPARE(tools.sudo, QStringLiteral("/usr/bin/sudo"));
        QCOMPARE(tools.diskutil, QStringLiteral("/usr/sbin/diskutil"));
        QCOMPARE(tools.ping, QStringLiteral("/sbin/ping"));
        QCOMPARE(MountEngine::defaultMountRoot(), QDir::homePath() + QStringLiteral("/VantrelVolumes"));

        Fixture f;
        NASConfig config = smbConfig(QStringLiteral("Photos/2024"));
        QCOMPARE(f.engine->mountPointPath(config), f.root + QStringLiteral("/Photos/2024"));
        config.mountOptions.customMountPoint = QString();
        QCOMPARE(f.engine->mountPointPath(config), f.root + QStringLiteral("/Photos/2024"));
        config.mountOptions.customMountPoint = QStringLiteral("~/mnt ");
        QCOMPARE(f.engine->mountPointPath(config), QStringLiteral("~/mnt "));
    }

    void isMountedNeedsANetworkTypeAndAMountRoot()
    {
        Fixture f;
        const QString folder = f.dir.filePath(QStringLiteral("share"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!f.engine->isMounted(folder));
        QVERIFY(!f.engine->isMounted(f.dir.filePath(QStringLiteral("missing"))));
        f.fileSystem.declare(folder, QStringLiteral("nfs"));
        QVERIFY(f.engine->isMounted(folder));
        QVERIFY(await(f.engine->isMountedAsync(folder)));
        f.fileSystem.declare(folder, QStringLiteral("ext4"));
        QVERIFY(!f.engine->isMounted(folder));
        // A folder on a network-mounted home has the network type but is no mount of its own.
        f.fileSystem.declare(folder, QStringLiteral("smbfs"), false);
        QVERIFY(!f.engine->isMounted(folder));
    }

    void smbPasswordReachesTheToolThroughExpect_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("quote") << QStringLiteral("pa\"ss");
        QTest::newRow("backslash") << QStringLiteral("back\\slash\\");
        QTest::newRow("dollar") << QStringLiteral("$x and ${y}");
        QTest::newRow("command") << QStringLiteral("[exec touch %1]");
        QTest::newRow("leading dash") << QStringLiteral("-nobreak");
        QTest::newRow("braces and text") << QStringLiteral("}{ 空格 ü; \\r");
    }

    void smbPasswordReachesTheToolThroughExpect()
    {
        QFETCH(QString, password);
        Fixture f;
        const QString marker = f.dir.filePath(QStringLiteral("ran"));
        password = password.replace(QStringLiteral("%1"), marker);
        // Names and share paths with Tcl's special characters must reach the tool unchanged too.
        NASConfig config = smbConfig(QStringLiteral("we\"ird $x [y] \\z"));
        config.sharePath = QStringLiteral("/a$b[1]/");
        QVERIFY(f.keychain.savePassword(password, config.keychainIdentifier));
        f.set(QStringLiteral("mount_smbfs.password"), password.toUtf8());

        const QUrl url = await(f.engine->mountSMB(config));
        const QString path = f.root + QStringLiteral("/we\"ird $x [y] \\z");
        QCOMPARE(url, QUrl::fromLocalFile(path + QLatin1Char('/')));
        QCOMPARE(MountEngine::localPath(url), path);
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(QString::fromUtf8(f.read(QStringLiteral("mount_smbfs.received"))), password);
        QCOMPARE(f.calls(QStringLiteral("mount_smbfs")),
            (QList<QStringList>{{QStringLiteral("--"), QStringLiteral("//alice@nas.local/a$b%5B1%5D"), path}}));
        QVERIFY(!QFile::exists(marker));
    }

    void expectEndsWithTheToolsStatus()
    {
        Fixture f;
        const NASConfig config = smbConfig(QStringLiteral("status"));
        QVERIFY(f.keychain.savePassword(QStringLiteral("wrong"), config.keychainIdentifier));
        f.set(QStringLiteral("mount_smbfs.password"), "right");
        VantrelError error = failureOf(f.engine->mountSMB(config));
        QCOMPARE(error.kind(), VantrelError::Kind::mountFailed);
        QVERIFY2(error.payload().startsWith(QStringLiteral("mount_smbfs exited with code 77: ")),
            qPrintable(error.payload()));
        QVERIFY(error.payload().contains(QStringLiteral("Authentication error")));
        QVERIFY(!error.payload().contains(QStringLiteral("wrong"))); // the prompt does not echo

        // A tool killed by a signal never reads as success, nor as expect's own time-out.
        f.set(QStringLiteral("mount_smbfs.password"), "wrong");
        f.set(QStringLiteral("mount_smbfs.kill"), "TERM");
        error = failureOf(f.engine->mountSMB(config));
        QCOMPARE(error.kind(), VantrelError::Kind::mountFailed);
        QVERIFY2(error.payload().startsWith(QStringLiteral("mount_smbfs exited with code 1: ")),
            qPrintable(error.payload()));
    }

    void guestArgumentsAndExitMessages()
    {
        Fixture f;
        NASConfig config = guestConfig(QStringLiteral("guest"));
        config.sharePath = QStringLiteral("//team/docs 2024/%/");
        config.mountOptions.readOnly = true;
        const QString path = f.root + QStringLiteral("/guest");
        await(f.engine->mountSMB(config));
        QCOMPARE(f.calls(QStringLiteral("mount_smbfs")).last(),
            (QStringList{"-o", "ro", "--", "//guest@nas.local/team/docs%202024/%25", path}));

        config.mountOptions.readOnly = false;
        config.sharePath = QStringLiteral("/");
        await(f.engine->mountSMB(config));
        QCOMPARE(f.calls(QStringLiteral("mount_smbfs")).last(), (QStringList{"--", "//guest@nas.local/", path}));

        // A password configuration without a user name logs in as "guest".
        config = smbConfig(QStringLiteral("guest"));
        config.username.reset();
        QVERIFY(f.keychain.savePassword(QStringLiteral("pw"), config.keychainIdentifier));
        await(f.engine->mountSMB(config));
        QCOMPARE(f.calls(QStringLiteral("mount_smbfs")).last(), (QStringList{"--", "//guest@nas.local/team", path}));

        config = guestConfig(QStringLiteral("guest"));
        f.set(QStringLiteral("mount_smbfs.exit"), "64");
        QCOMPARE(failureOf(f.engine->mountSMB(config)),
            VantrelError::mountFailed(QStringLiteral(
                "mount_smbfs 参数错误。可能原因：挂载点已被占用、共享路径格式不正确、或缺少必要参数。")));
        f.set(QStringLiteral("mount_smbfs.stdout"), "ignored\n");
        f.set(QStringLiteral("mount_smbfs.stderr"), "\n  mount_smbfs: bad option \n");
        QCOMPARE(failureOf(f.engine->mountSMB(config)),
            VantrelError::mountFailed(QStringLiteral("mount_smbfs exited with code 64: mount_smbfs: bad option")));
        f.unset(QStringLiteral("mount_smbfs.stderr"));
        f.set(QStringLiteral("mount_smbfs.stdout"), "  only on stdout\r\n");
        f.set(QStringLiteral("mount_smbfs.exit"), "2");
        QCOMPARE(failureOf(f.engine->mountSMB(config)),
            VantrelError::mountFailed(QStringLiteral("mount_smbfs exited with code 2: only on stdout")));
    }

    void keychainItemModeWithoutExpect()
    {
        Fixture f;
        SystemTools tools = test::standInTools();
        tools.expect = f.dir.filePath(QStringLiteral("no-expect-here"));
        const auto engine = f.make(tools);
        NASConfig config = smbConfig(QStringLiteral("noexpect"));
        config.mountOptions.readOnly = true;
        QVERIFY(f.keychain.savePassword(QStringLiteral("-s3cret \"x\""), config.keychainIdentifier));
        f.set(QStringLiteral("mount_smbfs.hold"));

        auto task = engine->mountSMB(config);
        QTRY_VERIFY(f.exists(QStringLiteral("mount_smbfs.argv")));
        // While the tool runs, the temporary item holds the password.
        const SecretStore::ReadResult during = f.secrets.findInternetPassword(QStringLiteral("nas.local"),
            QStringLiteral("alice"));
        QCOMPARE(during.status, SecretStore::success);
        QCOMPARE(during.secret, QByteArray("-s3cret \"x\""));
        f.set(QStringLiteral("mount_smbfs.release"));
        await(std::move(task));

        QCOMPARE(f.calls(QStringLiteral("mount_smbfs")),
            (QList<QStringList>{
                {"-N", "-o", "ro", "--", "//alice@nas.local/team", f.root + QStringLiteral("/noexpect")}}));
        QVERIFY(!f.exists(QStringLiteral("mount_smbfs.received")));
        QCOMPARE(f.secrets.findInternetPassword(QStringLiteral("nas.local"), QStringLiteral("alice")).status,
            SecretStore::itemNotFound);

        // Removed also when the tool cannot even start.
        tools.smbMount = f.dir.filePath(QStringLiteral("missing-tool"));
        const VantrelError error = failureOf(f.make(tools)->mountSMB(config));
        QVERIFY(
            error.payload().startsWith(QStringLiteral("Failed to launch ") + tools.smbMount + QStringLiteral(": ")));
        QCOMPARE(f.secrets.findInternetPassword(QStringLiteral("nas.local"), QStringLiteral("alice")).status,
            SecretStore::itemNotFound);
    }

    void failuresBeforeAnyToolRuns()
    {
        Fixture f;
        NASConfig config = smbConfig(QStringLiteral("nopw"));
        QCOMPARE(failureOf(f.engine->mountSMB(config)),
            VantrelError::authenticationFailed(QStringLiteral("No password found in keychain for nopw")));
        f.keychain.savePassword(QString(), config.keychainIdentifier); // stored empty or refused: either way none
        QCOMPARE(failureOf(f.engine->mountSMB(config)).kind(), VantrelError::Kind::authenticationFailed);

        config.sharePath = QString();
        QCOMPARE(failureOf(f.engine->mountSMB(config)), VantrelError::mountFailed(QStringLiteral("共享路径不能为空")));
        NASConfig nfs = nfsConfig(QStringLiteral("nfs"));
        nfs.sharePath = QString();
        QCOMPARE(failureOf(f.engine->mountNFS(nfs)), VantrelError::mountFailed(QStringLiteral("NFS 共享路径不能为空")));
        QVERIFY(!f.exists(QStringLiteral("mount_smbfs.argv")));
        QVERIFY(!f.exists(QStringLiteral("mount_nfs.argv")));

        // Already mounted: done at once, no credentials needed, no tool run.
        config = smbConfig(QStringLiteral("live"));
        const QString path = f.root + QStringLiteral("/live");
        f.fileSystem.declare(path, QStringLiteral("smbfs"));
        QCOMPARE(await(f.engine->mountSMB(config)), MountEngine::directoryUrl(path));
        QCOMPARE(await(f.engine->mountNFS(nfsConfig(QStringLiteral("live")))), MountEngine::directoryUrl(path));
        QVERIFY(!f.exists(QStringLiteral("mount_smbfs.argv")));
        QVERIFY(!f.exists(QStringLiteral("mount_nfs.argv")));
        // ...but not when the folder is merely on a network file system.
        f.fileSystem.declare(path, QStringLiteral("smbfs"), false);
        QCOMPARE(failureOf(f.engine->mountSMB(config)).kind(), VantrelError::Kind::authenticationFailed);
    }

    void mountPointProblems()
    {
        Fixture f;
        const QString file = f.dir.filePath(QStringLiteral("a-file"));
        f.set(QStringLiteral("../a-file"), "x");
        NASConfig config = guestConfig(QStringLiteral("x"));
        config.mountOptions.customMountPoint = file;
        QCOMPARE(failureOf(f.engine->mountSMB(config)),
            VantrelError::mountFailed(QStringLiteral("Mount point path exists but is not a directory: ") + file));

        config.mountOptions.customMountPoint = QStringLiteral("/Volumes/vantrel-test-nowhere");
        QCOMPARE(failureOf(f.engine->mountNFS(config)),
            VantrelError::mountFailed(QStringLiteral(
                "无法自动创建 /Volumes/ 下的挂载点（需要 root 权限）。请使用默认路径，或手动在终端执行：sudo mkdir -p '/Volumes/vantrel-test-nowhere'")));

        const QString beneath = file + QStringLiteral("/sub/dir");
        config.mountOptions.customMountPoint = beneath;
        QCOMPARE(failureOf(f.engine->mountSMB(config)),
            VantrelError::mountFailed(QStringLiteral("Failed to create mount point directory '") + beneath
                + QStringLiteral("': Not a directory")));
        QVERIFY(!f.exists(QStringLiteral("mount_smbfs.argv")));

        // The folder of all default mount points, or one above it, would hide the other shares.
        QVERIFY(QDir().mkpath(f.root));
        for (const QString& over : {f.root, f.root + QStringLiteral("/"), QDir::homePath()}) {
            config.mountOptions.customMountPoint = over;
            QCOMPARE(failureOf(f.engine->mountSMB(config)).kind(), VantrelError::Kind::mountFailed);
            QCOMPARE(failureOf(f.engine->mountNFS(config)).kind(), VantrelError::Kind::mountFailed);
        }
        QVERIFY(!f.exists(QStringLiteral("mount_smbfs.argv")));
        QVERIFY(!f.exists(QStringLiteral("mount_nfs.argv")));

        // An existing folder is used as it is.
        const QString existing = f.dir.filePath(QStringLiteral("existing"));
        QVERIFY(QDir().mkpath(existing));
        config.mountOptions.customMountPoint = existing;
        QCOMPARE(await(f.engine->mountSMB(config)), MountEngine::directoryUrl(existing));
    }

    void releasesTheShareFromOtherConfigurations()
    {
        Fixture f;
        NASConfig holder = guestConfig(QStringLiteral("holder"));
        NASConfig failedOne = guestConfig(QStringLiteral("failed"));
        NASConfig otherShare = guestConfig(QStringLiteral("other"));
        otherShare.sharePath = QStringLiteral("/team/sub");
        NASConfig otherAddress = guestConfig(QStringLiteral("elsewhere"));
        otherAddress.address = QStringLiteral("nas2.local");
        NASConfig noMountPoint = guestConfig(QStringLiteral("nowhere"));
        NASConfig noStatus = guestConfig(QStringLiteral("unknown"));
        NASConfig mine = smbConfig(QStringLiteral("mine"));
        mine.authMethod = AuthMethod::guest;
        const QString holderPath = f.root + QStringLiteral("/holder");
        QVERIFY(QDir().mkpath(holderPath));

        QHash<QUuid, NASStatus> statuses;
        const auto record = [&](const NASConfig& c, const MountState& state, bool withMountPoint = true) {
            NASStatus status(c.id);
            status.mountState = state;
            if (withMountPoint)
                status.mountPoint = MountEngine::directoryUrl(f.root + QLatin1Char('/') + c.name);
            statuses.insert(c.id, status);
        };
        for (const NASConfig& c : {holder, otherShare, otherAddress, mine})
            record(c, MountState::mounted());
        record(noMountPoint, MountState::mounted(), false);
        record(failedOne, MountState::failed(VantrelError::timeout("t")));
        // The configuration itself is in the list too, and is never let go.
        const QList<NASConfig> configs{holder, failedOne, otherShare, otherAddress, noMountPoint, noStatus, mine};

        QList<QUuid> released;
        const auto onReleased = [&](const QUuid& id) { released.append(id); };
        await(f.engine->mountSMB(mine, configs, statuses, onReleased));
        QCOMPARE(f.calls(QStringLiteral("diskutil")), (QList<QStringList>{{"unmount", holderPath}}));
        QCOMPARE(released, QList<QUuid>{holder.id});
        QVERIFY(!QFileInfo::exists(holderPath));
        QCOMPARE(f.calls(QStringLiteral("mount_smbfs")).size(), 1);

        // A holder that cannot let go is not reported; the mount goes ahead.
        released.clear();
        f.set(QStringLiteral("diskutil.exit"), "1");
        await(f.engine->mountSMB(mine, configs, statuses, onReleased));
        QVERIFY(released.isEmpty());
        QCOMPARE(f.calls(QStringLiteral("diskutil")).size(), 2);
        QCOMPARE(f.calls(QStringLiteral("mount_smbfs")).size(), 2);

        // The share is released before anything else can fail.
        f.unset(QStringLiteral("diskutil.exit"));
        NASConfig noPassword = smbConfig(QStringLiteral("mine"));
        noPassword.id = mine.id;
        QCOMPARE(failureOf(f.engine->mountSMB(noPassword, configs, statuses, onReleased)).kind(),
            VantrelError::Kind::authenticationFailed);
        QCOMPARE(released, QList<QUuid>{holder.id});
    }

    void nfsArgumentsAndSudoRetry()
    {
        Fixture f;
        NASConfig config = nfsConfig(QStringLiteral("nfs"));
        const QString path = f.root + QStringLiteral("/nfs");
        const QString nfsTool = toolsDir + QStringLiteral("/mount_nfs");
        QCOMPARE(await(f.engine->mountNFS(config)), MountEngine::directoryUrl(path));
        config.mountOptions.readOnly = true;
        config.sharePath = QStringLiteral("/export/a b/");
        await(f.engine->mountNFS(config));
        QCOMPARE(f.calls(QStringLiteral("mount_nfs")),
            (QList<QStringList>{{"-o", "vers=4,tcp,noresvport", "--", "filer:/export/data", path},
                {"-o", "vers=4,tcp,noresvport,ro", "--", "filer:/export/a b/", path}}));

        // Refused for lack of privilege: once more through sudo -n, which succeeds.
        f.unset(QStringLiteral("mount_nfs.argv"));
        f.set(QStringLiteral("mount_nfs.refuse-unprivileged"));
        config.mountOptions.readOnly = false;
        QCOMPARE(await(f.engine->mountNFS(config)), MountEngine::directoryUrl(path));
        const QStringList arguments{"-o", "vers=4,tcp,noresvport", "--", "filer:/export/a b/", path};
        QCOMPARE(f.calls(QStringLiteral("mount_nfs")), (QList<QStringList>{arguments, arguments}));
        QCOMPARE(f.calls(QStringLiteral("sudo")), (QList<QStringList>{QStringList{"-n", "--", nfsTool} + arguments}));

        // sudo would need a password.
        f.set(QStringLiteral("sudo.needs-password"));
        QCOMPARE(failureOf(f.engine->mountNFS(config)),
            VantrelError::mountFailed(QStringLiteral(
                "NFS 挂载需要 root 权限。请在终端配置 sudoers 以允许免密执行 mount_nfs，或手动挂载后使用自定义挂载点。")));

        // No sudo: no retry, the tool's own message.
        SystemTools tools = test::standInTools();
        tools.sudo = f.dir.filePath(QStringLiteral("no-sudo"));
        QCOMPARE(failureOf(f.make(tools)->mountNFS(config)),
            VantrelError::mountFailed(
                QStringLiteral(
                    "mount_nfs exited with code 1: mount_nfs: can't mount filer:/export/a b/ from server onto ")
                + path + QStringLiteral(": Operation not permitted")));
        QCOMPARE(f.calls(QStringLiteral("sudo")).size(), 2);

        // Status 1 without a permission word is not retried; 64 has its own text.
        f.unset(QStringLiteral("mount_nfs.refuse-unprivileged"));
        f.set(QStringLiteral("mount_nfs.exit"), "1");
        f.set(QStringLiteral("mount_nfs.stderr"), "server not responding\n");
        QCOMPARE(failureOf(f.engine->mountNFS(config)),
            VantrelError::mountFailed(QStringLiteral("mount_nfs exited with code 1: server not responding")));
        QCOMPARE(f.calls(QStringLiteral("sudo")).size(), 2);
        f.set(QStringLiteral("mount_nfs.exit"), "64");
        QCOMPARE(failureOf(f.engine->mountNFS(config)),
            VantrelError::mountFailed(
                QStringLiteral("mount_nfs 参数错误。请检查 NFS 服务器地址和共享路径是否正确。当前仅支持 NFSv4。")));
    }

    void unmountAndFolderRemoval()
    {
        Fixture f;
        QVERIFY(QDir().mkpath(f.root + QStringLiteral("/vol")));
        await(f.engine->unmount(MountEngine::directoryUrl(f.root + QStringLiteral("/vol"))));
        QVERIFY(!QFileInfo::exists(f.root + QStringLiteral("/vol")));
        QVERIFY(QFileInfo(f.root).isDir());

        // Never recursive: a folder that still holds something stays.
        QVERIFY(QDir().mkpath(f.root + QStringLiteral("/full")));
        QFile keep(f.root + QStringLiteral("/full/keep"));
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.close();
        await(f.engine->unmount(MountEngine::directoryUrl(f.root + QStringLiteral("/full")), true));
        QVERIFY(QFileInfo::exists(f.root + QStringLiteral("/full/keep")));

        const QString elsewhere = f.dir.filePath(QStringLiteral("custom"));
        QVERIFY(QDir().mkpath(elsewhere));
        await(f.engine->unmount(QUrl::fromLocalFile(elsewhere)));
        QVERIFY(QFileInfo(elsewhere).isDir());
        QCOMPARE(f.calls(QStringLiteral("diskutil")),
            (QList<QStringList>{{"unmount", f.root + QStringLiteral("/vol")},
                {"unmount", "force", f.root + QStringLiteral("/full")}, {"unmount", elsewhere}}));

        // Names that resolve to the root itself or out of it touch nothing.
        QVERIFY(QDir().rmdir(f.root + QStringLiteral("/full"))
            || QDir(f.root + QStringLiteral("/full")).removeRecursively());
        const QString sibling = QDir::homePath() + QStringLiteral("/sibling");
        QVERIFY(QDir().mkpath(sibling));
        for (const QString& name : {QString(), QStringLiteral(".."), QStringLiteral("x/.."),
                 QStringLiteral("../sibling"), QStringLiteral(".")}) {
            const QString path = f.engine->mountPointPath(guestConfig(name));
            await(f.engine->unmount(MountEngine::directoryUrl(path)));
            QVERIFY2(QFileInfo(f.root).isDir(), qPrintable(name));
            QVERIFY2(QFileInfo(sibling).isDir(), qPrintable(name));
        }

        f.set(QStringLiteral("diskutil.exit"), "1");
        f.set(QStringLiteral("diskutil.stdout"), "not used\n");
        QVERIFY(QDir().mkpath(f.root + QStringLiteral("/busy")));
        QCOMPARE(failureOf(f.engine->unmount(MountEngine::directoryUrl(f.root + QStringLiteral("/busy")))),
            VantrelError::unmountFailed(QStringLiteral("diskutil unmount exited with code 1: ")));
        QVERIFY(QFileInfo(f.root + QStringLiteral("/busy")).isDir());
    }

    void connectionTest()
    {
        Fixture f;
        NASConfig config = guestConfig(QStringLiteral("ping"));
        config.address = QStringLiteral("192.0.2.7");
        MountEngine::ConnectionTestResult result = await(f.engine->testConnection(config));
        QVERIFY(result.succeeded());
        QVERIFY(!result.error);
        QVERIFY(*result.latency > 0.0 && *result.latency < 5.0);
        QCOMPARE(f.calls(QStringLiteral("ping")), (QList<QStringList>{{"-c", "1", "-W", "3000", "--", "192.0.2.7"}}));

        f.set(QStringLiteral("ping.exit"), "2");
        result = await(f.engine->testConnection(config));
        QVERIFY(!result.succeeded());
        QCOMPARE(*result.error,
            VantrelError::connectionFailed(QStringLiteral("Ping to 192.0.2.7 failed (exit code 2)")));

        f.set(QStringLiteral("ping.hold"));
        f.engine->connectionTestTimeout = 0.3;
        result = await(f.engine->testConnection(config));
        QCOMPARE(*result.error,
            VantrelError::timeout(QStringLiteral("Process ") + toolsDir + QStringLiteral("/ping timed out after 0s")));

        SystemTools tools = test::standInTools();
        tools.ping = QStringLiteral("/nonexistent/ping");
        result = await(f.make(tools)->testConnection(config));
        QCOMPARE(result.error->kind(), VantrelError::Kind::mountFailed);
        QVERIFY(result.error->payload().startsWith(QStringLiteral("Failed to launch /nonexistent/ping: ")));
    }

    // Whatever the user typed for a share, user, export or mount point, every tool of either set
    // reads it as an operand, never as an option; an address that is no host runs nothing.
    void userTextNeverReachesAToolAsAnOption()
    {
        Fixture f;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(f.dir.path())); // the relative mount point lands in the test's folder
        const auto restore = qScopeGuard([&previous] { QDir::setCurrent(previous); });

        NASConfig smb = smbConfig(QStringLiteral("-Zname"));
        smb.sharePath = hostileShare;
        smb.username = hostileUser;
        smb.mountOptions.customMountPoint = hostileMountPoint;
        smb.mountOptions.readOnly = true;
        QVERIFY(f.keychain.savePassword(QStringLiteral("-Zpassword"), smb.keychainIdentifier));
        NASConfig nfs = nfsConfig(QStringLiteral("-Zname"));
        nfs.sharePath = QStringLiteral("-Zexport");
        nfs.mountOptions.customMountPoint = hostileMountPoint;
        const QUrl mountPoint = QUrl::fromLocalFile(hostileMountPoint);

        // The macOS set: ping, mount_smbfs through expect and with -N, mount_nfs and its sudo
        // retry, diskutil.
        QVERIFY(await(f.engine->testConnection(smb)).succeeded());
        await(f.engine->mountSMB(smb));
        SystemTools noExpect = test::standInTools();
        noExpect.expect = f.dir.filePath(QStringLiteral("no-expect"));
        await(f.make(noExpect)->mountSMB(smb));
        f.set(QStringLiteral("mount_nfs.refuse-unprivileged"));
        await(f.engine->mountNFS(nfs));
        await(f.engine->unmount(mountPoint, true));
        for (const QString& tool : {QStringLiteral("ping"), QStringLiteral("mount_smbfs"), QStringLiteral("mount_nfs"),
                 QStringLiteral("sudo"), QStringLiteral("diskutil")})
            verifyOperandsOnly(tool, f.calls(tool));
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        QCOMPARE(f.runs(QStringLiteral("mount_nfs")), 2);

        // The Linux set: vantrel-smbfs's check and mount, mount.nfs4 and umount with their sudo
        // retries, fusermount3 (detaching and unmounting a user-space mount).
        f.reset();
        SystemTools linux = test::linuxStandInTools();
        linux.smbfs = toolsDir + QStringLiteral("/vantrel-smbfs");
        linux.fusermount = toolsDir + QStringLiteral("/umount");
        const auto engine = f.make(linux);
        engine->linuxTools().controlFolder = test::socketFolder();
        engine->setFuseDevice(f.dir.filePath(QStringLiteral("fuse-device")));
        QVERIFY(writeFile(engine->fuseDevice(), ""));
        smb.address = QStringLiteral("127.0.0.1:") + QString::number(server.port()); // a server that answers
        QVERIFY(await(engine->testConnection(smb)).succeeded());
        f.set(QStringLiteral("vantrel-smbfs.exit"), "1");
        QCOMPARE(failureOf(engine->mountSMB(smb)).kind(), VantrelError::Kind::mountFailed);
        f.set(QStringLiteral("mount.nfs4.refuse-unprivileged"));
        f.set(QStringLiteral("umount.refuse-unprivileged"));
        await(engine->mountNFS(nfs));
        await(engine->unmount(mountPoint, true));
        f.unset(QStringLiteral("umount.refuse-unprivileged"));
        const SmbfsMount userSpace(engine->linuxTools());
        await(userSpace.detach(hostileMountPoint));
        await(userSpace.unmount(hostileMountPoint, false));
        for (const QString& tool : {QStringLiteral("vantrel-smbfs"), QStringLiteral("mount.nfs4"),
                 QStringLiteral("sudo"), QStringLiteral("umount")})
            verifyOperandsOnly(tool, f.calls(tool));
        QCOMPARE(f.runs(QStringLiteral("vantrel-smbfs")), 2); // check, mount
        QCOMPARE(f.runs(QStringLiteral("umount")), 4);        // umount and its sudo retry, then fusermount3 twice
        QVERIFY(f.calls(QStringLiteral("umount")).last().endsWith(hostileMountPoint));

        // An address that is no host name or IP literal is refused before any tool runs.
        f.reset();
        for (const QString& address :
            {QStringLiteral("-V"), QStringLiteral("--help"), QStringLiteral("-oX=y"), QStringLiteral("nas local"),
                QStringLiteral("nas,host=evil"), QStringLiteral("[nas]:445"), QStringLiteral("nas:0"), QString()}) {
            smb.address = address;
            nfs.address = address;
            const VantrelError expected = VantrelError::mountFailed(NASConfig::unusableAddressText(address));
            for (MountEngine* tools : {f.engine.get(), engine.get()}) {
                const MountEngine::ConnectionTestResult result = await(tools->testConnection(smb));
                QVERIFY(result.error);
                QCOMPARE(*result.error, VantrelError::connectionFailed(NASConfig::unusableAddressText(address)));
                QCOMPARE(failureOf(tools->mountSMB(smb)), expected);
                QCOMPARE(failureOf(tools->mountNFS(nfs)), expected);
            }
        }
        for (const QString& tool :
            {QStringLiteral("ping"), QStringLiteral("vantrel-smbfs"), QStringLiteral("mount.nfs4"),
                QStringLiteral("mount_smbfs"), QStringLiteral("mount_nfs"), QStringLiteral("sudo")})
            QCOMPARE(f.runs(tool), 0);
    }

    // A password that cannot travel intact is refused before any tool runs, and the error (shown
    // in the menu and a notification) holds no part of it.
    void passwordsThatCannotBePassedOnAreRefused()
    {
        Fixture f;
        SystemTools linuxSet = test::linuxStandInTools();
        linuxSet.smbfs = QStringLiteral("/nonexistent/vantrel-smbfs");
        const auto onLinux = linuxEngine(f, linuxSet);
        for (const QString& password : {QStringLiteral("hunter2\nsecond"), QStringLiteral("hunter2\rsecond"),
                 QString::fromUtf16(u"hunter2\0second", 14)}) {
            for (MountEngine* engine : {f.engine.get(), onLinux.get()}) {
                const NASConfig config = smbConfig(QStringLiteral("bad"));
                QVERIFY(f.keychain.savePassword(password, config.keychainIdentifier));
                const VantrelError error = failureOf(engine->mountSMB(config));
                QCOMPARE(error.kind(), VantrelError::Kind::authenticationFailed);
                QVERIFY2(error.payload().contains(QStringLiteral("line break or a NUL")), qPrintable(error.payload()));
                QVERIFY(!error.payload().contains(QStringLiteral("hunter")));
                QVERIFY(!error.payload().contains(QStringLiteral("second")));
            }
        }
        QVERIFY(!f.exists(QStringLiteral("mount_smbfs.argv")));
    }

    void expectHandsANonAsciiPasswordOnAsUtf8WithoutAUtf8Locale()
    {
        Fixture f;
        const NASConfig config = smbConfig(QStringLiteral("Umlauts"));
        const QString password = QStringLiteral("pässwörd");
        QVERIFY(f.keychain.savePassword(password, config.keychainIdentifier));
        f.set(QStringLiteral("mount_smbfs.password"), password.toUtf8());
        const QByteArray saved = qgetenv("LC_ALL");
        qputenv("LC_ALL", "C");
        const test::Settled<QUrl> mounted = QCoro::waitFor(test::settle(f.engine->mountSMB(config)));
        qputenv("LC_ALL", saved);
        QVERIFY2(!mounted.error, mounted.error ? mounted.error->what() : "");
        QCOMPARE(f.read(QStringLiteral("mount_smbfs.received")), password.toUtf8());
    }

    // The share editor's test logs in: a wrong password, a server that does not answer or a
    // missing share is a failure that says which step failed, never "Connected".
    void smbConnectionTestLogsInAndSaysWhichStepFailed()
    {
        Fixture f;
        SystemTools tools = test::linuxStandInTools();
        tools.smbfs = toolsDir + QStringLiteral("/vantrel-smbfs");
        const auto engine = linuxEngine(f, tools);
        engine->setFuseDevice(f.dir.filePath(QStringLiteral("fuse-device")));
        QVERIFY(writeFile(engine->fuseDevice(), ""));
        NASConfig config = serverConfig(f, QStringLiteral("Tested"));
        // What the editor holds: the password typed, not yet stored.
        config.password = QStringLiteral("typed p=w");

        f.set(QStringLiteral("vantrel-smbfs.stdout"), "latency_ms=12\n");
        MountEngine::ConnectionTestResult result = await(engine->testConnection(config));
        QCOMPARE(result.latency, std::optional<double>(0.012));
        QCOMPARE(f.read(QStringLiteral("vantrel-smbfs.stdin")),
            "user=" + test::SambaServer::userName().toUtf8() + "\npassword=typed p=w\n");
        QCOMPARE(f.calls(QStringLiteral("vantrel-smbfs")).first().first(), QStringLiteral("--check"));
        QVERIFY(!f.exists(QStringLiteral("ping.argv")));

        const QList<std::pair<QByteArray, VantrelError>> steps{
            {"3", VantrelError::connectionFailed(QStringLiteral("no answer from 127.0.0.1"))},
            {"4", VantrelError::authenticationFailed(QStringLiteral("login refused"))},
            {"5", VantrelError::mountFailed(QStringLiteral("no share named data"))}};
        for (const auto& [code, expected] : steps) {
            f.set(QStringLiteral("vantrel-smbfs.exit"), code);
            f.set(QStringLiteral("vantrel-smbfs.stderr"), expected.payload().toUtf8());
            result = await(engine->testConnection(config));
            QVERIFY(!result.succeeded());
            QCOMPARE(*result.error, expected);
        }

        // Without a typed password, the stored one.
        f.reset();
        config.password.reset();
        QVERIFY(await(engine->testConnection(config)).succeeded());
        QCOMPARE(f.read(QStringLiteral("vantrel-smbfs.stdin")),
            "user=" + test::SambaServer::userName().toUtf8() + "\npassword=" + serverPassword.toUtf8() + "\n");

        // Local causes in their own words, before any run.
        f.reset();
        engine->setFuseDevice(f.dir.filePath(QStringLiteral("no-fuse")));
        result = await(engine->testConnection(config));
        QVERIFY(result.error && result.error->payload().contains(QStringLiteral("No access to ")));
        QVERIFY(result.error->payload().contains(QStringLiteral("no-fuse")));
        tools.smbfs = f.dir.filePath(QStringLiteral("missing/vantrel-smbfs"));
        const auto missing = linuxEngine(f, tools);
        result = await(missing->testConnection(config));
        QVERIFY(result.error && result.error->payload().contains(QStringLiteral("program is missing")));
        QCOMPARE(f.runs(QStringLiteral("vantrel-smbfs")), 0);
    }

    void realServerConnectionTestRefusesAWrongPassword()
    {
        VANTREL_REQUIRE_SMBFS();
        Fixture f;
        const auto engine = linuxEngine(f);
        NASConfig config = serverConfig(f, QStringLiteral("Checked"));
        MountEngine::ConnectionTestResult result = await(engine->testConnection(config));
        QVERIFY2(result.succeeded(), result.error ? result.error->what() : "");
        QVERIFY(*result.latency >= 0.0 && *result.latency < 5.0);
        config.password = QStringLiteral("wrong");
        result = await(engine->testConnection(config));
        QVERIFY(!result.succeeded());
        QCOMPARE(result.error->kind(), VantrelError::Kind::authenticationFailed);
        config.password.reset();
        config.sharePath = QStringLiteral("nosuch");
        result = await(engine->testConnection(config));
        QVERIFY(!result.succeeded());
        QCOMPARE(result.error->kind(), VantrelError::Kind::mountFailed);
    }

    void linuxToolSetIsTheDefaultHere()
    {
        QCOMPARE(SystemTools::platformDefault(), SystemTools::linuxSet());
        QCOMPARE(MountEngine::shared().tools(), SystemTools::linuxSet());
    }

    // The real engine against a real Samba server: mount, write through, unmount.
    void realServerPasswordMountWritesThroughAndUnmounts()
    {
        VANTREL_REQUIRE_SMBFS();
        Fixture f;
        const auto engine = linuxEngine(f);
        const NASConfig config = serverConfig(f, QStringLiteral("Team Data"));
        const QString path = f.root + QStringLiteral("/Team Data");

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(await(engine->mountSMB(config)), MountEngine::directoryUrl(path));
        qInfo("mounted after %.2f s", secondsOf(clock));
        QVERIFY(engine->isMounted(path));
        QVERIFY(await(engine->isMountedAsync(path)));
        QCOMPARE(FileSystemInfo::system().mountedTypeAt(path), std::optional<QString>(SmbfsMount::mountType));
        QVERIFY(FileSystemInfo::system().isMountRoot(path));
        // Mounting again finds it mounted and runs nothing.
        QCOMPARE(await(engine->mountSMB(config)), MountEngine::directoryUrl(path));

        QVERIFY(writeFile(path + QStringLiteral("/report.txt"), "quarterly\n"));
        await(engine->unmount(MountEngine::directoryUrl(path)));
        QCOMPARE(readFile(dataFolder + QStringLiteral("/report.txt")), QByteArray("quarterly\n"));
        QVERIFY(!engine->isMounted(path));
        QVERIFY(!FileSystemInfo::system().mountedTypeAt(path));
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(QFileInfo(f.root).isDir());
        QFile::remove(dataFolder + QStringLiteral("/report.txt"));
    }

    void realServerFailuresAreClassifiedWithinSeconds()
    {
        VANTREL_REQUIRE_SMBFS();
        Fixture f;
        const auto engine = linuxEngine(f);
        QElapsedTimer clock;
        clock.start();
        VantrelError error = failureOf(
            engine->mountSMB(serverConfig(f, QStringLiteral("Wrong"), QStringLiteral("nope"))));
        QCOMPARE(error.kind(), VantrelError::Kind::authenticationFailed);
        QVERIFY(secondsOf(clock) < 5.0);

        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        NASConfig closed = serverConfig(f, QStringLiteral("Closed"));
        closed.address = QStringLiteral("127.0.0.1:") + QString::number(probe.serverPort());
        probe.close();
        clock.restart();
        error = failureOf(engine->mountSMB(closed));
        QCOMPARE(error.kind(), VantrelError::Kind::connectionFailed);
        QVERIFY(secondsOf(clock) < 5.0);
        for (const QString& name : {QStringLiteral("Wrong"), QStringLiteral("Closed")})
            QVERIFY(!FileSystemInfo::system().mountedTypeAt(f.root + QLatin1Char('/') + name));
    }

    // A server that refuses or ignores connections costs a connect, no tool; mounts that do run
    // tools take turns.
    void unreachableServersCostNoToolAndMountsTakeTurns()
    {
        Fixture f;
        SystemTools tools = test::linuxStandInTools();
        tools.smbfs = toolsDir + QStringLiteral("/mount_smbfs"); // records any run
        const auto engine = linuxEngine(f, tools);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        NASConfig closed = guestConfig(QStringLiteral("Closed"));
        closed.address = QStringLiteral("127.0.0.1:") + QString::number(probe.serverPort());
        probe.close();
        QElapsedTimer clock;
        clock.start();
        const VantrelError refused = failureOf(engine->mountSMB(closed));
        QCOMPARE(refused.kind(), VantrelError::Kind::connectionFailed);
        QVERIFY2(secondsOf(clock) < 1.0, qPrintable(QString::number(secondsOf(clock))));
        // A test network address nothing answers: the bound decides.
        NASConfig silent = guestConfig(QStringLiteral("Silent"));
        silent.address = QStringLiteral("192.0.2.1");
        engine->serverConnectTimeout = 0.2;
        clock.restart();
        QCOMPARE(failureOf(engine->mountSMB(silent)).kind(), VantrelError::Kind::connectionFailed);
        QVERIFY(secondsOf(clock) < 2.0);
        QVERIFY(!f.exists(QStringLiteral("mount_smbfs.argv")));

        f.engine->mountsPerServer = 2;
        f.set(QStringLiteral("mount_smbfs.hold"));
        std::vector<QCoro::Task<QUrl>> mounts;
        for (int i = 0; i < 5; ++i)
            mounts.push_back(f.engine->mountSMB(guestConfig(QStringLiteral("Turn%1").arg(i))));
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        QTest::qWait(200);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        f.set(QStringLiteral("mount_smbfs.release"));
        for (QCoro::Task<QUrl>& mount : mounts)
            QVERIFY(!await(std::move(mount)).isEmpty());
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 5);
    }

    // A server whose mounts never end holds its own turns only: a share of another server mounts in
    // its usual time, whatever is listed before it. Host names are one server whatever their case.
    void aServerThatNeverAnswersHoldsBackNoOtherServer()
    {
        Fixture f;
        const QStringList silentNames{QStringLiteral("Silent.Example"), QStringLiteral("silent.example"),
            QStringLiteral("silent.example:445")};
        for (const QString& name : silentNames)
            f.set(QStringLiteral("mount_smbfs.hold-") + name);
        const auto releaseSilent = [&f, silentNames] {
            for (const QString& name : silentNames)
                f.set(QStringLiteral("mount_smbfs.release-") + name);
        };
        const auto release = qScopeGuard(releaseSilent);
        std::vector<QCoro::Task<test::Settled<QUrl>>> silent;
        for (int i = 0; i < 40; ++i) {
            NASConfig config = guestConfig(QStringLiteral("Silent%1").arg(i));
            config.address = silentNames.at(i % 3);
            silent.push_back(test::settle(f.engine->mountSMB(config)));
        }
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), f.engine->mountsPerServer);

        NASConfig healthy = guestConfig(QStringLiteral("Healthy"));
        healthy.address = QStringLiteral("nas.local");
        QElapsedTimer clock;
        clock.start();
        auto mounting = test::settle(f.engine->mountSMB(healthy));
        QTRY_VERIFY_WITH_TIMEOUT(mounting.isReady(), 10000);
        QVERIFY2(QCoro::waitFor(mounting).value.has_value(), "the healthy share failed");
        // While the silent server's mounts are all still held.
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), f.engine->mountsPerServer + 1);
        QVERIFY(std::none_of(silent.begin(), silent.end(), [](const auto& task) { return task.isReady(); }));

        releaseSilent();
        for (auto& task : silent)
            QVERIFY(QCoro::waitFor(task).value.has_value());
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 41);
    }

    // Many shares behind an address that drops packets, under a low descriptor limit: the checks
    // hold a bounded number of sockets, none is reported as the server's fault for want of local
    // resources, and a local listening socket (as the instance socket) keeps accepting.
    void serverChecksAreBoundedUnderALowDescriptorLimit()
    {
        Fixture f;
        SystemTools tools = test::linuxStandInTools();
        tools.smbfs = toolsDir + QStringLiteral("/mount_smbfs"); // records any run
        const auto engine = linuxEngine(f, tools);
        engine->serverConnectTimeout = 0.2;
        test::SilentListener silent;
        QVERIFY(silent.isListening());
        QLocalServer instance;
        QVERIFY(instance.listen(f.dir.filePath(QStringLiteral("instance"))));
        QList<QLocalSocket*> accepted;
        connect(&instance, &QLocalServer::newConnection, &instance,
            [&] { accepted.append(instance.nextPendingConnection()); });

        const auto openDescriptors = [] {
            return static_cast<qsizetype>(QDir(QStringLiteral("/proc/self/fd")).count()) - 2;
        };
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &before), 0);
        const auto restore = qScopeGuard([before] { ::setrlimit(RLIMIT_NOFILE, &before); });
        const qsizetype base = openDescriptors();
        rlimit low = before;
        low.rlim_cur = static_cast<rlim_t>(base + 60);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);

        const int shares = 120;
        std::vector<QCoro::Task<test::Settled<QUrl>>> mounts;
        for (int i = 0; i < shares; ++i) {
            NASConfig config = guestConfig(QStringLiteral("Dropped%1").arg(i));
            config.address = QStringLiteral("[::1]:") + QString::number(silent.port());
            mounts.push_back(test::settle(engine->mountSMB(config)));
        }
        qsizetype most = 0;
        QLocalSocket client;
        bool connecting = false;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            most = std::max(most, openDescriptors());
            if (!connecting) {
                connecting = true;
                client.connectToServer(instance.fullServerName());
            }
            return std::all_of(mounts.begin(), mounts.end(), [](const auto& mount) { return mount.isReady(); });
        }()),
            60000);
        ::setrlimit(RLIMIT_NOFILE, &before);

        for (auto& mount : mounts) {
            const std::optional<VantrelError> error = QCoro::waitFor(mount).error;
            QVERIFY(error);
            QCOMPARE(error->kind(), VantrelError::Kind::connectionFailed);
            QVERIFY2(error->payload().contains(QStringLiteral("no answer within")), qPrintable(error->payload()));
        }
        QVERIFY2(most <= base + engine->serverChecksAtOnce + 24,
            qPrintable(QStringLiteral("%1 descriptors open at most, %2 before").arg(most).arg(base)));
        QVERIFY(!f.exists(QStringLiteral("mount_smbfs.argv")));
        QVERIFY(instance.isListening());
        QTRY_COMPARE(accepted.size(), 1);
    }

    // Mounts that outlive their engine (one running, one waiting for the turn) end without touching
    // it: the waiting one runs no tool and fails, the running one's end reaches nothing.
    void mountsOutlivingTheirEngineTouchNothingOfIt()
    {
        Fixture f;
        f.engine->mountsPerServer = 1;
        f.set(QStringLiteral("mount_smbfs.hold"));
        auto running = test::settle(f.engine->mountSMB(guestConfig(QStringLiteral("Running"))));
        auto waiting = test::settle(f.engine->mountSMB(guestConfig(QStringLiteral("Waiting"))));
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
        f.engine.reset();
        f.set(QStringLiteral("mount_smbfs.release"));
        QTRY_VERIFY_WITH_TIMEOUT(running.isReady() && waiting.isReady(), 15000);
        // Which of the two got the turn is the file work's choice; the other one waited.
        const bool runningFailed = QCoro::waitFor(running).error.has_value();
        const bool waitingFailed = QCoro::waitFor(waiting).error.has_value();
        QVERIFY(runningFailed != waitingFailed);
        QTest::qWait(100);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
    }

    // Work off the main thread can outlive its engine (a stat on a frozen mount): what it does
    // then touches nothing of the engine.
    void checksOutlivingTheirEngineTouchNothingOfIt()
    {
        Fixture f;
        const NASConfig config = guestConfig(QStringLiteral("Frozen"));
        const QString path = f.engine->mountPointPath(config);
        f.fileSystem.hang(path);
        const auto thaw = qScopeGuard([&f] { f.fileSystem.release(); });
        auto mounting = test::settle(f.engine->mountSMB(config));
        auto checking = test::settle(f.engine->isMountedAsync(path));
        QTRY_VERIFY(f.fileSystem.hanging() > 0);
        f.engine.reset();
        f.fileSystem.release();
        QTRY_VERIFY_WITH_TIMEOUT(mounting.isReady() && checking.isReady(), 15000);
        QVERIFY(QCoro::waitFor(mounting).error.has_value());
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 0);
    }

    void sharesAreComparedAsTheServerSeesThem()
    {
        const auto config = [](const QString& address, const QString& path) {
            NASConfig c = guestConfig(QStringLiteral("x"));
            c.address = address;
            c.sharePath = path;
            return c;
        };
        const NASConfig base = config(QStringLiteral("nas"), QStringLiteral("/data"));
        QVERIFY(MountEngine::sameShare(base, config(QStringLiteral("NAS"), QStringLiteral("data/"))));
        QVERIFY(MountEngine::sameShare(base, config(QStringLiteral("nas:445"), QStringLiteral("//DATA//"))));
        QVERIFY(MountEngine::sameShare(base, config(QStringLiteral("nas."), QStringLiteral("Data"))));
        // Folders inside a share keep their case; another port or host is another server.
        QVERIFY(MountEngine::sameShare(config(QStringLiteral("nas"), QStringLiteral("/data/Sub")),
            config(QStringLiteral("nas"), QStringLiteral("DATA/Sub/"))));
        QVERIFY(!MountEngine::sameShare(config(QStringLiteral("nas"), QStringLiteral("/data/Sub")),
            config(QStringLiteral("nas"), QStringLiteral("/data/sub"))));
        QVERIFY(!MountEngine::sameShare(base, config(QStringLiteral("nas:1445"), QStringLiteral("/data"))));
        QVERIFY(!MountEngine::sameShare(base, config(QStringLiteral("nas2"), QStringLiteral("/data"))));
        QVERIFY(!MountEngine::sameShare(base, config(QStringLiteral("nas"), QStringLiteral("/data/sub"))));
        QCOMPARE(MountEngine::serverOf(config(QStringLiteral("[FE80::1]:445"), QStringLiteral("/d"))),
            MountEngine::serverOf(config(QStringLiteral("fe80::1"), QStringLiteral("/d"))));
    }

    // The program's own reason comes as soon as it ends, not after the mount's time limit.
    void aFailingFuseStepIsReportedAtOnce()
    {
        Fixture f;
        SystemTools tools = test::linuxStandInTools();
        tools.smbfs = toolsDir + QStringLiteral("/vantrel-smbfs");
        const auto engine = linuxEngine(f, tools);
        f.set(QStringLiteral("vantrel-smbfs.exit"), "6");
        f.set(QStringLiteral("vantrel-smbfs.stderr"), "fuse: device not found, try 'modprobe fuse' first\n");

        QElapsedTimer clock;
        clock.start();
        const VantrelError error = failureOf(engine->mountSMB(serverConfig(f, QStringLiteral("Refused"))));
        QCOMPARE(error, VantrelError::mountFailed(QStringLiteral("fuse: device not found, try 'modprobe fuse' first")));
        QVERIFY2(secondsOf(clock) < 5.0, qPrintable(QString::number(secondsOf(clock))));
        QVERIFY(!FileSystemInfo::system().mountedTypeAt(f.root + QStringLiteral("/Refused")));
    }

    // The client library reads a user and a password from the environment too: the
    // application's own must not change whom the mount logs in as.
    void inheritedCredentialsDoNotChangeTheMount()
    {
        VANTREL_REQUIRE_SMBFS();
        Fixture f;
        const auto engine = linuxEngine(f);
        const QStringList names{QStringLiteral("USER"), QStringLiteral("PASSWD"), QStringLiteral("LOGNAME")};
        QList<QByteArray> saved;
        for (const QString& name : names)
            saved << qgetenv(name.toLatin1());
        qputenv("USER", "nobody%wrong");
        qputenv("PASSWD", "wrong");
        qputenv("LOGNAME", "nobody");
        const auto restore = qScopeGuard([names, saved] {
            for (qsizetype i = 0; i < names.size(); ++i)
                qputenv(names.at(i).toLatin1(), saved.at(i));
        });
        const NASConfig config = serverConfig(f, QStringLiteral("Inherited"));
        const QString path = f.root + QStringLiteral("/Inherited");
        await(engine->mountSMB(config));
        QVERIFY(writeFile(path + QStringLiteral("/written.txt"), "despite the environment"));
        await(engine->unmount(MountEngine::directoryUrl(path)));
        QCOMPARE(readFile(dataFolder + QStringLiteral("/written.txt")), QByteArray("despite the environment"));
        QFile::remove(dataFolder + QStringLiteral("/written.txt"));
    }

    void realServerGuestShareMounts()
    {
        VANTREL_REQUIRE_SMBFS();
        Fixture f;
        const auto engine = linuxEngine(f);
        NASConfig config = guestConfig(QStringLiteral("Public"));
        config.address = QStringLiteral("127.0.0.1:") + QString::number(server.port());
        config.sharePath = QStringLiteral("public");
        const QString path = f.root + QStringLiteral("/Public");
        await(engine->mountSMB(config));
        QVERIFY(engine->isMounted(path));
        QVERIFY(writeFile(path + QStringLiteral("/hello.txt"), "from a guest"));
        await(engine->unmount(MountEngine::directoryUrl(path)));
        QCOMPARE(readFile(publicFolder + QStringLiteral("/hello.txt")), QByteArray("from a guest"));
        QVERIFY(!QFileInfo::exists(path));
    }

    // A server that goes away is the mount process's business: the mount stays live (its process
    // answers), says it is offline, and carries on once the server is back.
    void realServerThatGoesAwayKeepsTheMount()
    {
        VANTREL_REQUIRE_SMBFS();
        Fixture f;
        const auto engine = linuxEngine(f);
        NASConfig config = serverConfig(f, QStringLiteral("Away"));
        config.mountOptions.connectionTimeout = 2;
        const QString path = f.root + QStringLiteral("/Away");
        await(engine->mountSMB(config));
        std::optional<SmbfsMount::Status> status = await(engine->smbfsStatus(path));
        QVERIFY(status && status->online);

        server.stop();
        // A call through the mount finds the server gone, within the mount's bound.
        QFuture<bool> listing = QtConcurrent::run([path] { return QDir(path).exists(QStringLiteral("x")); });
        QTRY_VERIFY_WITH_TIMEOUT((status = await(engine->smbfsStatus(path))) && !status->online, 30000);
        QVERIFY(engine->isMounted(path));
        QCOMPARE(await(engine->mountSMB(config)), MountEngine::directoryUrl(path));
        QCOMPARE(FileSystemInfo::system().mountedTypeAt(path), std::optional<QString>(SmbfsMount::mountType));
        listing.waitForFinished();

        QVERIFY2(server.start(), qPrintable(server.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT((status = await(engine->smbfsStatus(path))) && status->online, 30000);
        QVERIFY(writeFile(path + QStringLiteral("/after.txt"), "back"));
        await(engine->unmount(MountEngine::directoryUrl(path)));
        QCOMPARE(readFile(dataFolder + QStringLiteral("/after.txt")), QByteArray("back"));
        QFile::remove(dataFolder + QStringLiteral("/after.txt"));
    }

    // NFS, kernel unmounts and ping through the Linux tool set, with stand-ins for what needs
    // privilege or a kernel client here.
    void linuxKernelMountsUnmountsAndPing()
    {
        Fixture f;
        const auto engine = linuxEngine(f);
        const SystemTools tools = test::linuxStandInTools();
        NASConfig config = nfsConfig(QStringLiteral("Exports"));
        const QString path = f.root + QStringLiteral("/Exports");
        QCOMPARE(await(engine->mountNFS(config)), MountEngine::directoryUrl(path));
        QCOMPARE(f.calls(QStringLiteral("mount.nfs4")),
            (QList<QStringList>{{"filer:/export/data", "-o", "vers=4,tcp,noresvport", "--", path}}));
        await(engine->unmount(MountEngine::directoryUrl(path)));
        QCOMPARE(f.calls(QStringLiteral("umount")), (QList<QStringList>{{"--", path}}));
        QVERIFY(!QFileInfo::exists(path));

        // A name that would put the mount point on the root or outside it never reaches a tool.
        for (const QString& name : {QString(), QStringLiteral(".."), QStringLiteral("../Elsewhere")}) {
            const VantrelError error = failureOf(engine->mountNFS(nfsConfig(name)));
            QCOMPARE(error.kind(), VantrelError::Kind::mountFailed);
            QVERIFY2(error.payload().contains(QStringLiteral("is not a folder inside")), qPrintable(error.payload()));
        }
        QCOMPARE(f.runs(QStringLiteral("mount.nfs4")), 1);

        config.address = QStringLiteral("192.0.2.7");
        const MountEngine::ConnectionTestResult result = await(engine->testConnection(config));
        QVERIFY(result.succeeded());
        QCOMPARE(f.calls(QStringLiteral("ping")), (QList<QStringList>{{"-c", "1", "-W", "3", "--", "192.0.2.7"}}));
    }
};

VANTREL_TEST_MAIN(TestMountEngine)
#include "tst_MountEngine.moc"
