#pragma once

#include "platform/PathMonitor.h"

#include <QMutex>

#include <optional>

namespace vantrel::test {

// A path monitor that watches nothing: the test emits pathUpdated itself and chooses the
// interface list, which the monitor's users may read on any thread.
class FakePathMonitor final : public PathMonitor {
public:
    void start() override { ++starts; }
    void stop() override {}

    QList<InterfaceAddress> interfaceAddresses() const override
    {
        QMutexLocker lock(&m_mutex);
        ++m_reads;
        return m_interfaces;
    }
    void setInterfaces(QList<InterfaceAddress> interfaces)
    {
        QMutexLocker lock(&m_mutex);
        m_interfaces = std::move(interfaces);
    }
    // One interface, up and running, with this IPv4 address and netmask; none without an address.
    void setIPv4(const std::optional<QString>& address, const QString& netmask = QStringLiteral("255.255.255.0"))
    {
        QList<InterfaceAddress> interfaces;
        if (address)
            interfaces.append(
                {QStringLiteral("eth0"), true, true, false, QHostAddress(*address), QHostAddress(netmask)});
        setInterfaces(std::move(interfaces));
    }
    int reads() const
    {
        QMutexLocker lock(&m_mutex);
        return m_reads;
    }

    int starts = 0;

private:
    mutable QMutex m_mutex;
    QList<InterfaceAddress> m_interfaces;
    mutable int m_reads = 0;
};

} // namespace vantrel::test
