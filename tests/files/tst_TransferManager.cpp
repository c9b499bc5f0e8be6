#include "support/CapturingSystemLog.h"
#include "support/TestMain.h"

#include "files/RecentFilesTracker.h"
#include "files/TransferManager.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/FileWork.h"
#include "platform/NotificationCenter.h"
#include "support/FileWorkGate.h"
#include "support/Fixtures.h"
#include "support/MountedShare.h"
#include "support/NotificationServerStandIn.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

constexpr qint64 MiB = 1048576;

QByteArray randomBytes(qint64 size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator rng(static_cast<quint32>(size));
    for (qint64 i = 0; i < size; ++i)
        data[i] = static_cast<char>(rng.generate() & 0xff);
    return data;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A source that delivers its bytes only when the test says so, as a share in the middle of a
// slow file does: an empty regular file whose reads (through slowReads) come from a pipe that the
// test feeds from a thread.
class SlowSource {
public:
    explicit SlowSource(const QString& path)
    {
        QFile file(path);
        int ends[2] = {-1, -1};
        struct stat info {};
        m_ok = file.open(QIODevice::WriteOnly) && ::stat(QFile::encodeName(path).constData(), &info) == 0
            && ::pipe2(ends, O_CLOEXEC) == 0;
        m_readEnd = ends[0];
        m_fd = ends[1];
        m_file = {info.st_dev, info.st_ino};
        QMutexLocker lock(&registryLock());
        registry().insert(m_file, m_readEnd);
    }
    ~SlowSource()
    {
        finish();
        QMutexLocker lock(&registryLock());
        registry().remove(m_file);
        if (m_readEnd >= 0)
            ::close(m_readEnd);
    }
    bool ok() const { return m_ok; }

    void feed(const QByteArray& data)
    {
        join();
        m_written += data;
        m_thread = std::thread([this, data] {
            const char* p = data.constData();
            qint64 left = data.size();
            while (left > 0) {
                const ssize_t n = ::write(m_fd, p, static_cast<size_t>(left));
                if (n <= 0)
                    return;
                p += n;
                left -= n;
            }
        });
    }
    // The end of the file.
    void finish()
    {
        join();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    QByteArray written() const { return m_written; }

    // The manager's reads: those of a slow source's file come from its pipe.
    static ssize_t slowReads(int fd, char* buffer, size_t size)
    {
        struct stat info {};
        int pipe = -1;
        if (::fstat(fd, &info) == 0) {
            QMutexLocker lock(&registryLock());
            pipe = registry().value({info.st_dev, info.st_ino}, -1);
        }
        return ::read(pipe >= 0 ? pipe : fd, buffer, size);
    }

private:
    using FileKey = std::pair<dev_t, ino_t>;
    static QMutex& registryLock()
    {
        static QMutex lock;
        return lock;
    }
    static QHash<FileKey, int>& registry()
    {
        static QHash<FileKey, int> sources;
        return sources;
    }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool m_ok = false;
    int m_readEnd = -1;
    int m_fd = -1;
    FileKey m_file;
    std::thread m_thread;
    QByteArray m_written;
};

// Whether `action` returns while the work it must not wait for stays blocked. Should it wait after
// all, `unblock` lets the work go from another thread after a while, so the test fails instead of
// hanging; no clock decides a passing run.
bool returnsWhileBlocked(const std::function<void()>& action, const std::function<void()>& unblock)
{
    std::mutex lock;
    std::condition_variable returned;
    bool done = false;
    bool rescued = false;
    std::thread watchdog([&] {
        std::unique_lock held(lock);
        if (!returned.wait_for(held, 10s, [&] { return done; })) {
            rescued = true;
            held.unlock();
            unblock();
        }
    });
    action();
    {
        const std::lock_guard held(lock);
        done = true;
    }
    returned.notify_one();
    watchdog.join();
    return !rescued;
}

} // namespace

class TestTransferManager : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<test::Logging> m_logging;
    std::unique_ptr<NotificationPreferences> m_prefs;
    std::unique_ptr<NotificationCenter> m_center;
    std::unique_ptr<NotificationService> m_notifications;
    std::unique_ptr<RecentFilesTracker> m_recents;
    std::unique_ptr<TransferManager> m_manager;

    QString src(const QString& name) const { return m_dir->filePath("share/" + name); }
    QString dst(const QString& name) const { return m_dir->filePath("local/" + name); }
    QUrl localFolder() const { return QUrl::fromLocalFile(m_dir->filePath("local")); }
    TransferTask task(int i) const { return m_manager->tasks().at(i); }
    TransferStatus status(int i) const { return task(i).status; }

    // Posting fails without a notification server, and the failure names the request: the log
    // shows which completions were announced.
    QStringList announced() const
    {
        QStringList ids;
        for (const QString& line : m_logging->systemLog.messages()) {
            if (line.startsWith(QStringLiteral("Failed to schedule notification 'transfer-completed-"))
                || line.startsWith(QStringLiteral("Failed to schedule notification 'transfers-")))
                ids << line.section(u'\'', 1, 1);
        }
        return ids;
    }

    // Copies share/big.bin into the folder through the manager; the wall time in *seconds.
    void timeManager(const QString& folder, qint64 size, double* seconds)
    {
        QVERIFY(QDir().mkpath(folder));
        const qsizetype index = m_manager->tasks().size();
        QEventLoop loop;
        connect(m_manager.get(), &TransferManager::tasksChanged, &loop, [&] {
            if (m_manager->tasks().size() > index && m_manager->tasks().at(index).status != TransferStatus::pending
                && m_manager->tasks().at(index).status != TransferStatus::running)
                loop.quit();
        });
        QTimer::singleShot(110'000, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        m_manager->addDownload(QUrl::fromLocalFile(src("big.bin")), QUrl::fromLocalFile(folder));
        loop.exec();
        *seconds = t.nsecsElapsed() / 1e9;
        QCOMPARE(m_manager->tasks().at(index).status, TransferStatus::completed);
        QCOMPARE(QFileInfo(folder + "/big.bin").size(), size);
    }

private slots:
    void initTestCase()
    {
        // A write past the file-size limit must fail, not kill the test.
        std::signal(SIGXFSZ, SIG_IGN);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(m_dir->filePath("share")));
        QVERIFY(QDir().mkpath(m_dir->filePath("local")));
        m_logging = std::make_unique<test::Logging>(m_dir->path());
        m_prefs = std::make_unique<NotificationPreferences>(m_logging->defaults);
        m_center = std::make_unique<NotificationCenter>(QDBusConnection::sessionBus());
        m_notifications = std::make_unique<NotificationService>(*m_center, *m_prefs, m_logging->log);
        m_notifications->triggerDelay = 0ms;
        m_recents = std::make_unique<RecentFilesTracker>(m_logging->defaults, m_logging->log);
        m_manager = std::make_unique<TransferManager>(*m_recents, *m_notifications);
        m_manager->pauseCheckInterval = 10ms;
    }

    void cleanup()
    {
        m_manager.reset();
        m_recents.reset();
        m_notifications.reset();
        m_center.reset();
        m_prefs.reset();
        m_logging.reset();
        m_dir.reset();
    }

    void runsInOrderOneAtATimeAndPublishesItsProgress()
    {
        const QByteArray a = randomBytes(5 * MiB / 2), b = randomBytes(MiB), c;
        QVERIFY(writeFile(src("a.bin"), a) && writeFile(src("b.bin"), b) && writeFile(src("c.bin"), c));
        QVERIFY(writeFile(dst("a.bin"), "an older local file"));
        QList<QList<TransferTask>> snapshots;
        connect(m_manager.get(), &TransferManager::tasksChanged, m_manager.get(),
            [&] { snapshots << m_manager->tasks(); });

        for (const char* name : {"a.bin", "b.bin", "c.bin"})
            m_manager->addDownload(QUrl::fromLocalFile(src(name)), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 3);
        QCOMPARE(task(0).destinationURL, QUrl::fromLocalFile(dst("a.bin")));
        QCOMPARE(task(0).totalBytes, a.size());
        QTRY_VERIFY(!m_manager->isProcessing());

        for (int i = 0; i < 3; ++i)
            QCOMPARE(status(i), TransferStatus::completed);
        QCOMPARE(readFile(dst("a.bin")), a);
        QCOMPARE(readFile(dst("b.bin")), b);
        QCOMPARE(readFile(dst("c.bin")), c);
        QCOMPARE(m_manager->totalBytesTransferred(), a.size() + b.size());

        // Never two at once, each started after the one before it had ended; the first task's count
        // moved a chunk at a time (publications gather what happened in between).
        for (int i = 1; i < 3; ++i)
            QVERIFY(*task(i).startDate >= *task(i - 1).endDate);
        QList<qint64> progressOfFirst;
        for (const auto& snapshot : snapshots) {
            int running = 0;
            for (const TransferTask& t : snapshot)
                running += t.status == TransferStatus::running ? 1 : 0;
            QVERIFY(running <= 1);
            if (!snapshot.isEmpty() && snapshot.at(0).status == TransferStatus::running)
                progressOfFirst << snapshot.at(0).bytesTransferred;
        }
        QVERIFY(!progressOfFirst.isEmpty());
        QVERIFY(std::is_sorted(progressOfFirst.cbegin(), progressOfFirst.cend()));
        for (const qint64 copied : progressOfFirst)
            QVERIFY(copied % MiB == 0 || copied == a.size());

        // The completions are announced: the first by its name, unless the count of the run came
        // first; the download that finished last leads the recent files.
        QTRY_VERIFY(!announced().isEmpty());
        QVERIFY(announced().at(0).startsWith(QStringLiteral("transfer-completed-a.bin-"))
            || announced().at(0).startsWith(QStringLiteral("transfers-")));
        QCOMPARE(m_recents->recentFiles().first().url, QUrl::fromLocalFile(dst("c.bin")));
        QCOMPARE(m_recents->recentFiles().first().name, QStringLiteral("c.bin"));

        // An upload is neither a recent file nor different otherwise.
        QVERIFY(writeFile(m_dir->filePath("up.txt"), "up"));
        m_manager->addUpload(QUrl::fromLocalFile(m_dir->filePath("up.txt")),
            QUrl::fromLocalFile(m_dir->filePath("share")));
        QTRY_COMPARE(m_manager->tasks().size(), 4);
        QTRY_COMPARE(status(3), TransferStatus::completed);
        QCOMPARE(task(3).direction, TransferDirection::upload);
        QCOMPARE(readFile(src("up.txt")), QByteArray("up"));
        QCOMPARE(m_recents->recentFiles().size(), 3);

        m_manager->clearCompleted();
        QVERIFY(m_manager->tasks().isEmpty());
    }

    // A run of many small files shows one notice that counts them, posted a few times at most; a
    // single file of a later run still gets its own notice with its name.
    void aRunOfManyFilesIsAnnouncedInOneNotice()
    {
        test::ServerHost host;
        QVERIFY(host.ok());
        m_notifications->triggerDelay = 300ms;
        m_manager->syncFile = [](int) { return 0; };
        constexpr int count = 300;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("f%1.bin").arg(i);
            QVERIFY(writeFile(src(name), "small"));
            m_manager->addDownload(QUrl::fromLocalFile(src(name)), localFolder(), 5);
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_manager->tasks().size() == count && !m_manager->isProcessing(), 30000);
        QTRY_COMPARE(host.server().onScreen().values(), QStringList{QStringLiteral("300 个文件已下载到本地")});
        QTest::qWait(400);
        const QList<test::NotifyCall> calls = host.server().calls();
        QVERIFY2(calls.size() <= 6, qPrintable(QString::number(calls.size())));
        QCOMPARE(calls.last().summary, QStringLiteral("下载完成"));
        QCOMPARE(host.server().onScreen().size(), 1);

        QVERIFY(writeFile(m_dir->filePath("up.txt"), "up"));
        m_manager->addUpload(QUrl::fromLocalFile(m_dir->filePath("up.txt")),
            QUrl::fromLocalFile(m_dir->filePath("share")));
        QTRY_COMPARE(host.server().onScreen().size(), 2);
        QCOMPARE(host.server().calls().last().summary, QStringLiteral("上传完成"));
        QCOMPARE(host.server().calls().last().body, QStringLiteral("up.txt 已上传到 NAS"));
    }

    // The first file of a run is announced by its name; one finishing after it in the same run
    // turns that notice into the run's count, even when it is the only one since.
    void aLaterFileOfTheRunReplacesTheNameByTheCount()
    {
        test::ServerHost host;
        QVERIFY(host.ok());
        test::FileWorkGate gate;
        gate.hold(dst("b.bin"));
        QVERIFY(writeFile(src("a.bin"), "a") && writeFile(src("b.bin"), "b"));
        m_manager->addDownload(QUrl::fromLocalFile(src("a.bin")), localFolder());
        m_manager->addDownload(QUrl::fromLocalFile(src("b.bin")), localFolder());
        QTRY_COMPARE(host.server().onScreen().values(), QStringList{QStringLiteral("a.bin 已下载到本地")});
        QTRY_COMPARE(gate.waiting(dst("b.bin")), 1);
        QVERIFY(m_manager->isProcessing());

        gate.release(dst("b.bin"));
        QTRY_COMPARE(host.server().onScreen().values(), QStringList{QStringLiteral("2 个文件已下载到本地")});
        QCOMPARE(host.server().calls().last().summary, QStringLiteral("下载完成"));
        QTRY_VERIFY(!m_manager->isProcessing());
    }

    // A folder of thousands of files is queued in one go: its tasks are published together, a
    // slice per event-loop turn, never once per task, and each publication names what it added.
    void thousandsOfAddsArePublishedTogether()
    {
        test::FileWorkGate gate;
        gate.hold(dst("f0.bin")); // the first copy waits; the others stay pending
        m_manager->publishInterval = 0ms;
        QSignalSpy published(m_manager.get(), &TransferManager::tasksChanged);
        QList<QUuid> added;
        const QMetaObject::Connection adding = connect(m_manager.get(), &TransferManager::tasksUpdated, m_manager.get(),
            [&](const TransferChanges& changes) {
                added << changes.added;
                QVERIFY(changes.removed.isEmpty());
                for (const QUuid& id : changes.changed)
                    QVERIFY(!added.contains(id) || id == added.first());
            });
        constexpr int count = 5000;
        for (int i = 0; i < count; ++i)
            m_manager->addDownload(QUrl::fromLocalFile(src(QStringLiteral("f%1.bin").arg(i))), localFolder(), 10);
        QTRY_COMPARE(m_manager->tasks().size(), count);
        QTRY_COMPARE(added.size(), count);
        QVERIFY2(published.size() <= 40, qPrintable(QString::number(published.size())));
        QList<QUuid> ids;
        for (const TransferTask& t : m_manager->tasks())
            ids << t.id;
        QCOMPARE(added, ids);
        QCOMPARE(m_manager->task(ids.at(4321))->sourceURL, QUrl::fromLocalFile(src(QStringLiteral("f4321.bin"))));
        QVERIFY(!m_manager->task(QUuid::createUuid()));

        // One task's change afterwards is published alone.
        QTRY_COMPARE(status(0), TransferStatus::running);
        QTest::qWait(20);
        disconnect(adding);
        QList<TransferChanges> later;
        connect(m_manager.get(), &TransferManager::tasksUpdated, m_manager.get(),
            [&](const TransferChanges& changes) { later << changes; });
        m_manager->cancel(ids.at(2500));
        QTRY_COMPARE(later.size(), 1);
        QCOMPARE(later.first().changed, QList<QUuid>{ids.at(2500)});
        QVERIFY(later.first().added.isEmpty() && later.first().removed.isEmpty());

        // Clearing names what went.
        m_manager->clearCompleted();
        QTRY_COMPARE(later.size(), 2);
        QCOMPARE(later.last().removed, QList<QUuid>{ids.at(2500)});
        QCOMPARE(m_manager->tasks().size(), count - 1);
        QCOMPARE(m_manager->task(ids.at(2501))->sourceURL, QUrl::fromLocalFile(src(QStringLiteral("f2501.bin"))));
        m_manager.reset();
        gate.release(dst("f0.bin"));
        waitForFileWork();
    }

    void anUploadThatNeverComesGivesTheMovedFileItsNameBack_data()
    {
        QTest::addColumn<QString>("ending");
        for (const char* ending : {"failed, then cleared", "failed, then the queue gone", "queue gone while sizing"})
            QTest::newRow(ending) << QString::fromLatin1(ending);
    }

    void anUploadThatNeverComesGivesTheMovedFileItsNameBack()
    {
        QFETCH(QString, ending);
        const QString name = src(QStringLiteral("report.pdf"));
        const QString aside = src(QStringLiteral("report (1).pdf"));
        const QString source = dst(QStringLiteral("report.pdf")); // missing: the upload fails
        QVERIFY(writeFile(aside, "old"));
        const QUrl upload = QUrl::fromLocalFile(source);
        const QUrl folder = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("share")));
        test::FileWorkGate gate;
        if (ending == QStringLiteral("queue gone while sizing")) {
            QVERIFY(writeFile(source, "new"));
            gate.hold(source);
            m_manager->addUpload(upload, folder, aside);
            QTRY_COMPARE(gate.waiting(source), 1);
            m_manager.reset();
            gate.release(source);
        } else {
            m_manager->addUpload(upload, folder, aside);
            QTRY_VERIFY(!m_manager->tasks().isEmpty() && m_manager->tasks().first().status == TransferStatus::failed);
            waitForFileWork();
            // Still retryable: the name waits for it.
            QVERIFY(!QFileInfo::exists(name));
            if (ending == QStringLiteral("failed, then cleared"))
                m_manager->clearCompleted();
            else
                m_manager.reset();
        }
        waitForFileWork();
        QCOMPARE(readFile(name), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(aside));
    }

    // A task made pending again keeps its place in the queue: it runs before those behind it.
    void aRetriedTaskRunsBeforeTheOnesBehindIt()
    {
        m_manager->readSource = &SlowSource::slowReads;
        SlowSource slow(src("slow.bin"));
        QVERIFY(slow.ok());
        QVERIFY(writeFile(src("later.bin"), "later"));
        for (const char* name : {"missing.bin", "slow.bin", "later.bin"})
            m_manager->addDownload(QUrl::fromLocalFile(src(name)), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 3);
        QTRY_COMPARE(status(1), TransferStatus::running);
        QCOMPARE(status(0), TransferStatus::failed);
        QVERIFY(writeFile(src("missing.bin"), "found"));
        m_manager->retry(task(0).id);
        slow.finish();
        QTRY_VERIFY(!m_manager->isProcessing());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(status(i), TransferStatus::completed);
        QCOMPARE(readFile(dst("missing.bin")), QByteArray("found"));
        // The most recent first: the retried file was copied before the one queued behind it.
        QStringList recent;
        for (const auto& file : m_recents->recentFiles())
            recent << file.name;
        QCOMPARE(recent, (QStringList{"later.bin", "missing.bin", "slow.bin"}));
    }

    void pauseThenResumeContinuesWhereItStopped()
    {
        m_manager->readSource = &SlowSource::slowReads;
        SlowSource source(src("slow.bin"));
        QVERIFY(source.ok());
        QVERIFY(writeFile(src("next.bin"), "next"));
        m_manager->addDownload(QUrl::fromLocalFile(src("slow.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 1);
        QCOMPARE(task(0).totalBytes, 0); // empty when the transfer was added
        QTRY_COMPARE(status(0), TransferStatus::running);
        const QDateTime started = *task(0).startDate;

        source.feed(randomBytes(300'000));
        QTRY_COMPARE(task(0).bytesTransferred, 300'000);
        const QUuid id = task(0).id;
        m_manager->pause(id);
        source.feed(randomBytes(200'000)); // wakes the blocked read, which then sees the flag
        QTRY_COMPARE(status(0), TransferStatus::paused);
        const qint64 atPause = task(0).bytesTransferred;
        QVERIFY(atPause >= 300'000);
        QTest::qWait(100);
        QCOMPARE(task(0).bytesTransferred, atPause);
        QCOMPARE(QFileInfo(dst("slow.bin")).size(), atPause);

        // A transfer added meanwhile waits behind the paused one.
        m_manager->addDownload(QUrl::fromLocalFile(src("next.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 2);
        QTest::qWait(50);
        QCOMPARE(status(1), TransferStatus::pending);

        m_manager->resume(id);
        QCOMPARE(status(0), TransferStatus::pending);
        QTRY_COMPARE(status(0), TransferStatus::running);
        QTRY_VERIFY(task(0).bytesTransferred == 500'000);
        source.feed(randomBytes(100'000));
        source.finish();
        QTRY_COMPARE(status(0), TransferStatus::completed);
        QCOMPARE(task(0).startDate, started);
        QCOMPARE(task(0).bytesTransferred, 0); // set from the unknown size
        QCOMPARE(readFile(dst("slow.bin")), source.written());
        QTRY_COMPARE(status(1), TransferStatus::completed);
        QCOMPARE(m_manager->totalBytesTransferred(), 4);
    }

    // A pause asked for while the transfer waits its turn holds it at its first chunk.
    void pauseBeforeTheStartHoldsTheTransfer()
    {
        m_manager->readSource = &SlowSource::slowReads;
        SlowSource first(src("first.bin"));
        QVERIFY(first.ok());
        const QByteArray later = randomBytes(3 * MiB);
        QVERIFY(writeFile(src("later.bin"), later));
        for (const char* name : {"first.bin", "later.bin"})
            m_manager->addDownload(QUrl::fromLocalFile(src(name)), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 2);
        QTRY_COMPARE(status(0), TransferStatus::running);
        QCOMPARE(status(1), TransferStatus::pending);
        m_manager->pause(task(1).id);

        first.finish();
        QTRY_COMPARE(status(1), TransferStatus::paused);
        QCOMPARE(status(0), TransferStatus::completed);
        QCOMPARE(task(1).bytesTransferred, 0);
        QCOMPARE(QFileInfo(dst("later.bin")).size(), 0);

        m_manager->resume(task(1).id);
        QTRY_COMPARE(status(1), TransferStatus::completed);
        QCOMPARE(readFile(dst("later.bin")), later);
    }

    void cancelPendingRunningAndPaused()
    {
        m_manager->readSource = &SlowSource::slowReads;
        SlowSource running(src("running.bin"));
        SlowSource paused(src("paused.bin"));
        QVERIFY(running.ok() && paused.ok());
        QVERIFY(writeFile(src("pending.bin"), "pending"));
        for (const char* name : {"running.bin", "pending.bin", "paused.bin"})
            m_manager->addDownload(QUrl::fromLocalFile(src(name)), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 3);

        // Pending: cancelled at once and skipped by the queue.
        m_manager->cancel(task(1).id);
        QCOMPARE(status(1), TransferStatus::cancelled);

        // Running: the partial file goes, no end date, no message.
        QTRY_COMPARE(status(0), TransferStatus::running);
        running.feed(randomBytes(100'000));
        QTRY_COMPARE(task(0).bytesTransferred, 100'000);
        QVERIFY(QFile::exists(dst("running.bin")));
        m_manager->cancel(task(0).id);
        running.feed(randomBytes(1000));
        QTRY_COMPARE(status(0), TransferStatus::cancelled);
        QVERIFY(!task(0).endDate && !task(0).errorMessage);
        QVERIFY(!QFile::exists(dst("running.bin")));

        // Paused: cancelled without a resume.
        QTRY_COMPARE(status(2), TransferStatus::running);
        paused.feed(randomBytes(1000));
        QTRY_COMPARE(task(2).bytesTransferred, 1000);
        m_manager->pause(task(2).id);
        paused.feed(randomBytes(1000));
        QTRY_COMPARE(status(2), TransferStatus::paused);
        m_manager->cancel(task(2).id);
        QTRY_COMPARE(status(2), TransferStatus::cancelled);
        QTRY_VERIFY(!m_manager->isProcessing());
        QVERIFY(!QFile::exists(dst("paused.bin")));
        QVERIFY(!QFile::exists(dst("pending.bin")));
        QVERIFY(announced().isEmpty());

        // A cancelled task retried runs from the start.
        m_manager->retry(task(1).id);
        QTRY_COMPARE(status(1), TransferStatus::completed);
        QCOMPARE(readFile(dst("pending.bin")), QByteArray("pending"));

        m_manager->clearCompleted();
        QVERIFY(m_manager->tasks().isEmpty());
    }

    void retryAfterTheCopyHonouredACancelRunsAgain()
    {
        m_manager->readSource = &SlowSource::slowReads;
        SlowSource source(src("slow.bin"));
        QVERIFY(source.ok());
        m_manager->addDownload(QUrl::fromLocalFile(src("slow.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 1);
        QTRY_VERIFY(QFile::exists(dst("slow.bin")));
        // The copy is reading (the wait below keeps this thread from starting it).
        source.feed(randomBytes(100));
        QTRY_COMPARE(task(0).bytesTransferred, 100);
        const QUuid id = task(0).id;
        m_manager->cancel(id);
        source.feed(randomBytes(1000));
        // The worker drops the partial file; the retry comes before this thread hears of it.
        QDeadlineTimer deadline(5000);
        while (QFile::exists(dst("slow.bin")) && !deadline.hasExpired())
            std::this_thread::sleep_for(1ms);
        QVERIFY(!QFile::exists(dst("slow.bin")));
        m_manager->retry(id);

        QTRY_VERIFY(QFile::exists(dst("slow.bin")));
        source.feed("again");
        source.finish();
        QTRY_VERIFY(!m_manager->isProcessing());
        QCOMPARE(status(0), TransferStatus::completed);
        QVERIFY(!task(0).errorMessage);
        QCOMPARE(readFile(dst("slow.bin")), QByteArray("again"));
    }

    void failureKeepsItsMessageAndRetryStartsOver()
    {
        // Missing source: failed with the reason, nothing created.
        m_manager->addDownload(QUrl::fromLocalFile(src("missing.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 1);
        QTRY_COMPARE(status(0), TransferStatus::failed);
        QCOMPARE(*task(0).errorMessage,
            QStringLiteral("The file “missing.bin” couldn’t be opened: No such file or directory"));
        QVERIFY(task(0).endDate.has_value());
        QVERIFY(!QFile::exists(dst("missing.bin")));

        // A write that fails halfway (the file-size limit) keeps the partial file.
        const QByteArray data = randomBytes(3 * MiB);
        QVERIFY(writeFile(src("big.bin"), data));
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit limited = old;
        limited.rlim_cur = 3 * MiB / 2;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        m_manager->addDownload(QUrl::fromLocalFile(src("big.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 2);
        QTRY_COMPARE(status(1), TransferStatus::failed);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);
        QCOMPARE(*task(1).errorMessage, QStringLiteral("The file “big.bin” couldn’t be written: File too large"));
        QCOMPARE(task(1).bytesTransferred, 3 * MiB / 2); // what reached the file
        QCOMPARE(QFileInfo(dst("big.bin")).size(), 3 * MiB / 2);
        QVERIFY(!m_manager->isProcessing());

        // Retry: fields cleared, the partial file replaced, copied from the first byte.
        QList<qint64> progress;
        connect(m_manager.get(), &TransferManager::tasksChanged, m_manager.get(), [&] {
            if (m_manager->tasks().size() > 1 && m_manager->tasks().at(1).status == TransferStatus::running)
                progress << m_manager->tasks().at(1).bytesTransferred;
        });
        m_manager->retry(task(1).id);
        QCOMPARE(status(1), TransferStatus::pending);
        QVERIFY(!task(1).errorMessage && !task(1).startDate && !task(1).endDate);
        QCOMPARE(task(1).bytesTransferred, 0);
        QTRY_COMPARE(status(1), TransferStatus::completed);
        // What was published of the run counted up from the start, not from the earlier count.
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
        QVERIFY(progress.isEmpty() || progress.first() < 3 * MiB / 2 || progress.first() == 3 * MiB);
        QCOMPARE(task(1).bytesTransferred, 3 * MiB);
        QCOMPARE(readFile(dst("big.bin")), data);
        QCOMPARE(status(0), TransferStatus::failed); // untouched
        QTRY_COMPARE(announced().size(), 1);
    }

    void onlyRegularFilesAreTransferred()
    {
        QCOMPARE(::mkfifo(QFile::encodeName(src("pipe")).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), src("zero")));
        QVERIFY(writeFile(src("after.bin"), "after"));
        for (const char* name : {"pipe", "zero", "after.bin"})
            m_manager->addDownload(QUrl::fromLocalFile(src(name)), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(!m_manager->isProcessing(), 2000);
        QCOMPARE(status(0), TransferStatus::failed);
        QCOMPARE(*task(0).errorMessage, QStringLiteral("“pipe” is not a regular file, so it was not copied."));
        QCOMPARE(status(1), TransferStatus::failed);
        QCOMPARE(*task(1).errorMessage, QStringLiteral("“zero” is not a regular file, so it was not copied."));
        QVERIFY(!QFile::exists(dst("pipe")) && !QFile::exists(dst("zero")));
        QCOMPARE(status(2), TransferStatus::completed);
    }

    void completeOnlyWhenFlushedAndClosed()
    {
        QVERIFY(writeFile(src("a.bin"), randomBytes(MiB + 10)));
        m_manager->syncFile = [](int) {
            errno = ENOSPC;
            return -1;
        };
        m_manager->addDownload(QUrl::fromLocalFile(src("a.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 1);
        QTRY_COMPARE(status(0), TransferStatus::failed);
        QCOMPARE(*task(0).errorMessage,
            QStringLiteral("The file “a.bin” couldn’t be saved completely: No space left on device"));
        QVERIFY(!QFile::exists(dst("a.bin")));
        QVERIFY(m_recents->recentFiles().isEmpty());
        QCOMPARE(m_manager->totalBytesTransferred(), 0);
        QTest::qWait(50);
        QVERIFY(announced().isEmpty());
    }

    void sameSourceAndDestinationFailsAtOnce()
    {
        const QByteArray data = randomBytes(2 * MiB);
        QVERIFY(writeFile(src("self.bin"), data));
        m_manager->addUpload(QUrl::fromLocalFile(src("self.bin")), QUrl::fromLocalFile(m_dir->filePath("share")));
        // A hard link is the same file under another name.
        QVERIFY(QDir().mkpath(m_dir->filePath("local")));
        QCOMPARE(::link(QFile::encodeName(src("self.bin")).constData(), QFile::encodeName(dst("self.bin")).constData()),
            0);
        m_manager->addDownload(QUrl::fromLocalFile(src("self.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 2);
        QTRY_VERIFY(!m_manager->isProcessing());
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(status(i), TransferStatus::failed);
            QCOMPARE(*task(i).errorMessage,
                QStringLiteral(
                    "“self.bin” is both the source and the destination of this transfer, so it was not copied."));
        }
        QCOMPARE(readFile(src("self.bin")), data);
    }

    void closingTheWindowEndsItsTransfers()
    {
        m_manager->readSource = &SlowSource::slowReads;
        // A paused copy and a pending one: nothing waits, the partial file goes, the pending never starts.
        SlowSource slow(src("slow.bin"));
        QVERIFY(slow.ok());
        QVERIFY(writeFile(src("later.bin"), "later"));
        m_manager->addDownload(QUrl::fromLocalFile(src("slow.bin")), localFolder());
        m_manager->addDownload(QUrl::fromLocalFile(src("later.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 2);
        QTRY_COMPARE(status(0), TransferStatus::running);
        slow.feed(randomBytes(1000));
        QTRY_COMPARE(task(0).bytesTransferred, 1000);
        m_manager->pause(task(0).id);
        slow.feed(randomBytes(1000));
        QTRY_COMPARE(status(0), TransferStatus::paused);
        m_manager.reset();
        QTRY_VERIFY(!QFile::exists(dst("slow.bin")));
        QTest::qWait(50);
        QVERIFY(!QFile::exists(dst("later.bin")));

        // A running copy blocked in a read on a share that does not answer: the window closes at
        // once; when the share answers, the copy cancels itself and leaves nothing behind.
        m_manager = std::make_unique<TransferManager>(*m_recents, *m_notifications);
        m_manager->readSource = &SlowSource::slowReads;
        SlowSource blocked(src("blocked.bin"));
        QVERIFY(blocked.ok());
        m_manager->addDownload(QUrl::fromLocalFile(src("blocked.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 1);
        QTRY_COMPARE(status(0), TransferStatus::running);
        blocked.feed(randomBytes(1000));
        QTRY_COMPARE(task(0).bytesTransferred, 1000);
        QVERIFY(returnsWhileBlocked([&] { m_manager.reset(); }, [&] { blocked.feed(randomBytes(1000)); }));
        QVERIFY(QFile::exists(dst("blocked.bin")));
        blocked.feed(randomBytes(1000));
        QTRY_VERIFY(!QFile::exists(dst("blocked.bin")));
        QTest::qWait(50); // late events for the gone manager are dropped
        QVERIFY(m_recents->recentFiles().isEmpty());
    }

    // An upload and a download of 64 MiB over a real share, mounted from a Samba server through
    // vantrel-smbfs, arrive byte for byte. With VANTREL_BENCHMARK=1 the same copies by cp are timed too.
    void uploadAndDownloadOverARealMount()
    {
        VANTREL_REQUIRE_SMBFS();
        test::MountedShare share;
        QVERIFY2(share.ok(), qPrintable(share.error));
        constexpr qint64 size = 64 * MiB;
        const QByteArray data = randomBytes(size);
        const bool bench = qEnvironmentVariable("VANTREL_BENCHMARK") == QLatin1String("1");

        // Written through the mount, a file reaches the server once it is closed; the upload is
        // timed until then.
        const auto arrived = [&share, &data](const QString& name) {
            QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(share.serverFolder + u'/' + name).size(), data.size(), 60000);
            QCOMPARE(readFile(share.serverFolder + u'/' + name), data);
        };
        QVERIFY(writeFile(m_dir->filePath("up.bin"), data));
        QElapsedTimer clock;
        clock.start();
        m_manager->addUpload(QUrl::fromLocalFile(m_dir->filePath("up.bin")), QUrl::fromLocalFile(share.mountPoint));
        QTRY_COMPARE(m_manager->tasks().size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(status(0) != TransferStatus::pending && status(0) != TransferStatus::running, 60000);
        QVERIFY2(status(0) == TransferStatus::completed, qPrintable(task(0).errorMessage.value_or(QString())));
        const double uploadCompleted = clock.nsecsElapsed() / 1e9;
        arrived(QStringLiteral("up.bin"));
        const double uploadArrived = clock.nsecsElapsed() / 1e9;

        // Put on the server's side, so that the download reads through the share, not a copy
        // that the mount keeps of what was written through it.
        QVERIFY(writeFile(share.serverFolder + QStringLiteral("/down.bin"), data));
        // A file another client adds shows through the mount within moments, not minutes.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(share.mountPoint + QStringLiteral("/down.bin")), 4000);
        clock.restart();
        m_manager->addDownload(QUrl::fromLocalFile(share.mountPoint + QStringLiteral("/down.bin")), localFolder());
        QTRY_COMPARE(m_manager->tasks().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(status(1) != TransferStatus::pending && status(1) != TransferStatus::running, 60000);
        QVERIFY2(status(1) == TransferStatus::completed, qPrintable(task(1).errorMessage.value_or(QString())));
        const double download = clock.nsecsElapsed() / 1e9;
        QCOMPARE(readFile(dst("down.bin")), data);
        qInfo("64 MiB over the mount: upload %.2f s until completed, %.2f s until on the server (%.0f MiB/s); "
              "download %.2f s (%.0f MiB/s)",
            uploadCompleted, uploadArrived, 64 / uploadArrived, download, 64 / download);

        if (bench) {
            clock.restart();
            QCOMPARE(
                QProcess::execute("cp", {m_dir->filePath("up.bin"), share.mountPoint + QStringLiteral("/cp-up.bin")}),
                0);
            const double cpCompleted = clock.nsecsElapsed() / 1e9;
            arrived(QStringLiteral("cp-up.bin"));
            const double cpArrived = clock.nsecsElapsed() / 1e9;
            QVERIFY(writeFile(share.serverFolder + QStringLiteral("/cp-down.bin"), data));
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(share.mountPoint + QStringLiteral("/cp-down.bin")), 4000);
            clock.restart();
            QCOMPARE(QProcess::execute("cp", {share.mountPoint + QStringLiteral("/cp-down.bin"), dst("cp-down.bin")}),
                0);
            const double cpDownload = clock.nsecsElapsed() / 1e9;
            QCOMPARE(readFile(dst("cp-down.bin")), data);
            qInfo(
                "64 MiB by cp over the same mount: upload %.2f s until done, %.2f s until on the server (%.0f MiB/s); "
                "download %.2f s (%.0f MiB/s)",
                cpCompleted, cpArrived, 64 / cpArrived, cpDownload, 64 / cpDownload);
        }
        QVERIFY(share.unmount());
    }

    // On a frozen server (its connections still accepted, nothing answered) a download fails with
    // a message once the share's connection time-out is over, instead of waiting for ever.
    void aDownloadFromAFrozenRealShareFailsWithinItsBound()
    {
        VANTREL_REQUIRE_SMBFS();
        test::MountedShare share(2);
        QVERIFY2(share.ok(), qPrintable(share.error));
        const auto thaw = qScopeGuard([&share] { share.server.thaw(); });
        QVERIFY(writeFile(share.serverFolder + QStringLiteral("/frozen.bin"), randomBytes(4 * MiB)));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(share.mountPoint + QStringLiteral("/frozen.bin")), 4000);

        share.server.freeze();
        QElapsedTimer clock;
        clock.start();
        m_manager->addDownload(QUrl::fromLocalFile(share.mountPoint + QStringLiteral("/frozen.bin")), localFolder(),
            4 * MiB);
        QTRY_COMPARE(m_manager->tasks().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(status(0), TransferStatus::failed, 15000);
        qInfo("failed after %.2f s: %s", static_cast<double>(clock.elapsed()) / 1000.0,
            qPrintable(task(0).errorMessage.value_or(QString())));
        QVERIFY(task(0).errorMessage.value_or(QString()).contains(QStringLiteral("frozen.bin")));
        QVERIFY(!m_manager->isProcessing());
    }

    void closingTheWindowNeverWaitsForAStepOnTheShare()
    {
        // Blocked while opening the files: the copy it opened is discarded afterwards.
        test::FileWorkGate gate;
        QVERIFY(writeFile(src("opening.bin"), randomBytes(1000)));
        gate.hold(dst("opening.bin"));
        m_manager->addDownload(QUrl::fromLocalFile(src("opening.bin")), localFolder());
        QTRY_COMPARE(gate.waiting(dst("opening.bin")), 1);
        QVERIFY(returnsWhileBlocked([&] { m_manager.reset(); }, [&] { gate.release(dst("opening.bin")); }));
        gate.release(dst("opening.bin"));
        QTRY_COMPARE(gate.waiting(dst("opening.bin")), 0);
        waitForFileWork();
        QVERIFY(!QFile::exists(dst("opening.bin")));

        // Blocked in the final flush: the file completes, and nobody hears of it.
        QSemaphore flushing;
        QSemaphore answer;
        m_manager = std::make_unique<TransferManager>(*m_recents, *m_notifications);
        m_manager->syncFile = [&flushing, &answer](int fd) {
            flushing.release();
            answer.acquire();
            return ::fsync(fd);
        };
        QVERIFY(writeFile(src("flushing.bin"), randomBytes(1000)));
        m_manager->addDownload(QUrl::fromLocalFile(src("flushing.bin")), localFolder());
        QTRY_COMPARE(flushing.available(), 1);
        QVERIFY(returnsWhileBlocked([&] { m_manager.reset(); }, [&] { answer.release(); }));
        answer.release();
        waitForFileWork();
        QCOMPARE(QFileInfo(dst("flushing.bin")).size(), 1000);
        QTest::qWait(50);
        QVERIFY(m_recents->recentFiles().isEmpty());
        QVERIFY(announced().isEmpty());
    }

    void benchmarkAgainstCp()
    {
        if (qEnvironmentVariable("VANTREL_BENCHMARK") != QLatin1String("1"))
            QSKIP("set VANTREL_BENCHMARK=1 to compare a 1 GiB copy with cp");
        constexpr qint64 size = 1024 * MiB;
        {
            QFile f(src("big.bin"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            const QByteArray block = randomBytes(16 * MiB);
            for (qint64 done = 0; done < size; done += block.size())
                QCOMPARE(f.write(block), block.size());
        }
        QVERIFY(QDir().mkpath(m_dir->filePath("local")));
        const auto timeCp = [&](const QString& target, bool thenSync) {
            QElapsedTimer t;
            t.start();
            if (QProcess::execute("cp", {src("big.bin"), target}) != 0)
                return -1.0;
            if (thenSync && QProcess::execute("sync", {target}) != 0)
                return -1.0;
            return t.nsecsElapsed() / 1e9;
        };
        // Each copy starts from the same state: no earlier copy left in the cache or waiting to be written.
        const auto settle = [&] {
            for (const char* path : {"local/cp.bin", "nosync/big.bin", "synced/big.bin"})
                QFile::remove(m_dir->filePath(QLatin1String(path)));
            QProcess::execute("sync", {});
        };

        // Best of a few runs each, as other work on the machine makes single runs noisy.
        // Page-cache copies: what cp measures, and the manager with its final flush left out.
        double cpSeconds = 1e9, managerNoFlush = 1e9, cpSyncSeconds = 1e9, managerSeconds = 1e9;
        const auto flush = m_manager->syncFile;
        for (int run = 0; run < 3; ++run) {
            settle();
            cpSeconds = std::min(cpSeconds, timeCp(m_dir->filePath("local/cp.bin"), false));
            settle();
            m_manager->syncFile = [](int) { return 0; };
            double seconds = -1;
            timeManager(m_dir->filePath("nosync"), size, &seconds);
            managerNoFlush = std::min(managerNoFlush, seconds);
            m_manager->syncFile = flush;
        }
        // Copies that end on disk: cp followed by sync(1) on the file, and the manager as built.
        for (int run = 0; run < 2; ++run) {
            settle();
            cpSyncSeconds = std::min(cpSyncSeconds, timeCp(m_dir->filePath("local/cp.bin"), true));
            settle();
            double seconds = -1;
            timeManager(m_dir->filePath("synced"), size, &seconds);
            managerSeconds = std::min(managerSeconds, seconds);
        }
        QVERIFY(cpSeconds > 0 && cpSyncSeconds > 0 && managerNoFlush > 0 && managerSeconds > 0);
        qInfo("1 GiB: cp %.3f s, manager without the final flush %.3f s (ratio %.2f); "
              "cp + sync %.3f s, manager with fsync %.3f s (ratio %.2f)",
            cpSeconds, managerNoFlush, cpSeconds / managerNoFlush, cpSyncSeconds, managerSeconds,
            cpSyncSeconds / managerSeconds);
    }
};

VANTREL_TEST_MAIN(TestTransferManager)
#include "tst_TransferManager.moc"
