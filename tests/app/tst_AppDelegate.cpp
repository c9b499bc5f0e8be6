#include "support/Environment.h"
#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "app/AppDelegate.h"
#include "app/MenuBarController.h"
#include "files/CacheManager.h"
#include "platform/FileWork.h"
#include "platform/SingleInstance.h"
#include "services/LogManager.h"
#include "support/FileWorkGate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <thread>

#include <qcoro/qcorotimer.h>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

QCoro::Task<NotificationAuthorization> answerLater(NotificationAuthorization answer)
{
    auto wait = QCoro::sleepFor(10ms);
    co_await wait;
    co_return answer;
}

QCoro::Task<> idleFor(std::chrono::milliseconds duration)
{
    auto wait = QCoro::sleepFor(duration);
    co_await wait;
}

QCoro::Task<> finishAt(std::chrono::milliseconds duration, SystemLog* log)
{
    auto wait = QCoro::sleepFor(duration);
    co_await wait;
    log->write(SystemLog::Type::Info, QStringLiteral("test"), QStringLiteral("step:unmounted"));
}

QCoro::Task<> finishAtOnce(SystemLog* log)
{
    log->write(SystemLog::Type::Info, QStringLiteral("test"), QStringLiteral("step:unmounted"));
    co_return;
}

// Every start-up call and every log line land in one capturing system log, in order.
struct Harness : test::Logging {
    explicit Harness(const QString& dir, const QString& serverName = test::uniqueSocketPath())
        : Logging(dir)
        , singleInstance(serverName)
    {
    }

    void mark(const QString& step)
    {
        systemLog.write(SystemLog::Type::Info, QStringLiteral("test"), QStringLiteral("step:") + step);
    }

    AppDelegate::Services services(NotificationAuthorization answer = {true, std::nullopt})
    {
        AppDelegate::Services s;
        s.startCrashReporting = [this] { mark(QStringLiteral("crash")); };
        s.configureUpdates = [this](const QUrl& url) { mark(QStringLiteral("updates ") + url.toString()); };
        s.makeMenuBarController = [this]() -> std::unique_ptr<MenuBarController> {
            mark(QStringLiteral("menubar"));
            return nullptr;
        };
        s.requestNotificationAuthorization = [this, answer] {
            mark(QStringLiteral("notifications"));
            return answerLater(answer);
        };
        s.startNetworkMonitoring = [this] { mark(QStringLiteral("network")); };
        s.startAutoMount = [this] { mark(QStringLiteral("automount")); };
        s.startPeriodicCleanup = [this] { mark(QStringLiteral("periodicCleanup")); };
        s.performStartupCleanup = [this] {
            mark(QStringLiteral("startupCleanup"));
            return idleFor(0ms);
        };
        s.trackLaunch = [this] { mark(QStringLiteral("analytics")); };
        s.stopAutoMount = [this] { mark(QStringLiteral("stopAutoMount")); };
        s.unmountAll = [this] { return finishAtOnce(&systemLog); };
        s.flush = [this] { mark(QStringLiteral("flush")); };
        s.terminate = [this] { mark(QStringLiteral("terminate")); };
        return s;
    }

