#pragma once

#include "mounting/MountEngine.h"
#include "support/Fixtures.h"
#include "support/MountingFixture.h"
#include "support/SambaServer.h"

#include <memory>

namespace vantrel::test {

// This user's vantrel-smbfs processes serving the path, of the engine's program.
QList<qint64> smbfsProcesses(const MountEngine& engine, const QString& path);

// A share of a real Samba server on 127.0.0.1, mounted with a password through the mount
// engine's Linux tool set (vantrel-smbfs over FUSE) for as long as the fixture lives. Check ok()
// first.
struct MountedShare : TemporaryFolder, ConfigEnvironment {
    // The share's connection time-out bounds each request through the mount.
    explicit MountedShare(qint64 connectionTimeout = 30);
    ~MountedShare();
    MountedShare(const MountedShare&) = delete;
    MountedShare& operator=(const MountedShare&) = delete;

    bool ok() const { return error.isEmpty(); }
    // Unmounts and waits until what was written reached the server; false when that failed.
    bool unmount();

    SambaServer server;
    // The share's folder on the server's side.
    QString serverFolder;
    std::unique_ptr<MountEngine> engine;
    QString mountPoint;
    QString error;
};

} // namespace vantrel::test
