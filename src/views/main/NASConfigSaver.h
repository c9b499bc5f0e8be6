#pragma once

#include "model/NASConfig.h"

#include <QString>
#include <QUuid>

#include <optional>

namespace vantrel {

class KeychainManager;
class MountControl;
class NASConfigStore;

// What the share editor's save does: stores the configuration (added at the first save of one
// that was not stored, updated after), writes its password to the secret store, and then mounts
// an enabled share, which reads that password. The identifier the secret is kept under is the
// stored one, or, for a share stored without one, the one computed at its first save, kept from
// then on so that no two shares ever share one secret.
class NASConfigSaver final {
public:
    // existingConfig: the stored configuration being edited, or none for one not stored yet.
    NASConfigSaver(NASConfigStore& configStore, KeychainManager& keychain, MountControl& mounts,
        const std::optional<NASConfig>& existingConfig);

    // The id every save uses: the stored configuration's, else one made for the new share.
    QUuid configID() const { return m_configID; }
    // The identifier for a configuration saved as it is typed now.
    QString keychainIdentifier(const NASConfig& config) const;

    // Nothing waits for the secret or the mount; the mount reports through the share's status.
    void save(const NASConfig& config);

private:
    NASConfigStore& m_configStore;
    KeychainManager& m_keychain;
    MountControl& m_mounts;
    QUuid m_configID;
    bool m_wasStored;
    QString m_keychainIdentifier;
};

} // namespace vantrel