    SingleInstance singleInstance;
};

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    QString nextDir() { return m_dir.filePath(QString::number(++m_counter)); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void startUpRunsEveryStepInOrder()
    {
        Harness h(nextDir());
        AppDelegate delegate(h.log, h.singleInstance, h.services());
        delegate.applicationDidFinishLaunching();
        QVERIFY(delegate.isPrimaryInstance());
        QVERIFY(h.singleInstance.isListening());

        const QStringList synchronous{
            QStringLiteral("Vantrel application starting..."),
            QStringLiteral("step:crash"),
            QStringLiteral("step:updates https://vantrel.app/updates/appcast.xml"),
            QStringLiteral("step:menubar"),
            QStringLiteral("step:notifications"),
            QStringLiteral("step:network"),
            QStringLiteral("Network monitoring started"),
            QStringLiteral("step:automount"),
            QStringLiteral("Auto-mount strategy started"),
            QStringLiteral("step:periodicCleanup"),
            QStringLiteral("step:analytics"),
            QStringLiteral("Vantrel application started successfully"),
        };
        QCOMPARE(h.systemLog.messages(), synchronous);

        // The start-up clean-up waits for the event loop; the permission answer comes later still.
        const QStringList later{QStringLiteral("step:startupCleanup"),
            QStringLiteral("Notification permission granted")};
        QTRY_COMPARE(h.systemLog.messages(), synchronous + later);
        const auto records = h.systemLog.records();
        QCOMPARE(records.first().category, QStringLiteral("Lifecycle"));
        QCOMPARE(records.at(6).category, QStringLiteral("Network"));
        QCOMPARE(records.at(8).category, QStringLiteral("Mount"));
        QCOMPARE(records.last().category, QStringLiteral("Default"));
        QCOMPARE(records.last().type, SystemLog::Type::Info);
    }

    void notificationRefusalIsLoggedOnlyWithAnError()
    {
        {
            Harness h(nextDir());
            h.log.setFileLoggingEnabled(true);
            AppDelegate delegate(h.log, h.singleInstance, h.services({false, QStringLiteral("no server")}));
            delegate.applicationDidFinishLaunching();
            QTRY_VERIFY(h.systemLog.messages().contains(QStringLiteral("Notification permission denied: no server")));
            h.log.waitForFileQueue();
            QVERIFY(h.log.readAllLogs().contains(QStringLiteral("[WARN] [Default] AppDelegate.cpp:")));
            QVERIFY(h.log.readAllLogs().contains(
                QStringLiteral(" requestNotificationPermission - Notification permission denied: no server\n")));
        }
        {
            Harness h(nextDir());
            AppDelegate delegate(h.log, h.singleInstance, h.services({false, std::nullopt}));
            delegate.applicationDidFinishLaunching();
            QTest::qWait(60);
            for (const QString& message : h.systemLog.messages())
                QVERIFY2(!message.startsWith(QStringLiteral("Notification permission")), qPrintable(message));
        }
    }

    void secondCopyActivatesTheFirstAndStartsNothing()
    {
        const QString name = test::uniqueSocketPath();
        SingleInstance first(name);
        QVERIFY(first.claim());
        QSignalSpy activation(&first, &SingleInstance::activationRequested);

        Harness h(nextDir(), name);
        AppDelegate delegate(h.log, h.singleInstance, h.services());
        delegate.applicationDidFinishLaunching();
        QVERIFY(!delegate.isPrimaryInstance());
        QVERIFY(!delegate.menuBarController());
        QCOMPARE(h.systemLog.messages(),
            (QStringList{QStringLiteral("Another Vantrel instance is running. Activating it and exiting."),
                QStringLiteral("step:terminate")}));
        QTRY_COMPARE(activation.count(), 1);

        // Its quit still runs the shut-down.
        delegate.applicationDidBecomeActive();
        delegate.applicationWillTerminate();
        QCOMPARE(h.systemLog.messages().mid(2),
            (QStringList{QStringLiteral("Vantrel application terminating..."), QStringLiteral("step:stopAutoMount"),
                QStringLiteral("step:unmounted"), QStringLiteral("Vantrel application terminated"),
                QStringLiteral("step:flush")}));
    }

    void shutDownWaitsAtMostTheLimitWhileTheLoopRuns()
    {
        Harness h(nextDir());
        AppDelegate::Services services = h.services();
        services.unmountAll = [] { return idleFor(10s); };
        AppDelegate delegate(h.log, h.singleInstance, std::move(services));
        delegate.shutdownTimeout = 300ms;

        bool loopRan = false;
        QTimer::singleShot(20, this, [&loopRan] { loopRan = true; });
        QElapsedTimer elapsed;
        elapsed.start();
        delegate.applicationWillTerminate();
        const qint64 ms = elapsed.elapsed();
        QVERIFY(loopRan);
        QVERIFY2(ms >= 290 && ms < 3000, qPrintable(QString::number(ms)));
        QCOMPARE(h.systemLog.messages(),
            (QStringList{QStringLiteral("Vantrel application terminating..."), QStringLiteral("step:stopAutoMount"),
                QStringLiteral("Vantrel application terminated"), QStringLiteral("step:flush")}));

        // Only once, however often the application signals it.
        delegate.applicationWillTerminate();
        QCOMPARE(h.systemLog.messages().size(), 4);
    }

    void shutDownEndsAsSoonAsTheUnmountIsDone()
    {
        Harness h(nextDir());
        AppDelegate::Services services = h.services();
        services.unmountAll = [&h] { return finishAt(50ms, &h.systemLog); };
        AppDelegate delegate(h.log, h.singleInstance, std::move(services));

        QElapsedTimer elapsed;
        elapsed.start();
        delegate.applicationWillTerminate();
        QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(h.systemLog.messages(),
            (QStringList{QStringLiteral("Vantrel application terminating..."), QStringLiteral("step:stopAutoMount"),
                QStringLiteral("step:unmounted"), QStringLiteral("Vantrel application terminated"),
                QStringLiteral("step:flush")}));

        // An unmount that finishes without ever suspending does not leave the wait hanging.
        Harness quick(nextDir());
        AppDelegate quickDelegate(quick.log, quick.singleInstance, quick.services());
        elapsed.restart();
        quickDelegate.applicationWillTerminate();
        QVERIFY(elapsed.elapsed() < 1000);
        QVERIFY(quick.systemLog.messages().contains(QStringLiteral("step:unmounted")));
    }

    void shutDownPutsAQueuedCacheIndexOnDisk()
    {
        AppDelegate::Services services = AppDelegate::productServices();
        services.startPeriodicCleanup();
        CacheManager& cache = CacheManager::shared();
        waitForFileWork();
        cache.waitForIndexWrites();
        const QString index = cache.indexFilePath();

        // Emptying the cache removes its folder; the new index is written on the cache's writer.
        test::FileWorkGate gate;
        gate.hold(index);
        QCoro::waitFor(cache.clearAllCache());
        QVERIFY(!QFile::exists(index));
        std::thread writer([&gate, index] {
            std::this_thread::sleep_for(100ms);
            gate.release(index);
        });
        services.flush();
        const bool written = QFile::exists(index);
        writer.join();
        QVERIFY(written);
        QCOMPARE(QDir(cache.cacheDirectory()).entryList(QDir::Files | QDir::Hidden),
            QStringList{CacheManager::indexFileName});
    }
};

VANTREL_TEST_MAIN(TestAppDelegate)
#include "tst_AppDelegate.moc"
