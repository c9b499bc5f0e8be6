#include "platform/WifiInfo.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QList>

namespace vantrel {

namespace {

constexpr uint deviceTypeWifi = 2;
const QString nmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString nmInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

class Caller {
public:
    Caller(const QDBusConnection& bus, const QString& service, std::chrono::milliseconds budget)
        : m_bus(bus)
        , m_service(service)
        , m_deadline(budget)
    {
    }

    std::optional<QVariant> call(const QString& path, const QString& interface, const QString& method,
        const QVariantList& arguments = {})
    {
        const qint64 remaining = m_deadline.remainingTime();
        if (remaining == 0)
            return std::nullopt;
        QDBusMessage message = QDBusMessage::createMethodCall(m_service, path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = m_bus.call(message, QDBus::Block,
            remaining < 0 ? -1 : static_cast<int>(std::max<qint64>(1, remaining)));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        return reply.arguments().constFirst();
    }

    std::optional<QVariant> property(const QString& path, const QString& interface, const QString& name)
    {
        const auto value = call(path, propertiesInterface, QStringLiteral("Get"), {interface, name});
        if (!value || !value->canConvert<QDBusVariant>())
            return std::nullopt;
        return value->value<QDBusVariant>().variant();
    }

private:
    QDBusConnection m_bus;
    QString m_service;
    QDeadlineTimer m_deadline;
};

QString objectPath(const QVariant& value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return {};
}

} // namespace

WifiInfo::WifiInfo()
    : WifiInfo(QDBusConnection::systemBus())
{
}

WifiInfo::WifiInfo(const QDBusConnection& bus, const QString& service)
    : m_bus(bus)
    , m_service(service)
{
}

WifiInfo::~WifiInfo() = default;

std::optional<QString> WifiInfo::currentSSID() const
{
    if (!m_bus.isConnected())
        return std::nullopt;
    Caller caller(m_bus, m_service, timeout);

    const auto devices = caller.call(nmPath, nmInterface, QStringLiteral("GetDevices"));
    if (!devices)
        return std::nullopt;
    QList<QDBusObjectPath> devicePaths;
    if (devices->canConvert<QDBusArgument>())
        devicePaths = qdbus_cast<QList<QDBusObjectPath>>(devices->value<QDBusArgument>());
    else
        devicePaths = devices->value<QList<QDBusObjectPath>>();

    for (const QDBusObjectPath& device : devicePaths) {
        const auto type = caller.property(device.path(), QStringLiteral("org.freedesktop.NetworkManager.Device"),
            QStringLiteral("DeviceType"));
        if (!type)
            return std::nullopt; // out of time or NetworkManager went away
        if (type->toUInt() != deviceTypeWifi)
            continue;
        // Only the first Wi-Fi device counts.
        const auto accessPoint = caller.property(device.path(),
            QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless"), QStringLiteral("ActiveAccessPoint"));
        const QString accessPointPath = accessPoint ? objectPath(*accessPoint) : QString();
        if (accessPointPath.isEmpty() || accessPointPath == QLatin1String("/"))
            return std::nullopt;
        const auto ssid = caller.property(accessPointPath, QStringLiteral("org.freedesktop.NetworkManager.AccessPoint"),
            QStringLiteral("Ssid"));
        if (!ssid)
            return std::nullopt;
        const QString name = QString::fromUtf8(ssid->toByteArray());
        if (name.isEmpty())
            return std::nullopt;
        return name;
    }
    return std::nullopt;
}

} // namespace vantrel
