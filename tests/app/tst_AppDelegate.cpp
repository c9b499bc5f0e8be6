#include "support/Environment.h"
#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "app/AppDelegate.h"
#include "app/MenuBarController.h"
#include "files/CacheManager.h"
#include "mounting/MountRecord.h"
#include "mounting/NASConfigStore.h"
#include "mounting/SmbfsMount.h"
#include "platform/FileSystemInfo.h"
#include "platform/FileWork.h"
#include "platform/ProcessTable.h"
#include "platform/SingleInstance.h"
#include "services/LogManager.h"
#include "support/FileWorkGate.h"
#include "support/Files.h"
#include "support/MountingFixture.h"
#include "support/SambaServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <csignal>

#include <unistd.h>

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

// ---- the real application against a real Samba server ---------------------------------------

// The children of a process, from the process table.
QList<qint64> childrenOf(qint64 parent)
{
    QList<qint64> children;
    for (const qint64 pid : ProcessTable::ownProcessIds()) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == parent)
            children.append(pid);
    }
    return children;
}

int mountsAt(const QString& path)
{
    int count = 0;
    for (const FileSystemInfo::MountEntry& entry : FileSystemInfo::system().mountTable())
        count += entry.mountPoint == path ? 1 : 0;
    return count;
}

bool nothingServes(const QString& path)
{
    return SmbfsMount::mountProcesses(QStringLiteral("vantrel-smbfs"), path).isEmpty();
}

// Another program's FUSE file system, mounted at the folder until the test ends.
class ForeignMount {
public:
    explicit ForeignMount(const QString& folder)
        : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(VANTREL_FOREIGN_FUSE), {QStringLiteral("-f"), folder});
    }
    ~ForeignMount()
    {
        QProcess::execute(SystemTools::linuxSet().fusermount, {QStringLiteral("-u"), QStringLiteral("-z"), m_folder});
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool serves() const
    {
        return m_process.state() == QProcess::Running && mountsAt(m_folder) == 1
            && QFile::exists(m_folder + QStringLiteral("/foreign.txt"));
    }

private:
    QString m_folder;
    QProcess m_process;
};

