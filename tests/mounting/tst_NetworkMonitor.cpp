#include "support/FakePathMonitor.h"
#include "support/TestMain.h"

#include "mounting/NetworkMonitor.h"
#include "platform/PathMonitor.h"
#include "platform/WifiInfo.h"

#include <QMutex>
#include <QThread>

using namespace vantrel;
using vantrel::test::FakePathMonitor;

namespace {

class FakeWifi final : public WifiInfo {
public:
    FakeWifi()
        : WifiInfo(QDBusConnection(QStringLiteral("vantrel-no-bus")))
    {
    }
    std::optional<QString> currentSSID() const override
    {
        QMutexLocker lock(&mutex);
        thread = QThread::currentThread();
        return ssid;
    }
    void set(std::optional<QString> value)
    {
        QMutexLocker lock(&mutex);
        ssid = std::move(value);
    }
    QThread* callingThread() const
    {
        QMutexLocker lock(&mutex);
        return thread;
    }

private:
    mutable QMutex mutex;
    std::optional<QString> ssid;
    mutable QThread* thread = nullptr;
};

std::optional<quint32> ip(int a, int b, int c, int d)
{
    return quint32(a) << 24 | quint32(b) << 16 | quint32(c) << 8 | quint32(d);
}

NetworkBindingConfig binding(NetworkBindingStrategy strategy, const QString& range, const QStringList& ssids)
{
    NetworkBindingConfig b;
    b.strategy = strategy;
    b.ipRange = range;
    b.ssidList = ssids;
    return b;
}

InterfaceAddress entry(const char* name, bool up, bool loopback, const char* address, const char* netmask)
{
    const auto host = [](const char* text) { return text ? QHostAddress(QString::fromLatin1(text)) : QHostAddress(); };
    return InterfaceAddress{QString::fromLatin1(name), up, up, loopback, host(address), host(netmask)};
}

} // namespace

class TestNetworkMonitor : public QObject {
    Q_OBJECT

private slots:
    void parseIPv4ReadsDecimalPiecesAndSkipsUnreadableOnes()
    {
        QCOMPARE(NetworkMonitor::parseIPv4("192.168.1.23"), ip(192, 168, 1, 23));
        QCOMPARE(NetworkMonitor::parseIPv4("0.0.0.0"), ip(0, 0, 0, 0));
        QCOMPARE(NetworkMonitor::parseIPv4("255.255.255.255"), ip(255, 255, 255, 255));
        // Leading zeros are decimal, never octal; a plus sign and "-0" read as numbers.
        QCOMPARE(NetworkMonitor::parseIPv4("010.001.0.09"), ip(10, 1, 0, 9));
        QCOMPARE(NetworkMonitor::parseIPv4("+1.2.3.+4"), ip(1, 2, 3, 4));
        QCOMPARE(NetworkMonitor::parseIPv4("-0.2.3.4"), ip(0, 2, 3, 4));
        // Empty and unreadable pieces are dropped, not rejected.
        QCOMPARE(NetworkMonitor::parseIPv4("1.2.x.3.4"), ip(1, 2, 3, 4));
        QCOMPARE(NetworkMonitor::parseIPv4(".1..2.3.4."), ip(1, 2, 3, 4));
        QCOMPARE(NetworkMonitor::parseIPv4("4294967296.1.2.3.4"), ip(1, 2, 3, 4)); // beyond 32 bits
        QCOMPARE(NetworkMonitor::parseIPv4("1.2.3.4.-1"), ip(1, 2, 3, 4));
        // Not exactly four numbers, or one above 255: no address.
        QCOMPARE(NetworkMonitor::parseIPv4("1.2.3.256"), std::nullopt);
        QCOMPARE(NetworkMonitor::parseIPv4("1.2.3"), std::nullopt);
        QCOMPARE(NetworkMonitor::parseIPv4("1.2.3.4.5"), std::nullopt);
        QCOMPARE(NetworkMonitor::parseIPv4("-1.2.3.4"), std::nullopt);
        QCOMPARE(NetworkMonitor::parseIPv4("1.2.3.4 "), std::nullopt); // trailing garbage spoils the piece
        QCOMPARE(NetworkMonitor::parseIPv4("1.2.3.4abc"), std::nullopt);
        QCOMPARE(NetworkMonitor::parseIPv4("1.2.3.+"), std::nullopt);
        QCOMPARE(NetworkMonitor::parseIPv4(QStringLiteral("1.2.3.\u0664")), std::nullopt); // non-ASCII digit
        QCOMPARE(NetworkMonitor::parseIPv4(""), std::nullopt);
    }

