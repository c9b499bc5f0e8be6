#include "support/FakePathMonitor.h"
#include "support/Fixtures.h"
#include "support/MountedShare.h"
#include "support/MountingFixture.h"
#include "support/NotificationServerStandIn.h"
#include "support/SambaServer.h"
#include "support/TestMain.h"

#include "model/AppState.h"
#include "mounting/AppStateManager.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/MountEngine.h"
#include "mounting/NASConfigStore.h"
#include "mounting/NetworkMonitor.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "mounting/ProcessRunner.h"
#include "mounting/SmbfsMount.h"
#include "platform/Defaults.h"
#include "platform/FileWork.h"
#include "platform/NotificationCenter.h"
#include "platform/PathMonitor.h"
#include "platform/PowerEvents.h"
#include "platform/SystemLog.h"
#include "platform/WifiInfo.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <memory>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

const QString homeRange = QStringLiteral("192.168.1.0/24");
const QString homeAddress = QStringLiteral("192.168.1.20");
const QString awayAddress = QStringLiteral("10.0.0.5");

class NoWifi final : public WifiInfo {
public:
    NoWifi()
        : WifiInfo(QDBusConnection(QStringLiteral("vantrel-no-bus")))
    {
    }
    std::optional<QString> currentSSID() const override { return std::nullopt; }
};

// The sanitizers' own checks make every turn several times dearer: the main thread's budget is
// the product's, judged in the plain build.
#ifdef __SANITIZE_ADDRESS__
constexpr double checkedBuildCost = 3.0;
#else
constexpr double checkedBuildCost = 1.0;
#endif

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

NASConfig share(const QString& name, bool enabled = true)
{
    NASConfig config = test::sampleShare(name, enabled);
    config.authMethod = AuthMethod::guest;
    config.networkBinding.strategy = NetworkBindingStrategy::ipRange;
    config.networkBinding.ipRange = homeRange;
    return config;
}

struct Fixture : test::MountingFixture {
    MountEngine engine;
    test::FakePathMonitor* path = new test::FakePathMonitor;
    NetworkMonitor network{std::unique_ptr<PathMonitor>(path), std::make_unique<NoWifi>()};
    NotificationPreferences preferences{defaults};
    NotificationCenter center{QDBusConnection::sessionBus()}; // no notification server runs there
    NotificationService notifications{center, preferences, log};
    PowerEvents power{QDBusConnection(QStringLiteral("vantrel-no-bus"))};
    AutoMountStrategy strategy{configStore, appState, network, engine, notifications, defaults, power};

    explicit Fixture(const SystemTools& tools = test::standInTools())
        : engine(tools, dir.filePath(QStringLiteral("Volumes")), fileSystem, keychain)
    {
        notifications.triggerDelay = 0ms;
        preferences.setEnabled(true, NotificationEvent::mountSuccess);
        preferences.setEnabled(true, NotificationEvent::mountFailure);
        preferences.setEnabled(true, NotificationEvent::unmount);
        // Nothing long-running unless a test asks for it.
        strategy.debounceDelay = 0.05;
        strategy.scheduledMountDelay = 0.05;
        strategy.launchMountDelay = 0.05;
        strategy.wakeEvaluationDelay = 0.05;
        strategy.retryIntervals = {60.0, 60.0, 60.0, 60.0};
    }

    // Mounts through the real program, kept alive by its control socket at the tests' pace.
    void mountForReal()
    {
        engine.mountTimeout = 20.0;
        engine.linuxTools().controlFolder = test::socketFolder();
        strategy.keepAlive().minimumInterval = 0.1;
        defaults.setValue(MountKeepAlive::intervalKey, 0.3);
    }

    ~Fixture()
    {
        // Nothing new starts, and what runs ends before the engine goes: a mount coroutine
        // resuming later would run on a dead engine in the next test.
        strategy.stop();
        for (const QString& tool : {QStringLiteral("mount_smbfs"), QStringLiteral("diskutil")}) {
            unset(tool + QStringLiteral(".hold"));
            set(tool + QStringLiteral(".release"));
        }
        // Not QTRY: after a failed check it would not wait at all.
        QDeadlineTimer deadline(30000);
        while (strategy.hasOperationsUnderWay() && !deadline.hasExpired())
            QTest::qWait(20);
        waitForFileWork();
    }

    // One path update, as the system monitor would report it; waits until it is applied.
    void setNetwork(bool connected, const std::optional<QString>& ip)
    {
        path->setIPv4(ip);
        QSignalSpy applied(&network, &NetworkMonitor::currentSSIDChanged);
        emit path->pathUpdated(connected);
        if (applied.isEmpty())
            QVERIFY(applied.wait(2000));
    }

    NASConfig add(const NASConfig& config)
    {
        configStore.addConfig(config);
        return config;
    }

    std::optional<MountState::Kind> state(const QUuid& id) const
    {
        const auto status = appState.status(id);
        return status ? std::optional(status->mountState.kind()) : std::nullopt;
    }

    // Notifications cannot reach a server here; each attempt leaves its identifier in the log.
    int notificationsFor(const QString& identifier) const
    {
        int count = 0;
        for (const QString& message : systemLog.messages())
            count += message.contains(QLatin1Char('\'') + identifier + QLatin1Char('\'')) ? 1 : 0;
        return count;
    }

    QString mountPath(const NASConfig& config) const { return engine.mountPointPath(config); }

    void mountNow(const NASConfig& config) { QCoro::waitFor(strategy.mount(config.id)); }
};

} // namespace

class TestAutoMountStrategy : public QObject {
    Q_OBJECT

private slots:
    void powerEventsWithoutSystemBusStayQuiet()
    {
        PowerEvents quiet(QDBusConnection(QStringLiteral("vantrel-no-bus")));
        QVERIFY(!quiet.isWatching());
        QSignalSpy sleep(&quiet, &PowerEvents::willSleep);
        emit quiet.willSleep();
        QCOMPARE(sleep.count(), 1);
    }

    void burstOfNetworkChangesGivesOneEvaluation()
    {
        Fixture f;
        f.defaults.setValue(AutoMountStrategy::autoMountOnLaunchKey, false);
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        f.strategy.debounceDelay = 0.3;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        const NASConfig off = f.add(share(QStringLiteral("Off"), false));
        f.strategy.start();

        QSignalSpy statuses(&f.appState, &AppStateManager::nasStatusesChanged);
        // The first values published after start count; each update announces both values.
        for (int i = 0; i < 5; ++i)
            f.setNetwork(false, std::nullopt);
        QCOMPARE(statuses.count(), 0);
        QTRY_COMPARE(statuses.count(), 1);
        QTest::qWait(400);
        QCOMPARE(statuses.count(), 1);
        QCOMPARE(f.state(a.id), MountState::Kind::offline);
        QCOMPARE(f.state(off.id), MountState::Kind::idle);
    }

