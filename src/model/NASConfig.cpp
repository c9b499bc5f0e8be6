#include "model/NASConfig.h"

#include "platform/Encodings.h"
#include "platform/Localization.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVariant>

#include <cmath>

namespace vantrel {

QString rawValue(NASProtocol value)
{
    switch (value) {
    case NASProtocol::smb: return QStringLiteral("smb");
    case NASProtocol::nfs: return QStringLiteral("nfs");
    }
    return {};
}

QString rawValue(AuthMethod value)
{
    switch (value) {
    case AuthMethod::password: return QStringLiteral("password");
    case AuthMethod::guest: return QStringLiteral("guest");
    }
    return {};
}

QString rawValue(SMBVersion value)
{
    switch (value) {
    case SMBVersion::automatic: return QStringLiteral("auto");
    case SMBVersion::v2: return QStringLiteral("2");
    case SMBVersion::v3: return QStringLiteral("3");
    }
    return {};
}

QString rawValue(NetworkBindingStrategy value)
{
    switch (value) {
    case NetworkBindingStrategy::ipRange: return QStringLiteral("ipRange");
    case NetworkBindingStrategy::ssid: return QStringLiteral("ssid");
    case NetworkBindingStrategy::combined: return QStringLiteral("combined");
    }
    return {};
}

QString displayName(NASProtocol value)
{
    switch (value) {
    case NASProtocol::smb: return QStringLiteral("SMB/CIFS");
    case NASProtocol::nfs: return QStringLiteral("NFS");
    }
    return {};
}

QString displayName(AuthMethod value)
{
    switch (value) {
    case AuthMethod::password: return QStringLiteral("Password");
    case AuthMethod::guest: return QStringLiteral("Guest");
    }
    return {};
}

QString displayName(SMBVersion value)
{
    switch (value) {
    case SMBVersion::automatic: return QStringLiteral("Auto");
    case SMBVersion::v2: return QStringLiteral("SMB 2.x");
    case SMBVersion::v3: return QStringLiteral("SMB 3.x");
    }
    return {};
}

QString displayName(NetworkBindingStrategy value)
{
    switch (value) {
    case NetworkBindingStrategy::ipRange: return QStringLiteral("IP Range");
    case NetworkBindingStrategy::ssid: return QStringLiteral("SSID");
    case NetworkBindingStrategy::combined: return QStringLiteral("Combined (IP + SSID)");
    }
    return {};
}

template <>
QList<NASProtocol> allCases<NASProtocol>()
{
    return {NASProtocol::smb, NASProtocol::nfs};
}
template <>
QList<AuthMethod> allCases<AuthMethod>()
{
    return {AuthMethod::password, AuthMethod::guest};
}
template <>
QList<SMBVersion> allCases<SMBVersion>()
{
    return {SMBVersion::automatic, SMBVersion::v2, SMBVersion::v3};
}
template <>
QList<NetworkBindingStrategy> allCases<NetworkBindingStrategy>()
{
    return {NetworkBindingStrategy::ipRange, NetworkBindingStrategy::ssid, NetworkBindingStrategy::combined};
}

namespace {

// Thrown inside the decoder only, with the path of the key that failed; turned into the
// error text at the public boundary.
struct DecodeFailure {
    QString message;
};

[[noreturn]] void fail(const QString& path, const QString& what)
{
    throw DecodeFailure{QStringLiteral("key \"%1\": %2").arg(path, what)};
}

QString join(const QString& prefix, const QString& key)
{
    return prefix.isEmpty() ? key : prefix + u'.' + key;
}

// Reads keys of one JSON object, naming each by its dotted path in failures.
class Reader {
public:
    Reader(const QJsonObject& object, QString prefix)
        : m_object(object)
        , m_prefix(std::move(prefix))
    {
    }

    QJsonValue required(const QString& key) const
    {
        const auto it = m_object.constFind(key);
        if (it == m_object.constEnd())
            fail(path(key), QStringLiteral("missing"));
        return it.value();
    }

    QString string(const QString& key) const
    {
        const QJsonValue v = required(key);
        if (!v.isString())
            fail(path(key), QStringLiteral("expected a string"));
        return v.toString();
    }

    std::optional<QString> optionalString(const QString& key) const
    {
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isString())
            fail(path(key), QStringLiteral("expected a string or null"));
        return v.toString();
    }

    bool boolean(const QString& key) const
    {
        const QJsonValue v = required(key);
        if (!v.isBool())
            fail(path(key), QStringLiteral("expected true or false"));
        return v.toBool();
    }

