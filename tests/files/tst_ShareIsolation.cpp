#include "support/FakePathMonitor.h"
#include "support/FileWorkGate.h"
#include "support/Fixtures.h"
#include "support/MountingFixture.h"
#include "support/TestMain.h"

#include "files/CacheDirectoryManager.h"
#include "files/CacheManager.h"
#include "files/FileSystemManager.h"
#include "files/RecentFilesTracker.h"
#include "files/TransferManager.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/MountEngine.h"
#include "mounting/NetworkMonitor.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/DiskSpace.h"
#include "platform/FileWork.h"
#include "platform/NotificationCenter.h"
#include "platform/PowerEvents.h"
#include "platform/WifiInfo.h"

#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <memory>
#include <vector>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

using test::makeFile;

QUrl fileUrl(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

class NoWifi final : public WifiInfo {
public:
    NoWifi()
        : WifiInfo(QDBusConnection(QStringLiteral("vantrel-no-bus")))
    {
    }
    std::optional<QString> currentSSID() const override { return std::nullopt; }
};

// The longest time something took, in milliseconds.
struct Longest {
    qint64 ms = 0;
    int count = 0;
    void add(qint64 sample)
    {
        ms = std::max(ms, sample);
        ++count;
    }
};

// Everything the application runs on two shares, one of which the test holds as a share that
// stopped answering: browser windows, transfers, the offline cache and its clean-up, and the
// keep-alive; beside them a local folder.
struct Env : test::MountingFixture {
    QString hung = dir.filePath(QStringLiteral("Hung"));
    QString healthy = dir.filePath(QStringLiteral("Healthy"));
    QString local = dir.filePath(QStringLiteral("Local"));
    CacheManager cache{defaults, log, dir.filePath(QStringLiteral("cache")), &systemNow};
    CacheDirectoryManager cleanup{defaults, log, cache, DiskSpace::system(), &systemNow};
    NotificationPreferences preferences{defaults};
    NotificationCenter center{QDBusConnection::sessionBus()};
    NotificationService notifications{center, preferences, log};
    RecentFilesTracker recents{defaults, log};
    MountEngine engine{test::standInTools(), dir.filePath(QStringLiteral("Volumes")), fileSystem, keychain};
    test::FakePathMonitor* path = new test::FakePathMonitor;
    NetworkMonitor network{std::unique_ptr<PathMonitor>(path), std::make_unique<NoWifi>()};
    PowerEvents power{QDBusConnection(QStringLiteral("vantrel-no-bus"))};
    AutoMountStrategy strategy{configStore, appState, network, engine, notifications, defaults, power};
    test::FileWorkGate gate;

    Env()
    {
        for (const QString& folder : {hung, healthy, local})
            QDir().mkpath(folder);
        declareShareRoot(hung);
        declareShareRoot(healthy);
    }
    ~Env()
    {
        strategy.stop();
        gate.release(hung);
        QTRY_VERIFY_WITH_TIMEOUT(!strategy.hasOperationsUnderWay(), 10000);
        waitForFileWork();
    }

    // A configuration whose share is mounted, and known as such, at the folder.
    NASConfig mounted(const QString& name, const QString& mountPoint)
    {
        NASConfig config;
        config.name = name;
        config.address = QStringLiteral("nas.local");
        config.sharePath = QStringLiteral("/") + name;
        config.authMethod = AuthMethod::guest;
        config.mountOptions.customMountPoint = mountPoint;
        configStore.addConfig(config);
        fileSystem.declare(mountPoint, QStringLiteral("smbfs"));
        appState.updateStatus(config.id, MountState::mounted(), MountEngine::directoryUrl(mountPoint));
        return config;
    }
    std::unique_ptr<FileSystemManager> browser(const QString& share, const QUuid& config)
    {
        return std::make_unique<FileSystemManager>(fileUrl(share), config, cache, log);
    }
    QStringList cachedPaths(const QUuid& config) const
    {
        QStringList result;
        for (const CacheEntry& entry : cache.entries(config))
            result.append(entry.relativePath);
        result.sort();
        return result;
    }
};

} // namespace