    // A debounce, not a throttle: a change during the wait starts the wait again.
    void aChangeDuringTheWaitPushesTheEvaluationBack()
    {
        Fixture f;
        f.defaults.setValue(AutoMountStrategy::autoMountOnLaunchKey, false);
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        f.strategy.debounceDelay = 0.2;
        f.add(share(QStringLiteral("A")));
        f.strategy.start();

        QElapsedTimer sinceLastChange;
        QList<qint64> evaluatedAfter;
        QObject observer;
        connect(&f.appState, &AppStateManager::nasStatusesChanged, &observer,
            [&] { evaluatedAfter.append(sinceLastChange.elapsed()); });
        f.setNetwork(false, std::nullopt);
        QTest::qWait(150);
        f.setNetwork(false, std::nullopt);
        sinceLastChange.start();
        QTRY_COMPARE(evaluatedAfter.size(), 1);
        QVERIFY2(evaluatedAfter.first() >= 190, qPrintable(QString::number(evaluatedAfter.first())));
        QTest::qWait(300);
        QCOMPARE(evaluatedAfter.size(), 1);
    }

    // The network's first values and a change while the launch mount runs start no second mount:
    // a share gets one result, and one notification, at launch.
    void aShareGetsOneResultAtLaunch()
    {
        {
            Fixture f;
            f.defaults.setValue(MountKeepAlive::enabledKey, false);
            f.strategy.launchMountDelay = 0.3;
            const NASConfig a = f.add(share(QStringLiteral("A")));
            f.set(QStringLiteral("mount_smbfs.exit"), "1");
            f.strategy.start();
            f.setNetwork(true, homeAddress);
            QTRY_COMPARE(f.state(a.id), MountState::Kind::failed);
            QTest::qWait(300);
            QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
            QCOMPARE(f.notificationsFor(QStringLiteral("mount-failure-A")), 1);
        }
        {
            Fixture f;
            f.defaults.setValue(MountKeepAlive::enabledKey, false);
            f.strategy.scheduledMountDelay = 0.3;
            const NASConfig a = f.add(share(QStringLiteral("A")));
            f.setNetwork(true, homeAddress);
            f.set(QStringLiteral("mount_smbfs.exit"), "1");
            f.set(QStringLiteral("mount_smbfs.hold"));
            f.strategy.start();
            QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
            f.setNetwork(true, homeAddress);
            QTest::qWait(150);
            QCOMPARE(f.strategy.pendingMountCount(a.id), 0);
            f.set(QStringLiteral("mount_smbfs.release"));
            QTRY_COMPARE(f.state(a.id), MountState::Kind::failed);
            QTest::qWait(400);
            QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
            QCOMPARE(f.notificationsFor(QStringLiteral("mount-failure-A")), 1);
        }
    }

