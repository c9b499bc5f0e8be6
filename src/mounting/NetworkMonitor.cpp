#include "mounting/NetworkMonitor.h"

#include "platform/WifiInfo.h"

#include <QList>
#include <QStringList>
#include <QStringView>

#include <limits>

namespace vantrel {

namespace {

// A decimal number of ASCII digits with an optional sign. Leading zeros are decimal, not octal.
// With allowNegative false a minus sign is accepted only before a value of zero.
template <typename T>
std::optional<T> readDecimal(QStringView text, bool allowNegative)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    // Accumulate the magnitude with room for the one extra value a negative signed number has.
    const quint64 limit = static_cast<quint64>(std::numeric_limits<T>::max()) + (negative && allowNegative ? 1 : 0);
    quint64 magnitude = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        magnitude = magnitude * 10 + static_cast<quint64>(c.unicode() - u'0');
        if (magnitude > limit)
            return std::nullopt;
    }
    if (negative) {
        if (magnitude == 0)
            return T(0);
        if (!allowNegative)
            return std::nullopt;
        return static_cast<T>(static_cast<qint64>(quint64(0) - magnitude)); // modular, so -2^63 is exact
    }
    return static_cast<T>(magnitude);
}

QString dottedQuad(quint32 value)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(value >> 24)
        .arg((value >> 16) & 0xFF)
        .arg((value >> 8) & 0xFF)
        .arg(value & 0xFF);
}

int leadingOnes(quint32 mask)
{
    int count = 0;
    for (quint32 bit = 0x80000000u; bit != 0 && (mask & bit); bit >>= 1)
        ++count;
    return count;
}

} // namespace

NetworkMonitor::NetworkMonitor(QObject* parent)
    : NetworkMonitor(std::make_unique<PathMonitor>(), std::make_unique<WifiInfo>(), parent)
{
}

NetworkMonitor::NetworkMonitor(std::unique_ptr<PathMonitor> pathMonitor, std::unique_ptr<WifiInfo> wifi,
    QObject* parent)
    : QObject(parent)
    , m_pathMonitor(std::move(pathMonitor))
    , m_wifi(std::move(wifi))
{
    connect(
        m_pathMonitor.get(), &PathMonitor::pathUpdated, this, [this](bool satisfied) { handlePathUpdate(satisfied); },
        Qt::DirectConnection);
}

NetworkMonitor::~NetworkMonitor()
{
    // Joins the monitor thread, so no update handler still runs against this object.
    m_pathMonitor->stop();
}

NetworkMonitor& NetworkMonitor::shared()
{
    static NetworkMonitor* instance = new NetworkMonitor;
    return *instance;
}

void NetworkMonitor::startMonitoring()
{
    if (m_monitoring)
        return;
    m_monitoring = true;
    m_pathMonitor->start();
}

void NetworkMonitor::stopMonitoring()
{
    if (!m_monitoring)
        return;
    m_monitoring = false;
    m_pathMonitor->stop();
}

void NetworkMonitor::handlePathUpdate(bool satisfied)
{
    std::optional<QString> address;
    std::optional<QString> ssid;
    if (satisfied) {
        if (const auto ipv4 = currentIPv4())
            address = ipv4->address;
        ssid = m_wifi ? m_wifi->currentSSID() : std::nullopt;
    }
    // One queued call per update; it is dropped when the monitor is gone by then.
    QMetaObject::invokeMethod(
        this, [this, satisfied, address, ssid] { applyUpdate(satisfied, address, ssid); }, Qt::QueuedConnection);
}

void NetworkMonitor::applyUpdate(bool connected, const std::optional<QString>& address,
    const std::optional<QString>& ssid)
{
    m_isConnected = connected;
    emit isConnectedChanged(m_isConnected);
    m_currentIPAddress = address;
    emit currentIPAddressChanged(m_currentIPAddress);
    m_currentSSID = ssid;
    emit currentSSIDChanged(m_currentSSID);
}

bool NetworkMonitor::matches(const NASConfig& config) const
{
    return matchDetails(config.networkBinding).matched;
}

NetworkMatchResult NetworkMonitor::matchDetails(const NASConfig& config) const
{
    return matchDetails(config.networkBinding);
}

NetworkMatchResult NetworkMonitor::matchDetails(const NetworkBindingConfig& binding) const
{
    return evaluate(binding, m_currentIPAddress, m_currentSSID);
}

std::optional<IPv4Info> NetworkMonitor::currentIPv4() const
{
    return firstIPv4(m_pathMonitor->interfaceAddresses());
}

NetworkMatchResult NetworkMonitor::evaluate(const NetworkBindingConfig& binding,
    const std::optional<QString>& ipAddress, const std::optional<QString>& ssid)
{
    NetworkMatchResult result;
    result.strategy = binding.strategy;
    result.ipMatched = !binding.ipRange.isEmpty() && isIP(ipAddress, binding.ipRange);
    result.ssidMatched = !binding.ssidList.isEmpty() && ssid && !ssid->isEmpty()
        && binding.ssidList.contains(*ssid, Qt::CaseSensitive);
    switch (binding.strategy) {
    case NetworkBindingStrategy::ipRange: result.matched = result.ipMatched; break;
    case NetworkBindingStrategy::ssid: result.matched = result.ssidMatched; break;
    case NetworkBindingStrategy::combined: result.matched = result.ipMatched && result.ssidMatched; break;
    }
    return result;
}

bool NetworkMonitor::isIP(const std::optional<QString>& ip, const QString& inCIDR)
{
    if (!ip)
        return false;
    const QStringList parts = inCIDR.split(u'/', Qt::SkipEmptyParts);
    if (parts.size() != 2)
        return false;
    const auto prefix = readDecimal<qint64>(parts.at(1), true);
    if (!prefix || *prefix < 0 || *prefix > 32)
        return false;
    const auto address = parseIPv4(*ip);
    const auto network = parseIPv4(parts.at(0));
    if (!address || !network)
        return false;

    const quint32 mask = *prefix == 0 ? 0u : 0xFFFFFFFFu << (32 - *prefix);
    if ((*address & mask) != (*network & mask))
        return false;
    if (*prefix >= 1 && *prefix <= 30) {
        if ((*address & mask) == *address)
            return false; // the network address
        if ((*network | ~mask) == *address)
            return false; // the broadcast address
    }
    return true;
}

std::optional<quint32> NetworkMonitor::parseIPv4(const QString& text)
{
    // Unreadable pieces are skipped rather than rejected: "1.2.x.3.4" reads as 1.2.3.4.
    QList<quint32> numbers;
    for (const QStringView piece : QStringView(text).split(u'.', Qt::SkipEmptyParts))
        if (const auto number = readDecimal<quint32>(piece, false))
            numbers.append(*number);
    if (numbers.size() != 4)
        return std::nullopt;
    for (const quint32 number : numbers)
        if (number > 255)
            return std::nullopt;
    return numbers[0] << 24 | numbers[1] << 16 | numbers[2] << 8 | numbers[3];
}

std::optional<IPv4Info> NetworkMonitor::firstIPv4(const QList<InterfaceAddress>& interfaces)
{
    for (const InterfaceAddress& entry : interfaces) {
        if (!entry.up || entry.loopback)
            continue;
        if (entry.address.protocol() != QAbstractSocket::IPv4Protocol
            || entry.netmask.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        const quint32 address = entry.address.toIPv4Address();
        const quint32 mask = entry.netmask.toIPv4Address();
        return IPv4Info{dottedQuad(address), dottedQuad(address & mask) + u'/' + QString::number(leadingOnes(mask))};
    }
    return std::nullopt;
}

} // namespace vantrel
