#pragma once

#include "support/gui/ViewFixture.h"

#include "app/LaunchAtLoginManager.h"
#include "files/CacheDirectoryManager.h"
#include "files/CacheManager.h"
#include "mounting/NotificationPreferences.h"
#include "platform/DiskSpace.h"
#include "platform/LoginItems.h"
#include "views/main/SettingsView.h"

#include <QStringList>

#include <atomic>

namespace vantrel::test {

// Free space as the test sets it; read on the share I/O pool.
class SettableDiskSpace final : public DiskSpace {
public:
    std::optional<qint64> availableBytes(const QString&) const override { return bytes.load(); }
    std::atomic<qint64> bytes{250'000'000'000};
};

// The services of the settings tabs, private to one view fixture: the login item goes to an
// autostart folder of its own, the cache lives in the fixture's folder and sees the free space
// the test sets.
struct SettingsStandIns {
    explicit SettingsStandIns(ViewFixture& fixture);
    ~SettingsStandIns();

    ViewFixture& fixture;
    LoginItems loginItems;
    LaunchAtLoginManager launchAtLogin;
    NotificationPreferences notifications;
    SettableDiskSpace disk;
    CacheManager cache;
    CacheDirectoryManager cacheDirectory;

    SettingsServices services();
    // Every call of the launch-at-login service so far, in order: true to enable, false to disable.
    QList<bool> launchAtLoginCalls() const;
};

struct SettingsFixture : ViewFixture, SettingsStandIns {
    SettingsFixture()
        : SettingsStandIns(static_cast<ViewFixture&>(*this))
    {
    }
};

} // namespace vantrel::test
