#include "support/CapturingSystemLog.h"
#include "support/FileWorkGate.h"
#include "support/Files.h"
#include "support/TestMain.h"

#include "files/CacheFolder.h"
#include "files/CacheManager.h"
#include "platform/Encodings.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <memory>
#include <sys/stat.h>

#include <sys/stat.h>

using namespace vantrel;

namespace {

void writeFile(const QString& path, qint64 size, char fill = 'x')
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (size <= 4096)
        file.write(QByteArray(size, fill));
    else
        QVERIFY(file.resize(size)); // sparse: fast to make
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A private cache with its own settings, logger, folders and clock.
struct Env : test::LoggingFixture {
    QDateTime now = QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC);
    QUuid config = QUuid::fromString(QStringLiteral("{abcdef12-3456-7890-abcd-ef1234567890}"));

    QString share() const { return dir.filePath(QStringLiteral("share")); }
    QString cacheFolder() const { return dir.filePath(QStringLiteral("cache")); }

    std::unique_ptr<CacheManager> make()
    {
        return std::make_unique<CacheManager>(defaults, log, cacheFolder(), [this] { return now; });
    }
    std::optional<CacheEntry> cache(CacheManager& cache, const QString& relativePath, qint64 size)
    {
        const QString source = share() + u'/' + relativePath;
        if (!QFileInfo::exists(source))
            writeFile(source, size);
        return QCoro::waitFor(cache.cacheFile(QUrl::fromLocalFile(source), config, relativePath));
    }
    QStringList paths(const CacheManager& cache) const
    {
        QStringList result;
        for (const CacheEntry& entry : cache.entries())
            result.append(entry.relativePath);
        return result;
    }
};

} // namespace

class TestCacheManager : public QObject {
    Q_OBJECT

private slots:
    void singleFileLimitIsInclusive()
    {
        Env env;
        auto cache = env.make();
        const auto exact = env.cache(*cache, QStringLiteral("exact.bin"), CacheManager::maxSingleFileSize);
        QVERIFY(exact);
        QCOMPARE(exact->fileSize, 52428800);
        QCOMPARE(QFileInfo(exact->localURL.toLocalFile()).size(), 52428800);

        QVERIFY(!env.cache(*cache, QStringLiteral("big.bin"), CacheManager::maxSingleFileSize + 1));
        QVERIFY(env.systemLog.messages().contains(
            QStringLiteral("Skipping cache for large file (52428801 bytes): big.bin")));
        QCOMPARE(env.paths(*cache), QStringList{QStringLiteral("exact.bin")});
        QVERIFY(!cache->isProcessing());
    }

    void onlyRegularFilesAreCachedAndOthersDoNotHoldTheCacheUp()
    {
        Env env;
        auto cache = env.make();
        QDir().mkpath(env.share());
        QCOMPARE(::mkfifo(QFile::encodeName(env.share() + QStringLiteral("/pipe")).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), env.share() + QStringLiteral("/zero")));

        QCoro::Task<std::optional<CacheEntry>> pipe = cache->cacheFile(
            QUrl::fromLocalFile(env.share() + QStringLiteral("/pipe")), env.config, QStringLiteral("pipe"));
        QTRY_VERIFY_WITH_TIMEOUT(pipe.isReady(), 2000);
        QVERIFY(!QCoro::waitFor(pipe));
        QVERIFY(!env.cache(*cache, QStringLiteral("zero"), 0));
        QVERIFY(env.systemLog.messages().contains(
            QStringLiteral("Skipping cache for an item that is not a regular file: pipe")));
        QVERIFY(env.systemLog.messages().contains(
            QStringLiteral("Skipping cache for an item that is not a regular file: zero")));
        QVERIFY(env.cache(*cache, QStringLiteral("after.txt"), 5));
        QCOMPARE(env.paths(*cache), QStringList{QStringLiteral("after.txt")});

