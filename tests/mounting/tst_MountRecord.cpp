#include "support/FakePathMonitor.h"
#include "support/FileWorkGate.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/MountingFixture.h"
#include "support/TestMain.h"

#include "mounting/AutoMountStrategy.h"
#include "mounting/MountEngine.h"
#include "mounting/MountRecord.h"
#include "mounting/NetworkMonitor.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/FileWork.h"
#include "platform/NotificationCenter.h"
#include "platform/PowerEvents.h"
#include "platform/ProcessTable.h"
#include "platform/WifiInfo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>

#include <qcoro/qcorotask.h>

#include <memory>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

class NoWifi final : public WifiInfo {
public:
    NoWifi()
        : WifiInfo(QDBusConnection(QStringLiteral("vantrel-no-bus")))
    {
    }
    std::optional<QString> currentSSID() const override { return std::nullopt; }
};

// The kernel's mount table plus mounts the test declares: kernel NFS and other programs' mounts
// cannot be made here.
class DeclaredMounts final : public FileSystemInfo {
public:
    void declare(const QString& path, const QString& type)
    {
        QMutexLocker lock(&m_mutex);
        MountEntry entry;
        entry.mountPoint = QDir::cleanPath(path);
        entry.type = type;
        entry.source = QStringLiteral("declared");
        m_entries.append(entry);
    }
    void forget(const QString& path)
    {
        QMutexLocker lock(&m_mutex);
        m_entries.removeIf([&path](const MountEntry& entry) { return entry.mountPoint == QDir::cleanPath(path); });
    }
    QList<MountEntry> mountTable() const override
    {
        QList<MountEntry> table = FileSystemInfo::mountTable();
        QMutexLocker lock(&m_mutex);
        return table + m_entries;
    }

private:
    mutable QMutex m_mutex;
    QList<MountEntry> m_entries;
};

struct Fixture : test::MountingFixture {
    DeclaredMounts mounts;
    QString root = dir.filePath(QStringLiteral("Volumes"));
    MountEngine engine{test::linuxStandInTools(), root, mounts, keychain};
    test::FakePathMonitor* path = new test::FakePathMonitor;
    NetworkMonitor network{std::unique_ptr<PathMonitor>(path), std::make_unique<NoWifi>()};
    NotificationPreferences preferences{defaults};
    NotificationCenter center{QDBusConnection::sessionBus()};
    NotificationService notifications{center, preferences, log};
    PowerEvents power{QDBusConnection(QStringLiteral("vantrel-no-bus"))};
    AutoMountStrategy strategy{configStore, appState, network, engine, notifications, defaults, power};

    Fixture()
    {
        QDir().mkpath(root);
        engine.recordPath = dir.filePath(QStringLiteral("state/mounts.json"));
        strategy.launchMountDelay = 0.05;
        strategy.scheduledMountDelay = 0.05;
        strategy.debounceDelay = 0.05;
        defaults.setValue(QStringLiteral("keepAliveEnabled"), false);
    }
    ~Fixture()
    {
        strategy.stop();
        set(QStringLiteral("umount.release"));
        QTRY_VERIFY_WITH_TIMEOUT(!strategy.hasOperationsUnderWay(), 10000);
    }

    NASConfig add(const QString& name, bool enabled, const std::optional<QString>& customMountPoint = {})
    {
        NASConfig config = test::sampleShare(name, enabled);
        config.protocol = NASProtocol::nfs;
        config.address = QStringLiteral("127.0.0.1");
        config.mountOptions.customMountPoint = customMountPoint;
        config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        configStore.addConfig(config);
        return config;
    }
    // Mounted by this copy through the stand-in mount.nfs4; the kernel table then shows it.
    QString mountHere(const NASConfig& config)
    {
        QCoro::waitFor(strategy.mount(config.id));
        const QString at = engine.mountPointPath(config);
        mounts.declare(at, QStringLiteral("nfs4"));
        return at;
    }
    QStringList unmounted() const
    {
        QStringList paths;
        for (const QStringList& arguments : calls(QStringLiteral("umount")))
            paths.append(arguments.last());
        return paths;
    }
    std::optional<MountRecord> record() const { return MountRecord::read(engine.recordPath); }
};

} // namespace

