#pragma once

#include "model/NASConfig.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace vantrel {

class AppStateManager;
class Defaults;
class KeychainManager;
class SystemLog;

// The user's share configurations, kept in the defaults database as one JSON value. Main thread
// only; no lock. Writes its own records to the system log under "ConfigStore".
class NASConfigStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<vantrel::NASConfig> configs READ configs NOTIFY configsChanged)

public:
    static inline const QString userDefaultsKey = QStringLiteral("com.vantrel.configs");
    static inline const QString logCategory = QStringLiteral("ConfigStore");

    // Loads the stored list before returning.
    NASConfigStore(Defaults& defaults, SystemLog& systemLog, AppStateManager& appState, KeychainManager& keychain,
        QObject* parent = nullptr);

    // Built on Defaults::standard(), SystemLog::shared(), AppStateManager::shared() and KeychainManager::shared().
    static NASConfigStore& shared();

    const QList<NASConfig>& configs() const { return m_configs; }
    QList<NASConfig> enabledConfigs() const;
    std::optional<NASConfig> config(const QUuid& id) const; // the first with that id

    // Always appends (no check for a duplicate id); returns true.
    bool addConfig(const NASConfig& config);
    void updateConfig(const NASConfig& config);
    void deleteConfig(const QUuid& id);

    void loadConfigs();
    void saveConfigs();

    // Where an undecodable stored list was copied aside at load (empty when none).
    QString corruptCopyPath() const { return m_corruptCopyPath; }

signals:
    void configsChanged(const QList<vantrel::NASConfig>& configs);
    // After a configuration left the list, so that pending work for it can be cancelled.
    void configRemoved(const QUuid& id);

private:
    void setConfigs(QList<NASConfig> configs);

    Defaults& m_defaults;
    SystemLog& m_systemLog;
    AppStateManager& m_appState;
    KeychainManager& m_keychain;
    QList<NASConfig> m_configs;
    QString m_corruptCopyPath;
};

} // namespace vantrel