// A private home whose configuration store holds shares of a Samba server on 127.0.0.1, and runs
// of the real application in it. Whatever a failed check leaves mounted is detached at the end.
struct RealHome : test::TemporaryFolder {
    RealHome()
        : home(dir.filePath(QStringLiteral("home")))
        , runtime(test::shortTemporaryFolder() + QStringLiteral("/rt-")
              + QUuid::createUuid().toString(QUuid::Id128).left(8))
        , env(dir.filePath(QStringLiteral("test")))
        , appDefaults(home + QStringLiteral("/.config/Vantrel/com.vantrel.app.defaults.json"))
        , store(appDefaults, env.systemLog, env.appState, env.keychain)
    {
        QDir().mkpath(home + QStringLiteral("/tmp"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        server.setPassword(password);
        appDefaults.setValue(QStringLiteral("log.fileEnabled"), true);
        // The keep-alive stays out of the way: what is checked here is what quitting leaves.
        appDefaults.setValue(QStringLiteral("keepAliveEnabled"), false);
    }
    ~RealHome()
    {
        server.thaw();
        test::detachMountsUnder(home);
    }

    NASConfig addShare(const QString& name, const QString& share)
    {
        NASConfig config;
        config.name = name;
        config.address = QStringLiteral("127.0.0.1:") + QString::number(server.port());
        config.sharePath = QLatin1Char('/') + share;
        config.authMethod = AuthMethod::password;
        config.username = test::SambaServer::userName();
        config.keychainIdentifier = QStringLiteral("app-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        env.keychain.savePassword(password, config.keychainIdentifier);
        store.addConfig(config);
        appDefaults.synchronize();
        return config;
    }
    QByteArray log() const
    {
        QFile file(home + QStringLiteral("/.local/share/Vantrel/Logs/Vantrel.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString mountPoint(const NASConfig& config) const
    {
        return home + QStringLiteral("/VantrelVolumes/") + config.name;
    }

    const QString password = QStringLiteral("qu!t \"clean\"");
    test::SambaServer server;
    QString home;
    QString runtime;
    test::ConfigEnvironment env;
    Defaults appDefaults;
    NASConfigStore store;
};

class RealApp {
public:
    explicit RealApp(const RealHome& home)
    {
        QProcessEnvironment env = test::privateHomeEnvironment(home.home);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.runtime);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(VANTREL_APP_BINARY), QStringList());
    }
    ~RealApp()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess& process() { return m_process; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
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

    // Quitting the real application (SIGTERM) leaves no mount and none of its child processes,
    // within the quit's time cap, whatever state the share is in.
    void realApplicationQuitsLeavingNothingBehind_data()
    {
        QTest::addColumn<QString>("situation");
        for (const char* situation : {"mounted", "mounting", "dead", "busy", "frozen"})
            QTest::newRow(situation) << QString::fromLatin1(situation);
    }

    void realApplicationQuitsLeavingNothingBehind()
    {
        VANTREL_REQUIRE_SMBFS();
        QFETCH(QString, situation);
        RealHome h;
        h.server.addShare(QStringLiteral("data"), false);
        QVERIFY2(h.server.start(), qPrintable(h.server.errorString()));
        const NASConfig config = h.addShare(QStringLiteral("Data"), QStringLiteral("data"));
        const QString path = h.mountPoint(config);
        const QString smbfs = QStringLiteral(VANTREL_SMBFS_BINARY);

        if (situation == QLatin1String("frozen"))
            h.server.freeze();
        RealApp app(h);
        QVERIFY(app.process().waitForStarted(10000));
        if (situation == QLatin1String("mounting")) {
            // Caught as soon as its vantrel-smbfs runs.
            QElapsedTimer clock;
            clock.start();
            while (nothingServes(path) && clock.elapsed() < 15000)
                QTest::qWait(2);
            QVERIFY(!nothingServes(path));
        } else if (situation == QLatin1String("frozen")) {
            // Its login waits on the server.
            const auto loggingIn = [&app] {
                for (const qint64 pid : childrenOf(app.pid())) {
                    const QStringList arguments = ProcessTable::commandLine(pid);
                    if (!arguments.isEmpty()
                        && QFileInfo(arguments.first()).fileName() == QLatin1String("vantrel-smbfs"))
                        return true;
                }
                return false;
            };
            QTRY_VERIFY_WITH_TIMEOUT(loggingIn(), 15000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(FileSystemInfo::system().mountedTypeAt(path),
                std::optional<QString>(SmbfsMount::mountType), 15000);
        }

        QFile open(path + QStringLiteral("/busy.txt"));
        if (situation == QLatin1String("dead")) {
            for (const qint64 pid : SmbfsMount::mountProcesses(smbfs, path))
                ProcessTable::signal({pid}, SIGKILL);
            QTRY_VERIFY(nothingServes(path));
            QCOMPARE(mountsAt(path), 1);
        } else if (situation == QLatin1String("busy")) {
            test::makeFile(path + QStringLiteral("/busy.txt"), "held open");
            QVERIFY(open.open(QIODevice::ReadOnly));
        }

        const QList<qint64> children = childrenOf(app.pid());
        QElapsedTimer clock;
        clock.start();
        app.process().terminate();
        QVERIFY(app.process().waitForFinished(15000));
        const qint64 quitTook = clock.elapsed();
        qInfo("%s: quit took %lld ms", qPrintable(situation), quitTook);
        QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
        QVERIFY2(quitTook < 5500, qPrintable(QString::number(quitTook)));
        QCOMPARE(mountsAt(path), 0);
        if (situation == QLatin1String("busy")) {
            // Detached, not killed: the open file is served to its end, then the process ends.
            QVERIFY(!nothingServes(path));
            QCOMPARE(open.readAll(), QByteArray("held open"));
            open.close();
            QTRY_VERIFY_WITH_TIMEOUT(nothingServes(path), 10000);
        }
        QVERIFY(nothingServes(path));
        for (const qint64 pid : children)
            QVERIFY2(ProcessTable::commandLine(pid).isEmpty(), qPrintable(ProcessTable::commandLine(pid).join(u' ')));
    }

    // Quitting right after a large file was closed: the server holds all of it.
    void realApplicationQuitRightAfterALargeFileIsClosedLeavesItWholeOnTheServer()
    {
        VANTREL_REQUIRE_SMBFS();
        RealHome h;
        const QString served = h.server.addShare(QStringLiteral("data"), false);
        QVERIFY2(h.server.start(), qPrintable(h.server.errorString()));
        const NASConfig config = h.addShare(QStringLiteral("Data"), QStringLiteral("data"));
        const QString path = h.mountPoint(config);
        RealApp app(h);
        QTRY_COMPARE_WITH_TIMEOUT(FileSystemInfo::system().mountedTypeAt(path),
            std::optional<QString>(SmbfsMount::mountType), 15000);

        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((static_cast<quint32>(i) * 7919u) >> 3);
        constexpr int blocks = 96;
        QCryptographicHash written(QCryptographicHash::Sha256);
        {
            QFile file(path + QStringLiteral("/large.bin"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (int i = 0; i < blocks; ++i) {
                block[0] = static_cast<char>(i);
                QCOMPARE(file.write(block), qint64(block.size()));
                written.addData(block);
            }
            file.close();
            QCOMPARE(file.error(), QFileDevice::NoError);
        }
        app.process().terminate();
        QVERIFY(app.process().waitForFinished(15000));
        QCOMPARE(mountsAt(path), 0);
        QTRY_VERIFY_WITH_TIMEOUT(nothingServes(path), 10000);

        QFile onServer(served + QStringLiteral("/large.bin"));
        QVERIFY(onServer.open(QIODevice::ReadOnly));
        QCOMPARE(onServer.size(), qint64(blocks) * block.size());
        QCryptographicHash read(QCryptographicHash::Sha256);
        QVERIFY(read.addData(&onServer));
        QCOMPARE(read.result(), written.result());
    }

    // Quitting while `cp` writes into the share: the busy mount is detached lazily, the copy goes
    // on through the process that serves it, and the server ends with the whole file, or the
    // copy saw an error; the process then ends by itself.
    void realApplicationQuitDuringACopyLosesNothingSilently()
    {
        VANTREL_REQUIRE_SMBFS();
        RealHome h;
        const QString served = h.server.addShare(QStringLiteral("data"), false);
        QVERIFY2(h.server.start(), qPrintable(h.server.errorString()));
        const NASConfig config = h.addShare(QStringLiteral("Data"), QStringLiteral("data"));
        const QString path = h.mountPoint(config);
        const QString source = h.dir.filePath(QStringLiteral("source.bin"));
        {
            QFile file(source);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray block(1 << 20, 'c');
            for (int i = 0; i < 192; ++i) {
                block[0] = static_cast<char>(i);
                QCOMPARE(file.write(block), qint64(block.size()));
            }
        }
        RealApp app(h);
        QTRY_COMPARE_WITH_TIMEOUT(FileSystemInfo::system().mountedTypeAt(path),
            std::optional<QString>(SmbfsMount::mountType), 15000);

        QProcess copy;
        copy.setProcessChannelMode(QProcess::ForwardedChannels);
        copy.start(QStringLiteral("cp"), {QStringLiteral("--"), source, path + QStringLiteral("/copied.bin")});
        QVERIFY(copy.waitForStarted());
        QTRY_VERIFY(QFileInfo(served + QStringLiteral("/copied.bin")).exists());

        app.process().terminate();
        QVERIFY(app.process().waitForFinished(15000));
        QCOMPARE(mountsAt(path), 0);
        QVERIFY(copy.waitForFinished(120000));
        QTRY_VERIFY_WITH_TIMEOUT(nothingServes(path), 20000);
        if (copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0) {
            QFile original(source);
            QFile onServer(served + QStringLiteral("/copied.bin"));
            QVERIFY(original.open(QIODevice::ReadOnly) && onServer.open(QIODevice::ReadOnly));
            QCOMPARE(onServer.size(), original.size());
            QCOMPARE(QCryptographicHash::hash(onServer.readAll(), QCryptographicHash::Sha256),
                QCryptographicHash::hash(original.readAll(), QCryptographicHash::Sha256));
        } else {
            qInfo("the copy reported its failure (exit code %d)", copy.exitCode());
        }
    }

    // After a crash (kill -9) the next start adopts the share still mounted and serving, releases a
    // dead leftover under the mount root before its launch mount, and ends with one mount each.
    void realApplicationAfterACrashAdoptsTheLiveMountAndReleasesTheDeadOne()
    {
        VANTREL_REQUIRE_SMBFS();
        RealHome h;
        h.server.addShare(QStringLiteral("data"), false);
        h.server.addShare(QStringLiteral("old"), false);
        h.server.addShare(QStringLiteral("fresh"), false);
        QVERIFY2(h.server.start(), qPrintable(h.server.errorString()));
        const NASConfig data = h.addShare(QStringLiteral("Data"), QStringLiteral("data"));
        const NASConfig old = h.addShare(QStringLiteral("Old"), QStringLiteral("old"));
        const QString smbfs = QStringLiteral(VANTREL_SMBFS_BINARY);
        {
            RealApp crashed(h);
            for (const NASConfig& config : {data, old})
                QTRY_COMPARE_WITH_TIMEOUT(mountsAt(h.mountPoint(config)), 1, 15000);
            crashed.process().kill();
            QVERIFY(crashed.process().waitForFinished(5000));
        }
        // The live one stays with its vantrel-smbfs; the other's process is gone, its mount dead.
        QVERIFY(!nothingServes(h.mountPoint(data)));
        const QList<qint64> adopted = SmbfsMount::mountProcesses(smbfs, h.mountPoint(data));
        for (const qint64 pid : SmbfsMount::mountProcesses(smbfs, h.mountPoint(old)))
            ProcessTable::signal({pid}, SIGKILL);
        QTRY_VERIFY(nothingServes(h.mountPoint(old)));
        QCOMPARE(mountsAt(h.mountPoint(old)), 1);

        // The dead one's configuration is gone meanwhile; another share is added.
        h.store.deleteConfig(old.id);
        const NASConfig fresh = h.addShare(QStringLiteral("Fresh"), QStringLiteral("fresh"));

        RealApp next(h);
        QTRY_COMPARE_WITH_TIMEOUT(mountsAt(h.mountPoint(fresh)), 1, 15000);
        QCOMPARE(mountsAt(h.mountPoint(data)), 1);
        QCOMPARE(mountsAt(h.mountPoint(old)), 0);
        QCOMPARE(SmbfsMount::mountProcesses(smbfs, h.mountPoint(data)), adopted);

        next.process().terminate();
        QVERIFY(next.process().waitForFinished(15000));
        for (const NASConfig& config : {data, fresh}) {
            QCOMPARE(mountsAt(h.mountPoint(config)), 0);
            QVERIFY(nothingServes(h.mountPoint(config)));
        }
    }

    // A second launch hands over to the running copy and quits without touching a mount; neither
    // copy's quit touches another program's mount at a disabled share's custom folder.
    void realApplicationLeavesMountsItDidNotMakeAlone()
    {
        RealHome h;
        const QString foreignFolder = h.home + QStringLiteral("/elsewhere/Foreign");
        NASConfig config;
        config.name = QStringLiteral("Foreign");
        config.address = QStringLiteral("127.0.0.1:1");
        config.sharePath = QStringLiteral("/foreign");
        config.isEnabled = false;
        config.mountOptions.customMountPoint = foreignFolder;
        h.store.addConfig(config);
        h.appDefaults.synchronize();
        ForeignMount other(foreignFolder);
        QTRY_VERIFY_WITH_TIMEOUT(other.serves(), 10000);

        RealApp first(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.log().contains("Vantrel application started successfully"), 15000);
        // The first copy's record of its mounts, which the second must leave as it is.
        const QString recordPath = h.home + QStringLiteral("/.local/state/Vantrel/mounts.json");
        QTRY_VERIFY_WITH_TIMEOUT(MountRecord::read(recordPath).has_value(), 15000);
        QCOMPARE(MountRecord::read(recordPath)->owner.pid, first.pid());
        {
            RealApp second(h);
            QVERIFY(second.process().waitForFinished(15000));
            QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        }
        QTRY_VERIFY(h.log().contains("Activation requested by another launch"));
        QVERIFY(other.serves());
        QCOMPARE(MountRecord::read(recordPath)->owner.pid, first.pid());

        first.process().terminate();
        QVERIFY(first.process().waitForFinished(15000));
        QVERIFY(other.serves());
    }

    // A file renamed over the running copy's socket does not make it deaf: a second launch still
    // brings its window forward.
    void realApplicationIsFoundAgainAfterItsSocketPathWasReplaced()
    {
        RealHome h;
        RealApp first(h);
        QTRY_VERIFY_WITH_TIMEOUT(h.log().contains("Vantrel application started successfully"), 15000);
        const QString socket = h.runtime + QStringLiteral("/com.vantrel.app-") + QString::number(::getuid());
        QVERIFY(QFileInfo(socket).exists());
        const QString replacement = h.runtime + QStringLiteral("/replacement");
        QVERIFY(test::writeFile(replacement, "not a socket"));
        QCOMPARE(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(socket).constData()), 0);

        RealApp second(h);
        QVERIFY(second.process().waitForFinished(15000));
        QTRY_VERIFY(h.log().contains("Activation requested by another launch"));
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
