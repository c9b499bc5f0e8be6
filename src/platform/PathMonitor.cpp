#include "platform/PathMonitor.h"

#include "platform/Threading.h"

#include <QSocketNotifier>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>

namespace vantrel {

namespace {

QHostAddress inetAddress(const sockaddr* address)
{
    if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6))
        return {};
    return QHostAddress(address);
}

QList<InterfaceAddress> systemInterfaceAddresses()
{
    QList<InterfaceAddress> interfaces;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return interfaces;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        InterfaceAddress item;
        item.name = QString::fromLocal8Bit(entry->ifa_name);
        item.up = entry->ifa_flags & IFF_UP;
        item.running = entry->ifa_flags & IFF_RUNNING;
        item.loopback = entry->ifa_flags & IFF_LOOPBACK;
        item.address = inetAddress(entry->ifa_addr);
        item.netmask = inetAddress(entry->ifa_netmask);
        interfaces.append(item);
    }
    ::freeifaddrs(list);
    return interfaces;
}

// The output interfaces of the main table's default routes (IPv4 and IPv6), from a route dump.
QStringList defaultRoutes()
{
    QStringList routes;
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return routes;
    timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    struct {
        nlmsghdr header;
        rtmsg route;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.route.rtm_family = AF_UNSPEC;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        ::close(fd);
        return routes;
    }

    alignas(nlmsghdr) char buffer[32768];
    bool done = false;
    while (!done) {
        const ssize_t length = ::recv(fd, buffer, sizeof buffer, 0);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break;
        int remaining = static_cast<int>(length);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            if (message->nlmsg_type != RTM_NEWROUTE)
                continue;
            const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
            if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST)
                continue;
            unsigned table = route->rtm_table;
            int outputInterface = 0;
            int attributesLength = static_cast<int>(RTM_PAYLOAD(message));
            for (auto* attribute = RTM_RTA(route); RTA_OK(attribute, attributesLength);
                 attribute = RTA_NEXT(attribute, attributesLength)) {
                if (attribute->rta_type == RTA_TABLE && RTA_PAYLOAD(attribute) >= sizeof(quint32))
                    table = *static_cast<const quint32*>(RTA_DATA(attribute));
                else if (attribute->rta_type == RTA_OIF && RTA_PAYLOAD(attribute) >= sizeof(int))
                    outputInterface = *static_cast<const int*>(RTA_DATA(attribute));
            }
            if (table == RT_TABLE_MAIN)
                routes << QStringLiteral("default %1 via %2").arg(route->rtm_family).arg(outputInterface);
        }
    }
    ::close(fd);
    return routes;
}

struct PathSnapshot {
    bool satisfied = false;
    QStringList details; // what a path change is measured against

    bool operator==(const PathSnapshot&) const = default;
};

PathSnapshot takeSnapshot()
{
    PathSnapshot snapshot;
    for (const InterfaceAddress& entry : systemInterfaceAddresses()) {
        if (entry.address.isNull() || entry.loopback || !entry.up)
            continue;
        if (entry.running && !entry.address.isLinkLocal())
            snapshot.satisfied = true;
        snapshot.details << QStringLiteral("%1 %2 %3")
                                .arg(entry.name, entry.running ? QStringLiteral("running") : QStringLiteral("up"),
                                    entry.address.toString());
    }
    const QStringList routes = defaultRoutes();
    if (!routes.isEmpty())
        snapshot.satisfied = true;
    snapshot.details << routes;
    snapshot.details.sort();
    return snapshot;
}

// Lives on the monitor thread: owns the netlink socket and folds its messages into path updates.
class NetlinkWatcher final : public QObject {
public:
    NetlinkWatcher(std::chrono::milliseconds coalesce, std::function<void(bool)> deliver)
        : m_deliver(std::move(deliver))
    {
        // A child, so that it moves to the monitor thread with its owner.
        m_coalesce->setSingleShot(true);
        m_coalesce->setInterval(timerMilliseconds(coalesce));
        connect(m_coalesce, &QTimer::timeout, this, &NetlinkWatcher::evaluate);
    }

    ~NetlinkWatcher() override
    {
        delete m_notifier;
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Runs on the monitor thread once it has started.
    void begin()
    {
        // The socket is opened before the first evaluation so that no change falls between them.
        m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (m_fd >= 0) {
            sockaddr_nl local{};
            local.nl_family = AF_NETLINK;
            local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE
                | RTMGRP_IPV6_ROUTE;
            if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
                m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
                connect(m_notifier, &QSocketNotifier::activated, this, &NetlinkWatcher::drain);
            } else {
                ::close(m_fd);
                m_fd = -1;
            }
        }
        evaluate();
    }

private:
    void drain()
    {
        bool changed = false;
        alignas(nlmsghdr) char buffer[16384];
        for (;;) {
            const ssize_t length = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (length > 0) {
                changed = true;
                continue;
            }
            if (length < 0 && errno == EINTR)
                continue;
            // An overrun (ENOBUFS) lost messages: the path is evaluated afresh all the same.
            if (length < 0 && errno == ENOBUFS) {
                changed = true;
                continue;
            }
            break;
        }
        // The window opens with the first message of a burst and is not extended by later ones,
        // so a steady stream of messages still yields regular updates.
        if (changed && !m_coalesce->isActive())
            m_coalesce->start();
    }

    void evaluate()
    {
        PathSnapshot snapshot = takeSnapshot();
        if (m_last && *m_last == snapshot)
            return;
        m_last = snapshot;
        m_deliver(snapshot.satisfied);
    }

    std::function<void(bool)> m_deliver;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr; // created on the monitor thread
    QTimer* m_coalesce = new QTimer(this);
    std::optional<PathSnapshot> m_last;
};

} // namespace

PathMonitor::PathMonitor(QObject* parent)
    : QObject(parent)
{
}

PathMonitor::~PathMonitor()
{
    PathMonitor::stop();
}

void PathMonitor::start()
{
    if (m_thread)
        return;
    m_thread = new QThread;
    m_thread->setObjectName(threadName);
    auto* watcher = new NetlinkWatcher(coalesceInterval, [this](bool satisfied) { emit pathUpdated(satisfied); });
    watcher->moveToThread(m_thread);
    connect(m_thread, &QThread::started, watcher, [watcher] { watcher->begin(); });
    connect(m_thread, &QThread::finished, watcher, &QObject::deleteLater);
    m_thread->start(QThread::LowPriority);
}

void PathMonitor::stop()
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

bool PathMonitor::isRunning() const
{
    return m_thread != nullptr;
}

QList<InterfaceAddress> PathMonitor::interfaceAddresses() const
{
    return systemInterfaceAddresses();
}

} // namespace vantrel