class TestMountRecord : public QObject {
    Q_OBJECT

private slots:
    void aRecordKnowsWhetherItsOwnerStillRunsAndACorruptOneIsKeptAside()
    {
        test::TemporaryFolder folder;
        const QString path = folder.dir.filePath(QStringLiteral("state/mounts.json"));
        MountRecord mine;
        mine.owner = MountRecord::currentOwner();
        mine.mounts = {QStringLiteral("/mnt/a"), QStringLiteral("/mnt/b c")};
        QVERIFY(!mine.write(path));
        const std::optional<MountRecord> read = MountRecord::read(path);
        QVERIFY(read);
        QCOMPARE(read->mounts, mine.mounts);
        QVERIFY(MountRecord::isAlive(read->owner));

        // A process that ended, the same id reused by a later process, an earlier boot.
        QProcess ended;
        ended.start(QStringLiteral("/bin/true"));
        QVERIFY(ended.waitForFinished());
        MountRecord::Owner gone = mine.owner;
        gone.pid = ended.processId();
        QVERIFY(!MountRecord::isAlive(gone));
        MountRecord::Owner reused = mine.owner;
        reused.startTime = QStringLiteral("1");
        QVERIFY(!MountRecord::isAlive(reused));
        MountRecord::Owner earlierBoot = mine.owner;
        earlierBoot.bootID = QStringLiteral("00000000-0000-0000-0000-000000000000");
        QVERIFY(!MountRecord::isAlive(earlierBoot));

        // Relative paths are never ours to release; a damaged file is kept, not overwritten.
        for (const QByteArray& damaged : {QByteArray("{\"mounts\": ["),
                 QByteArray(R"({"bootID":"x","pid":1,"startTime":"1","mounts":["relative"]})")}) {
            QVERIFY(test::writeFile(path, damaged));
            QString problem;
            QVERIFY(!MountRecord::read(path, &problem));
            QVERIFY(!QFile::exists(path));
            QVERIFY2(problem.contains(QStringLiteral("kept as")), qPrintable(problem));
            const QStringList aside =
                QDir(QFileInfo(path).path()).entryList({QStringLiteral("mounts.json.unreadable-*")});
            QVERIFY(!aside.isEmpty());
            for (const QString& name : aside)
                QFile::remove(QFileInfo(path).path() + QLatin1Char('/') + name);
        }
    }

    // Unmount-all and quit release what this copy mounted, and nothing it found at a share's
    // folder: a user's own mount, another program's mount at a disabled share's custom folder,
    // shares never mounted. Quitting with many such shares walks no process table.
    void quitAndUnmountAllReleaseOnlyTheMountsThisCopyHolds()
    {
        Fixture f;
        const NASConfig own = f.add(QStringLiteral("Own"), true);
        const QString foreignFolder = f.dir.filePath(QStringLiteral("elsewhere/foreign"));
        QDir().mkpath(foreignFolder);
        f.add(QStringLiteral("Foreign"), false, foreignFolder);
        f.mounts.declare(foreignFolder, QStringLiteral("fuse.other"));
        const NASConfig users = f.add(QStringLiteral("Users"), true);
        QDir().mkpath(f.engine.mountPointPath(users));
        f.mounts.declare(f.engine.mountPointPath(users), QStringLiteral("cifs"));
        for (int i = 0; i < 50; ++i)
            f.add(QStringLiteral("Off %1").arg(i), false);

        const QString ownPath = f.mountHere(own);
        QVERIFY(f.engine.ownsMount(ownPath));
        // Written off the main thread.
        QTRY_COMPARE(f.record() ? f.record()->mounts : QStringList{QStringLiteral("none")}, QStringList{ownPath});

        QCoro::waitFor(f.strategy.unmountAll());
        QCOMPARE(f.unmounted(), QStringList{ownPath});
        QVERIFY(!f.engine.ownsMount(ownPath));

        f.mounts.forget(ownPath);
        f.mountHere(own);
        const quint64 reads = ProcessTable::commandLineReads();
        QCoro::waitFor(f.strategy.shutDown());
        QCOMPARE(f.unmounted(), (QStringList{ownPath, ownPath}));
        QCOMPARE(ProcessTable::commandLineReads() - reads, quint64(0));
        QVERIFY(f.engine.heldMounts().isEmpty());
        QTRY_COMPARE(f.record() ? f.record()->mounts : QStringList{QStringLiteral("none")}, QStringList());
    }

