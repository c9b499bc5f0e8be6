#include "support/FileWorkGate.h"
#include "support/MountingFixture.h"
#include "support/TestMain.h"

#include "mounting/MountEngine.h"
#include "mounting/MountKeepAlive.h"
#include "mounting/SmbfsMount.h"
#include "platform/FileWork.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>

#include <limits>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

struct Fixture : test::MountingFixture {
    MountEngine engine{test::standInTools(), dir.filePath(QStringLiteral("Volumes")), fileSystem, keychain};
    QList<QString> vanished; // names, in the order they were reported
    MountKeepAlive keepAlive{configStore, appState, engine, defaults,
        [this](const NASConfig& config) { vanished.append(config.name); }};

    ~Fixture()
    {
        keepAlive.stop();
        QTRY_VERIFY(!keepAlive.isChecking());
        waitForFileWork();
    }

    // A share recorded as mounted whose mount point the file system shows as one.
    NASConfig mounted(const QString& name, bool enabled = true)
    {
        const NASConfig config = test::sampleShare(name, enabled);
        configStore.addConfig(config);
        const QString path = engine.mountPointPath(config);
        appState.updateStatus(config.id, MountState::mounted(), MountEngine::directoryUrl(path));
        fileSystem.declare(path, QStringLiteral("smbfs"));
        return config;
    }
};

} // namespace

class TestMountKeepAlive : public QObject {
    Q_OBJECT

private slots:
    void aPassReportsOnlyEnabledMountedSharesThatAreGone()
    {
        Fixture f;
        const NASConfig live = f.mounted(QStringLiteral("Live"));
        const NASConfig gone = f.mounted(QStringLiteral("Gone"));
        const NASConfig disabled = f.mounted(QStringLiteral("Disabled"), false);
        const NASConfig idle = f.mounted(QStringLiteral("Idle"));
        f.appState.updateStatus(idle.id, MountState::idle());
        for (const NASConfig& config : {gone, disabled, idle})
            f.fileSystem.forget(f.engine.mountPointPath(config));

        QCoro::waitFor(f.keepAlive.performPass());
        QCOMPARE(f.vanished, QList<QString>{QStringLiteral("Gone")});
    }

    void aShareWhoseCheckHangsIsNotCheckedAgainNorHoldsTheOthersBack()
    {
        Fixture f;
        f.defaults.setValue(MountKeepAlive::intervalKey, 0.03);
        f.keepAlive.minimumInterval = 0.01;
        const NASConfig hung = f.mounted(QStringLiteral("Hung"));
        const NASConfig other = f.mounted(QStringLiteral("Other"));
        const QString hungPath = f.engine.mountPointPath(hung);

        test::FileWorkGate gate;
        gate.hold(hungPath);
        f.keepAlive.start();
        QVERIFY(f.keepAlive.isRunning());
        QTest::qWait(300); // about ten intervals
        QCOMPARE(gate.arrived(hungPath), 1);
        QVERIFY(f.keepAlive.isChecking());

        // The other share is still checked: ejected, it is found at a later pass.
        f.fileSystem.forget(f.engine.mountPointPath(other));
        QTRY_VERIFY(f.vanished.contains(QStringLiteral("Other")));
        QCOMPARE(gate.arrived(hungPath), 1);

        // Once the hung check returns, the share is checked again at every pass.
        gate.slow(hungPath, 0ms);
        gate.release(hungPath);
        QTRY_VERIFY(gate.arrived(hungPath) >= 3);
        QVERIFY(!f.vanished.contains(QStringLiteral("Hung")));
        f.keepAlive.stop();
        QVERIFY(!f.keepAlive.isRunning());
    }