class TestShareIsolation : public QObject {
    Q_OBJECT

private slots:
    void aHungShareLeavesHealthySharesAndLocalWorkAlone()
    {
        Env env;
        for (int i = 0; i < 12; ++i)
            makeFile(env.hung + QStringLiteral("/folder%1/x.txt").arg(i));
        makeFile(env.healthy + QStringLiteral("/a.txt"), "healthy a");
        makeFile(env.healthy + QStringLiteral("/b.txt"), "healthy b");
        makeFile(env.local + QStringLiteral("/up.txt"), "upload");

        // The user keeps clicking through the hung share: every listing blocks a thread there.
        env.gate.hold(env.hung);
        auto stuck = env.browser(env.hung, QUuid::createUuid());
        std::vector<QCoro::Task<>> stuckLoads;
        for (int i = 0; i < 12; ++i)
            stuckLoads.push_back(stuck->navigate(fileUrl(env.hung + QStringLiteral("/folder%1").arg(i))));
        QTRY_VERIFY(env.gate.waiting(env.hung) >= 1);

        // The healthy share lists and caches, the cache cleans up and reads its free space.
        const QUuid healthyConfig = QUuid::createUuid();
        auto browser = env.browser(env.healthy, healthyConfig);
        QCoro::Task<> listing = browser->refresh();
        QTRY_VERIFY_WITH_TIMEOUT(listing.isReady(), 2000);
        QCOMPARE(browser->currentItems().size(), 2);
        QVERIFY(!browser->isOfflineMode());
        QTRY_COMPARE_WITH_TIMEOUT(env.cachedPaths(healthyConfig), (QStringList{"a.txt", "b.txt"}), 2000);
        QCoro::Task<qint64> pass = env.cleanup.performCleanup();
        QTRY_VERIFY_WITH_TIMEOUT(pass.isReady(), 2000);
        QCoro::Task<> space = env.cleanup.updateDiskSpace();
        QTRY_VERIFY_WITH_TIMEOUT(space.isReady(), 2000);
        QVERIFY(env.cleanup.availableDiskSpace() > 0);

        // Downloads from and uploads to the healthy share run.
        TransferManager transfers(env.recents, env.notifications);
        transfers.addDownload(fileUrl(env.healthy + QStringLiteral("/a.txt")), fileUrl(env.local));
        transfers.addUpload(fileUrl(env.local + QStringLiteral("/up.txt")), fileUrl(env.healthy));
        QTRY_COMPARE_WITH_TIMEOUT(transfers.tasks().size(), 2, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!transfers.isProcessing(), 2000);
        QCOMPARE(transfers.tasks().at(0).status, TransferStatus::completed);
        QCOMPARE(transfers.tasks().at(1).status, TransferStatus::completed);
        QVERIFY(QFile::exists(env.healthy + QStringLiteral("/up.txt")));

        // The hung share held only threads of its own; once it answers, its last listing shows.
        QVERIFY(stuck->isLoading());
        env.gate.release(env.hung);
        QTRY_VERIFY_WITH_TIMEOUT(!stuck->isLoading(), 5000);
        QCOMPARE(stuck->currentItems().size(), 1);
        QCOMPARE(stuck->currentItems().at(0).url, fileUrl(env.hung + QStringLiteral("/folder11/x.txt")));
    }

