#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>

class QThread;

namespace vantrel {

// One entry of the system's interface list: an interface with one of its addresses.
struct InterfaceAddress {
    QString name;
    bool up = false;
    bool running = false;
    bool loopback = false;
    // Null where the entry carries no IPv4 or IPv6 address (or mask).
    QHostAddress address;
    QHostAddress netmask;

    bool operator==(const InterfaceAddress&) const = default;
};

// Watches the kernel's routing tables and reports whether the system has a usable network path.
//
// The path is satisfied when a non-loopback interface is up and running with an address that is
// not link-local, or when a default route exists. Updates are emitted on the monitor's own thread:
// one shortly after start() and one after every change of the path, a burst of kernel messages
// (an interface coming up with its addresses and routes) being folded into one update. Receivers
// on other threads should connect with a queued connection.
class PathMonitor : public QObject {
    Q_OBJECT

public:
    explicit PathMonitor(QObject* parent = nullptr);
    ~PathMonitor() override;

    // Starts watching on a dedicated thread; calls while running do nothing.
    virtual void start();
    // Stops watching and joins the thread; no update is emitted afterwards.
    virtual void stop();
    bool isRunning() const;

    // The system's interface list as it is now, in the system's order. Any thread.
    virtual QList<InterfaceAddress> interfaceAddresses() const;

    // How long kernel messages are gathered before the path is evaluated once.
    std::chrono::milliseconds coalesceInterval{200};
    // The name of the thread that delivers updates.
    QString threadName = QStringLiteral("com.vantrel.networkmonitor");

signals:
    void pathUpdated(bool satisfied);

private:
    QThread* m_thread = nullptr;
};

} // namespace vantrel
