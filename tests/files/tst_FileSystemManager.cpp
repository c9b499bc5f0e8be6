#include "support/CapturingSystemLog.h"
#include "support/TestMain.h"

#include "files/CacheManager.h"
#include "files/FileSystemManager.h"
#include "platform/FileWork.h"
#include "platform/Localization.h"
#include "platform/Threading.h"
#include "support/FileWorkGate.h"
#include "support/Fixtures.h"
#include "support/MountedShare.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThreadPool>

#include <algorithm>
#include <memory>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

using test::makeFile;

qint64 mainThreadCpuMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

QStringList names(const QList<FileItem>& items)
{
    QStringList result;
    for (const FileItem& item : items)
        result.append(item.name);
    return result;
}

struct Env : test::LoggingFixture {
    CacheManager cache{defaults, log, dir.filePath(QStringLiteral("cache")), systemNow};
    QUuid config = QUuid::createUuid();

    QString share() const { return dir.filePath(QStringLiteral("Media")); }
    QUrl url(const QString& relative = QString()) const
    {
        return QUrl::fromLocalFile(relative.isEmpty() ? share() : share() + u'/' + relative);
    }
    std::unique_ptr<FileSystemManager> make() { return std::make_unique<FileSystemManager>(url(), config, cache, log); }
    QStringList cachedPaths() const
    {
        QStringList result;
        for (const CacheEntry& entry : cache.entries())
            result.append(entry.relativePath);
        result.sort();
        return result;
    }
};

} // namespace

class TestFileSystemManager : public QObject {
    Q_OBJECT

private slots:
    void listsFoldersFirstInNaturalOrderWithoutHiddenEntries()
    {
        Env env;
        for (const char* name : {"b.txt", "A.txt", "file10", "file9", ".hidden"})
            makeFile(env.share() + u'/' + QString::fromLatin1(name));
        QDir().mkpath(env.share() + QStringLiteral("/z"));
        QDir().mkpath(env.share() + QStringLiteral("/Archive"));
        QDir().mkpath(env.share() + QStringLiteral("/.git"));

        auto manager = env.make();
        QCOMPARE(manager->currentPath(), std::optional<QUrl>(env.url()));
        QVERIFY(manager->isAtRoot());
        QVERIFY(manager->currentItems().isEmpty());

        QSignalSpy loading(manager.get(), &FileSystemManager::isLoadingChanged);
        QCoro::waitFor(manager->refresh());
        QCOMPARE(names(manager->currentItems()), (QStringList{"Archive", "z", "A.txt", "b.txt", "file9", "file10"}));
        QCOMPARE(loading.size(), 2);
        QVERIFY(!manager->isOfflineMode());
        const FileItem folder = manager->currentItems().at(0);
        QVERIFY(folder.isDirectory);
        QCOMPARE(folder.size, -1);
        QCOMPARE(folder.iconName(), QStringLiteral("folder"));
        QCOMPARE(manager->currentItems().at(3).size, 4);

        // Every listed file goes to the cache in the background; folders do not.
        QTRY_COMPARE(env.cachedPaths(), (QStringList{"A.txt", "b.txt", "file10", "file9"}));
    }

