#include "support/TestMain.h"

#include "mounting/NetworkMonitor.h"
#include "platform/PathMonitor.h"
#include "platform/WifiInfo.h"

#include <QMutex>
#include <QThread>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <deque>

using namespace vantrel;

namespace {

class FakePathMonitor final : public PathMonitor {
public:
    int starts = 0;
    void start() override { ++starts; }
    void stop() override {}
};

class FakeWifi final : public WifiInfo {
public:
    FakeWifi() : WifiInfo(QDBusConnection(QStringLiteral("vantrel-no-bus"))) {}
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

// A hand-built interface list for the address selection.
struct FakeInterfaces {
    std::deque<sockaddr_in> addresses;
    std::deque<sockaddr_in6> addresses6;
    std::deque<ifaddrs> entries;
    std::deque<QByteArray> names;

    sockaddr* v4(const char* text)
    {
        sockaddr_in& a = addresses.emplace_back();
        a.sin_family = AF_INET;
        inet_pton(AF_INET, text, &a.sin_addr);
        return reinterpret_cast<sockaddr*>(&a);
    }
    sockaddr* v6(const char* text)
    {
        sockaddr_in6& a = addresses6.emplace_back();
        a.sin6_family = AF_INET6;
        inet_pton(AF_INET6, text, &a.sin6_addr);
        return reinterpret_cast<sockaddr*>(&a);
    }
    void add(const char* name, unsigned flags, sockaddr* address, sockaddr* netmask)
    {
        ifaddrs& e = entries.emplace_back();
        e.ifa_name = names.emplace_back(name).data();
        e.ifa_flags = flags;
        e.ifa_addr = address;
        e.ifa_netmask = netmask;
        if (entries.size() > 1)
            entries[entries.size() - 2].ifa_next = &e;
    }
    const ifaddrs* list() const { return entries.empty() ? nullptr : &entries.front(); }
};

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
        auto in = [](const char* address, const char* range) { return NetworkMonitor::isIP(QString::fromLatin1(address), QString::fromLatin1(range)); };
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
        QCOMPARE(eval(binding(S::ipRange, "", {}), address, home), (NetworkMatchResult{false, false, false, S::ipRange}));
        QCOMPARE(eval(binding(S::ipRange, "192.168.1.0/24", {}), address, std::nullopt), (NetworkMatchResult{true, true, false, S::ipRange}));
        QCOMPARE(eval(binding(S::ipRange, "192.168.1.0/24", {}), std::nullopt, home).matched, false);
        // Each partial result is computed whatever the strategy.
        QCOMPARE(eval(binding(S::ipRange, "10.0.0.0/8", {"Home"}), address, home), (NetworkMatchResult{false, false, true, S::ipRange}));

        // ssid: exact, case-sensitive; an empty list, no name or an empty name never match.
        QCOMPARE(eval(binding(S::ssid, "", {"Office", "Home"}), std::nullopt, home), (NetworkMatchResult{true, false, true, S::ssid}));
        QCOMPARE(eval(binding(S::ssid, "", {"home"}), address, home).matched, false);
        QCOMPARE(eval(binding(S::ssid, "", {"Home "}), address, home).matched, false);
        QCOMPARE(eval(binding(S::ssid, "192.168.1.0/24", {}), address, home), (NetworkMatchResult{false, true, false, S::ssid}));
        QCOMPARE(eval(binding(S::ssid, "", {"Home"}), address, std::nullopt).matched, false);
        QCOMPARE(eval(binding(S::ssid, "", {""}), address, QString()).matched, false);

        // combined: both must hold; an empty range fails even with a listed name.
        QCOMPARE(eval(binding(S::combined, "192.168.1.0/24", {"Home"}), address, home), (NetworkMatchResult{true, true, true, S::combined}));
        QCOMPARE(eval(binding(S::combined, "", {"Home"}), address, home), (NetworkMatchResult{false, false, true, S::combined}));
        QCOMPARE(eval(binding(S::combined, "192.168.1.0/24", {"Office"}), address, home), (NetworkMatchResult{false, true, false, S::combined}));
        QCOMPARE(eval(binding(S::combined, "", {}), address, home), (NetworkMatchResult{false, false, false, S::combined}));
    }