    void rangeTestRules()
    {
        auto in = [](const char* address, const char* range) {
            return NetworkMonitor::isIP(QString::fromLatin1(address), QString::fromLatin1(range));
        };
        QVERIFY(in("192.168.1.50", "192.168.1.0/24"));
        QVERIFY(!in("192.168.2.50", "192.168.1.0/24"));
        // Network and broadcast addresses do not count for prefixes 1 to 30.
        QVERIFY(!in("192.168.1.0", "192.168.1.0/24"));
        QVERIFY(!in("192.168.1.255", "192.168.1.0/24"));
        QVERIFY(in("10.0.0.1", "10.0.0.0/30"));
        QVERIFY(in("10.0.0.2", "10.0.0.0/30"));
        QVERIFY(!in("10.0.0.3", "10.0.0.0/30"));
        QVERIFY(!in("128.0.0.0", "128.0.0.0/1"));
        // Host bits in the range are ignored.
        QVERIFY(in("192.168.1.50", "192.168.1.77/24"));
        QVERIFY(!in("192.168.1.0", "192.168.1.77/24"));
        QVERIFY(!in("192.168.1.255", "192.168.1.77/24"));
        // /31 holds both addresses, /32 only the address itself, /0 everything.
        QVERIFY(in("10.0.0.0", "10.0.0.0/31"));
        QVERIFY(in("10.0.0.1", "10.0.0.0/31"));
        QVERIFY(!in("10.0.0.2", "10.0.0.0/31"));
        QVERIFY(in("10.0.0.1", "10.0.0.1/32"));
        QVERIFY(!in("10.0.0.2", "10.0.0.1/32"));
        QVERIFY(in("0.0.0.0", "1.2.3.4/0"));
        QVERIFY(in("255.255.255.255", "1.2.3.4/0"));
        QVERIFY(in("8.8.8.8", "1.2.3.4/-0"));
        QVERIFY(in("10.1.2.3", "10.0.0.0/+8"));
        QVERIFY(in("10.1.2.3", "10.0.0.0/08"));
        QVERIFY(in("10.1.2.3", "10.0.0.0//8")); // empty pieces are dropped
        // Malformed ranges and prefixes never match.
        QVERIFY(!in("10.0.0.1", "10.0.0.1"));
        QVERIFY(!in("10.0.0.1", "/32"));
        QVERIFY(!in("10.0.0.1", "10.0.0.0/8/8"));
        QVERIFY(!in("10.0.0.1", "10.0.0.0/33"));
        QVERIFY(!in("10.0.0.1", "10.0.0.0/-1"));
        QVERIFY(!in("10.0.0.1", "10.0.0.0/8x"));
        QVERIFY(!in("10.0.0.1", "10.0.0.0/ 8"));
        QVERIFY(!in("10.0.0.1", "10.0.0.0/99999999999999999999"));
        QVERIFY(!in("10.0.0.1", "10.0.0.0/-9223372036854775808"));
        QVERIFY(!in("10.0.0.1", "300.0.0.0/8"));
        QVERIFY(!in("10.0.0.256", "10.0.0.0/8"));
        QVERIFY(!NetworkMonitor::isIP(std::nullopt, QStringLiteral("0.0.0.0/0")));
    }