    // One share under two configurations is mounted once; the one let go right away announces
    // nothing.
    void twoConfigurationsOfOneShareMountOnce()
    {
        Fixture f;
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        const NASConfig first = f.add(share(QStringLiteral("First")));
        NASConfig second = share(QStringLiteral("Second"));
        second.sharePath = first.sharePath;
        f.add(second);
        f.setNetwork(true, homeAddress);
        f.strategy.start();
        QTRY_COMPARE(f.state(first.id), MountState::Kind::mounted);
        QTest::qWait(200);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
        QCOMPARE(f.state(second.id), MountState::Kind::idle);
        // Nor does a network change bring the other configuration in.
        QCoro::waitFor(f.strategy.evaluate());
        QCOMPARE(f.strategy.pendingMountCount(second.id), 0);

        // Asked for both at once, the later request wins once the earlier mount has ended.
        QCoro::waitFor(f.strategy.unmount(first.id));
        f.fileSystem.forget(f.mountPath(first));
        f.set(QStringLiteral("mount_smbfs.hold"));
        auto mountFirst = f.strategy.mount(first.id);
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        auto mountSecond = f.strategy.mount(second.id);
        QTest::qWait(100);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        f.set(QStringLiteral("mount_smbfs.release"));
        QCoro::waitFor(mountFirst);
        QCoro::waitFor(mountSecond);
        QCOMPARE(f.state(second.id), MountState::Kind::mounted);
        QCOMPARE(f.state(first.id), MountState::Kind::idle);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 3);
        QTRY_COMPARE(f.notificationsFor(QStringLiteral("mount-success-Second")), 1);
        QCOMPARE(f.notificationsFor(QStringLiteral("mount-success-First")), 1); // the launch mount's
    }

    // 200 shares whose server takes no connection: no tool starts, the main thread keeps its pace,
    // and each share shows one notification however often it fails.
    void manyUnreachableSharesStayCheap()
    {
        test::ServerHost notificationServer;
        QVERIFY(notificationServer.ok());
        SystemTools tools = test::linuxStandInTools();
        tools.smbfs = QStringLiteral(VANTREL_TEST_TOOLS_DIR) + QStringLiteral("/mount_smbfs"); // records any run
        Fixture f(tools);
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        f.strategy.retryIntervals = {0.2, 0.2, 0.2, 0.2};
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QString address = QStringLiteral("127.0.0.1:") + QString::number(closed.serverPort());
        closed.close();
        constexpr int shares = 200;
        for (int i = 0; i < shares; ++i) {
            NASConfig config = share(QStringLiteral("S%1").arg(i, 3, 10, QLatin1Char('0')));
            config.address = address;
            f.add(config);
        }
        f.setNetwork(true, homeAddress);

        // Shares seen failed at least once: with retries this short a slow build never sees all of
        // them failed at one moment.
        QSet<QUuid> failed;
        QObject observer;
        connect(&f.appState, &AppStateManager::nasStatusesChanged, &observer, [&] {
            for (const NASStatus& status : f.appState.nasStatuses()) {
                if (status.mountState.is(MountState::Kind::failed))
                    failed.insert(status.configID);
            }
        });
        QElapsedTimer sinceBeat;
        qint64 longestGap = 0;
        double longestBusy = 0;
        double lastCpu = threadCpuMs();
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, &observer, [&] {
            longestGap = std::max(longestGap, sinceBeat.restart());
            const double cpu = threadCpuMs();
            longestBusy = std::max(longestBusy, cpu - lastCpu);
            lastCpu = cpu;
        });
        sinceBeat.start();
        heartbeat.start(5);

        f.strategy.start();
        f.setNetwork(true, homeAddress);
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), shares, 10000);
        // Some rounds of retries.
        QSignalSpy statuses(&f.appState, &AppStateManager::nasStatusesChanged);
        QTRY_VERIFY_WITH_TIMEOUT(statuses.count() >= 3 * shares, 10000);
        heartbeat.stop();

        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 0);
        qInfo("longest gap %lld ms, busy %.1f ms", longestGap, longestBusy);
        // The work a turn does is judged by the main thread's own CPU time: a loaded machine (the
        // suite runs tests side by side, under the sanitizers too) also delays the beats of a main
        // thread that does nothing, which the wall-clock gap cannot tell apart.
        QVERIFY2(longestBusy < 100 * checkedBuildCost,
            qPrintable(QStringLiteral("main thread busy %1 ms in one turn").arg(longestBusy)));
        QVERIFY2(longestGap < 1000, qPrintable(QStringLiteral("main thread stalled %1 ms").arg(longestGap)));
        QHash<QString, int> shownPerShare;
        QTRY_VERIFY_WITH_TIMEOUT(notificationServer.server().onScreen().size() >= shares, 5000);
        for (const QString& body : notificationServer.server().onScreen())
            ++shownPerShare[body.section(QLatin1Char(':'), 0, 0)];
        QCOMPARE(shownPerShare.size(), shares);
        for (auto it = shownPerShare.cbegin(); it != shownPerShare.cend(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(it.key()));
    }

    void connectionLossMarksOfflineAndDropsRetries()
    {
        Fixture f;
        f.defaults.setValue(AutoMountStrategy::autoMountOnLaunchKey, false);
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        const NASConfig failing = f.add(share(QStringLiteral("Failing")));
        const NASConfig idle = f.add(share(QStringLiteral("Idle")));
        const NASConfig disabled = f.add(share(QStringLiteral("Disabled"), false));
        f.setNetwork(true, homeAddress);
        f.strategy.start();
        f.appState.updateStatus(idle.id, MountState::idle());
        f.appState.updateStatus(disabled.id, MountState::mounted(), MountEngine::directoryUrl(f.mountPath(disabled)));

        f.set(QStringLiteral("mount_smbfs.exit"), "1");
        f.mountNow(failing);
        QCOMPARE(f.state(failing.id), MountState::Kind::failed);
        QCOMPARE(f.appState.status(failing.id)->mountState.error()->kind(), VantrelError::Kind::mountFailed);
        QCOMPARE(f.strategy.retryCount(failing.id), 1);
        QCOMPARE(f.strategy.retryTimerInterval(failing.id), 60000ms);
        QTRY_COMPARE(f.notificationsFor(QStringLiteral("mount-failure-Failing")), 1);

        f.setNetwork(false, std::nullopt);
        QTRY_COMPARE(f.state(idle.id), MountState::Kind::offline);
        QCOMPARE(f.state(failing.id), MountState::Kind::offline);
        QCOMPARE(f.state(disabled.id), MountState::Kind::mounted);
        QCOMPARE(f.strategy.retryCount(failing.id), std::nullopt);
        QCOMPARE(f.strategy.retryTimerInterval(failing.id), std::nullopt);
    }

    void evaluationUnmountsNonMatchingAndRemountsVanished()
    {
        Fixture f;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        const NASConfig b = f.add(share(QStringLiteral("B")));
        f.setNetwork(true, homeAddress);

        // A matching share that is mounted and live is left alone.
        f.mountNow(a);
        QCOMPARE(f.state(a.id), MountState::Kind::mounted);
        QTRY_COMPARE(f.notificationsFor(QStringLiteral("mount-success-A")), 1);
        f.fileSystem.declare(f.mountPath(a), QStringLiteral("smbfs"));
        f.appState.updateStatus(b.id, MountState::mounting());
        QCoro::waitFor(f.strategy.evaluate());
        QCOMPARE(f.strategy.pendingMountCount(a.id), 0);
        // One still shown as mounting gets another mount.
        QCOMPARE(f.strategy.pendingMountCount(b.id), 1);
        QTRY_COMPARE(f.state(b.id), MountState::Kind::mounted);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);

        // Mounted but vanished: offline, then mounted again after the delay.
        QSignalSpy statuses(&f.appState, &AppStateManager::nasStatusesChanged);
        QList<MountState::Kind> statesOfB;
        QObject observer;
        connect(&f.appState, &AppStateManager::nasStatusesChanged, &observer,
            [&] { statesOfB.append(*f.state(b.id)); });
        QCoro::waitFor(f.strategy.evaluate());
        QCOMPARE(f.state(b.id), MountState::Kind::offline);
        QTRY_COMPARE(f.state(b.id), MountState::Kind::mounted);
        QCOMPARE(statesOfB, (QList{MountState::Kind::offline, MountState::Kind::mounting, MountState::Kind::mounted}));
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 3);

        // Off the bound network: the mounted share is unmounted, a failed one becomes idle.
        f.appState.updateStatus(b.id, MountState::failed(VantrelError::mountFailed(QStringLiteral("x"))));
        f.setNetwork(true, awayAddress);
        QCoro::waitFor(f.strategy.evaluate());
        QTRY_COMPARE(f.state(a.id), MountState::Kind::idle);
        QCOMPARE(f.state(b.id), MountState::Kind::idle);
        QCOMPARE(f.runs(QStringLiteral("diskutil")), 1);
        QCOMPARE(f.calls(QStringLiteral("diskutil")).last().last(), f.mountPath(a));
        QTRY_COMPARE(f.notificationsFor(QStringLiteral("unmount-A")), 1);
        QCOMPARE(f.notificationsFor(QStringLiteral("unmount-B")), 0);
    }

    void evaluationResetsTheBackOffOfAFailedShare()
    {
        Fixture f;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        f.setNetwork(true, homeAddress);
        f.set(QStringLiteral("mount_smbfs.exit"), "1");
        f.mountNow(a);
        f.mountNow(a);
        QCOMPARE(f.strategy.retryCount(a.id), 2);

        f.strategy.scheduledMountDelay = 60.0;
        QCoro::waitFor(f.strategy.evaluate());
        QCOMPARE(f.strategy.retryCount(a.id), 0);
        QCOMPARE(f.strategy.retryTimerInterval(a.id), std::nullopt);
        QCOMPARE(f.strategy.pendingMountCount(a.id), 1);
    }

    void retryLadderGrowsCapsAndResets()
    {
        Fixture f;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        f.setNetwork(true, homeAddress);
        f.strategy.retryIntervals = {0.02, 0.04, 0.06, 0.08};
        f.set(QStringLiteral("mount_smbfs.exit"), "1");

        // What each failure armed, looked at once the failure's handling is complete.
        QList<std::optional<std::chrono::milliseconds>> armed;
        QList<std::optional<qint64>> counts;
        QObject observer;
        connect(&f.appState, &AppStateManager::nasStatusesChanged, &observer, [&] {
            if (f.state(a.id) != MountState::Kind::failed)
                return;
            QTimer::singleShot(0, &observer, [&] {
                armed.append(f.strategy.retryTimerInterval(a.id));
                counts.append(f.strategy.retryCount(a.id));
                if (armed.size() == 6)
                    f.unset(QStringLiteral("mount_smbfs.exit"));
            });
        });
        f.mountNow(a);
        QTRY_COMPARE_WITH_TIMEOUT(f.state(a.id), MountState::Kind::mounted, 5000);
        using L = QList<std::optional<std::chrono::milliseconds>>;
        QCOMPARE(armed, (L{20ms, 40ms, 60ms, 80ms, 80ms, 80ms}));
        QCOMPARE(counts, (QList<std::optional<qint64>>{1, 2, 3, 4, 5, 6}));
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 7);
        QTRY_COMPARE(f.notificationsFor(QStringLiteral("mount-failure-A")), 6);

        // A success resets the count; the next failure waits the first interval again.
        QCOMPARE(f.strategy.retryCount(a.id), 0);
        f.set(QStringLiteral("mount_smbfs.exit"), "1");
        f.strategy.retryIntervals = {60.0, 60.0, 60.0, 60.0};
        f.mountNow(a);
        QCOMPARE(f.strategy.retryCount(a.id), 1);
        QCOMPARE(f.strategy.retryTimerInterval(a.id), 60000ms);
    }

    void retryOffNetworkEndsTheChain()
    {
        Fixture f;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        f.setNetwork(true, homeAddress);
        f.strategy.retryIntervals = {0.05};
        f.set(QStringLiteral("mount_smbfs.exit"), "1");
        f.mountNow(a);
        // The strategy is not started, so this change only affects what the retry sees.
        f.setNetwork(true, awayAddress);
        QTRY_COMPARE(f.strategy.retryTimerInterval(a.id), std::nullopt);
        QTest::qWait(100);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
        QCOMPARE(f.strategy.retryCount(a.id), 1);
        QCOMPARE(f.state(a.id), MountState::Kind::failed);
    }

    void retryUsesTheStoredConfiguration()
    {
        Fixture f;
        NASConfig edited = f.add(share(QStringLiteral("Edited")));
        const NASConfig disabled = f.add(share(QStringLiteral("Disabled")));
        f.setNetwork(true, homeAddress);
        f.strategy.retryIntervals = {0.1};
        f.set(QStringLiteral("mount_smbfs.exit"), "1");
        // Each mount waits in an event loop, where the other's retry may already come due.
        f.mountNow(edited);
        f.mountNow(disabled);
        QVERIFY(f.runs(QStringLiteral("mount_smbfs")) >= 2);

        edited.sharePath = QStringLiteral("/moved");
        f.configStore.updateConfig(edited);
        NASConfig off = disabled;
        off.isEnabled = false;
        f.configStore.updateConfig(off);

        QTRY_VERIFY(f.calls(QStringLiteral("mount_smbfs")).last().contains(QStringLiteral("//guest@nas.local/moved")));
        QTRY_COMPARE(f.strategy.retryTimerInterval(disabled.id), std::nullopt);
        QTRY_COMPARE(f.state(disabled.id), MountState::Kind::failed);
        const auto disabledRuns = [&] {
            return QString::fromUtf8(f.read(QStringLiteral("mount_smbfs.argv")))
                .count(QStringLiteral("nas.local/disabled"));
        };
        const qsizetype before = disabledRuns();
        const int editedRuns = f.runs(QStringLiteral("mount_smbfs")) - int(before);
        QTest::qWait(300);
        // Only the edited share keeps being retried.
        QCOMPARE(disabledRuns(), before);
        QTRY_VERIFY(f.runs(QStringLiteral("mount_smbfs")) - int(before) > editedRuns);
        QCOMPARE(f.state(disabled.id), MountState::Kind::failed);
    }

    void deletedConfigurationNeverComesBack()
    {
        Fixture f;
        const NASConfig retried = f.add(share(QStringLiteral("Retried")));
        const NASConfig pending = f.add(share(QStringLiteral("Pending")));
        const NASConfig inFlight = f.add(share(QStringLiteral("InFlight")));
        f.setNetwork(true, homeAddress);
        f.strategy.retryIntervals = {0.1};

        f.set(QStringLiteral("mount_smbfs.exit"), "1");
        f.mountNow(retried);
        QVERIFY(f.strategy.retryTimerInterval(retried.id));
        f.configStore.deleteConfig(retried.id);
        QCOMPARE(f.strategy.retryTimerInterval(retried.id), std::nullopt);
        QCOMPARE(f.strategy.retryCount(retried.id), std::nullopt);

        f.unset(QStringLiteral("mount_smbfs.exit"));
        f.strategy.scheduledMountDelay = 0.1;
        f.strategy.scheduleMount(pending);
        f.configStore.deleteConfig(pending.id);
        QCOMPARE(f.strategy.pendingMountCount(pending.id), 0);

        f.set(QStringLiteral("mount_smbfs.hold"));
        auto task = f.strategy.mount(inFlight.id);
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        QCOMPARE(f.state(inFlight.id), MountState::Kind::mounting);
        f.configStore.deleteConfig(inFlight.id);
        f.set(QStringLiteral("mount_smbfs.release"));
        QCoro::waitFor(task);

        QTest::qWait(300);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        QVERIFY(f.appState.nasStatuses().isEmpty());
        QCOMPARE(f.notificationsFor(QStringLiteral("mount-success-InFlight")), 0);
        QVERIFY(!f.strategy.isMountInFlight(inFlight.id));
    }

    void secondMountWhileTheFirstRunsIsNotStarted()
    {
        Fixture f;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        f.setNetwork(true, homeAddress);
        f.set(QStringLiteral("mount_smbfs.hold"));

        auto first = f.strategy.mount(a.id);
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
        auto second = f.strategy.mount(a.id);
        QVERIFY(second.isReady());
        QVERIFY(f.strategy.isMountInFlight(a.id));

        f.set(QStringLiteral("mount_smbfs.release"));
        QCoro::waitFor(first);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
        QCOMPARE(f.state(a.id), MountState::Kind::mounted);
        QCOMPARE(f.notificationsFor(QStringLiteral("mount-failure-A")), 0);
    }

    void bulkOperationsRunConcurrently()
    {
        Fixture f;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        const NASConfig b = f.add(share(QStringLiteral("B")));
        NASConfig away = share(QStringLiteral("Away"));
        away.networkBinding.ipRange = QStringLiteral("10.9.0.0/16");
        f.add(away);
        const NASConfig disabled = f.add(share(QStringLiteral("Disabled"), false));
        f.setNetwork(true, homeAddress);

        f.set(QStringLiteral("mount_smbfs.hold"));
        auto all = f.strategy.mountAll();
        // Both tool runs are under way before either may finish.
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        QVERIFY(!all.isReady());
        f.set(QStringLiteral("mount_smbfs.release"));
        QCoro::waitFor(all);
        QCOMPARE(f.state(a.id), MountState::Kind::mounted);
        QCOMPARE(f.state(b.id), MountState::Kind::mounted);
        QCOMPARE(f.state(away.id), MountState::Kind::idle);

        // The disabled share stays mounted; unmountAll finishes while the loop runs.
        f.appState.updateStatus(disabled.id, MountState::mounted(), MountEngine::directoryUrl(f.mountPath(disabled)));
        QCoro::waitFor(f.strategy.unmountAll());
        QCOMPARE(f.state(a.id), MountState::Kind::idle);
        QCOMPARE(f.state(b.id), MountState::Kind::idle);
        QCOMPARE(f.state(away.id), MountState::Kind::idle);
        QCOMPARE(f.state(disabled.id), MountState::Kind::mounted);
        QCOMPARE(f.runs(QStringLiteral("diskutil")), 2);

        // An unmount failure leaves the share failed, without a retry.
        f.mountNow(a);
        f.set(QStringLiteral("diskutil.exit"), "1");
        f.set(QStringLiteral("diskutil.stderr"), "busy");
        QCoro::waitFor(f.strategy.unmount(a.id));
        QCOMPARE(f.state(a.id), MountState::Kind::failed);
        QCOMPARE(f.appState.status(a.id)->mountState.error()->kind(), VantrelError::Kind::unmountFailed);
        QCOMPARE(f.strategy.retryTimerInterval(a.id), std::nullopt);
    }

    void mountTakesTheShareOverFromOtherConfigurations()
    {
        Fixture f;
        const NASConfig mine = f.add(share(QStringLiteral("Mine")));
        NASConfig holder = share(QStringLiteral("Holder"));
        holder.sharePath = mine.sharePath;
        f.add(holder);
        NASConfig disabled = share(QStringLiteral("Disabled"), false);
        disabled.sharePath = mine.sharePath;
        f.add(disabled);
        const NASConfig other = f.add(share(QStringLiteral("Other")));
        f.setNetwork(true, homeAddress);
        for (const NASConfig& c : {holder, disabled, other})
            f.appState.updateStatus(c.id, MountState::mounted(), MountEngine::directoryUrl(f.mountPath(c)));

        f.mountNow(mine);
        QCOMPARE(f.state(mine.id), MountState::Kind::mounted);
        QCOMPARE(f.runs(QStringLiteral("diskutil")), 2);
        QCOMPARE(f.state(holder.id), MountState::Kind::idle);
        QVERIFY(!f.appState.status(holder.id)->mountPoint);
        QCOMPARE(f.state(disabled.id), MountState::Kind::idle);
        QCOMPARE(f.state(other.id), MountState::Kind::mounted);
        QTRY_COMPARE(f.notificationsFor(QStringLiteral("mount-success-Mine")), 1);
        QCOMPARE(f.notificationsFor(QStringLiteral("unmount-Holder")), 0);

        // A holder that cannot let go keeps its status.
        f.appState.updateStatus(holder.id, MountState::mounted(), MountEngine::directoryUrl(f.mountPath(holder)));
        f.set(QStringLiteral("diskutil.exit"), "1");
        f.mountNow(mine);
        QCOMPARE(f.runs(QStringLiteral("diskutil")), 3);
        QCOMPARE(f.state(holder.id), MountState::Kind::mounted);
        QCOMPARE(f.state(mine.id), MountState::Kind::mounted);
    }

    void retryActionMountsEveryShareOfThatName()
    {
        Fixture f;
        const NASConfig first = f.add(share(QStringLiteral("Office")));
        NASConfig second = share(QStringLiteral("Office"), false);
        second.sharePath = QStringLiteral("/other");
        f.add(second);
        const NASConfig other = f.add(share(QStringLiteral("Home")));
        f.setNetwork(true, homeAddress);

        emit f.notifications.retryRequested(QStringLiteral("Office"));
        QTRY_COMPARE(f.state(first.id), MountState::Kind::mounted);
        QTRY_COMPARE(f.state(second.id), MountState::Kind::mounted);
        QCOMPARE(f.state(other.id), MountState::Kind::idle);
    }

    void shareWithoutAddressIsLeftToExplicitMounts()
    {
        Fixture f;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        NASConfig blank = share(QStringLiteral("Blank"));
        blank.address.clear();
        blank.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        f.add(blank);
        f.setNetwork(true, homeAddress);
        const auto blankRuns = [&f] {
            const QList<QStringList> calls = f.calls(QStringLiteral("mount_smbfs"));
            return std::count_if(calls.cbegin(), calls.cend(),
                [](const QStringList& call) { return call.contains(QStringLiteral("//guest@/blank")); });
        };

        QCoro::waitFor(f.strategy.mountAll());
        QCOMPARE(f.state(a.id), MountState::Kind::mounted);
        QCOMPARE(blankRuns(), 0);
        QCoro::waitFor(f.strategy.evaluate());
        QCOMPARE(f.strategy.pendingMountCount(blank.id), 0);
        QCOMPARE(f.state(blank.id), MountState::Kind::idle);

        // Asked for explicitly it is tried and refused without running the tool (no address is no
        // host), and its failure arms no retry that mounts again.
        f.strategy.retryIntervals = {0.05};
        f.mountNow(blank);
        QCOMPARE(f.state(blank.id), MountState::Kind::failed);
        QCOMPARE(*f.appState.status(blank.id)->mountState.error(),
            VantrelError::mountFailed(NASConfig::unusableAddressText(QString())));
        QTRY_COMPARE(f.strategy.retryTimerInterval(blank.id), std::nullopt);
        QTest::qWait(150);
        QCOMPARE(blankRuns(), 0);
        QTRY_COMPARE(f.notificationsFor(QStringLiteral("mount-failure-Blank")), 1);
    }

    void aConfigurationDeletedWhileItLetsTheShareGoGetsNoStatus()
    {
        Fixture f;
        const NASConfig taker = f.add(share(QStringLiteral("Office")));
        NASConfig holder = share(QStringLiteral("Office Copy"));
        holder.sharePath = taker.sharePath;
        f.add(holder);
        f.setNetwork(true, homeAddress);
        f.mountNow(holder);
        QCOMPARE(f.state(holder.id), MountState::Kind::mounted);

        // The holder's unmount runs while the user deletes it.
        f.set(QStringLiteral("diskutil.hold"));
        QCoro::Task<> mounting = f.strategy.mount(taker.id);
        QTRY_COMPARE(f.runs(QStringLiteral("diskutil")), 1);
        f.configStore.deleteConfig(holder.id);
        f.set(QStringLiteral("diskutil.release"));
        QCoro::waitFor(mounting);

        QCOMPARE(f.state(taker.id), MountState::Kind::mounted);
        QCOMPARE(f.appState.status(holder.id), std::nullopt);
        QCOMPARE(f.appState.nasStatuses().size(), 1);
    }

    void aShareMountedForADeletedConfigurationIsUnmounted()
    {
        Fixture f;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        f.setNetwork(true, homeAddress);
        f.set(QStringLiteral("mount_smbfs.hold"));
        QCoro::Task<> mounting = f.strategy.mount(a.id);
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
        f.configStore.deleteConfig(a.id);
        // The unmount fails at first: the next unmount-all (as at quit) still finds the share.
        f.set(QStringLiteral("diskutil.exit"), "1");
        f.set(QStringLiteral("mount_smbfs.release"));
        QCoro::waitFor(mounting);
        QTRY_COMPARE(f.runs(QStringLiteral("diskutil")), 1);
        QCOMPARE(f.calls(QStringLiteral("diskutil")).last().last(), f.mountPath(a));
        QCOMPARE(f.appState.status(a.id), std::nullopt);
        // The tool ran; its failure is taken in when it ends.
        QTRY_VERIFY(!f.strategy.hasOperationsUnderWay());

        f.unset(QStringLiteral("diskutil.exit"));
        QCoro::waitFor(f.strategy.unmountAll());
        QCOMPARE(f.runs(QStringLiteral("diskutil")), 2);
        QCOMPARE(f.calls(QStringLiteral("diskutil")).last().last(), f.mountPath(a));
        QCoro::waitFor(f.strategy.unmountAll());
        QCOMPARE(f.runs(QStringLiteral("diskutil")), 2);
        QCOMPARE(f.appState.status(a.id), std::nullopt);
    }

    void launchMountFollowsTheSetting()
    {
        {
            Fixture f;
            f.defaults.setValue(MountKeepAlive::enabledKey, false);
            const NASConfig a = f.add(share(QStringLiteral("A")));
            f.setNetwork(true, homeAddress);
            f.strategy.start();
            QCOMPARE(f.state(a.id), MountState::Kind::idle);
            QTRY_COMPARE(f.state(a.id), MountState::Kind::mounted);
        }
        {
            Fixture f;
            f.defaults.setValue(MountKeepAlive::enabledKey, false);
            f.defaults.setValue(AutoMountStrategy::autoMountOnLaunchKey, false);
            const NASConfig a = f.add(share(QStringLiteral("A")));
            f.setNetwork(true, homeAddress);
            f.strategy.start();
            QTest::qWait(300);
            QCOMPARE(f.state(a.id), MountState::Kind::idle);
            QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 0);
        }
    }

    void keepAliveRemountsAVanishedShare()
    {
        Fixture f;
        f.defaults.setValue(AutoMountStrategy::autoMountOnLaunchKey, false);
        f.defaults.setValue(MountKeepAlive::intervalKey, 0.1);
        f.strategy.keepAlive().minimumInterval = 0.01;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        const NASConfig disabled = f.add(share(QStringLiteral("Disabled"), false));
        f.setNetwork(true, homeAddress);
        f.mountNow(a);
        f.fileSystem.declare(f.mountPath(a), QStringLiteral("smbfs"));
        f.appState.updateStatus(disabled.id, MountState::mounted(), MountEngine::directoryUrl(f.mountPath(disabled)));

        QList<MountState::Kind> statesOfA;
        QObject observer;
        connect(&f.appState, &AppStateManager::nasStatusesChanged, &observer, [&] {
            statesOfA.append(*f.state(a.id));
            if (statesOfA.last() == MountState::Kind::mounted)
                f.fileSystem.declare(f.mountPath(a), QStringLiteral("smbfs")); // the remount is live again
        });
        f.strategy.start();
        QVERIFY(f.strategy.keepAlive().isRunning());
        QCOMPARE(f.strategy.keepAlive().timerInterval(), 100ms);
        QTest::qWait(250);
        QVERIFY(statesOfA.isEmpty());

        // Ejected behind our back: the mount point is now an ordinary local folder.
        f.fileSystem.forget(f.mountPath(a));
        QTRY_COMPARE(statesOfA.size(), 3);
        QCOMPARE(statesOfA, (QList{MountState::Kind::offline, MountState::Kind::mounting, MountState::Kind::mounted}));
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        QCOMPARE(f.state(disabled.id), MountState::Kind::mounted);
    }

    void sleepStopsRetriesAndKeepAliveAndWakeRestartsThem()
    {
        Fixture f;
        f.defaults.setValue(AutoMountStrategy::autoMountOnLaunchKey, false);
        f.strategy.debounceDelay = 0.3;
        f.strategy.wakeEvaluationDelay = 0.3;
        f.strategy.scheduledMountDelay = 60.0;
        const NASConfig a = f.add(share(QStringLiteral("A")));
        f.setNetwork(true, homeAddress);
        f.strategy.start();
        f.set(QStringLiteral("mount_smbfs.exit"), "1");
        f.mountNow(a);
        QVERIFY(f.strategy.retryTimerInterval(a.id));
        QCOMPARE(f.strategy.keepAlive().timerInterval(), 180000ms);

        emit f.power.willSleep();
        QVERIFY(!f.strategy.keepAlive().isRunning());
        QCOMPARE(f.strategy.retryTimerInterval(a.id), std::nullopt);
        QCOMPARE(f.strategy.retryCount(a.id), std::nullopt);

        emit f.power.didWake();
        QVERIFY(f.strategy.keepAlive().isRunning());
        // The evaluation follows the wake delay and then the debounce.
        QTest::qWait(200);
        QCOMPARE(f.strategy.pendingMountCount(a.id), 0);
        QTRY_COMPARE(f.strategy.pendingMountCount(a.id), 1);

        // With keep-alive switched off, a wake does not restart it.
        emit f.power.willSleep();
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        emit f.power.didWake();
        QVERIFY(!f.strategy.keepAlive().isRunning());
    }

    // An unmount (the editor's, the menu's unmount-all) lets go of what is mounted at the
    // share's mount point, also when the status no longer records it; unmount-all only of what
    // this copy mounted.
    void unmountReleasesAMountTheStatusNoLongerRecords()
    {
        Fixture f;
        const NASConfig failed = f.add(share(QStringLiteral("Failed")));
        const NASConfig offline = f.add(share(QStringLiteral("Offline")));
        const NASConfig empty = f.add(share(QStringLiteral("Empty")));
        const NASConfig users = f.add(share(QStringLiteral("Users")));
        f.mountNow(offline);
        QCOMPARE(f.state(offline.id), MountState::Kind::mounted);
        for (const NASConfig& config : {failed, offline, users})
            f.fileSystem.declare(f.mountPath(config), QStringLiteral("smbfs"));
        f.appState.updateStatus(failed.id, MountState::failed(VantrelError::unmountFailed(QStringLiteral("busy"))));
        f.appState.updateStatus(offline.id, MountState::offline());
        f.appState.updateStatus(empty.id, MountState::failed(VantrelError::mountFailed(QStringLiteral("x"))));

        QCoro::waitFor(f.strategy.unmount(failed.id));
        QCOMPARE(f.calls(QStringLiteral("diskutil")), (QList<QStringList>{{"unmount", f.mountPath(failed)}}));
        QCOMPARE(f.state(failed.id), MountState::Kind::idle);
        f.fileSystem.forget(f.mountPath(failed));

        QCoro::waitFor(f.strategy.unmountAll());
        QCOMPARE(f.runs(QStringLiteral("diskutil")), 2);
        QCOMPARE(f.calls(QStringLiteral("diskutil")).last().last(), f.mountPath(offline));
        QCOMPARE(f.state(offline.id), MountState::Kind::idle);
        QCOMPARE(f.state(empty.id), MountState::Kind::idle);
        QCOMPARE(f.state(users.id), MountState::Kind::idle);
    }

    // Quitting ends the tools still running at once and starts no mount waiting for its turn;
    // every share ends idle.
    void quittingEndsRunningToolsAndStartsNoWaitingMount()
    {
        Fixture f;
        f.engine.mountsPerServer = 1;
        const NASConfig first = f.add(share(QStringLiteral("First")));
        const NASConfig second = f.add(share(QStringLiteral("Second")));
        f.set(QStringLiteral("mount_smbfs.hold"));
        QCoro::Task<> running = f.strategy.mount(first.id);
        QCoro::Task<> waiting = f.strategy.mount(second.id);
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
        QCOMPARE(ProcessRunner::runningCount(), 1);

        QElapsedTimer clock;
        clock.start();
        QCoro::waitFor(f.strategy.shutDown());
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCoro::waitFor(running);
        QCoro::waitFor(waiting);
        QCOMPARE(ProcessRunner::runningCount(), 0);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
        for (const NASConfig& config : {first, second})
            QCOMPARE(f.state(config.id), MountState::Kind::idle);
    }

    void stopLeavesNothingThatWouldMountLater()
    {
        Fixture f;
        f.defaults.setValue(MountKeepAlive::intervalKey, 0.05);
        f.strategy.keepAlive().minimumInterval = 0.01;
        f.strategy.launchMountDelay = 0.2;
        f.strategy.scheduledMountDelay = 0.2;
        f.strategy.retryIntervals = {0.2};
        const NASConfig delayed = f.add(share(QStringLiteral("Delayed")));
        const NASConfig failing = f.add(share(QStringLiteral("Failing")));
        const NASConfig underWay = f.add(share(QStringLiteral("UnderWay")));
        f.setNetwork(true, homeAddress);
        f.strategy.start();
        f.strategy.scheduleMount(delayed);
        f.set(QStringLiteral("mount_smbfs.exit"), "1");
        f.mountNow(failing);
        QVERIFY(f.strategy.retryTimerInterval(failing.id));
        f.unset(QStringLiteral("mount_smbfs.exit"));
        f.set(QStringLiteral("mount_smbfs.hold"));
        QCoro::Task<> mounting = f.strategy.mount(underWay.id);
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);

        f.strategy.stop();
        QVERIFY(!f.strategy.keepAlive().isRunning());
        QCOMPARE(f.strategy.pendingMountCount(delayed.id), 0);
        QCOMPARE(f.strategy.retryTimerInterval(failing.id), std::nullopt);
        // Neither the network, a wake nor the user's retry action starts anything now.
        f.setNetwork(true, QStringLiteral("192.168.1.21"));
        emit f.power.didWake();
        emit f.notifications.retryRequested(QStringLiteral("Failing"));

        // The mount under way ends and is undone at once.
        f.set(QStringLiteral("mount_smbfs.release"));
        QCoro::waitFor(mounting);
        QTRY_COMPARE(f.runs(QStringLiteral("diskutil")), 1);
        QCOMPARE(f.calls(QStringLiteral("diskutil")).last().last(), f.mountPath(underWay));
        QTest::qWait(400);
        QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 2);
        QCOMPARE(f.state(delayed.id), MountState::Kind::idle);
    }

    // The strategy drives a real mount end to end: a Samba server on 127.0.0.1, the Linux tool
    // set (vantrel-smbfs over FUSE) and shortened intervals. While the server is gone the share
    // shows offline, once, and its mount stays with its process; it shows mounted again when the
    // server is back, and quitting unmounts it with what was written on the server.
    void realShareIsMountedKeptAliveAndUnmountedAtQuit()
    {
        VANTREL_REQUIRE_SMBFS();
        const QString password = QStringLiteral("keep $alive! \"[x]\"");
        test::SambaServer server;
        server.setPassword(password);
        const QString served = server.addShare(QStringLiteral("data"), false);
        QVERIFY2(server.start(), qPrintable(server.errorString()));

        Fixture f(test::linuxTools());
        // A failed check must not leave the mount behind.
        const auto detach = qScopeGuard([&f] { test::detachMountsUnder(f.dir.path()); });
        f.mountForReal();
        f.strategy.retryIntervals = {0.2, 0.2, 0.2, 0.2};

        NASConfig config = share(QStringLiteral("Real"));
        config.address = QStringLiteral("127.0.0.1:") + QString::number(server.port());
        config.sharePath = QStringLiteral("/data");
        config.authMethod = AuthMethod::password;
        config.username = test::SambaServer::userName();
        config.mountOptions.connectionTimeout = 2;
        config.keychainIdentifier = QStringLiteral("e2e-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        QVERIFY(f.keychain.savePassword(password, config.keychainIdentifier));
        f.add(config);
        const QString path = f.mountPath(config);
        f.setNetwork(true, awayAddress);

        QList<MountState::Kind> seen;
        QObject recorder; // goes before `seen`, and its connection with it
        connect(&f.appState, &AppStateManager::nasStatusesChanged, &recorder, [&] {
            const auto state = f.state(config.id);
            if (state && (seen.isEmpty() || seen.last() != *state))
                seen.append(*state);
        });

        f.strategy.start();
        QTRY_COMPARE_WITH_TIMEOUT(f.state(config.id), MountState::Kind::mounted, 15000);
        QCOMPARE(f.appState.status(config.id)->mountPoint, std::optional<QUrl>(MountEngine::directoryUrl(path)));
        QVERIFY(f.engine.isMounted(path));
        const QList<qint64> pids = test::smbfsProcesses(f.engine, path);
        QCOMPARE(pids.size(), 1);
        const int failuresBefore = f.notificationsFor(QStringLiteral("mount-failure-Real"));

        server.stop();
        // A call through the mount finds the server gone, within the mount's bound.
        QFuture<bool> call = QtConcurrent::run([path] { return QFileInfo::exists(path + QStringLiteral("/x")); });
        QTRY_COMPARE_WITH_TIMEOUT(f.state(config.id), MountState::Kind::offline, 30000);
        QTRY_COMPARE(f.notificationsFor(QStringLiteral("mount-failure-Real")), failuresBefore + 1);
        // The mount and its process stay through further passes; no second notification.
        QTest::qWait(1000);
        QCOMPARE(f.state(config.id), MountState::Kind::offline);
        QCOMPARE(test::smbfsProcesses(f.engine, path), pids);
        QCOMPARE(FileSystemInfo::system().mountedTypeAt(path), std::optional<QString>(SmbfsMount::mountType));
        QCOMPARE(f.notificationsFor(QStringLiteral("mount-failure-Real")), failuresBefore + 1);
        call.waitForFinished();

        // Retrying from the notification finds the mount standing and its server still away: the
        // share stays offline and says so again, never "mounted".
        const int successes = f.notificationsFor(QStringLiteral("mount-success-Real"));
        emit f.notifications.retryRequested(QStringLiteral("Real"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notificationsFor(QStringLiteral("mount-failure-Real")), failuresBefore + 2, 15000);
        QCOMPARE(f.state(config.id), MountState::Kind::offline);
        QCOMPARE(f.notificationsFor(QStringLiteral("mount-success-Real")), successes);
        QCOMPARE(test::smbfsProcesses(f.engine, path), pids);

        QVERIFY2(server.start(), qPrintable(server.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(f.state(config.id), MountState::Kind::mounted, 30000);
        QCOMPARE(test::smbfsProcesses(f.engine, path), pids);
        QCOMPARE(seen.count(MountState::Kind::offline), 2);
        QCOMPARE(seen.count(MountState::Kind::mounted), 2);
        QCOMPARE(seen.last(), MountState::Kind::mounted);

        QFile file(path + QStringLiteral("/kept.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("alive");
        file.close();

        // Quitting stops the keep-alive and the retries first: a pass that ran during the unmount
        // would find the share gone and mount it again.
        f.strategy.handleSystemSleep();
        QTRY_VERIFY(!f.strategy.isMountInFlight(config.id) && f.strategy.pendingMountCount(config.id) == 0);
        QCoro::waitFor(f.strategy.unmountAll());
        QCOMPARE(f.state(config.id), MountState::Kind::idle);
        QVERIFY(!FileSystemInfo::system().mountedTypeAt(path));
        QVERIFY(!QFileInfo::exists(path));
        QTRY_VERIFY(test::smbfsProcesses(f.engine, path).isEmpty());
        QFile written(served + QStringLiteral("/kept.txt"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("alive"));
    }

    // A frozen server (stopped, its connections still accepted by the kernel): calls fail within
    // the share's bound, the share shows offline, its mount stays, and it is mounted again after
    // the thaw without a new process.
    void realFrozenServerShowsOfflineAndKeepsTheMount()
    {
        VANTREL_REQUIRE_SMBFS();
        test::SambaServer server;
        server.addShare(QStringLiteral("data"), true);
        QVERIFY2(server.start(), qPrintable(server.errorString()));

        Fixture f(test::linuxTools());
        const auto detach = qScopeGuard([&f] { test::detachMountsUnder(f.dir.path()); });
        const auto thaw = qScopeGuard([&server] { server.thaw(); });
        f.mountForReal();

        NASConfig config = share(QStringLiteral("Frozen"));
        config.address = QStringLiteral("127.0.0.1:") + QString::number(server.port());
        config.sharePath = QStringLiteral("/data");
        config.mountOptions.connectionTimeout = 2;
        config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        f.add(config);
        const QString path = f.mountPath(config);
        f.setNetwork(true, awayAddress);
        f.strategy.start();
        QTRY_COMPARE_WITH_TIMEOUT(f.state(config.id), MountState::Kind::mounted, 15000);
        const QList<qint64> pids = test::smbfsProcesses(f.engine, path);

        server.freeze();
        QElapsedTimer clock;
        clock.start();
        QFuture<bool> call = QtConcurrent::run([path] { return QFileInfo::exists(path + QStringLiteral("/x")); });
        call.waitForFinished();
        const double failed = static_cast<double>(clock.elapsed()) / 1000.0;
        QTRY_COMPARE_WITH_TIMEOUT(f.state(config.id), MountState::Kind::offline, 30000);
        qInfo("frozen server: a call failed after %.2f s, the share showed offline after %.2f s", failed,
            static_cast<double>(clock.elapsed()) / 1000.0);
        QVERIFY2(failed < 10.0, qPrintable(QString::number(failed)));
        QCOMPARE(FileSystemInfo::system().mountedTypeAt(path), std::optional<QString>(SmbfsMount::mountType));

        server.thaw();
        QTRY_COMPARE_WITH_TIMEOUT(f.state(config.id), MountState::Kind::mounted, 30000);
        QCOMPARE(test::smbfsProcesses(f.engine, path), pids);
    }

    // A mount whose process was killed is the only kind the keep-alive detaches: it is mounted
    // again by a new process.
    void realMountWhoseProcessDiedIsDetachedAndMountedAgain()
    {
        VANTREL_REQUIRE_SMBFS();
        test::SambaServer server;
        server.addShare(QStringLiteral("data"), true);
        QVERIFY2(server.start(), qPrintable(server.errorString()));

        Fixture f(test::linuxTools());
        const auto detach = qScopeGuard([&f] { test::detachMountsUnder(f.dir.path()); });
        f.mountForReal();
        f.strategy.retryIntervals = {0.2, 0.2, 0.2, 0.2};
        NASConfig config = share(QStringLiteral("Killed"));
        config.address = QStringLiteral("127.0.0.1:") + QString::number(server.port());
        config.sharePath = QStringLiteral("/data");
        config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        f.add(config);
        const QString path = f.mountPath(config);
        f.setNetwork(true, awayAddress);
        f.strategy.start();
        QTRY_COMPARE_WITH_TIMEOUT(f.state(config.id), MountState::Kind::mounted, 15000);
        const QList<qint64> first = test::smbfsProcesses(f.engine, path);
        QCOMPARE(first.size(), 1);

        ::kill(static_cast<pid_t>(first.first()), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(!test::smbfsProcesses(f.engine, path).isEmpty()
                && test::smbfsProcesses(f.engine, path) != first && f.state(config.id) == MountState::Kind::mounted,
            20000);
        QVERIFY(f.engine.isMounted(path));
        QCoro::waitFor(f.strategy.unmountAll());
        QVERIFY(!FileSystemInfo::system().mountedTypeAt(path));
    }

    // "NAS.local" with "data/" is the share "nas.local" with "/data": mounted once. And when the
    // configuration chosen for a share cannot mount it (no password stored), the next one does.
    void aShareSpelledTwoWaysIsOneAndItsNextConfigurationStepsIn()
    {
        {
            Fixture f;
            f.defaults.setValue(MountKeepAlive::enabledKey, false);
            NASConfig lower = share(QStringLiteral("Lower"));
            lower.sharePath = QStringLiteral("/data");
            NASConfig upper = share(QStringLiteral("Upper"));
            upper.address = QStringLiteral("NAS.local");
            upper.sharePath = QStringLiteral("DATA/");
            f.add(lower);
            f.add(upper);
            f.setNetwork(true, homeAddress);
            f.strategy.start();
            QTRY_COMPARE(f.state(lower.id), MountState::Kind::mounted);
            QTest::qWait(200);
            QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
            QCOMPARE(f.state(upper.id), MountState::Kind::idle);
        }
        {
            Fixture f;
            f.defaults.setValue(MountKeepAlive::enabledKey, false);
            NASConfig stale = share(QStringLiteral("Stale"));
            stale.sharePath = QStringLiteral("/data");
            stale.authMethod = AuthMethod::password;
            stale.username = QStringLiteral("alice");
            stale.keychainIdentifier = QStringLiteral("stale-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
            NASConfig guest = share(QStringLiteral("Guest"));
            guest.sharePath = QStringLiteral("/data/");
            NASConfig third = share(QStringLiteral("Third"));
            third.sharePath = QStringLiteral("data");
            f.add(stale);
            f.add(guest);
            f.add(third);
            f.setNetwork(true, homeAddress);
            f.strategy.start();
            QTRY_COMPARE(f.state(guest.id), MountState::Kind::mounted);
            f.fileSystem.declare(f.mountPath(guest), QStringLiteral("smbfs"));
            QCOMPARE(f.state(stale.id), MountState::Kind::failed);
            // The share is held again: neither the third nor an evaluation starts another mount.
            QCoro::waitFor(f.strategy.evaluate());
            QTest::qWait(200);
            QCOMPARE(f.runs(QStringLiteral("mount_smbfs")), 1);
            QCOMPARE(f.strategy.pendingMountCount(stale.id), 0);
            QCOMPARE(f.strategy.pendingMountCount(third.id), 0);
            QVERIFY(f.state(third.id) != MountState::Kind::mounted);
        }
    }

    // More shares due at once than one turn starts: the rest follow in later turns, all of them.
    void dueMountsBeyondOneTurnStartInLaterTurns()
    {
        Fixture f;
        f.strategy.mountsStartedPerTurn = 2;
        f.setNetwork(true, homeAddress);
        QList<NASConfig> shares;
        for (int i = 0; i < 7; ++i)
            shares.append(f.add(share(QStringLiteral("Due%1").arg(i))));
        for (const NASConfig& config : std::as_const(shares))
            f.strategy.scheduleMount(config);
        QTRY_COMPARE(f.runs(QStringLiteral("mount_smbfs")), 7);
        for (const NASConfig& config : std::as_const(shares))
            QTRY_COMPARE(f.state(config.id), MountState::Kind::mounted);
    }

    // A configuration waiting for its scheduled mount holds its share: an evaluation meanwhile
    // schedules no other configuration of it.
    void aScheduledMountHoldsItsShare()
    {
        Fixture f;
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        const NASConfig first = f.add(share(QStringLiteral("First")));
        NASConfig second = share(QStringLiteral("Second"));
        second.sharePath = first.sharePath;
        f.add(second);
        f.setNetwork(true, homeAddress);
        f.strategy.scheduledMountDelay = 0.5;
        f.strategy.scheduleMount(first);
        QCoro::waitFor(f.strategy.evaluate());
        QCOMPARE(f.strategy.pendingMountCount(second.id), 0);
        QTRY_COMPARE(f.state(first.id), MountState::Kind::mounted);
        QTest::qWait(200);
        for (const QStringList& call : f.calls(QStringLiteral("mount_smbfs")))
            QCOMPARE(call.last(), f.mountPath(first));
        QVERIFY(f.state(second.id) != MountState::Kind::mounted);
    }
};

VANTREL_TEST_MAIN(TestAutoMountStrategy)
#include "tst_AutoMountStrategy.moc"
