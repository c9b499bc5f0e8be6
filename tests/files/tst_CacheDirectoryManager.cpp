#include "support/CapturingSystemLog.h"
#include "support/TestMain.h"

#include "files/CacheDirectoryManager.h"
#include "files/CacheManager.h"
#include "platform/DiskSpace.h"
#include "platform/FileWork.h"
#include "support/FileWorkGate.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <atomic>
#include <memory>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

class FakeDiskSpace final : public DiskSpace {
public:
    std::optional<qint64> availableBytes(const QString& path) const override
    {
        lastPath = path;
        if (fail)
            return std::nullopt;
        return bytes.load();
    }
    std::atomic<qint64> bytes{500'000'000'000};
    std::atomic<bool> fail{false};
    mutable QString lastPath;
};

struct Env : test::LoggingFixture {
    // Free-space readings of managers already gone may still be running against the fake.
    ~Env() { waitForFileWork(); }

    QDateTime now = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
    CacheManager cache{defaults, log, dir.filePath(QStringLiteral("cache")), [this] { return now; }};
    FakeDiskSpace disk;
    QUuid config = QUuid::createUuid();

    std::unique_ptr<CacheDirectoryManager> make()
    {
        return std::make_unique<CacheDirectoryManager>(defaults, log, cache, disk, [this] { return now; });
    }
    CacheEntry cacheFile(const QString& name)
    {
        const QString source = dir.filePath(QStringLiteral("share/") + name);
        QDir().mkpath(QFileInfo(source).absolutePath());
        QFile file(source);
        file.open(QIODevice::WriteOnly);
        file.write("12345");
        file.close();
        return QCoro::waitFor(cache.cacheFile(QUrl::fromLocalFile(source), config, name)).value();
    }
    QStringList cachedNames() const
    {
        QStringList result;
        for (const CacheEntry& entry : cache.entries())
            result.append(entry.relativePath);
        result.sort();
        return result;
    }
};

constexpr qint64 thirtyDays = 30 * 24 * 3600;

} // namespace

class TestCacheDirectoryManager : public QObject {
    Q_OBJECT

private slots:
    void ageCountsFromTheCopyAndTheBoundaryStays()
    {
        Env env;
        const QDateTime start = env.now;
        env.cacheFile(QStringLiteral("old"));
        env.now = start.addSecs(1);
        env.cacheFile(QStringLiteral("exact"));
        auto manager = env.make();

        env.now = start.addSecs(thirtyDays + 1).addSecs(-60);
        env.cacheFile(QStringLiteral("old")); // requested a minute ago: the age still counts from the copy
        env.now = start.addSecs(thirtyDays + 1);
        QCOMPARE(QCoro::waitFor(manager->performCleanup()), 1);
        QCOMPARE(env.cachedNames(), QStringList{QStringLiteral("exact")}); // exactly 30 days old
        QCOMPARE(manager->lastCleanupRemovedCount(), 1);
        QCOMPARE(manager->lastCleanupDate(), std::optional<QDateTime>(env.now));
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Cache cleanup completed: removed 1 entries")));

        env.defaults.setValue(CacheDirectoryManager::maxEntryAgeKey, QStringLiteral("3600"));
        QCOMPARE(QCoro::waitFor(manager->performCleanup()), 1);
        QVERIFY(env.cachedNames().isEmpty());

        // The date of the last pass survives a restart; another type under the key does not count.
        auto again = env.make();
        QCOMPARE(again->lastCleanupDate(), std::optional<QDateTime>(env.now));
        env.defaults.setValue(CacheDirectoryManager::lastCleanupKey, 12.0);
        QCOMPARE(env.make()->lastCleanupDate(), std::nullopt);
    }

    void vanishedCopiesAreRemovedAndCounted_andTheLimitIsEnforced()
    {
        Env env;
        const CacheEntry a = env.cacheFile(QStringLiteral("a"));
        env.now = env.now.addSecs(1);
        env.cacheFile(QStringLiteral("b"));
        env.now = env.now.addSecs(1);
        env.cacheFile(QStringLiteral("c"));
        QVERIFY(QFile::remove(a.localURL.toLocalFile()));
        env.defaults.setValue(CacheManager::maxCacheSizeKey, 5); // room for one copy
        auto manager = env.make();

        QCOMPARE(QCoro::waitFor(manager->performCleanup()), 1); // LRU evictions are not counted
        QCOMPARE(env.cachedNames(), QStringList{QStringLiteral("c")});
        QCOMPARE(manager->lastCleanupRemovedCount(), 1);
    }

    void aPassRequestedDuringAPassCompletesWithZero()
    {
        Env env;
        const CacheEntry a = env.cacheFile(QStringLiteral("a"));
        QVERIFY(QFile::remove(a.localURL.toLocalFile()));
        auto manager = env.make();
        QSignalSpy cleaning(manager.get(), &CacheDirectoryManager::isCleaningUpChanged);

        // Hold the cache folder's file work so the first pass waits for its file tests.
        waitForFileWork();
        test::FileWorkGate gate;
        gate.hold(env.cache.cacheDirectory());
        QCoro::Task<qint64> first = manager->performCleanup();
        QVERIFY(manager->isCleaningUp());
        QCOMPARE(QCoro::waitFor(manager->performCleanup()), 0);
        QVERIFY(!manager->lastCleanupDate());
        gate.release(env.cache.cacheDirectory());
        QCOMPARE(QCoro::waitFor(first), 1);
        QCOMPARE(manager->lastCleanupRemovedCount(), 1);
        QCOMPARE(cleaning.size(), 2);
        QVERIFY(!manager->isCleaningUp());
    }