    // A refresh that finds the folder as shown publishes nothing; any change publishes it anew.
    void onlyAChangedListingIsPublished()
    {
        Env env;
        makeFile(env.share() + QStringLiteral("/a.txt"), "a");
        makeFile(env.share() + QStringLiteral("/Sub/b.txt"), "b");
        auto manager = env.make();
        QCoro::waitFor(manager->refresh());
        const QList<FileItem> shown = manager->currentItems();
        QCOMPARE(names(shown), (QStringList{"Sub", "a.txt"}));

        QSignalSpy published(manager.get(), &FileSystemManager::currentItemsChanged);
        QCoro::waitFor(manager->refresh());
        QCOMPARE(published.size(), 0);
        QCOMPARE(manager->currentItems(), shown); // the same ids
        QVERIFY(!manager->isLoading());

        makeFile(env.share() + QStringLiteral("/a.txt"), "a, longer");
        QCoro::waitFor(manager->refresh());
        QCOMPARE(published.size(), 1);
        QCOMPARE(manager->currentItems().at(1).size, 9);
        QVERIFY(manager->currentItems().at(0).id != shown.at(0).id);

        // Back in a folder left meanwhile: listed and published again.
        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Sub"))));
        QCoro::waitFor(manager->navigateUp());
        QCOMPARE(published.size(), 3);
        QCOMPARE(names(manager->currentItems()), (QStringList{"Sub", "a.txt"}));
        QTRY_COMPARE(env.cachedPaths(), (QStringList{"Sub/b.txt", "a.txt"}));
    }

    void everyChildWhoseValuesCanBeReadIsListed()
    {
        Env env;
        makeFile(env.share() + QStringLiteral("/plain.txt"));
        // A link whose target is gone, and a name that is not valid UTF-8.
        QVERIFY(QFile::link(env.share() + QStringLiteral("/gone"), env.share() + QStringLiteral("/broken")));
        const QByteArray oddName = QFile::encodeName(env.share()) + QByteArray("/caf\xe9.txt");
        const int fd = ::open(oddName.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);

        auto manager = env.make();
        QCoro::waitFor(manager->refresh());
        const QStringList listed = names(manager->currentItems());
        QCOMPARE(listed.size(), 3);
        QVERIFY(listed.contains(QStringLiteral("broken")));
        QVERIFY(listed.contains(QStringLiteral("plain.txt")));
        const auto odd = std::find_if(listed.cbegin(), listed.cend(), [](const QString& name) {
            return name.startsWith(QStringLiteral("caf")) && name.endsWith(QStringLiteral(".txt"));
        });
        QVERIFY2(odd != listed.cend(), qPrintable(listed.join(u',')));
        const FileItem broken = manager->currentItems().at(listed.indexOf(QStringLiteral("broken")));
        QVERIFY(!broken.isDirectory);
        QCOMPARE(broken.size, (env.share() + QStringLiteral("/gone")).toUtf8().size());
    }

    void navigationStaysWithinTheShare()
    {
        Env env;
        QDir().mkpath(env.share() + QStringLiteral("/Films/2020"));
        QDir().mkpath(env.dir.filePath(QStringLiteral("Media2")));
        auto manager = env.make();

        QCoro::waitFor(manager->navigateUp()); // at the root: nothing happens
        QCOMPARE(manager->currentPath(), std::optional<QUrl>(env.url()));

        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Films/2020"))));
        QVERIFY(!manager->isAtRoot());
        QCOMPARE(manager->relativePath(*manager->currentPath()), QStringLiteral("Films/2020"));
        QCoro::waitFor(manager->navigateUp());
        QCOMPARE(manager->currentPath(), std::optional<QUrl>(env.url(QStringLiteral("Films"))));
        QVERIFY(!manager->isAtRoot());
        QCoro::waitFor(manager->navigateUp());
        QCOMPARE(manager->currentPath(), std::optional<QUrl>(env.url()));
        QVERIFY(manager->isAtRoot());

        // A folder outside the share (even one whose name merely starts alike) leads back to the root.
        const QUrl sibling = QUrl::fromLocalFile(env.dir.filePath(QStringLiteral("Media2")));
        QCOMPARE(manager->relativePath(sibling), QString());
        QCoro::waitFor(manager->navigate(sibling));
        QCoro::waitFor(manager->navigateUp());
        QCOMPARE(manager->currentPath(), std::optional<QUrl>(env.url()));
        QVERIFY(manager->isAtRoot());
    }