    qint64 integer(const QString& key) const
    {
        const QJsonValue v = required(key);
        if (!v.isDouble())
            fail(path(key), QStringLiteral("expected an integer"));
        // The parser keeps integral literals that fit as 64-bit integers; anything else arrives as
        // a double and is accepted only when it is exactly a 64-bit integer (3.0 yes, 1.5 no).
        if (v.toVariant().typeId() == QMetaType::LongLong)
            return v.toInteger();
        const double d = v.toDouble();
        constexpr double limit = 9223372036854775808.0; // 2^63
        if (!std::isfinite(d) || std::trunc(d) != d || d < -limit || d >= limit)
            fail(path(key), QStringLiteral("expected an integer, found %1").arg(d, 0, 'g', 17));
        return static_cast<qint64>(d);
    }

    double number(const QString& key) const
    {
        const QJsonValue v = required(key);
        if (!v.isDouble())
            fail(path(key), QStringLiteral("expected a number"));
        return v.toDouble();
    }

    QJsonObject object(const QString& key) const
    {
        const QJsonValue v = required(key);
        if (!v.isObject())
            fail(path(key), QStringLiteral("expected an object"));
        return v.toObject();
    }

    QStringList stringList(const QString& key) const
    {
        const QJsonValue v = required(key);
        if (!v.isArray())
            fail(path(key), QStringLiteral("expected an array of strings"));
        QStringList result;
        const QJsonArray array = v.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (!array.at(i).isString())
                fail(QStringLiteral("%1[%2]").arg(path(key)).arg(i), QStringLiteral("expected a string"));
            result.append(array.at(i).toString());
        }
        return result;
    }

    template <typename E>
    E enumeration(const QString& key) const
    {
        const QString raw = string(key);
        const std::optional<E> value = fromRawValue<E>(raw);
        if (!value)
            fail(path(key), QStringLiteral("unknown value \"%1\"").arg(raw));
        return *value;
    }

    QString path(const QString& key) const { return join(m_prefix, key); }

private:
    QJsonObject m_object;
    QString m_prefix;
};

NASConfig decodeConfig(const QJsonValue& json)
{
    if (!json.isObject())
        throw DecodeFailure{QStringLiteral("expected an object")};
    const Reader r(json.toObject(), QString());

    NASConfig config;
    const QString idText = r.string(QStringLiteral("id"));
    const std::optional<QUuid> id = encoding::parseUuid(idText);
    if (!id)
        fail(QStringLiteral("id"), QStringLiteral("not a UUID: \"%1\"").arg(idText));
    config.id = *id;
    config.name = r.string(QStringLiteral("name"));
    config.isEnabled = r.boolean(QStringLiteral("isEnabled"));
    config.protocol = r.enumeration<NASProtocol>(QStringLiteral("protocol"));
    config.address = r.string(QStringLiteral("address"));
    config.sharePath = r.string(QStringLiteral("sharePath"));
    config.authMethod = r.enumeration<AuthMethod>(QStringLiteral("authMethod"));
    config.username = r.optionalString(QStringLiteral("username"));
    config.password = r.optionalString(QStringLiteral("password"));
    config.keychainIdentifier = r.string(QStringLiteral("keychainIdentifier"));

    const Reader o(r.object(QStringLiteral("mountOptions")), QStringLiteral("mountOptions"));
    config.mountOptions.smbVersion = o.enumeration<SMBVersion>(QStringLiteral("smbVersion"));
    config.mountOptions.readOnly = o.boolean(QStringLiteral("readOnly"));
    config.mountOptions.customMountPoint = o.optionalString(QStringLiteral("customMountPoint"));
    config.mountOptions.connectionTimeout = o.integer(QStringLiteral("connectionTimeout"));
    config.mountOptions.retryCount = o.integer(QStringLiteral("retryCount"));
    config.mountOptions.retryInterval = o.number(QStringLiteral("retryInterval"));
    config.mountOptions.enableCaching = o.boolean(QStringLiteral("enableCaching"));

    const Reader b(r.object(QStringLiteral("networkBinding")), QStringLiteral("networkBinding"));
    config.networkBinding.strategy = b.enumeration<NetworkBindingStrategy>(QStringLiteral("strategy"));
    config.networkBinding.ipRange = b.string(QStringLiteral("ipRange"));
    config.networkBinding.ssidList = b.stringList(QStringLiteral("ssidList"));
    return config;
}

} // namespace

namespace {

bool isPort(const QString& text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    return ok && value >= 1 && value <= 65535 && text.at(0).isDigit();
}

bool isIPv6(const QString& text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

// Labels of letters, digits, "-" and "_" (many NAS names carry one), none starting or ending
// with "-"; an all-numeric name must be a whole IPv4 address.
bool isHostNameOrIPv4(const QString& host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    bool numeric = true;
    for (const QChar c : host)
        numeric = numeric && (c.isDigit() || c == QLatin1Char('.'));
    if (numeric) {
        QHostAddress address;
        return address.setAddress(host) && address.protocol() == QAbstractSocket::IPv4Protocol;
    }
    QString name = host;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    const QStringList labels = name.split(QLatin1Char('.'));
    for (const QString& label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-'))
            || label.endsWith(QLatin1Char('-')))
            return false;
        for (const QChar c : label) {
            if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_'))
                return false;
        }
    }
    return true;
}

} // namespace

