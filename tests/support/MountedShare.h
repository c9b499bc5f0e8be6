#pragma once

#include "mounting/MountEngine.h"
#include "support/MountingFixture.h"
#include "support/SambaServer.h"

#include <memory>

namespace vantrel::test {

// A share of a real Samba server on 127.0.0.1, mounted with a password through the mount
// engine's Linux tool set (rclone over FUSE) for as long as the fixture lives. Check ok() first.
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
