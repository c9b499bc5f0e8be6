#include "support/gui/SettingsFixture.h"

#include "platform/FileWork.h"

#include <QThreadPool>

namespace vantrel::test {

SettingsStandIns::SettingsStandIns(ViewFixture& fixture)
    : fixture(fixture)
    , loginItems(fixture.dir.filePath(QStringLiteral("autostart")), QStringLiteral("/usr/bin/vantrel"))
    , launchAtLogin(loginItems, fixture.log, QStringLiteral("com.vantrel.app"))
    , notifications(fixture.defaults)
    , cache(fixture.defaults, fixture.log, fixture.dir.filePath(QStringLiteral("cache")), &systemNow)
    , cacheDirectory(fixture.defaults, fixture.log, cache, disk, &systemNow)
{
}

SettingsStandIns::~SettingsStandIns()
{
    // Free-space readings and file tests of a clean-up may still be running against these.
    waitForFileWork();
    QThreadPool::globalInstance()->waitForDone();
    cache.waitForIndexWrites();
}

SettingsServices SettingsStandIns::services()
{
    SettingsServices services;
    services.defaults = &fixture.defaults;
    services.launchAtLogin = &launchAtLogin;
    services.notifications = &notifications;
    services.cache = &cache;
    services.cacheDirectory = &cacheDirectory;
    services.log = &fixture.log;
    services.fileDialogs = &fixture.fileDialogs;
    return services;
}

QList<bool> SettingsStandIns::launchAtLoginCalls() const
{
    // The service logs the outcome of every call, a change or not.
    QList<bool> calls;
    for (const QString& message : fixture.systemLog.messages()) {
        if (message == QLatin1String("Launch at login set to true"))
            calls.append(true);
        else if (message == QLatin1String("Launch at login set to false"))
            calls.append(false);
    }
    return calls;
}

} // namespace vantrel::test
