#include "support/TestMain.h"

#include "platform/WifiInfo.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QThread>

using namespace vantrel;

namespace {

const QString serviceName = QStringLiteral("org.vantrel.test.NetworkManager");
const QString root = QStringLiteral("/org/freedesktop/NetworkManager");

// A NetworkManager stand-in on the private session bus, served from its own thread so that the
// client's blocking calls can be answered.
class FakeNetworkManager final : public QDBusVirtualObject {
public:
    struct Device {
        QString path;
        uint type;
        QString accessPoint;
    };
    QList<Device> devices;
    QHash<QString, QByteArray> ssids; // access point path -> name
    bool silent = false;              // never answers

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (silent)
            return true;
        if (message.path() == root && message.member() == QLatin1String("GetDevices")) {
            QList<QDBusObjectPath> paths;
            for (const Device& d : devices)
                paths << QDBusObjectPath(d.path);
            return connection.send(message.createReply(QVariant::fromValue(paths)));
        }
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")
            && message.member() == QLatin1String("Get")) {
            const QString property = message.arguments().value(1).toString();
            for (const Device& d : devices) {
                if (d.path != message.path())
                    continue;
                if (property == QLatin1String("DeviceType"))
                    return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(d.type))));
                if (property == QLatin1String("ActiveAccessPoint"))
                    return connection.send(message.createReply(
                        QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(d.accessPoint))))));
            }
            if (ssids.contains(message.path()) && property == QLatin1String("Ssid"))
                return connection.send(
                    message.createReply(QVariant::fromValue(QDBusVariant(ssids.value(message.path())))));
        }
        return connection.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("not here")));
    }
};

class FakeServer {
public:
    FakeServer()
    {
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
        manager.moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(
            &manager,
            [this] {
                auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-nm"));
                registered = bus.registerVirtualObject(root, &manager, QDBusConnection::SubPath)
                    && bus.registerService(serviceName);
            },
            Qt::BlockingQueuedConnection);
    }
    ~FakeServer()
    {
        QMetaObject::invokeMethod(
            &manager,
            [] {
                auto bus = QDBusConnection(QStringLiteral("fake-nm"));
                bus.unregisterService(serviceName);
                bus.unregisterObject(root, QDBusConnection::UnregisterTree);
                QDBusConnection::disconnectFromBus(QStringLiteral("fake-nm"));
            },
            Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    // Changes the stand-in's answers on its own thread.
    void configure(const std::function<void(FakeNetworkManager&)>& change)
    {
        QMetaObject::invokeMethod(
            &manager, [&] { change(manager); }, Qt::BlockingQueuedConnection);
    }

    QThread thread;
    FakeNetworkManager manager;
    bool registered = false;
};

} // namespace

class TestWifiInfo : public QObject {
    Q_OBJECT

private slots:
    void readsTheFirstWifiDevicesActiveAccessPoint()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        FakeServer server;
        QVERIFY(server.registered);
        WifiInfo wifi(QDBusConnection::sessionBus(), serviceName);

        // An Ethernet device first, then two Wi-Fi devices: only the first Wi-Fi one counts.
        server.configure([](FakeNetworkManager& nm) {
            nm.devices = {{root + "/Devices/1", 1, "/"}, {root + "/Devices/2", 2, root + "/AccessPoint/7"},
                {root + "/Devices/3", 2, root + "/AccessPoint/8"}};
            nm.ssids = {{root + "/AccessPoint/7", QByteArray("Café Net")},
                {root + "/AccessPoint/8", QByteArray("Other")}};
        });
        QCOMPARE(wifi.currentSSID(), std::optional<QString>(QStringLiteral("Café Net")));

        // Not joined ("/" as access point), no Wi-Fi device, an empty name: no name.
        server.configure([](FakeNetworkManager& nm) { nm.devices[1].accessPoint = "/"; });
        QCOMPARE(wifi.currentSSID(), std::nullopt);
        server.configure([](FakeNetworkManager& nm) { nm.devices = {{root + "/Devices/1", 1, "/"}}; });
        QCOMPARE(wifi.currentSSID(), std::nullopt);
        server.configure([](FakeNetworkManager& nm) {
            nm.devices = {{root + "/Devices/2", 2, root + "/AccessPoint/9"}};
            nm.ssids = {{root + "/AccessPoint/9", QByteArray()}};
        });
        QCOMPARE(wifi.currentSSID(), std::nullopt);
    }

    void aSlowOrMissingNetworkManagerGivesNoNameQuickly()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        FakeServer server;
        QVERIFY(server.registered);
        server.configure([](FakeNetworkManager& nm) { nm.silent = true; });
        WifiInfo slow(QDBusConnection::sessionBus(), serviceName);
        slow.timeout = std::chrono::milliseconds(200);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(slow.currentSSID(), std::nullopt);
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));

        WifiInfo absent(QDBusConnection::sessionBus(), QStringLiteral("org.vantrel.test.Nobody"));
        clock.restart();
        QCOMPARE(absent.currentSSID(), std::nullopt);
        QVERIFY(clock.elapsed() < 1000);
    }

    void theSystemSourceNeverHangs()
    {
        // Whatever this machine has (often no system bus at all), the answer comes within the budget.
        WifiInfo system;
        system.timeout = std::chrono::milliseconds(300);
        QElapsedTimer clock;
        clock.start();
        (void)system.currentSSID();
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    }
};

VANTREL_TEST_MAIN(TestWifiInfo)
#include "tst_WifiInfo.moc"
