#pragma once

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <optional>

namespace vantrel {

// The name of the Wi-Fi network the machine is joined to, as NetworkManager reports it for the
// first Wi-Fi device's active access point.
//
// currentSSID() makes blocking D-Bus calls bounded by `timeout` in all, so call it off the main
// thread. Without a bus, without NetworkManager, without a Wi-Fi device or access point, or when
// the time runs out, there is no name. Safe to call from any thread.
class WifiInfo {
public:
    WifiInfo();
    explicit WifiInfo(const QDBusConnection& bus,
        const QString& service = QStringLiteral("org.freedesktop.NetworkManager"));
    virtual ~WifiInfo();
    WifiInfo(const WifiInfo&) = delete;
    WifiInfo& operator=(const WifiInfo&) = delete;

    virtual std::optional<QString> currentSSID() const;

    std::chrono::milliseconds timeout{1000};

private:
    QDBusConnection m_bus;
    QString m_service;
};

} // namespace vantrel