    // A polite unmount whose tool ignores SIGTERM and hangs still leaves the quit its lazy
    // detach, within the quit's step bounds and not the mount time limit.
    void aHangingUnmountToolStillReachesTheLazyDetachWithinTheQuitSteps()
    {
        Fixture f;
        f.engine.mountTimeout = 120.0;
        f.strategy.quitToolTimeLimit = 0.4;
        const NASConfig own = f.add(QStringLiteral("Own"), true);
        const QString ownPath = f.mountHere(own);
        f.set(QStringLiteral("umount.hold"));
        f.set(QStringLiteral("umount.deaf"));

        QElapsedTimer clock;
        clock.start();
        QCoro::waitFor(f.strategy.shutDown());
        const qint64 took = clock.elapsed();
        qInfo("quit took %lld ms", took);
        QVERIFY2(took < 30000, qPrintable(QString::number(took)));
        const QList<QStringList> runs = f.calls(QStringLiteral("umount"));
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs.at(0), (QStringList{QStringLiteral("--"), ownPath}));
        QCOMPARE(runs.at(1), (QStringList{QStringLiteral("-l"), QStringLiteral("--"), ownPath}));
    }

    // Leftovers of a copy that died are checked side by side and within one bound, and the
    // launch mount does not wait for them; those that never answered are released.
    void leftoversAreCheckedSideBySideWithoutHoldingTheLaunchMount()
    {
        Fixture f;
        f.engine.leftoverCheckTimeout = 0.3;
        QStringList leftovers;
        for (int i = 0; i < 5; ++i) {
            const QString path = f.root + QStringLiteral("/Old %1").arg(i);
            QDir().mkpath(path);
            declareShareRoot(path);
            f.mounts.declare(path, QStringLiteral("fuse.leftover"));
            leftovers.append(path);
        }
        const QString elsewhere = f.dir.filePath(QStringLiteral("elsewhere/New"));
        const NASConfig fresh = f.add(QStringLiteral("New"), true, elsewhere);
        test::FileWorkGate gate;
        gate.hold(f.root);

        f.path->setIPv4(QStringLiteral("192.168.1.20"));
        emit f.path->pathUpdated(true);
        QElapsedTimer clock;
        clock.start();
        f.strategy.start();
        QTRY_COMPARE(gate.waiting(f.root), 5);
        QTRY_COMPARE(f.runs(QStringLiteral("mount.nfs4")), 1);
        const qint64 mounted = clock.elapsed();
        QTRY_VERIFY(!f.strategy.hasOperationsUnderWay());
        qInfo("launch mount ran after %lld ms, checks of 5 hanging leftovers ended after %lld ms", mounted,
            clock.elapsed());
        QCOMPARE(gate.waiting(f.root), 5);
        QCOMPARE(f.engine.heldMounts(), QStringList{elsewhere});
        Q_UNUSED(fresh);
        gate.release(f.root);
        waitForFileWork();
    }
};

VANTREL_TEST_MAIN(TestMountRecord)
#include "tst_MountRecord.moc"
