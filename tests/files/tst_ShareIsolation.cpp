#include "support/FileWorkGate.h"
#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "files/CacheDirectoryManager.h"
#include "files/CacheManager.h"
#include "files/FileSystemManager.h"
#include "files/RecentFilesTracker.h"
#include "files/TransferManager.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/DiskSpace.h"
#include "platform/NotificationCenter.h"
#include "platform/Threading.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>

#include <memory>
#include <vector>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

void writeFile(const QString& path, const QByteArray& content = "data")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QUrl fileUrl(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

// Two shares (one of which the test holds, as a share that stopped answering), a local cache and a
// local downloads folder, with the managers a browser window and the application run on them.
struct Env : test::LoggingFixture {
    QString hung = dir.filePath(QStringLiteral("Hung"));
    QString healthy = dir.filePath(QStringLiteral("Healthy"));
    QString local = dir.filePath(QStringLiteral("Downloads"));
    CacheManager cache{defaults, log, dir.filePath(QStringLiteral("cache")), &CacheManager::systemNow};
    CacheDirectoryManager cleanup{defaults, log, cache, DiskSpace::system(), &CacheManager::systemNow};
    NotificationPreferences preferences{defaults};
    NotificationCenter center{QDBusConnection::sessionBus()};
    NotificationService notifications{center, preferences, log};
    RecentFilesTracker recents{defaults, log};
    QUuid hungConfig = QUuid::createUuid();
    QUuid healthyConfig = QUuid::createUuid();
    test::FileWorkGate gate;

    Env()
    {
        QDir().mkpath(hung);
        QDir().mkpath(healthy);
        QDir().mkpath(local);
        declareShareRoot(hung);
        declareShareRoot(healthy);
    }
    ~Env()
    {
        gate.release(hung);
        waitForFileWork();
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
            writeFile(env.hung + QStringLiteral("/folder%1/x.txt").arg(i));
        writeFile(env.healthy + QStringLiteral("/a.txt"), "healthy a");
        writeFile(env.healthy + QStringLiteral("/b.txt"), "healthy b");
        writeFile(env.local + QStringLiteral("/up.txt"), "upload");

        // The user keeps clicking through the hung share: every listing blocks a thread there.
        env.gate.hold(env.hung);
        auto stuck = env.browser(env.hung, env.hungConfig);
        std::vector<QCoro::Task<>> stuckLoads;
        for (int i = 0; i < 12; ++i)
            stuckLoads.push_back(stuck->navigate(fileUrl(env.hung + QStringLiteral("/folder%1").arg(i))));
        QTRY_VERIFY(env.gate.waiting(env.hung) >= 1);

        // The healthy share lists and caches, the cache cleans up and reads its free space.
        auto browser = env.browser(env.healthy, env.healthyConfig);
        QCoro::Task<> listing = browser->refresh();
        QTRY_VERIFY_WITH_TIMEOUT(listing.isReady(), 2000);
        QCOMPARE(browser->currentItems().size(), 2);
        QVERIFY(!browser->isOfflineMode());
        QTRY_COMPARE_WITH_TIMEOUT(env.cachedPaths(env.healthyConfig), (QStringList{"a.txt", "b.txt"}), 2000);
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
};

VANTREL_TEST_MAIN(TestShareIsolation)
#include "tst_ShareIsolation.moc"