    void unreachableShareListsTheCachedEntriesOfTheFolder()
    {
        Env env;
        for (const char* path : {"root.txt", "Films/a.mkv", "Films/2020/b.mkv", "Filmsx/c.mkv"}) {
            makeFile(env.share() + u'/' + QString::fromLatin1(path));
            QVERIFY(QCoro::waitFor(
                env.cache.cacheFile(env.url(QString::fromLatin1(path)), env.config, QString::fromLatin1(path))));
        }
        QVERIFY(QDir(env.share()).rename(env.share(), env.share() + QStringLiteral("-away")));

        auto manager = env.make();
        QCoro::waitFor(manager->refresh());
        QVERIFY(manager->isOfflineMode());
        QCOMPARE(names(manager->currentItems()), QStringList{QStringLiteral("root.txt")});
        QCOMPARE(manager->currentItems().at(0).url.toLocalFile(),
            env.cache.cachedFilePath(env.config, "root.txt").value());

        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Films"))));
        QCOMPARE(names(manager->currentItems()), QStringList{QStringLiteral("a.mkv")});
        QCOMPARE(manager->lastError(), std::nullopt);

        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Music"))));
        QVERIFY(manager->currentItems().isEmpty());
        QCOMPARE(manager->lastError(),
            std::optional<QString>(Localization::text(QStringLiteral("filesystem.offline.empty"),
                QStringLiteral("NAS 已断开连接。此目录没有缓存的文件。"))));

        // Offline stays offline, even once the share is back; each load clears the message first.
        QVERIFY(QDir(env.share()).rename(env.share() + QStringLiteral("-away"), env.share()));
        QSignalSpy errors(manager.get(), &FileSystemManager::lastErrorChanged);
        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Films"))));
        QVERIFY(manager->isOfflineMode());
        QCOMPARE(errors.size(), 1);
        QCOMPARE(manager->lastError(), std::nullopt);
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Loaded 1 cached entries for offline browsing")));
    }

    // The share's server is away while its mount stays: each folder lists the cache's entries at
    // once, without a call into the share; once it answers, the folder is listed live again.
    void aShareShownOfflineListsTheCacheWithoutWaitingOnIt()
    {
        Env env;
        makeFile(env.share() + QStringLiteral("/Films/a.mkv"));
        makeFile(env.share() + QStringLiteral("/Films/b.mkv"));
        auto manager = env.make();
        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Films"))));
        const QStringList cached{QStringLiteral("a.mkv"), QStringLiteral("b.mkv")};
        QCOMPARE(names(manager->currentItems()), cached);
        // The listing hands its files to the cache; a file made after that is one it never saw.
        QTRY_COMPARE(env.cachedPaths(), (QStringList{QStringLiteral("Films/a.mkv"), QStringLiteral("Films/b.mkv")}));
        makeFile(env.share() + QStringLiteral("/Films/new.mkv"));

        test::FileWorkGate gate;
        gate.hold(env.share());
        manager->setShareOffline(true);
        QTRY_VERIFY(manager->isOfflineMode() && !manager->isLoading());
        QCOMPARE(names(manager->currentItems()), cached);
        QCoro::waitFor(manager->navigateUp());
        QVERIFY(manager->currentItems().isEmpty());
        QVERIFY(manager->lastError());
        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Films"))));
        QCOMPARE(names(manager->currentItems()), cached);
        QCOMPARE(gate.arrived(env.share()), 0);

        gate.release(env.share());
        manager->setShareOffline(false);
        QTRY_VERIFY(!manager->isOfflineMode() && !manager->isLoading());
        QCOMPARE(names(manager->currentItems()), cached + QStringList{QStringLiteral("new.mkv")});
    }

