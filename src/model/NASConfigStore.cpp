#include "model/NASConfigStore.h"

#include "mounting/AppStateManager.h"
#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/SystemLog.h"
#include "services/KeychainManager.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace vantrel {

NASConfigStore::NASConfigStore(Defaults& defaults, SystemLog& systemLog, AppStateManager& appState,
    KeychainManager& keychain, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_systemLog(systemLog)
    , m_appState(appState)
    , m_keychain(keychain)
{
    loadConfigs();
}

NASConfigStore& NASConfigStore::shared()
{
    static NASConfigStore* instance = new NASConfigStore(Defaults::standard(), SystemLog::shared(),
        AppStateManager::shared(), KeychainManager::shared());
    return *instance;
}

QList<NASConfig> NASConfigStore::enabledConfigs() const
{
    QList<NASConfig> result;
    for (const NASConfig& config : m_configs)
        if (config.isEnabled)
            result.append(config);
    return result;
}

std::optional<NASConfig> NASConfigStore::config(const QUuid& id) const
{
    for (const NASConfig& config : m_configs)
        if (config.id == id)
            return config;
    return std::nullopt;
}

void NASConfigStore::setConfigs(QList<NASConfig> configs)
{
    m_configs = std::move(configs);
    emit configsChanged(m_configs);
}

void NASConfigStore::loadConfigs()
{
    const QVariant stored = m_defaults.value(userDefaultsKey);
    if (!stored.isValid()) {
        m_systemLog.write(SystemLog::Type::Info, logCategory,
            QStringLiteral("No persisted configs found; starting fresh"));
        setConfigs({});
        return;
    }

    QString error;
    std::optional<QList<NASConfig>> decoded;
    if (stored.typeId() == QMetaType::QByteArray)
        decoded = decodeConfigList(stored.toByteArray(), &error);
    else
        error = QStringLiteral("the stored value is not a data value");

    if (!decoded) {
        m_systemLog.write(SystemLog::Type::Error, logCategory,
            QStringLiteral("Failed to decode persisted configs: %1").arg(error));
        // The next save replaces the stored value; keep the user's configurations somewhere first.
        const QByteArray bytes = stored.typeId() == QMetaType::QByteArray ? stored.toByteArray()
                                                                          : stored.toString().toUtf8();
        m_corruptCopyPath = copyAsideUndecodable(bytes);
        setConfigs({});
        return;
    }

    setConfigs(*decoded);
    m_systemLog.write(SystemLog::Type::Info, logCategory,
        QStringLiteral("Loaded %1 config(s) from UserDefaults").arg(m_configs.size()));
    for (const NASConfig& config : std::as_const(m_configs))
        m_appState.ensureStatus(config.id);
}

QString NASConfigStore::copyAsideUndecodable(const QByteArray& data)
{
    const QString folder = QFileInfo(m_defaults.filePath()).absolutePath();
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString failure;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = QStringLiteral("%1.undecodable-%2%3.json")
                                 .arg(userDefaultsKey, stamp,
                                     attempt == 0 ? QString() : QStringLiteral("-%1").arg(attempt));
        const QString path = QDir(folder).filePath(name);
        QFile file(path);
        // The list holds passwords: owner-only from the moment the file exists.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            failure = file.errorString();
            if (file.exists())
                continue;
            break;
        }
        if (file.write(data) != data.size() || !file.flush()) {
            failure = file.errorString();
            file.close();
            file.remove();
            break;
        }
        file.close();
        m_systemLog.write(SystemLog::Type::Error, logCategory,
            QStringLiteral("Undecodable persisted configs copied to %1").arg(path));
        return path;
    }
    m_systemLog.write(SystemLog::Type::Error, logCategory,
        QStringLiteral("Failed to copy undecodable persisted configs aside: %1").arg(failure));
    return {};
}

void NASConfigStore::saveConfigs()
{
    const QByteArray data = encodeConfigList(m_configs);
    if (data.isEmpty()) {
        m_systemLog.write(SystemLog::Type::Error, logCategory,
            QStringLiteral("Failed to encode configs for persistence: %1")
                .arg(QStringLiteral("the encoder produced no data")));
        return;
    }
    m_defaults.setValue(userDefaultsKey, data);
    m_systemLog.write(SystemLog::Type::Debug, logCategory,
        QStringLiteral("Saved %1 config(s) to UserDefaults").arg(m_configs.size()));
}

bool NASConfigStore::addConfig(const NASConfig& config)
{
    QList<NASConfig> configs = m_configs;
    configs.append(config);
    setConfigs(std::move(configs));
    saveConfigs();
    m_appState.ensureStatus(config.id);
    m_systemLog.write(SystemLog::Type::Info, logCategory,
        QStringLiteral("Added NAS config: %1 (%2)").arg(config.name, encoding::uuidText(config.id)));
    return true;
}

void NASConfigStore::updateConfig(const NASConfig& config)
{
    const auto it = std::find_if(m_configs.cbegin(), m_configs.cend(),
        [&](const NASConfig& c) { return c.id == config.id; });
    if (it == m_configs.cend()) {
        m_systemLog.write(SystemLog::Type::Error, logCategory,
            QStringLiteral("Attempted to update non-existent config: %1").arg(encoding::uuidText(config.id)));
        return;
    }
    QList<NASConfig> configs = m_configs;
    configs[it - m_configs.cbegin()] = config;
    setConfigs(std::move(configs));
    saveConfigs();
    m_systemLog.write(SystemLog::Type::Info, logCategory,
        QStringLiteral("Updated NAS config: %1 (%2)").arg(config.name, encoding::uuidText(config.id)));
}

void NASConfigStore::deleteConfig(const QUuid& id)
{
    const auto it = std::find_if(m_configs.cbegin(), m_configs.cend(), [&](const NASConfig& c) { return c.id == id; });
    if (it == m_configs.cend()) {
        m_systemLog.write(SystemLog::Type::Error, logCategory,
            QStringLiteral("Attempted to delete non-existent config: %1").arg(encoding::uuidText(id)));
        return;
    }
    const NASConfig removed = *it;
    QList<NASConfig> remaining = m_configs;
    remaining.removeAt(it - m_configs.cbegin());

    // A password is keyed by its identifier, not by the configuration: another configuration
    // with the same identifier (a duplicate, or an NFS share of the same address and path) still
    // needs it.
    const QString& key = removed.keychainIdentifier;
    if (!key.isEmpty() && std::none_of(remaining.cbegin(), remaining.cend(), [&](const NASConfig& c) {
            return c.keychainIdentifier == key;
        }))
        m_keychain.deletePassword(key);

    setConfigs(std::move(remaining));
    saveConfigs();

    // With a duplicate id still listed, its status and pending work stay.
    const bool idStillListed = config(id).has_value();
    if (!idStillListed)
        m_appState.removeStatus(id);
    m_systemLog.write(SystemLog::Type::Info, logCategory,
        QStringLiteral("Deleted NAS config: %1 (%2)").arg(removed.name, encoding::uuidText(id)));
    if (!idStillListed)
        emit configRemoved(id);
}

} // namespace vantrel
