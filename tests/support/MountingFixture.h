#pragma once

#include "mounting/AppStateManager.h"
#include "mounting/NASConfigStore.h"
#include "platform/FileSystemInfo.h"
#include "platform/SecretStore.h"
#include "services/KeychainManager.h"
#include "support/Fixtures.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QWaitCondition>

namespace vantrel::test {

// Declares chosen folders mounts of a given type; everything else is asked of the kernel. The
// share I/O pool may read it while the test changes it.
class FakeFileSystem final : public FileSystemInfo {
public:
    // A mount of type at path, or with mountRoot false a plain folder on such a mount.
    void declare(const QString& path, const QString& type, bool mountRoot = true);
    void forget(const QString& path);

    // An entry of the mount table, of the kernel's type, after the kernel's own entries.
    void declareMount(const QString& path, const QString& kernelType);

    // Asking the type of path hangs, as on a mount whose server froze, until released.
    void hang(const QString& path);
    void release();
    int hanging() const;

    std::optional<QString> typeName(const QString& path) const override;
    bool isMountRoot(const QString& path) const override;
    QList<MountEntry> mountTable() const override;

private:
    struct Entry {
        QString type;
        bool mountRoot = true;
    };
    mutable QMutex m_mutex;
    mutable QWaitCondition m_released;
    mutable int m_hanging = 0;
    QString m_hangingPath;
    QHash<QString, Entry> m_entries;
    QList<MountEntry> m_mounts;
};

// The configuration store with its statuses and keychain, on the logging of the given folder.
struct ConfigEnvironment : Logging {
    explicit ConfigEnvironment(const QString& folder)
        : Logging(folder)
    {
    }

    AppStateManager appState;
    SecretStore secrets;
    KeychainManager keychain{secrets, log};
    NASConfigStore configStore{defaults, systemLog, appState, keychain};
};

// An SMB share of nas.local named name, at /<name in lower case>, otherwise with the defaults.
NASConfig sampleShare(const QString& name, bool enabled = true);

// A private folder with the configuration environment, a fake file system, and the control
// folder through which the stand-in tools of standInTools() are steered and record their runs.
struct MountingFixture : TemporaryFolder, ConfigEnvironment, StandInControl {
    MountingFixture();

    FakeFileSystem fileSystem;
};

} // namespace vantrel::test