    void strategiesAndTheirDetails()
    {
        using S = NetworkBindingStrategy;
        const std::optional<QString> address = QStringLiteral("192.168.1.50");
        const std::optional<QString> home = QStringLiteral("Home");
        const auto eval = [&](const NetworkBindingConfig& b, std::optional<QString> a, std::optional<QString> s) {
            return NetworkMonitor::evaluate(b, a, s);
        };

        // ipRange: an empty range never matches, whatever the address.
        QCOMPARE(eval(binding(S::ipRange, "", {}), address, home),
            (NetworkMatchResult{false, false, false, S::ipRange}));
        QCOMPARE(eval(binding(S::ipRange, "192.168.1.0/24", {}), address, std::nullopt),
            (NetworkMatchResult{true, true, false, S::ipRange}));
        QCOMPARE(eval(binding(S::ipRange, "192.168.1.0/24", {}), std::nullopt, home).matched, false);
        // Each partial result is computed whatever the strategy.
        QCOMPARE(eval(binding(S::ipRange, "10.0.0.0/8", {"Home"}), address, home),
            (NetworkMatchResult{false, false, true, S::ipRange}));

        // ssid: exact, case-sensitive; an empty list, no name or an empty name never match.
        QCOMPARE(eval(binding(S::ssid, "", {"Office", "Home"}), std::nullopt, home),
            (NetworkMatchResult{true, false, true, S::ssid}));
        QCOMPARE(eval(binding(S::ssid, "", {"home"}), address, home).matched, false);
        QCOMPARE(eval(binding(S::ssid, "", {"Home "}), address, home).matched, false);
        QCOMPARE(eval(binding(S::ssid, "192.168.1.0/24", {}), address, home),
            (NetworkMatchResult{false, true, false, S::ssid}));
        QCOMPARE(eval(binding(S::ssid, "", {"Home"}), address, std::nullopt).matched, false);
        QCOMPARE(eval(binding(S::ssid, "", {""}), address, QString()).matched, false);

        // combined: both must hold; an empty range fails even with a listed name.
        QCOMPARE(eval(binding(S::combined, "192.168.1.0/24", {"Home"}), address, home),
            (NetworkMatchResult{true, true, true, S::combined}));
        QCOMPARE(eval(binding(S::combined, "", {"Home"}), address, home),
            (NetworkMatchResult{false, false, true, S::combined}));
        QCOMPARE(eval(binding(S::combined, "192.168.1.0/24", {"Office"}), address, home),
            (NetworkMatchResult{false, true, false, S::combined}));
        QCOMPARE(eval(binding(S::combined, "", {}), address, home),
            (NetworkMatchResult{false, false, false, S::combined}));
    }

    void addressSelectionFollowsTheInterfaceFilters()
    {
        QCOMPARE(NetworkMonitor::firstIPv4({}), std::nullopt);

        QList<InterfaceAddress> list{entry("lo", true, true, "127.0.0.1", "255.0.0.0"),
            entry("down0", false, false, "10.1.1.1", "255.0.0.0"), entry("eth0", true, false, nullptr, nullptr),
            entry("eth0", true, false, "fd00::1", "ffff:ffff::"), entry("nomask", true, false, "10.2.2.2", nullptr),
            entry("v6mask", true, false, "10.3.3.3", "ffff::")};
        QCOMPARE(NetworkMonitor::firstIPv4(list), std::nullopt);

        // Up is enough: running is not required.
        InterfaceAddress notRunning = entry("eth1", true, false, "192.168.1.23", "255.255.255.0");
        notRunning.running = false;
        list << notRunning << entry("eth2", true, false, "172.16.0.5", "255.255.0.0");
        QCOMPARE(NetworkMonitor::firstIPv4(list), (IPv4Info{"192.168.1.23", "192.168.1.0/24"}));

        // The prefix counts the leading ones only; the network uses the whole mask.
        QCOMPARE(NetworkMonitor::firstIPv4({entry("eth0", true, false, "10.20.30.40", "255.0.255.0")}),
            (IPv4Info{"10.20.30.40", "10.0.30.0/8"}));
        QCOMPARE(NetworkMonitor::firstIPv4({entry("eth0", true, false, "10.0.0.7", "255.255.255.255")}),
            (IPv4Info{"10.0.0.7", "10.0.0.7/32"}));
        QCOMPARE(NetworkMonitor::firstIPv4({entry("eth0", true, false, "10.0.0.7", "0.0.0.0")}),
            (IPv4Info{"10.0.0.7", "0.0.0.0/0"}));
    }