    // Not a test: run with VANTREL_SOAK=1 (VANTREL_SOAK_SECONDS sets how long, 12 by default). One share
    // stops answering while its window refreshes and the keep-alive checks it, every 50 ms instead of
    // every 5 and 180 s; meanwhile the other share lists, uploads and downloads 100 files each way,
    // and the cache copies and cleans up. Nothing on the healthy side may wait a second.
    void soakHungShareBesideAHealthyOne()
    {
        if (qEnvironmentVariable("VANTREL_SOAK") != QLatin1String("1"))
            QSKIP("soak; set VANTREL_SOAK=1");
        const int seconds = qEnvironmentVariableIsSet("VANTREL_SOAK_SECONDS")
            ? qEnvironmentVariableIntValue("VANTREL_SOAK_SECONDS")
            : 12;
        constexpr int fileCount = 100;
        Env env;
        const QByteArray content(64 * 1024, 'v');
        for (int i = 0; i < 20; ++i)
            makeFile(env.hung + QStringLiteral("/folder%1/x.bin").arg(i), content);
        for (int i = 0; i < fileCount; ++i) {
            makeFile(env.healthy + QStringLiteral("/down/file%1.bin").arg(i, 3, 10, QLatin1Char('0')), content);
            makeFile(env.local + QStringLiteral("/up/file%1.bin").arg(i, 3, 10, QLatin1Char('0')), content);
        }
        QDir().mkpath(env.healthy + QStringLiteral("/uploads"));
        QDir().mkpath(env.local + QStringLiteral("/downloads"));
        const NASConfig hungConfig = env.mounted(QStringLiteral("hung"), env.hung);
        const NASConfig healthyConfig = env.mounted(QStringLiteral("healthy"), env.healthy);

        // The main thread's own lateness: every wait on it shows here.
        Longest stall;
        QElapsedTimer tick;
        tick.start();
        QTimer heartbeat;
        heartbeat.setInterval(10);
        connect(&heartbeat, &QTimer::timeout, this, [&] { stall.add(tick.restart() - 10); });
        heartbeat.start();

        // The hung share: its window refreshes, the user clicks on into its folders, a download
        // from it waits, and the keep-alive checks it.
        env.gate.hold(env.hung);
        auto hungBrowser = env.browser(env.hung, hungConfig.id);
        hungBrowser->startAutoRefresh(0.05);
        std::vector<QCoro::Task<>> hungLoads;
        hungLoads.push_back(hungBrowser->refresh());
        TransferManager hungTransfers(env.recents, env.notifications);
        hungTransfers.addDownload(fileUrl(env.hung + QStringLiteral("/folder0/x.bin")),
            fileUrl(env.local + QStringLiteral("/downloads")));
        env.defaults.setValue(MountKeepAlive::intervalKey, 0.05);
        env.strategy.keepAlive().minimumInterval = 0.01;
        env.strategy.keepAlive().start();
        int keepAlivePasses = 0;
        QTimer passes;
        connect(&passes, &QTimer::timeout, this, [&] { ++keepAlivePasses; });
        passes.start(50);

        // The healthy share: its window lists the downloads folder every 50 ms (and hands the
        // files to the cache), the cache is cleaned every 200 ms and keeps copies for 2 s only.
        env.defaults.setValue(CacheDirectoryManager::maxEntryAgeKey, 2.0);
        env.defaults.setValue(CacheDirectoryManager::cleanupIntervalKey, 0.2);
        env.cleanup.startPeriodicCleanup();
        Longest cleanupPass;
        QElapsedTimer cleanupTimer;
        connect(&env.cleanup, &CacheDirectoryManager::isCleaningUpChanged, this, [&](bool on) {
            if (on)
                cleanupTimer.start();
            else
                cleanupPass.add(cleanupTimer.elapsed());
        });
        auto browser = env.browser(env.healthy, healthyConfig.id);
        Longest listing;
        QElapsedTimer listingTimer;
        connect(browser.get(), &FileSystemManager::isLoadingChanged, this, [&](bool on) {
            if (on)
                listingTimer.start();
            else
                listing.add(listingTimer.elapsed());
        });
        QCoro::Task<> first = browser->navigate(fileUrl(env.healthy + QStringLiteral("/down")));
        browser->startAutoRefresh(0.05);

        TransferManager transfers(env.recents, env.notifications);
        for (int i = 0; i < fileCount; ++i) {
            const QString name = QStringLiteral("file%1.bin").arg(i, 3, 10, QLatin1Char('0'));
            transfers.addDownload(fileUrl(env.healthy + QStringLiteral("/down/") + name),
                fileUrl(env.local + QStringLiteral("/downloads")));
            transfers.addUpload(fileUrl(env.local + QStringLiteral("/up/") + name),
                fileUrl(env.healthy + QStringLiteral("/uploads")));
        }

        // Meanwhile the user clicks on into the hung share now and then.
        QElapsedTimer soak;
        soak.start();
        int clicks = 0;
        QTimer clicker;
        connect(&clicker, &QTimer::timeout, this, [&] {
            hungLoads.push_back(
                hungBrowser->navigate(fileUrl(env.hung + QStringLiteral("/folder%1").arg(++clicks % 20))));
        });
        clicker.start(500);

        QTRY_VERIFY_WITH_TIMEOUT(transfers.tasks().size() == 2 * fileCount && !transfers.isProcessing(), 120'000);
        const qint64 transfersDone = soak.elapsed();
        QTest::qWait(static_cast<int>(std::max<qint64>(0, seconds * 1000 - soak.elapsed())));
        clicker.stop();
        heartbeat.stop();
        passes.stop();

        Longest transfer;
        for (const TransferTask& task : transfers.tasks()) {
            QCOMPARE(task.status, TransferStatus::completed);
            transfer.add(task.startDate->msecsTo(*task.endDate));
        }
        const int cached = static_cast<int>(env.cache.entries(healthyConfig.id).size());
        qInfo("soak: %lld s; hung share: %d pieces of file work got a thread, %d threads held (the rest queue in its"
              " lane), %d clicks into it, %d keep-alive intervals",
            soak.elapsed() / 1000, env.gate.arrived(env.hung), env.gate.waiting(env.hung), clicks, keepAlivePasses);
        qInfo("soak: healthy share: %d listings (longest %lld ms), %d transfers done at %lld ms (longest %lld ms),"
              " %d cached now, %d clean-ups (longest %lld ms); main thread late by at most %lld ms",
            listing.count, listing.ms, transfer.count, transfersDone, transfer.ms, cached, cleanupPass.count,
            cleanupPass.ms, stall.ms);

        QVERIFY(hungBrowser->isLoading());
        QVERIFY(hungTransfers.tasks().isEmpty()); // its size is still being read
        QVERIFY(env.gate.waiting(env.hung) <= fileIOPool(env.hung).maxThreadCount());
        QVERIFY(listing.count > 10 && listing.ms < 1000);
        QVERIFY(transfer.ms < 1000);
        QVERIFY(cleanupPass.count > 10 && cleanupPass.ms < 1000);
        QVERIFY(stall.ms < 1000);
        QVERIFY(env.appState.status(hungConfig.id)->mountState.is(MountState::Kind::mounted));
    }
};

VANTREL_TEST_MAIN(TestShareIsolation)
#include "tst_ShareIsolation.moc"