    void aShareThatHangsWhileCachingHoldsUpNeitherTheCacheNorTheCleanup()
    {
        Env env;
        const QString hung = env.dir.filePath(QStringLiteral("hung"));
        QDir().mkpath(hung);
        QFile file(hung + QStringLiteral("/a.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("hung");
        file.close();
        test::FileWorkGate gate;
        gate.hold(hung);
        QCoro::Task<std::optional<CacheEntry>> caching = env.cache.cacheFile(
            QUrl::fromLocalFile(hung + QStringLiteral("/a.txt")), env.config, QStringLiteral("a.txt"));
        QTRY_COMPARE(gate.waiting(hung), 1);

        auto manager = env.make();
        QCoro::Task<qint64> pass = manager->performCleanup();
        QTRY_VERIFY_WITH_TIMEOUT(pass.isReady(), 2000);
        QVERIFY(manager->lastCleanupDate());
        QCOMPARE(env.cacheFile(QStringLiteral("b")).relativePath, QStringLiteral("b"));

        gate.release(hung);
        QVERIFY(QCoro::waitFor(caching));
        QCOMPARE(env.cachedNames(), (QStringList{"a.txt", "b"}));
    }

    void aPassGivesUpOnAStuckCacheAndTheNextOneRuns()
    {
        Env env;
        const CacheEntry a = env.cacheFile(QStringLiteral("a"));
        QVERIFY(QFile::remove(a.localURL.toLocalFile()));
        auto manager = env.make();
        manager->cleanupTimeLimit = 200ms;
        waitForFileWork();

        test::FileWorkGate gate;
        gate.hold(env.cache.cacheDirectory());
        QCoro::Task<qint64> stuck = manager->performCleanup();
        QTRY_VERIFY_WITH_TIMEOUT(stuck.isReady(), 2000);
        QVERIFY(!manager->isCleaningUp());
        QVERIFY(!manager->lastCleanupDate());
        QVERIFY(env.systemLog.messages().contains(
            QStringLiteral("Cache cleanup gave up: the cache did not answer within 0.2 s")));

        gate.release(env.cache.cacheDirectory());
        QCOMPARE(QCoro::waitFor(manager->performCleanup()), 1);
        QVERIFY(manager->lastCleanupDate());
        QCOMPARE(manager->lastCleanupRemovedCount(), 1);
    }

    void freeSpaceAndTheLowSpaceBoundary()
    {
        Env env;
        env.disk.bytes = 104857599;
        auto manager = env.make();
        QVERIFY(!manager->isLowDiskSpace()); // not measured yet
        QCOMPARE(manager->availableDiskSpace(), 0);
        QTRY_COMPARE(manager->availableDiskSpace(), 104857599);
        QCOMPARE(env.disk.lastPath, env.cache.cacheDirectory());
        QVERIFY(manager->isLowDiskSpace());
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Low disk space at cache location: 99 MB remaining")));

        env.systemLog.clear();
        env.disk.bytes = 104857600;
        QCoro::waitFor(manager->updateDiskSpace());
        QVERIFY(!manager->isLowDiskSpace());
        QVERIFY(env.systemLog.messages().filter(QStringLiteral("Low disk space")).isEmpty());

        env.disk.fail = true;
        QCoro::waitFor(manager->updateDiskSpace());
        QCOMPARE(manager->availableDiskSpace(), 104857600); // an unreadable volume changes nothing

        // The real seam answers for a real folder and not for a missing one.
        QVERIFY(DiskSpace::system().availableBytes(env.dir.path()).value_or(-1) > 0);
        QVERIFY(!DiskSpace::system().availableBytes(env.dir.filePath(QStringLiteral("missing/deeper"))));
    }

    void periodicTimerReadsItsIntervalAndIsReplacedOnRestart()
    {
        Env env;
        auto manager = env.make();
        for (const QVariant& stored : {QVariant(), QVariant(0.0), QVariant(-5.0), QVariant(QStringLiteral("soon"))}) {
            if (stored.isValid())
                env.defaults.setValue(CacheDirectoryManager::cleanupIntervalKey, stored);
            manager->startPeriodicCleanup();
            QCOMPARE(manager->cleanupTimerIntervalMs(), 21600000);
        }
        QCOMPARE(
            env.systemLog.messages().filter(QStringLiteral("Periodic cache cleanup started (interval: 6.0h)")).size(),
            4);
        QCOMPARE(manager->findChildren<QTimer*>().size(), 1);

        env.defaults.setValue(CacheDirectoryManager::cleanupIntervalKey, 1800);
        manager->startPeriodicCleanup();
        QCOMPARE(manager->cleanupTimerIntervalMs(), 1800000);
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Periodic cache cleanup started (interval: 0.5h)")));

        // Sixty days: longer than a timer holds, and not cut short.
        env.defaults.setValue(CacheDirectoryManager::cleanupIntervalKey, 5184000.0);
        manager->startPeriodicCleanup();
        QCOMPARE(manager->cleanupTimerIntervalMs(), 5'184'000'000);
        QVERIFY(
            env.systemLog.messages().contains(QStringLiteral("Periodic cache cleanup started (interval: 1440.0h)")));

        manager->stopPeriodicCleanup();
        QVERIFY(!manager->isPeriodicCleanupActive());
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Periodic cache cleanup stopped")));

        // A short interval makes the timer run passes.
        env.defaults.setValue(CacheDirectoryManager::cleanupIntervalKey, 0.02);
        QSignalSpy passes(manager.get(), &CacheDirectoryManager::lastCleanupDateChanged);
        manager->startPeriodicCleanup();
        QTRY_VERIFY(passes.size() >= 2);
        QCOMPARE(formatHours(24.0), QStringLiteral("24.0"));
    }
};

VANTREL_TEST_MAIN(TestCacheDirectoryManager)
#include "tst_CacheDirectoryManager.moc"
