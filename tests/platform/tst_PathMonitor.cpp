#include "support/TestMain.h"

#include "platform/PathMonitor.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>

using namespace vantrel;

namespace {

bool runIp(const QStringList& arguments, const QByteArray& input = {})
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), arguments);
    if (!ip.waitForStarted(5000))
        return false;
    ip.write(input);
    ip.closeWriteChannel();
    return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

// Collects the updates on the main thread (they are emitted on the monitor's thread).
struct Updates {
    explicit Updates(PathMonitor& monitor)
    {
        QObject::connect(
            &monitor, &PathMonitor::pathUpdated, &context, [this](bool satisfied) { values << satisfied; },
            Qt::QueuedConnection);
    }
    qsizetype count() const { return values.size(); }
    bool last() const { return !values.isEmpty() && values.last(); }
    bool waitForMore(qsizetype than)
    {
        QDeadlineTimer deadline(5000);
        while (values.size() <= than && !deadline.hasExpired())
            QTest::qWait(10);
        return values.size() > than;
    }
    // Waits until no update has arrived for a whole window.
    void waitQuiet(int windowMs)
    {
        for (int round = 0; round < 40; ++round) {
            const qsizetype before = values.size();
            QTest::qWait(windowMs);
            if (values.size() == before)
                return;
        }
    }

    QObject context;
    QList<bool> values;
};

} // namespace

class TestPathMonitor : public QObject {
    Q_OBJECT

private slots:
    void startDeliversOneUpdateLaterOnItsOwnThread()
    {
        PathMonitor monitor;
        monitor.coalesceInterval = std::chrono::milliseconds(20);
        QString threadName; // written before the queued update is posted, read after it arrives
        connect(
            &monitor, &PathMonitor::pathUpdated, this, [&] { threadName = QThread::currentThread()->objectName(); },
            Qt::DirectConnection);
        Updates updates(monitor);
        monitor.start();
        monitor.start();
        QCOMPARE(updates.count(), 0);
        QVERIFY(updates.waitForMore(0));
        QCOMPARE(threadName, QStringLiteral("com.vantrel.networkmonitor"));
        // A quiet network gives no further update.
        QTest::qWait(200);
        QCOMPARE(updates.count(), 1);

        monitor.stop();
        QVERIFY(!monitor.isRunning());
        monitor.start();
        QVERIFY(updates.waitForMore(1));
        QTest::qWait(50);
        QCOMPARE(updates.count(), 2);
    }

    // In a private network namespace: real interfaces, addresses and routes come and go.
    void followsInterfacesAddressesAndRoutes()
    {
        const int original = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        QVERIFY(original >= 0);
        if (::unshare(CLONE_NEWNET) != 0) {
            ::close(original);
            QSKIP("no permission for a private network namespace");
        }
        // Threads and processes started from here on live in the new namespace.
        auto restore = qScopeGuard([original] {
            ::setns(original, CLONE_NEWNET);
            ::close(original);
        });
        if (!runIp({"link", "add", "vt0", "type", "veth", "peer", "name", "vt1"}))
            QSKIP("cannot create a veth pair here");

        const int quiet = 500;
        PathMonitor monitor;
        monitor.coalesceInterval = std::chrono::milliseconds(300);
        Updates updates(monitor);
        monitor.start();
        QVERIFY(updates.waitForMore(0));
        QCOMPARE(updates.last(), false); // only a loopback and two links that are down

        // Up and running without addresses (no IPv6 link-local either): still nothing usable.
        QVERIFY(runIp({"-batch", "-"},
            "link set vt0 addrgenmode none\nlink set vt1 addrgenmode none\n"
            "link set vt0 up\nlink set vt1 up\nlink set lo up\n"));
        updates.waitQuiet(quiet);
        QCOMPARE(updates.last(), false);

        // A link-local address does not count.
        QVERIFY(runIp({"addr", "add", "169.254.7.7/16", "dev", "vt0"}));
        updates.waitQuiet(quiet);
        QCOMPARE(updates.last(), false);

        // A default route alone does.
        QVERIFY(runIp({"route", "add", "default", "dev", "vt0"}));
        QTRY_VERIFY_WITH_TIMEOUT(updates.last(), 5000);
        updates.waitQuiet(quiet);

        // A burst of address and route changes becomes one update.
        const qsizetype before = updates.count();
        QVERIFY(runIp({"route", "del", "default", "dev", "vt0"}));
        QVERIFY(runIp({"addr", "add", "10.77.0.1/24", "dev", "vt0"}));
        QVERIFY(runIp({"addr", "add", "10.77.0.2/24", "dev", "vt0"}));
        QVERIFY(runIp({"addr", "add", "10.77.1.1/24", "dev", "vt0"}));
        QVERIFY(updates.waitForMore(before));
        updates.waitQuiet(quiet);
        QCOMPARE(updates.count(), before + 1);
        QCOMPARE(updates.last(), true);

        // The interface list: every address with its mask and flags, and the links without one.
        const QList<InterfaceAddress> interfaces = monitor.interfaceAddresses();
        const auto entry = [](const char* name, bool loopback, const char* address, const char* netmask) {
            return InterfaceAddress{QString::fromLatin1(name), true, true, loopback,
                QHostAddress(QString::fromLatin1(address)), QHostAddress(QString::fromLatin1(netmask))};
        };
        QVERIFY(interfaces.contains(entry("vt0", false, "10.77.0.1", "255.255.255.0")));
        QVERIFY(interfaces.contains(entry("vt0", false, "169.254.7.7", "255.255.0.0")));
        QVERIFY(interfaces.contains(entry("lo", true, "127.0.0.1", "255.0.0.0")));
        QVERIFY(std::any_of(interfaces.cbegin(), interfaces.cend(),
            [](const InterfaceAddress& i) { return i.name == QLatin1String("vt1") && i.address.isNull() && i.up; }));

        QVERIFY(runIp({"link", "set", "vt0", "down"}));
        QTRY_VERIFY_WITH_TIMEOUT(!updates.last(), 5000);

        monitor.stop();
    }
};

VANTREL_TEST_MAIN(TestPathMonitor)
#include "tst_PathMonitor.moc"