    void vanishedSubfolderFallsBackToTheCacheWithAWarning()
    {
        Env env;
        makeFile(env.share() + QStringLiteral("/Films/a.mkv"));
        auto manager = env.make();
        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Films"))));
        QVERIFY(!manager->isOfflineMode());
        QTRY_COMPARE(env.cachedPaths(), QStringList{QStringLiteral("Films/a.mkv")});

        QVERIFY(QDir(env.share() + QStringLiteral("/Films")).removeRecursively());
        QCoro::waitFor(manager->refresh());
        QVERIFY(manager->isOfflineMode());
        QCOMPARE(names(manager->currentItems()), QStringList{QStringLiteral("a.mkv")});
        const QStringList warnings = env.systemLog.messages().filter(QStringLiteral("Live directory listing failed: "));
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.at(0).endsWith(QStringLiteral(". Trying cache.")));
    }

    void aLoadOvertakenByANewerOneNeitherPublishesNorCaches()
    {
        Env env;
        makeFile(env.share() + QStringLiteral("/Old/old.txt"));
        makeFile(env.share() + QStringLiteral("/New/new.txt"));
        auto manager = env.make();
        QList<QStringList> published;
        connect(manager.get(), &FileSystemManager::currentItemsChanged, this,
            [&] { published.append(names(manager->currentItems())); });

        // Both listings wait; the old one then finishes first.
        test::FileWorkGate gate;
        gate.hold(env.share());
        QCoro::Task<> oldLoad = manager->navigate(env.url(QStringLiteral("Old")));
        QCoro::Task<> newLoad = manager->navigate(env.url(QStringLiteral("New")));
        QTRY_COMPARE(gate.waiting(env.share()), 2);
        QVERIFY(manager->isLoading());
        gate.hold(env.share() + QStringLiteral("/New"));
        gate.release(env.share());
        QCoro::waitFor(oldLoad);
        QVERIFY(manager->isLoading());
        gate.release(env.share() + QStringLiteral("/New"));
        QCoro::waitFor(newLoad);

        QCOMPARE(published, QList<QStringList>{QStringList{QStringLiteral("new.txt")}});
        QVERIFY(!manager->isLoading());
        QTRY_COMPARE(env.cachedPaths(), QStringList{QStringLiteral("New/new.txt")});
        QTest::qWait(50);
        QCOMPARE(env.cachedPaths(), QStringList{QStringLiteral("New/new.txt")});
    }

    void aFolderSlowerToListThanTheRefreshIntervalIsStillShown()
    {
        Env env;
        makeFile(env.share() + QStringLiteral("/Old/old.txt"));
        makeFile(env.share() + QStringLiteral("/Slow/a.txt"));
        auto manager = env.make();
        QCoro::waitFor(manager->navigate(env.url(QStringLiteral("Old"))));
        const QString slow = env.share() + QStringLiteral("/Slow");
        test::FileWorkGate gate;
        QStringList shown;
        int listingsBeforeShown = 0;
        connect(manager.get(), &FileSystemManager::isLoadingChanged, this, [&](bool loading) {
            if (!loading && shown.isEmpty()) {
                shown = names(manager->currentItems());
                // The folder's own listings, not the cache's work on its file.
                listingsBeforeShown = gate.arrived(slow) - gate.arrived(slow + QStringLiteral("/a.txt"));
            }
        });

        gate.slow(slow, 150ms);
        gate.slow(slow + QStringLiteral("/a.txt"), 0ms);
        manager->startAutoRefresh(0.02);
        QCoro::Task<> navigation = manager->navigate(env.url(QStringLiteral("Slow")));
        QTRY_COMPARE_WITH_TIMEOUT(shown, QStringList{QStringLiteral("a.txt")}, 3000);
        // The refreshes waited for the listing under way instead of starting ones of their own.
        QCOMPARE(listingsBeforeShown, 1);
        manager->stopAutoRefresh();
        QTRY_VERIFY(!manager->isLoading());
    }

    // The listed files reach the cache in their order, as many at a time as fit beside each other:
    // a folder larger than the cache leaves it holding the files listed last, within its limit on
    // disk too.
    void aFolderLargerThanTheCacheLeavesItsLastFilesWithinTheLimit()
    {
        Env env;
        env.defaults.setValue(CacheManager::maxCacheSizeKey, 1000);
        QStringList last;
        for (int i = 1; i <= 20; ++i) {
            const QString name = QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
            makeFile(env.share() + u'/' + name, QByteArray(100, 'x'));
            if (i > 10)
                last.append(name);
        }
        auto manager = env.make();
        QCoro::waitFor(manager->refresh());
        QTRY_VERIFY(env.cachedPaths() == last && !env.cache.isProcessing());
        QCOMPARE(env.cache.statistics().totalSize, 1000);
        waitForFileWork();
        qint64 onDisk = 0;
        QDirIterator copies(env.cache.cacheDirectory() + QStringLiteral("/")
                + env.config.toString(QUuid::WithoutBraces).toUpper().left(8),
            QDir::Files, QDirIterator::Subdirectories);
        while (copies.hasNext())
            onDisk += copies.nextFileInfo().size();
        QCOMPARE(onDisk, 1000);
    }

    void vanishedCopyIsCachedAgainAtTheNextListing()
    {
        Env env;
        makeFile(env.share() + QStringLiteral("/a.txt"), "first");
        auto manager = env.make();
        QCoro::waitFor(manager->refresh());
        QTRY_COMPARE(env.cachedPaths(), QStringList{QStringLiteral("a.txt")});
        const QString copy = env.cache.cachedFilePath(env.config, QStringLiteral("a.txt")).value();
        QVERIFY(QFile::remove(copy));

        QCoro::waitFor(manager->refresh());
        // The copy lands before its entry is recorded.
        QTRY_VERIFY(QFile::exists(copy));
        QTRY_COMPARE(env.cache.entries().size(), 1);
        QVERIFY(env.cache.statistics().missCount >= 2);
    }

    void autoRefreshPicksUpChangesAndRestartsReplaceTheTimer()
    {
        Env env;
        QDir().mkpath(env.share());
        auto manager = env.make();
        manager->startAutoRefresh(0.02);
        manager->startAutoRefresh(0.02);
        QCOMPARE(manager->findChildren<QTimer*>().size(), 1);
        QCOMPARE(manager->autoRefreshIntervalMs(), 20);
        makeFile(env.share() + QStringLiteral("/later.txt"));
        QTRY_COMPARE(names(manager->currentItems()), QStringList{QStringLiteral("later.txt")});
        manager->stopAutoRefresh();
        QVERIFY(!manager->isAutoRefreshActive());
        manager->startAutoRefresh();
        QCOMPARE(manager->autoRefreshIntervalMs(), 5000);
    }

    // The browser's listing of a real share, mounted from a Samba server through vantrel-smbfs.
    void listsARealMountedShare()
    {
        VANTREL_REQUIRE_SMBFS();
        test::MountedShare share;
        QVERIFY2(share.ok(), qPrintable(share.error));
        makeFile(share.serverFolder + QStringLiteral("/Reports/q1.txt"), "first quarter");
        makeFile(share.serverFolder + QStringLiteral("/b.txt"));
        makeFile(share.serverFolder + QStringLiteral("/.hidden"));
        makeFile(share.mountPoint + QStringLiteral("/a.txt"), "written through the mount");

        CacheManager cache{share.defaults, share.log, share.dir.filePath(QStringLiteral("cache")), &systemNow};
        FileSystemManager manager(QUrl::fromLocalFile(share.mountPoint), QUuid::createUuid(), cache, share.log);
        QCoro::waitFor(manager.refresh());
        QVERIFY(!manager.lastError());
        QVERIFY(!manager.isOfflineMode());
        QCOMPARE(names(manager.currentItems()), (QStringList{"Reports", "a.txt", "b.txt"}));
        QCOMPARE(manager.currentItems().at(1).size, 25);

        QCoro::waitFor(manager.navigate(QUrl::fromLocalFile(share.mountPoint + QStringLiteral("/Reports"))));
        QCOMPARE(names(manager.currentItems()), QStringList{"q1.txt"});
        QCOMPARE(manager.currentItems().first().size, 13);
        QVERIFY(!manager.isAtRoot());
    }

    // A frozen server still accepts connections but answers nothing: a listing that does not
    // come back within its bound counts as the share being unreachable, and the cache is listed.
    void frozenRealShareFallsBackToTheCacheWithinTheBound()
    {
        VANTREL_REQUIRE_SMBFS();
        test::MountedShare share;
        QVERIFY2(share.ok(), qPrintable(share.error));
        const auto thaw = qScopeGuard([&share] { share.server.thaw(); });
        makeFile(share.serverFolder + QStringLiteral("/Reports/q1.txt"), "first quarter");
        makeFile(share.serverFolder + QStringLiteral("/b.txt"), "kept offline");

        CacheManager cache{share.defaults, share.log, share.dir.filePath(QStringLiteral("cache")), &systemNow};
        FileSystemManager manager(QUrl::fromLocalFile(share.mountPoint), QUuid::createUuid(), cache, share.log);
        manager.listingTimeout = 1.0;
        QCoro::waitFor(manager.refresh());
        QCOMPARE(names(manager.currentItems()), (QStringList{"Reports", "b.txt"}));
        QTRY_COMPARE(cache.entries().size(), 1);

        share.server.freeze();
        QElapsedTimer clock;
        clock.start();
        QCoro::waitFor(manager.navigate(QUrl::fromLocalFile(share.mountPoint + QStringLiteral("/Reports"))));
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(manager.isOfflineMode());
        QVERIFY(manager.currentItems().isEmpty());
        QVERIFY(manager.lastError());
        QCoro::waitFor(manager.navigateUp());
        QCOMPARE(names(manager.currentItems()), QStringList{"b.txt"});
    }

    // Not a test: run with VANTREL_BENCHMARK=1 (in a Release build) to time a 20,000-file folder.
    // What counts is the main thread's own time: the listing and the look-ups run beside it.
    void benchmarkLargeFolder()
    {
        if (qEnvironmentVariableIsEmpty("VANTREL_BENCHMARK"))
            QSKIP("benchmark; set VANTREL_BENCHMARK=1");
        constexpr int count = 20000;
        Env env;
        QDir().mkpath(env.share());
        for (int i = 0; i < count; ++i)
            QFile(env.share() + QStringLiteral("/file%1.dat").arg(i)).open(QIODevice::WriteOnly);
        auto manager = env.make();

        QElapsedTimer wall;
        wall.start();
        qint64 cpu = mainThreadCpuMicroseconds();
        QCoro::waitFor(manager->refresh());
        QCOMPARE(manager->currentItems().size(), count);
        QTRY_COMPARE_WITH_TIMEOUT(env.cache.statistics().entryCount, count, 120000);
        QTRY_VERIFY(!env.cache.isProcessing());
        env.cache.waitForIndexWrites(); // the last copies' save is no part of a refresh
        qInfo("first listing, all files cached: %lld ms, main thread %lld ms", wall.elapsed(),
            (mainThreadCpuMicroseconds() - cpu) / 1000);

        for (int round = 0; round < 3; ++round) {
            const qint64 hits = env.cache.statistics().hitCount;
            wall.restart();
            cpu = mainThreadCpuMicroseconds();
            QCoro::waitFor(manager->refresh());
            QTRY_COMPARE_WITH_TIMEOUT(env.cache.statistics().hitCount, hits + count, 60000);
            const qint64 used = mainThreadCpuMicroseconds() - cpu;
            qInfo("unchanged folder listed again: %lld ms, main thread %.1f ms", wall.elapsed(), used / 1000.0);
#ifdef QT_NO_DEBUG
            QVERIFY(used < 50'000); // the timer refresh must not stall the window
#endif
        }
        QCOMPARE(manager->currentItems().size(), count);
    }
};

VANTREL_TEST_MAIN(TestFileSystemManager)
#include "tst_FileSystemManager.moc"