    void updatesPublishInOrderOnEveryAssignment()
    {
        auto* path = new FakePathMonitor;
        auto* wifi = new FakeWifi;
        wifi->set(QStringLiteral("Home"));
        path->setIPv4(QStringLiteral("192.168.1.50"));
        NetworkMonitor monitor{std::unique_ptr<PathMonitor>(path), std::unique_ptr<WifiInfo>(wifi)};

        QStringList events;
        connect(&monitor, &NetworkMonitor::isConnectedChanged, this,
            [&](bool v) { events << QStringLiteral("connected=%1").arg(v ? 1 : 0); });
        connect(&monitor, &NetworkMonitor::currentIPAddressChanged, this,
            [&](const std::optional<QString>& v) { events << QStringLiteral("ip=%1").arg(v.value_or("none")); });
        connect(&monitor, &NetworkMonitor::currentSSIDChanged, this,
            [&](const std::optional<QString>& v) { events << QStringLiteral("ssid=%1").arg(v.value_or("none")); });

        monitor.startMonitoring();
        monitor.startMonitoring();
        QCOMPARE(path->starts, 1);

        emit path->pathUpdated(true);
        QVERIFY(events.isEmpty()); // applied through the event loop, never inside the update
        QTRY_COMPARE(events, (QStringList{"connected=1", "ip=192.168.1.50", "ssid=Home"}));
        QVERIFY(monitor.isConnected());
        QCOMPARE(monitor.currentSSID(), std::optional<QString>("Home"));

        NASConfig config;
        config.networkBinding = binding(NetworkBindingStrategy::combined, "192.168.1.0/24", {"Home"});
        QVERIFY(monitor.matches(config));
        QCOMPARE(monitor.matchDetails(config),
            (NetworkMatchResult{true, true, true, NetworkBindingStrategy::combined}));

        // An unchanged update is announced again.
        events.clear();
        emit path->pathUpdated(true);
        QTRY_COMPARE(events, (QStringList{"connected=1", "ip=192.168.1.50", "ssid=Home"}));

        // Connected without a usable address; then the path goes away.
        events.clear();
        path->setIPv4(std::nullopt);
        emit path->pathUpdated(true);
        emit path->pathUpdated(false);
        QTRY_COMPARE(events.size(), 6);
        QCOMPARE(events, (QStringList{"connected=1", "ip=none", "ssid=Home", "connected=0", "ip=none", "ssid=none"}));
        QVERIFY(!monitor.isConnected());
        QVERIFY(!monitor.matches(config));
        // The binding test ignores isConnected: it looks only at the two values.
        path->setIPv4(QStringLiteral("10.0.0.1"), QStringLiteral("255.0.0.0"));
        QCOMPARE(monitor.currentIPv4(), (IPv4Info{"10.0.0.1", "10.0.0.0/8"}));
        QCOMPARE(monitor.currentIPAddress(), std::nullopt);
    }

    void updateForAGoneMonitorDoesNothing()
    {
        auto* path = new FakePathMonitor;
        path->setIPv4(QStringLiteral("10.0.0.1"));
        auto* monitor = new NetworkMonitor(std::unique_ptr<PathMonitor>(path), std::make_unique<FakeWifi>());
        QSignalSpy applied(monitor, &NetworkMonitor::isConnectedChanged);
        monitor->startMonitoring();
        emit path->pathUpdated(true);
        QCOMPARE(path->reads(), 1);
        delete monitor;
        QCoreApplication::processEvents();
        QCOMPARE(applied.count(), 0);
    }

    void realPathMonitorDeliversTheFirstUpdateAsynchronously()
    {
        auto* path = new PathMonitor;
        path->coalesceInterval = std::chrono::milliseconds(20);
        auto* wifi = new FakeWifi;
        wifi->set(QStringLiteral("Lab"));
        NetworkMonitor monitor{std::unique_ptr<PathMonitor>(path), std::unique_ptr<WifiInfo>(wifi)};
        QSignalSpy connected(&monitor, &NetworkMonitor::isConnectedChanged);
        QSignalSpy ssid(&monitor, &NetworkMonitor::currentSSIDChanged);
        monitor.startMonitoring();
        QCOMPARE(connected.count(), 0);
        QVERIFY(ssid.wait(5000));
        QCOMPARE(connected.count(), 1);
        if (monitor.isConnected()) {
            QCOMPARE(monitor.currentSSID(), std::optional<QString>("Lab"));
            // The Wi-Fi source is asked on the monitor's thread, never the main thread.
            QVERIFY(wifi->callingThread() != QThread::currentThread());
            QCOMPARE(wifi->callingThread()->objectName(), QStringLiteral("com.vantrel.networkmonitor"));
        }
        monitor.stopMonitoring();
        QVERIFY(!path->isRunning());
    }
};

VANTREL_TEST_MAIN(TestNetworkMonitor)
#include "tst_NetworkMonitor.moc"