    // A share mounted by vantrel-smbfs is asked over its process's control socket, beside its busy
    // lane: what the process says of its server is told on, and only a mount whose process is
    // gone is detached and reported.
    void anSmbfsMountIsAskedItsProcessAndDetachedOnlyWhenTheProcessIsGone()
    {
        test::MountingFixture f;
        SystemTools tools = test::linuxStandInTools();
        tools.fusermount = QStringLiteral(VANTREL_TEST_TOOLS_DIR) + QStringLiteral("/umount"); // records its runs
        MountEngine engine(tools, f.dir.filePath(QStringLiteral("Volumes")), f.fileSystem, f.keychain);
        engine.linuxTools().controlFolder = test::socketFolder();
        QList<QString> vanished;
        QList<std::pair<QString, bool>> told;
        MountKeepAlive keepAlive(f.configStore, f.appState, engine, f.defaults,
            [&vanished](const NASConfig& config) { vanished.append(config.name); });
        keepAlive.setConnectionHandler([&told](const NASConfig& config, bool online) {
            told.append({config.name, online});
        });

        const NASConfig config = test::sampleShare(QStringLiteral("Team"));
        f.configStore.addConfig(config);
        const QString path = engine.mountPointPath(config);
        QVERIFY(QDir().mkpath(path));
        f.appState.updateStatus(config.id, MountState::mounted(), MountEngine::directoryUrl(path));
        f.fileSystem.declareMount(path, SmbfsMount::mountType);

        QLocalServer daemon;
        QVERIFY(daemon.listen(SmbfsMount::controlSocketPath(engine.linuxTools().controlFolder, path)));
        QByteArray reply = "state=offline pid=4242 open=1\n";
        connect(&daemon, &QLocalServer::newConnection, this, [&] {
            QLocalSocket* client = daemon.nextPendingConnection();
            connect(client, &QLocalSocket::readyRead, client, [&reply, client] {
                client->readAll();
                client->write(reply);
                client->flush();
                client->disconnectFromServer();
            });
        });
        // The share's lane is taken by file work the whole time.
        test::FileWorkGate gate;
        gate.hold(path);
        QFuture<void> busy = runFileWork(path, [] {});

        QCoro::waitFor(keepAlive.performPass());
        QCOMPARE(told, (QList<std::pair<QString, bool>>{{QStringLiteral("Team"), false}}));
        // Shown offline meanwhile: still tested, as its process said its server was away.
        f.appState.updateStatus(config.id, MountState::offline());
        reply = "state=online pid=4242 open=0\n";
        QCoro::waitFor(keepAlive.performPass());
        QCOMPARE(told,
            (QList<std::pair<QString, bool>>{{QStringLiteral("Team"), false}, {QStringLiteral("Team"), true}}));
        QCOMPARE(f.runs(QStringLiteral("umount")), 0);
        // Back online, as the owner shows it: an offline share the process never called away is
        // not tested.
        QCoro::waitFor(keepAlive.performPass());
        QCOMPARE(told.size(), 2);
        f.appState.updateStatus(config.id, MountState::mounted(), MountEngine::directoryUrl(path));

        // Silent, but its process runs: left alone.
        daemon.close();
        const QString program = f.dir.filePath(QStringLiteral("vantrel-smbfs"));
        QVERIFY(QFile::link(QStringLiteral("/bin/sh"), program));
        QProcess process;
        process.start(program,
            {QStringLiteral("-c"), QStringLiteral("sleep 60; :"), QStringLiteral("--"), QStringLiteral("//nas/team"),
                path});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY(!SmbfsMount::mountProcesses(program, path).isEmpty());
        told.clear();
        QCoro::waitFor(keepAlive.performPass());
        QVERIFY(told.isEmpty());
        QVERIFY(vanished.isEmpty());
        QCOMPARE(f.runs(QStringLiteral("umount")), 0);

        // Gone: detached lazily and reported.
        process.kill();
        QVERIFY(process.waitForFinished());
        QCoro::waitFor(keepAlive.performPass());
        QCOMPARE(vanished, QList<QString>{QStringLiteral("Team")});
        QVERIFY(f.calls(QStringLiteral("umount"))
                    .contains(QStringList{QStringLiteral("-u"), QStringLiteral("-z"), QStringLiteral("--"), path}));
        QCOMPARE(gate.arrived(path), 1);
        gate.release(path);
        busy.waitForFinished();
        keepAlive.stop();
        waitForFileWork();
    }

    void intervalFallsBackOnUnusableValues()
    {
        Fixture f;
        QCOMPARE(f.keepAlive.interval(), 180.0);
        const QList<QVariant> unusable{QStringLiteral("120"), 0.0, -5.0, 0.5, qint64(0),
            std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), true};
        for (const QVariant& value : unusable) {
            f.defaults.remove(MountKeepAlive::intervalKey);
            f.defaults.setValue(MountKeepAlive::intervalKey, value);
            QCOMPARE(f.keepAlive.interval(), 180.0);
        }
        f.defaults.setValue(MountKeepAlive::intervalKey, qint64(60));
        QCOMPARE(f.keepAlive.interval(), 60.0);
        f.defaults.setValue(MountKeepAlive::intervalKey, 120.5);
        QCOMPARE(f.keepAlive.interval(), 120.5);

        f.defaults.setValue(MountKeepAlive::intervalKey, 0.0);
        f.keepAlive.start();
        QCOMPARE(f.keepAlive.timerInterval(), 180000ms);

        // Longer than a timer holds (about 24.8 days): kept whole.
        f.defaults.setValue(MountKeepAlive::intervalKey, 3'000'000.0);
        f.keepAlive.start();
        QCOMPARE(f.keepAlive.timerInterval(), std::chrono::milliseconds(3'000'000'000));

        // Switched off, it does not start.
        f.keepAlive.stop();
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        QVERIFY(!f.keepAlive.isEnabled());
        f.keepAlive.start();
        QVERIFY(!f.keepAlive.isRunning());
    }
};

VANTREL_TEST_MAIN(TestMountKeepAlive)
#include "tst_MountKeepAlive.moc"