bool NASConfig::isUsableAddress(const QString& address)
{
    if (address.startsWith(QLatin1Char('['))) {
        const qsizetype close = address.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        const QString rest = address.mid(close + 1);
        return isIPv6(address.mid(1, close - 1))
            && (rest.isEmpty() || (rest.startsWith(QLatin1Char(':')) && isPort(rest.mid(1))));
    }
    const qsizetype colons = address.count(QLatin1Char(':'));
    if (colons > 1)
        return isIPv6(address);
    if (colons == 1) {
        const qsizetype colon = address.indexOf(QLatin1Char(':'));
        return isPort(address.mid(colon + 1)) && isHostNameOrIPv4(address.left(colon));
    }
    return isHostNameOrIPv4(address);
}

QString NASConfig::unusableAddressText(const QString& address)
{
    return Localization::textFormat(QStringLiteral("nas.error.invalidAddress"),
        QStringLiteral("\u201C%@\u201D is not a host name or an IP address."), {address});
}

QJsonObject NASConfig::toJson() const
{
    QJsonObject options{
        {QStringLiteral("smbVersion"), rawValue(mountOptions.smbVersion)},
        {QStringLiteral("readOnly"), mountOptions.readOnly},
        {QStringLiteral("connectionTimeout"), mountOptions.connectionTimeout},
        {QStringLiteral("retryCount"), mountOptions.retryCount},
        {QStringLiteral("retryInterval"), mountOptions.retryInterval},
        {QStringLiteral("enableCaching"), mountOptions.enableCaching},
    };
    if (mountOptions.customMountPoint)
        options.insert(QStringLiteral("customMountPoint"), *mountOptions.customMountPoint);

    const QJsonObject binding{
        {QStringLiteral("strategy"), rawValue(networkBinding.strategy)},
        {QStringLiteral("ipRange"), networkBinding.ipRange},
        {QStringLiteral("ssidList"), QJsonArray::fromStringList(networkBinding.ssidList)},
    };

    QJsonObject object{
        {QStringLiteral("id"), encoding::uuidText(id)},
        {QStringLiteral("name"), name},
        {QStringLiteral("isEnabled"), isEnabled},
        {QStringLiteral("protocol"), rawValue(protocol)},
        {QStringLiteral("address"), address},
        {QStringLiteral("sharePath"), sharePath},
        {QStringLiteral("authMethod"), rawValue(authMethod)},
        {QStringLiteral("keychainIdentifier"), keychainIdentifier},
        {QStringLiteral("mountOptions"), options},
        {QStringLiteral("networkBinding"), binding},
    };
    if (username)
        object.insert(QStringLiteral("username"), *username);
    if (password)
        object.insert(QStringLiteral("password"), *password);
    return object;
}

std::optional<NASConfig> NASConfig::fromJson(const QJsonValue& json, QString* error)
{
    try {
        return decodeConfig(json);
    } catch (const DecodeFailure& failure) {
        if (error)
            *error = failure.message;
        return std::nullopt;
    }
}

QByteArray encodeConfigList(const QList<NASConfig>& configs, QString* error)
{
    QJsonArray array;
    for (qsizetype i = 0; i < configs.size(); ++i) {
        // JSON has no form for these; written as null they would make the whole list unreadable.
        if (!std::isfinite(configs.at(i).mountOptions.retryInterval)) {
            if (error)
                *error = QStringLiteral("entry %1: key \"mountOptions.retryInterval\": %2 cannot be written as JSON")
                             .arg(i)
                             .arg(configs.at(i).mountOptions.retryInterval);
            return {};
        }
        array.append(configs.at(i).toJson());
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<NASConfig>> decodeConfigList(const QByteArray& utf8Json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(utf8Json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error)
            *error =
                QStringLiteral("not valid JSON at offset %1: %2").arg(parseError.offset).arg(parseError.errorString());
        return std::nullopt;
    }
    if (!document.isArray()) {
        if (error)
            *error = QStringLiteral("expected a JSON array of configurations");
        return std::nullopt;
    }
    const QJsonArray array = document.array();
    QList<NASConfig> configs;
    configs.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        QString entryError;
        std::optional<NASConfig> config = NASConfig::fromJson(array.at(i), &entryError);
        if (!config) {
            if (error)
                *error = QStringLiteral("entry %1: %2").arg(i).arg(entryError);
            return std::nullopt;
        }
        configs.append(std::move(*config));
    }
    return configs;
}

} // namespace vantrel