        // A pipe that takes the place of a file between its test and its copy is not copied either.
        QCOMPARE(CacheFolder::copyIn(env.share() + QStringLiteral("/pipe"),
                     env.cacheFolder() + QStringLiteral("/ABCDEF12/p"), env.cacheFolder()),
            env.share() + QStringLiteral("/pipe is not a regular file"));
        QVERIFY(!QFile::exists(env.cacheFolder() + QStringLiteral("/ABCDEF12/p")));

        // A copy onto its own source (a share reached through the cache folder) fails and keeps it.
        const QString own = env.cacheFolder() + QStringLiteral("/ABCDEF12/own.txt");
        writeFile(own, 4);
        QCOMPARE(CacheFolder::copyIn(own, own, env.cacheFolder()), own + QStringLiteral(" is the cached copy itself"));
        QCOMPARE(QFileInfo(own).size(), 4);
    }

    void copyGoesUnderTheConfigurationFolderAndRepeatsOnlyRefresh()
    {
        Env env;
        auto cache = env.make();
        const auto first = env.cache(*cache, QStringLiteral("Films/a.mkv"), 10);
        QVERIFY(first);
        QCOMPARE(first->localURL.toLocalFile(), env.cacheFolder() + QStringLiteral("/ABCDEF12/Films/a.mkv"));
        QCOMPARE(first->cachedAt, env.now);

        env.now = env.now.addSecs(60);
        writeFile(env.share() + QStringLiteral("/Films/a.mkv"), 10, 'y'); // changed on the share
        const auto second = env.cache(*cache, QStringLiteral("Films/a.mkv"), 10);
        QVERIFY(second);
        QCOMPARE(second->id, first->id);
        QCOMPARE(second->lastAccessedAt, env.now);
        QCOMPARE(second->cachedAt, first->cachedAt);
        QCOMPARE(cache->entries().size(), 1);
        QCOMPARE(readAll(first->localURL.toLocalFile()), QByteArray(10, 'x')); // not copied again

        // A name that looks like a placeholder is logged as it is.
        QVERIFY(env.cache(*cache, QStringLiteral("50%1 off.txt"), 10));
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Cached file: 50%1 off.txt (10 bytes)")));
    }

    void evictionRemovesLeastRecentlyAccessedUntilTheNewFileFits()
    {
        Env env;
        env.defaults.setValue(CacheManager::maxCacheSizeKey, 1200);
        auto cache = env.make();
        for (const char* name : {"a", "b", "c"}) {
            env.now = env.now.addSecs(1);
            QVERIFY(env.cache(*cache, QString::fromLatin1(name), 300));
        }
        env.now = env.now.addSecs(1);
        QVERIFY(env.cache(*cache, QStringLiteral("a"), 300)); // a is now the most recent

        // 900 + 300 = 1200 fits exactly: nothing goes.
        env.now = env.now.addSecs(1);
        QVERIFY(env.cache(*cache, QStringLiteral("d"), 300));
        QCOMPARE(cache->entries().size(), 4);
        QVERIFY(!env.systemLog.messages().join('\n').contains(QStringLiteral("Evicted")));

        // 1200 + 500 needs 500 freed: b (300) then c (300), oldest access first; a and d stay.
        env.now = env.now.addSecs(1);
        const QString bCopy = cache->cachedFilePath(env.config, QStringLiteral("b")).value();
        QVERIFY(env.cache(*cache, QStringLiteral("e"), 500));
        QCOMPARE(env.paths(*cache), (QStringList{"e", "d", "a"}));
        QVERIFY(!QFile::exists(bCopy));
        const QStringList messages = env.systemLog.messages();
        QVERIFY(messages.indexOf(QStringLiteral("Evicted cache entry (LRU): b"))
            < messages.indexOf(QStringLiteral("Evicted cache entry (LRU): c")));
        QVERIFY(messages.contains(QStringLiteral("LRU eviction: removed 2 entries")));
        QCOMPARE(cache->statistics().totalSize, 1100);
        QCOMPARE(cache->statistics().entryCount, 3);
    }

    void fileLargerThanTheWholeLimitEmptiesTheCacheAndIsStillCopied()
    {
        Env env;
        env.defaults.setValue(CacheManager::maxCacheSizeKey, 100);
        auto cache = env.make();
        QVERIFY(env.cache(*cache, QStringLiteral("small"), 50));
        QVERIFY(env.cache(*cache, QStringLiteral("large"), 300));
        QCOMPARE(env.paths(*cache), QStringList{QStringLiteral("large")});
        QCOMPARE(cache->statistics().maxSize, 100);

        env.defaults.setValue(CacheManager::maxCacheSizeKey, 12.5); // not a whole number
        QCOMPARE(cache->maxCacheSize(), CacheManager::defaultMaxSize);
    }

    // Each copy fits alone but not beside the other: the second waits for the first and evicts it,
    // so the cache never holds more than its limit, in the index or on disk.
    void copiesUnderWayKeepTheirRoomUntilDone()
    {
        Env env;
        env.defaults.setValue(CacheManager::maxCacheSizeKey, 1000);
        auto cache = env.make();
        const QString held = env.share() + QStringLiteral("/held");
        writeFile(held + QStringLiteral("/a"), 600);
        writeFile(env.share() + QStringLiteral("/b"), 600);
        test::FileWorkGate gate;
        gate.hold(held, 1); // a's source is examined; its copy is held

        QCoro::Task<std::optional<CacheEntry>> a = cache->cacheFile(QUrl::fromLocalFile(held + QStringLiteral("/a")),
            env.config, QStringLiteral("held/a"));
        QTRY_COMPARE(gate.waiting(held), 1);
        QVERIFY(cache->isProcessing());

        QCoro::Task<std::optional<CacheEntry>> b = cache->cacheFile(
            QUrl::fromLocalFile(env.share() + QStringLiteral("/b")), env.config, QStringLiteral("b"));
        QTest::qWait(50);
        QVERIFY(!b.isReady());
        QVERIFY(!QFile::exists(cache->cachedFilePath(env.config, QStringLiteral("b")).value()));

        gate.release(held);
        QTRY_VERIFY(a.isReady() && b.isReady());
        QVERIFY(QCoro::waitFor(a));
        QVERIFY(QCoro::waitFor(b));
        QCOMPARE(env.paths(*cache), QStringList{QStringLiteral("b")});
        QCOMPARE(cache->statistics().totalSize, 600);
        QVERIFY(!QFile::exists(cache->cachedFilePath(env.config, QStringLiteral("held/a")).value()));
        QVERIFY(!cache->isProcessing());
    }

    // Evictions count the copies under way as taken: neither a new file nor a lowered limit lets
    // the cache end up above its limit once they are done.
    void evictionLeavesRoomForTheCopiesUnderWay()
    {
        Env env;
        env.defaults.setValue(CacheManager::maxCacheSizeKey, 1000);
        auto cache = env.make();
        QVERIFY(env.cache(*cache, QStringLiteral("old"), 300));
        const QString oldCopy = cache->cachedFilePath(env.config, QStringLiteral("old")).value();
        const QString held = env.share() + QStringLiteral("/held");
        writeFile(held + QStringLiteral("/a"), 400);
        test::FileWorkGate gate;
        gate.hold(held, 1);
        QCoro::Task<std::optional<CacheEntry>> a = cache->cacheFile(QUrl::fromLocalFile(held + QStringLiteral("/a")),
            env.config, QStringLiteral("held/a"));
        QTRY_COMPARE(gate.waiting(held), 1);

        // old 300 + a 400 + b 400 exceed 1000 together: old goes, though without a it would fit.
        env.now = env.now.addSecs(1);
        QVERIFY(env.cache(*cache, QStringLiteral("b"), 400));
        QCOMPARE(env.paths(*cache), QStringList{QStringLiteral("b")});
        QVERIFY(!QFile::exists(oldCopy));

        // b 400 fits a limit of 700 alone, not beside a.
        env.defaults.setValue(CacheManager::maxCacheSizeKey, 700);
        QCoro::waitFor(cache->evictIfNeeded(0));
        QVERIFY(env.paths(*cache).isEmpty());

        gate.release(held);
        QTRY_VERIFY(a.isReady());
        QVERIFY(QCoro::waitFor(a));
        QCOMPARE(env.paths(*cache), QStringList{QStringLiteral("held/a")});
        QCOMPARE(cache->statistics().totalSize, 400);
    }

    void indexRoundTripsInItsStoredForm()
    {
        Env env;
        env.now = QDateTime::fromMSecsSinceEpoch(978307200000LL + 736500000250LL, Qt::UTC);
        std::optional<CacheEntry> entry;
        {
            auto cache = env.make();
            entry = env.cache(*cache, QStringLiteral("Dir/naïve file.txt"), 7);
            QVERIFY(entry);
            cache->waitForIndexWrites();
        }
        const QByteArray bytes = readAll(env.cacheFolder() + QStringLiteral("/cache-index.json"));
        const QJsonArray array = QJsonDocument::fromJson(bytes).array();
        QCOMPARE(array.size(), 1);
        const QJsonObject object = array.at(0).toObject();
        QCOMPARE(object.keys(),
            (QStringList{"cachedAt", "configID", "fileName", "fileSize", "id", "isDirectory", "lastAccessedAt",
                "localURL", "relativePath"}));
        QCOMPARE(object.value("cachedAt").toDouble(), 736500000.25);
        QCOMPARE(object.value("configID").toString(), QStringLiteral("ABCDEF12-3456-7890-ABCD-EF1234567890"));
        QCOMPARE(object.value("id").toString(), encoding::uuidText(entry->id));
        QVERIFY(bytes.contains("\"fileSize\": 7,"));
        QCOMPARE(object.value("localURL").toString(),
            QUrl::fromLocalFile(env.cacheFolder() + QStringLiteral("/ABCDEF12/Dir/naïve file.txt"))
                .toString(QUrl::FullyEncoded));
        QVERIFY(bytes.indexOf("\"cachedAt\"") < bytes.indexOf("\"relativePath\""));

        auto reloaded = env.make();
        QCOMPARE(reloaded->entries(), QList<CacheEntry>{*entry});
        QVERIFY(reloaded->isCached(env.config, QStringLiteral("Dir/naïve file.txt")));
        // Canonically equivalent spelling (decomposed ï) finds the same entry.
        QVERIFY(
            reloaded->isCached(env.config, QStringLiteral("Dir/nai") + QChar(0x0308) + QStringLiteral("ve file.txt")));
        QCOMPARE(reloaded->statistics().hitCount, 2);
        QVERIFY(!reloaded->isCached(env.config, QStringLiteral("dir/naïve file.txt")));
        QCOMPARE(reloaded->statistics().missCount, 1);
    }

    void copiesDeletedByHandAreDroppedAtLoad()
    {
        Env env;
        {
            auto cache = env.make();
            QVERIFY(env.cache(*cache, QStringLiteral("keep"), 5));
            QVERIFY(env.cache(*cache, QStringLiteral("gone1"), 5));
            QVERIFY(env.cache(*cache, QStringLiteral("gone2"), 5));
            cache->waitForIndexWrites();
            QVERIFY(QFile::remove(cache->cachedFilePath(env.config, QStringLiteral("gone1")).value()));
            QVERIFY(QFile::remove(cache->cachedFilePath(env.config, QStringLiteral("gone2")).value()));
        }
        auto cache = env.make();
        QCOMPARE(env.paths(*cache), QStringList{QStringLiteral("keep")});
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Removed 2 stale cache entries on load")));
        cache->waitForIndexWrites();
        QCOMPARE(QJsonDocument::fromJson(readAll(cache->indexFilePath())).array().size(), 1);
        QVERIFY(cache->corruptIndexCopyPath().isEmpty());
    }

    void theChangesOfOneTurnAreOneWriteAndTheLastIsNeverLost()
    {
        Env env;
        {
            auto cache = env.make();
            for (int i = 0; i < 30; ++i)
                QVERIFY(env.cache(*cache, QStringLiteral("f%1").arg(i), 5));
            QTest::qWait(0);
            QSignalSpy written(cache.get(), &CacheManager::entriesChanged);
            const QList<CacheEntry> all = cache->entries();
            for (int i = 0; i < 10; ++i)
                cache->removeEntry(all.at(i));
            QCOMPARE(cache->entries().size(), 20);
            QCOMPARE(written.size(), 0);
            QTRY_COMPARE(written.size(), 1);
            QCOMPARE(written.first().first().value<QList<CacheEntry>>(), cache->entries());
            // Changed right before the cache goes, the index on disk has it all the same.
            cache->removeEntry(all.at(10));
        }
        QCOMPARE(
            QJsonDocument::fromJson(readAll(env.cacheFolder() + QStringLiteral("/cache-index.json"))).array().size(),
            19);
    }

    // A large index takes a while to write: the changes made meanwhile, over many turns, take the
    // index from the cache once more when that write ends, not once per turn.
    void changesDuringAnIndexWriteAreTakenOnceItEnds()
    {
        Env env;
        auto cache = env.make();
        QVERIFY(env.cache(*cache, QStringLiteral("a"), 5));
        cache->waitForIndexWrites();
        const QString index = cache->indexFilePath();
        test::FileWorkGate gate;
        gate.hold(index);
        QSignalSpy taken(cache.get(), &CacheManager::entriesChanged);

        QVERIFY(env.cache(*cache, QStringLiteral("b"), 5));
        QTRY_COMPARE(gate.waiting(index), 1);
        for (int i = 0; i < 10; ++i)
            QVERIFY(env.cache(*cache, QStringLiteral("c%1").arg(i), 5));
        QTest::qWait(0);
        QCOMPARE(taken.size(), 1);

        gate.release(index);
        QTRY_COMPARE(taken.size(), 2);
        QCOMPARE(taken.last().first().value<QList<CacheEntry>>().size(), 12);
        cache->waitForIndexWrites();
        QCOMPARE(QJsonDocument::fromJson(readAll(index)).array().size(), 12);
        QCOMPARE(taken.size(), 2);
    }

    void missingOrEmptyIndexGivesAnEmptyCacheSilently()
    {
        Env env;
        {
            auto cache = env.make();
            QVERIFY(cache->entries().isEmpty());
            QVERIFY(QFileInfo(env.cacheFolder()).isDir());
        }
        writeFile(env.cacheFolder() + QStringLiteral("/cache-index.json"), 0);
        QFile file(env.cacheFolder() + QStringLiteral("/cache-index.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[]");
        file.close();
        auto cache = env.make();
        QVERIFY(cache->entries().isEmpty());
        QVERIFY(env.systemLog.messages().filter(QStringLiteral("cache index")).isEmpty());
    }

    void unreadableIndexIsKeptAsideNotOverwritten_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("[{ broken");
        QTest::newRow("object, not array") << QByteArray("{}");
        QTest::newRow("size as text") << QByteArray(
            "[{\"cachedAt\":1,\"configID\":\"ABCDEF12-3456-7890-ABCD-EF1234567890\","
            "\"fileName\":\"a\",\"fileSize\":\"7\",\"id\":\"ABCDEF12-3456-7890-ABCD-EF1234567891\","
            "\"isDirectory\":false,\"lastAccessedAt\":1,\"localURL\":\"file:///x/a\",\"relativePath\":\"a\"}]");
        QTest::newRow("missing key") << QByteArray(
            "[{\"cachedAt\":1,\"configID\":\"ABCDEF12-3456-7890-ABCD-EF1234567890\","
            "\"fileName\":\"a\",\"fileSize\":7,\"id\":\"ABCDEF12-3456-7890-ABCD-EF1234567891\","
            "\"lastAccessedAt\":1,\"localURL\":\"file:///x/a\",\"relativePath\":\"a\"}]");
    }

    void unreadableIndexIsKeptAsideNotOverwritten()
    {
        QFETCH(QByteArray, content);
        Env env;
        QDir().mkpath(env.cacheFolder());
        QFile file(env.cacheFolder() + QStringLiteral("/cache-index.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();

        auto cache = env.make();
        QVERIFY(cache->entries().isEmpty());
        QVERIFY(!env.systemLog.messages().filter(QStringLiteral("Failed to load cache index: ")).isEmpty());
        QVERIFY(!cache->corruptIndexCopyPath().isEmpty());
        QCOMPARE(readAll(cache->corruptIndexCopyPath()), content);

        QVERIFY(env.cache(*cache, QStringLiteral("new"), 3));
        cache->waitForIndexWrites();
        QCOMPARE(readAll(cache->corruptIndexCopyPath()), content);
        QCOMPARE(QJsonDocument::fromJson(readAll(cache->indexFilePath())).array().size(), 1);
    }

    void hostileIndexCannotReachOutsideTheCache()
    {
        Env env;
        const QString victim = env.dir.filePath(QStringLiteral("victim.txt"));
        writeFile(victim, 6, 'v');
        const QString outsideFolder = env.dir.filePath(QStringLiteral("outside"));
        writeFile(outsideFolder + QStringLiteral("/secret.txt"), 6, 's');
        QDir().mkpath(env.cacheFolder() + QStringLiteral("/ABCDEF12"));
        // A linked folder inside the cache that leads outside it.
        QVERIFY(QFile::link(outsideFolder, env.cacheFolder() + QStringLiteral("/ABCDEF12/linked")));

        const auto entry = [&](const QString& relativePath, const QString& localPath, const char* id) {
            QJsonObject o;
            o.insert("cachedAt", 700000000.0);
            o.insert("lastAccessedAt", 700000000.0);
            o.insert("configID", encoding::uuidText(env.config));
            o.insert("id", QString::fromLatin1(id));
            o.insert("fileName", QFileInfo(relativePath).fileName());
            o.insert("fileSize", 6);
            o.insert("isDirectory", false);
            o.insert("localURL", QUrl::fromLocalFile(localPath).toString(QUrl::FullyEncoded));
            o.insert("relativePath", relativePath);
            return o;
        };
        QJsonArray hostile;
        hostile.append(entry(QStringLiteral("../../victim.txt"),
            env.cacheFolder() + QStringLiteral("/ABCDEF12/../../victim.txt"), "00000000-0000-0000-0000-000000000001"));
        hostile.append(entry(QStringLiteral("victim.txt"), victim, "00000000-0000-0000-0000-000000000002"));
        hostile.append(entry(QStringLiteral("/etc/passwd"), QStringLiteral("/etc/passwd"),
            "00000000-0000-0000-0000-000000000003"));
        hostile.append(entry(QStringLiteral("linked/secret.txt"),
            env.cacheFolder() + QStringLiteral("/ABCDEF12/linked/secret.txt"), "00000000-0000-0000-0000-000000000004"));
        QFile file(env.cacheFolder() + QStringLiteral("/cache-index.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(hostile).toJson());
        file.close();

        env.defaults.setValue(CacheManager::maxCacheSizeKey, 1);
        auto cache = env.make();
        QVERIFY(cache->entries().isEmpty());
        QVERIFY(!cache->corruptIndexCopyPath().isEmpty()); // the edited index is kept for inspection
        QVERIFY(!cache->isCached(env.config, QStringLiteral("linked/secret.txt")));
        QCOMPARE(QCoro::waitFor(cache->uncachedPaths(env.config, {QStringLiteral("linked/secret.txt")})),
            QStringList{QStringLiteral("linked/secret.txt")});

        // Copies are refused where the path would leave the cache, or a link would carry it out.
        writeFile(env.share() + QStringLiteral("/x.txt"), 3);
        const QUrl source = QUrl::fromLocalFile(env.share() + QStringLiteral("/x.txt"));
        QVERIFY(!QCoro::waitFor(cache->cacheFile(source, env.config, QStringLiteral("../../victim.txt"))));
        QVERIFY(!QCoro::waitFor(cache->cacheFile(source, env.config, QStringLiteral("linked/secret.txt"))));
        QVERIFY(!QCoro::waitFor(cache->cacheFile(source, env.config, QStringLiteral("/tmp/x.txt"))));

        QCOMPARE(QCoro::waitFor(cache->cacheFile(source, env.config, QStringLiteral("ok.txt"))).has_value(), true);
        QCoro::waitFor(cache->evictIfNeeded(0));
        QCoro::waitFor(cache->clearAllCache());
        QCOMPARE(readAll(victim), QByteArray("vvvvvv"));
        QCOMPARE(readAll(outsideFolder + QStringLiteral("/secret.txt")), QByteArray("ssssss"));
    }

    void clearingAChosenFolderRemovesOnlyWhatTheCacheOwns()
    {
        Env env;
        const QString chosen = env.dir.filePath(QStringLiteral("Documents"));
        writeFile(chosen + QStringLiteral("/notes.txt"), 4);
        writeFile(chosen + QStringLiteral("/Photos/p.jpg"), 4);
        writeFile(chosen + QStringLiteral("/ABCDEF12/mine.txt"), 4); // a user's folder that looks like ours
        QDir().mkpath(chosen + QStringLiteral("/EmptyOfMine"));
        env.defaults.setValue(CacheManager::cacheLocationKey, chosen);

        auto cache = env.make();
        QVERIFY(env.cache(*cache, QStringLiteral("Films/2020/a.mkv"), 5));
        QVERIFY(env.cache(*cache, QStringLiteral("b.txt"), 5));
        QVERIFY(QFile::exists(chosen + QStringLiteral("/ABCDEF12/Films/2020/a.mkv")));
        QCoro::waitFor(cache->uncachedPaths(env.config, {QStringLiteral("b.txt"), QStringLiteral("c.txt")}));
        QCOMPARE(cache->statistics().hitCount, 1);

        QCoro::waitFor(cache->clearAllCache());
        cache->waitForIndexWrites();
        QVERIFY(QFile::exists(chosen + QStringLiteral("/notes.txt")));
        QVERIFY(QFile::exists(chosen + QStringLiteral("/Photos/p.jpg")));
        QVERIFY(QFile::exists(chosen + QStringLiteral("/ABCDEF12/mine.txt")));
        QVERIFY(QFileInfo(chosen + QStringLiteral("/EmptyOfMine")).isDir());
        QVERIFY(!QFile::exists(chosen + QStringLiteral("/ABCDEF12/b.txt")));
        QVERIFY(!QFile::exists(chosen + QStringLiteral("/ABCDEF12/Films")));
        QCOMPARE(QJsonDocument::fromJson(readAll(chosen + QStringLiteral("/cache-index.json"))).array(), QJsonArray());
        QCOMPARE(cache->statistics(), (CacheStatistics{0, 0, CacheManager::defaultMaxSize, 0, 0}));

        // The default folder is the cache's own: clearing empties it.
        env.defaults.setValue(CacheManager::cacheLocationKey, QString());
        QVERIFY(env.cache(*cache, QStringLiteral("c.txt"), 5));
        writeFile(env.cacheFolder() + QStringLiteral("/ABCDEF12/orphan"), 1);
        QCoro::waitFor(cache->clearAllCache());
        cache->waitForIndexWrites();
        QCOMPARE(QDir(env.cacheFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("cache-index.json")});
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Cleared all cache")));
    }

    void vanishedCopyIsCopiedAgain()
    {
        Env env;
        auto cache = env.make();
        const auto first = env.cache(*cache, QStringLiteral("a.txt"), 4);
        QVERIFY(first);
        QVERIFY(QFile::remove(first->localURL.toLocalFile()));
        QVERIFY(!cache->isCached(env.config, QStringLiteral("a.txt")));
        const auto second = env.cache(*cache, QStringLiteral("a.txt"), 4);
        QVERIFY(second);
        QVERIFY(QFile::exists(second->localURL.toLocalFile()));
        QCOMPARE(cache->entries().size(), 1);
        QVERIFY(cache->isCached(env.config, QStringLiteral("a.txt")));
    }

    void removeEntryDeletesTheCopyAndItsEmptyConfigurationFolderGoesOnEviction()
    {
        Env env;
        env.defaults.setValue(CacheManager::maxCacheSizeKey, 10);
        auto cache = env.make();
        const auto a = env.cache(*cache, QStringLiteral("a"), 4);
        QVERIFY(a);
        cache->removeEntry(*a);
        QVERIFY(!QFile::exists(a->localURL.toLocalFile()));
        QVERIFY(cache->entries().isEmpty());
        QVERIFY(env.systemLog.messages().contains(QStringLiteral("Removed cache entry: a")));

        const auto b = env.cache(*cache, QStringLiteral("b"), 8);
        QVERIFY(b);
        const QUuid other = QUuid::createUuid();
        writeFile(env.share() + QStringLiteral("/c"), 8);
        QVERIFY(QCoro::waitFor(cache->cacheFile(QUrl::fromLocalFile(env.share() + QStringLiteral("/c")), other, "c")));
        QVERIFY(!QFileInfo::exists(env.cacheFolder() + QStringLiteral("/ABCDEF12")));
    }

    // Copies of the user's files and what describes them are the user's alone, whatever the
    // source allowed.
    void cacheFilesAreOwnerOnly()
    {
        Env env;
        auto cache = env.make();
        writeFile(env.share() + QStringLiteral("/Films/open.txt"), 4);
        QVERIFY(
            QFile::setPermissions(env.share() + QStringLiteral("/Films/open.txt"), QFileDevice::Permissions(0x6644)));
        const auto entry = env.cache(*cache, QStringLiteral("Films/open.txt"), 4);
        QVERIFY(entry);
        cache->waitForIndexWrites();
        for (const QString& path : {env.cacheFolder(), env.cacheFolder() + QStringLiteral("/ABCDEF12"),
                 env.cacheFolder() + QStringLiteral("/ABCDEF12/Films"), entry->localURL.toLocalFile(),
                 cache->indexFilePath()})
            QVERIFY2(test::isOwnerOnly(path), qPrintable(path));
    }

    void pipeInPlaceOfTheIndexIsKeptAsideWithoutWaiting()
    {
        Env env;
        QVERIFY(QDir().mkpath(env.cacheFolder()));
        const QString index = env.cacheFolder() + QStringLiteral("/cache-index.json");
        QCOMPARE(::mkfifo(QFile::encodeName(index).constData(), 0600), 0);
        auto cache = env.make();
        QVERIFY(cache->entries().isEmpty());
        QVERIFY(!cache->corruptIndexCopyPath().isEmpty());
        QVERIFY(!env.systemLog.messages().filter(QStringLiteral("it is not a regular file")).isEmpty());
        QVERIFY(env.cache(*cache, QStringLiteral("new"), 3));
        cache->waitForIndexWrites();
        QCOMPARE(QJsonDocument::fromJson(readAll(index)).array().size(), 1);
    }
};

VANTREL_TEST_MAIN(TestCacheManager)
#include "tst_CacheManager.moc"
