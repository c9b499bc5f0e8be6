#pragma once

#include "model/NASConfig.h"
#include "platform/PathMonitor.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace vantrel {

class WifiInfo;

// The address and subnet of the machine's first active IPv4 interface; the subnet is the
// network address "/" prefix length, as 192.168.1.0/24.
struct IPv4Info {
    QString address;
    QString subnet;

    bool operator==(const IPv4Info&) const = default;
};

// The binding test with its parts: each partial result is computed whatever the strategy.
struct NetworkMatchResult {
    bool matched = false;
    bool ipMatched = false;
    bool ssidMatched = false;
    NetworkBindingStrategy strategy = NetworkBindingStrategy::ipRange;

    bool operator==(const NetworkMatchResult&) const = default;
};

// Whether the machine is on a usable network, its IPv4 address and Wi-Fi name, and whether a
// share's network binding matches them.
//
// The published values change only on the main thread and only through a path update, always in
// the order isConnected, currentIPAddress, currentSSID; each assignment is announced, an unchanged
// value included. The address and Wi-Fi name are gathered on the path monitor's thread (the
// Wi-Fi query may wait on D-Bus) and applied in one queued call per update.
class NetworkMonitor final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(std::optional<QString> currentIPAddress READ currentIPAddress NOTIFY currentIPAddressChanged)
    Q_PROPERTY(std::optional<QString> currentSSID READ currentSSID NOTIFY currentSSIDChanged)

public:
    // The system's sources: the netlink path monitor (with the interface list) and NetworkManager.
    explicit NetworkMonitor(QObject* parent = nullptr);
    // Injected sources; the interface list and the Wi-Fi source are read on the thread that emits
    // the path updates.
    NetworkMonitor(std::unique_ptr<PathMonitor> pathMonitor, std::unique_ptr<WifiInfo> wifi, QObject* parent = nullptr);
    ~NetworkMonitor() override;
    static NetworkMonitor& shared();

    bool isConnected() const { return m_isConnected; }
    std::optional<QString> currentIPAddress() const { return m_currentIPAddress; }
    std::optional<QString> currentSSID() const { return m_currentSSID; }

    // Starts the path monitor once; later calls do nothing until stopMonitoring().
    void startMonitoring();
    void stopMonitoring();

    // The binding test against the current address and Wi-Fi name; it ignores isConnected.
    bool matches(const NASConfig& config) const;
    NetworkMatchResult matchDetails(const NASConfig& config) const;
    NetworkMatchResult matchDetails(const NetworkBindingConfig& binding) const;

    // Read afresh on every call; changes nothing. Any thread.
    std::optional<IPv4Info> currentIPv4() const;

    // The pure rules behind the above.
    static NetworkMatchResult evaluate(const NetworkBindingConfig& binding, const std::optional<QString>& ipAddress,
        const std::optional<QString>& ssid);
    static bool isIP(const std::optional<QString>& ip, const QString& inCIDR);
    static std::optional<quint32> parseIPv4(const QString& text);
    // The first interface that is up, not loopback, and has an IPv4 address and netmask.
    static std::optional<IPv4Info> firstIPv4(const QList<InterfaceAddress>& interfaces);

signals:
    void isConnectedChanged(bool isConnected);
    void currentIPAddressChanged(const std::optional<QString>& currentIPAddress);
    void currentSSIDChanged(const std::optional<QString>& currentSSID);

private:
    // Called on the path monitor's thread.
    void handlePathUpdate(bool satisfied);
    // Main thread.
    void applyUpdate(bool connected, const std::optional<QString>& address, const std::optional<QString>& ssid);

    std::unique_ptr<PathMonitor> m_pathMonitor;
    std::unique_ptr<WifiInfo> m_wifi;
    bool m_monitoring = false;

    bool m_isConnected = false;
    std::optional<QString> m_currentIPAddress;
    std::optional<QString> m_currentSSID;
};

} // namespace vantrel
