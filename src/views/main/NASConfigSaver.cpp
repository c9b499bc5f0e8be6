#include "views/main/NASConfigSaver.h"

#include "mounting/MountControl.h"
#include "mounting/NASConfigStore.h"
#include "platform/Threading.h"
#include "services/KeychainManager.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice.

namespace {

// Secret-store writes are D-Bus round-trips that may wait on an unlock prompt, so they leave the
// main thread; one thread keeps two saves' writes in the order they were made.
QThreadPool& secretWriter()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setObjectName(QStringLiteral("com.vantrel.secretwriter"));
        return p;
    }();
    return *pool;
}

struct Secret {
    QString password;
    QString account;
};

// The mount reads the password from the secret store, so it starts only after the write.
QCoro::Task<> storeSecretThenMount(KeychainManager* keychain, std::optional<Secret> secret, MountControl* mounts,
    std::optional<QUuid> mountID)
{
    if (secret) {
        auto write = [keychain, secret = *secret] { keychain->savePassword(secret.password, secret.account); };
        QFuture<void> written = QtConcurrent::run(&secretWriter(), std::move(write));
        co_await written;
    }
    if (mountID) {
        auto mount = mounts->mount(*mountID);
        co_await mount;
    }
}

} // namespace

NASConfigSaver::NASConfigSaver(NASConfigStore& configStore, KeychainManager& keychain, MountControl& mounts,
    const std::optional<NASConfig>& existingConfig)
    : m_configStore(configStore)
    , m_keychain(keychain)
    , m_mounts(mounts)
    , m_configID(existingConfig ? existingConfig->id : QUuid::createUuid())
    , m_wasStored(existingConfig.has_value())
    , m_keychainIdentifier(existingConfig ? existingConfig->keychainIdentifier : QString())
{
}

QString NASConfigSaver::keychainIdentifier(const NASConfig& config) const
{
    if (!m_keychainIdentifier.isEmpty())
        return m_keychainIdentifier;
    if (config.protocol == NASProtocol::nfs)
        return QStringLiteral("nfs-") + config.address + QLatin1Char('-') + config.sharePath;
    return KeychainManager::credentialKey(config.address, config.sharePath, config.username);
}

void NASConfigSaver::save(const NASConfig& config)
{
    if (m_keychainIdentifier.isEmpty())
        m_keychainIdentifier = config.keychainIdentifier;

    std::optional<Secret> secret;
    if (config.protocol == NASProtocol::smb && config.authMethod == AuthMethod::password && config.password
        && !config.password->isEmpty())
        secret = Secret{*config.password, config.keychainIdentifier};

    // A share that was not stored is added once; later saves of this editor update it.
    if (m_wasStored || m_configStore.config(config.id))
        m_configStore.updateConfig(config);
    else
        m_configStore.addConfig(config);

    const std::optional<QUuid> mountID = config.isEnabled ? std::optional<QUuid>(config.id) : std::nullopt;
    if (secret || mountID) {
        detach(storeSecretThenMount(&m_keychain, secret, &m_mounts, mountID));
    }
}

} // namespace vantrel