    void addressSelectionFollowsTheInterfaceFilters()
    {
        QCOMPARE(NetworkMonitor::firstIPv4(nullptr), std::nullopt);

        FakeInterfaces fake;
        const unsigned up = IFF_UP | IFF_RUNNING;
        fake.add("lo", up | IFF_LOOPBACK, fake.v4("127.0.0.1"), fake.v4("255.0.0.0"));
        fake.add("down0", IFF_BROADCAST, fake.v4("10.1.1.1"), fake.v4("255.0.0.0"));
        fake.add("eth0", up, nullptr, nullptr);
        fake.add("eth0", up, fake.v6("fd00::1"), fake.v6("ffff:ffff::"));
        fake.add("nomask", up, fake.v4("10.2.2.2"), nullptr);
        fake.add("v6mask", up, fake.v4("10.3.3.3"), fake.v6("ffff::"));
        QCOMPARE(NetworkMonitor::firstIPv4(fake.list()), std::nullopt);

        // Up is enough: running is not required.
        fake.add("eth1", IFF_UP, fake.v4("192.168.1.23"), fake.v4("255.255.255.0"));
        fake.add("eth2", up, fake.v4("172.16.0.5"), fake.v4("255.255.0.0"));
        QCOMPARE(NetworkMonitor::firstIPv4(fake.list()), (IPv4Info{"192.168.1.23", "192.168.1.0/24"}));

        // The prefix counts the leading ones only; the network uses the whole mask.
        FakeInterfaces odd;
        odd.add("eth0", IFF_UP, odd.v4("10.20.30.40"), odd.v4("255.0.255.0"));
        QCOMPARE(NetworkMonitor::firstIPv4(odd.list()), (IPv4Info{"10.20.30.40", "10.0.30.0/8"}));
        FakeInterfaces host;
        host.add("eth0", IFF_UP, host.v4("10.0.0.7"), host.v4("255.255.255.255"));
        QCOMPARE(NetworkMonitor::firstIPv4(host.list()), (IPv4Info{"10.0.0.7", "10.0.0.7/32"}));
        FakeInterfaces none;
        none.add("eth0", IFF_UP, none.v4("10.0.0.7"), none.v4("0.0.0.0"));
        QCOMPARE(NetworkMonitor::firstIPv4(none.list()), (IPv4Info{"10.0.0.7", "0.0.0.0/0"}));
    }

    void updatesPublishInOrderOnEveryAssignment()
    {
        auto* path = new FakePathMonitor;
        auto* wifi = new FakeWifi;
        wifi->set(QStringLiteral("Home"));
        std::optional<IPv4Info> address = IPv4Info{"192.168.1.50", "192.168.1.0/24"};
        NetworkMonitor monitor(std::unique_ptr<PathMonitor>(path), std::unique_ptr<WifiInfo>(wifi), [&] { return address; });

        QStringList events;
        connect(&monitor, &NetworkMonitor::isConnectedChanged, this, [&](bool v) { events << QStringLiteral("connected=%1").arg(v ? 1 : 0); });
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
        QCOMPARE(monitor.matchDetails(config), (NetworkMatchResult{true, true, true, NetworkBindingStrategy::combined}));

        // An unchanged update is announced again.
        events.clear();
        emit path->pathUpdated(true);
        QTRY_COMPARE(events, (QStringList{"connected=1", "ip=192.168.1.50", "ssid=Home"}));

        // Connected without a usable address; then the path goes away.
        events.clear();
        address.reset();
        emit path->pathUpdated(true);
        emit path->pathUpdated(false);
        QTRY_COMPARE(events.size(), 6);
        QCOMPARE(events, (QStringList{"connected=1", "ip=none", "ssid=Home", "connected=0", "ip=none", "ssid=none"}));
        QVERIFY(!monitor.isConnected());
        QVERIFY(!monitor.matches(config));
        // The binding test ignores isConnected: it looks only at the two values.
        address = IPv4Info{"10.0.0.1", "10.0.0.0/8"};
        QCOMPARE(monitor.currentIPv4(), address);
        QCOMPARE(monitor.currentIPAddress(), std::nullopt);
    }

    void updateForAGoneMonitorDoesNothing()
    {
        auto* path = new FakePathMonitor;
        int reads = 0;
        auto* monitor = new NetworkMonitor(std::unique_ptr<PathMonitor>(path), std::make_unique<FakeWifi>(), [&] {
            ++reads;
            return std::optional<IPv4Info>(IPv4Info{"10.0.0.1", "10.0.0.0/8"});
        });
        monitor->startMonitoring();
        emit path->pathUpdated(true);
        delete monitor;
        QCoreApplication::processEvents();
        QCOMPARE(reads, 1);
    }

    void realPathMonitorDeliversTheFirstUpdateAsynchronously()
    {
        auto* path = new PathMonitor;
        path->coalesceInterval = std::chrono::milliseconds(20);
        auto* wifi = new FakeWifi;
        wifi->set(QStringLiteral("Lab"));
        NetworkMonitor monitor(std::unique_ptr<PathMonitor>(path), std::unique_ptr<WifiInfo>(wifi), &NetworkMonitor::systemIPv4);
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
