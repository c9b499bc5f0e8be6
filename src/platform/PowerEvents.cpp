#include "platform/PowerEvents.h"

#include "platform/Threading.h"

#include <QFileInfo>

namespace vantrel {

namespace {

// Asking Qt for the system bus when there is none costs a failed connect and, on some setups, a
// warning; without an address in the environment and without the standard socket there is no bus.
bool systemBusMayExist()
{
    return qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS")
        || QFileInfo::exists(QStringLiteral("/run/dbus/system_bus_socket"))
        || QFileInfo::exists(QStringLiteral("/var/run/dbus/system_bus_socket"));
}

QDBusConnection systemBusIfAny()
{
    if (!systemBusMayExist())
        return QDBusConnection(QStringLiteral("vantrel-no-system-bus"));
    return QDBusConnection::systemBus();
}

} // namespace

PowerEvents::PowerEvents(QObject* parent)
    : PowerEvents(systemBusIfAny(), parent)
{
}

PowerEvents::PowerEvents(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
{
    if (!bus.isConnected())
        return;
    // Bound to logind's name, so no other client on the bus can fake a sleep.
    QDBusConnection connection(bus);
    m_watching = connection.connect(service, path, interface, QStringLiteral("PrepareForSleep"), this,
        SLOT(onPrepareForSleep(bool)));
}

PowerEvents& PowerEvents::shared()
{
    return sharedInstance([] { return new PowerEvents; });
}

void PowerEvents::onPrepareForSleep(bool start)
{
    if (start)
        emit willSleep();
    else
        emit didWake();
}

} // namespace vantrel
