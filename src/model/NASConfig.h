#pragma once

#include "model/RawValue.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace vantrel {

enum class NASProtocol { smb, nfs };
enum class AuthMethod { password, guest };
enum class SMBVersion { automatic, v2, v3 }; // "auto" is a C++ keyword
enum class NetworkBindingStrategy { ipRange, ssid, combined };

// Raw values, display names and case lists.
QString rawValue(NASProtocol value);
QString rawValue(AuthMethod value);
QString rawValue(SMBVersion value);
QString rawValue(NetworkBindingStrategy value);
QString displayName(NASProtocol value);
QString displayName(AuthMethod value);
QString displayName(SMBVersion value);
QString displayName(NetworkBindingStrategy value);

template <>
QList<NASProtocol> allCases<NASProtocol>();
template <>
QList<AuthMethod> allCases<AuthMethod>();
template <>
QList<SMBVersion> allCases<SMBVersion>();
template <>
QList<NetworkBindingStrategy> allCases<NetworkBindingStrategy>();

struct MountOptions {
    SMBVersion smbVersion = SMBVersion::automatic;
    bool readOnly = false;
    std::optional<QString> customMountPoint;
    qint64 connectionTimeout = 30;
    qint64 retryCount = 3;
    double retryInterval = 5.0;
    bool enableCaching = false;

    bool operator==(const MountOptions&) const = default;
};

struct NetworkBindingConfig {
    NetworkBindingStrategy strategy = NetworkBindingStrategy::ipRange;
    QString ipRange;
    QStringList ssidList;

    bool operator==(const NetworkBindingConfig&) const = default;
};

struct NASConfig {
    QUuid id = QUuid::createUuid();
    QString name;
    bool isEnabled = true;
    NASProtocol protocol = NASProtocol::smb;
    QString address;
    QString sharePath;
    AuthMethod authMethod = AuthMethod::password;
    std::optional<QString> username;
    std::optional<QString> password;
    QString keychainIdentifier;
    MountOptions mountOptions;
    NetworkBindingConfig networkBinding;

    bool operator==(const NASConfig&) const = default;

    // A host name, an IPv4 address or an IPv6 address (bare or in brackets), the first two with an
    // optional ":port" and the bracketed one with "]:port". Nothing else reaches a tool: text
    // starting with "-" would be read as one of its options.
    static bool isUsableAddress(const QString& address);
    // The localized error shown for an address that is not usable.
    static QString unusableAddressText(const QString& address);

    // The stored JSON form. Decoding is strict: a missing required key, a wrong JSON type or an
    // unknown raw value fails with a description of what and where; unknown keys are ignored.
    QJsonObject toJson() const;
    static std::optional<NASConfig> fromJson(const QJsonValue& json, QString* error = nullptr);
};

// A whole list as a UTF-8 JSON array: one bad entry fails the list. Encoding fails (empty result,
// error set) only for a value JSON cannot hold, a non-finite retryInterval.
QByteArray encodeConfigList(const QList<NASConfig>& configs, QString* error = nullptr);
std::optional<QList<NASConfig>> decodeConfigList(const QByteArray& utf8Json, QString* error = nullptr);

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::NASConfig)
