#pragma once

#include "support/Fixtures.h"
#include "support/MountingFixture.h"

#include "mounting/AutoMountStrategy.h"
#include "mounting/MountEngine.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/FileSystemInfo.h"
#include "platform/FileWork.h"
#include "platform/NotificationCenter.h"
#include "platform/PowerEvents.h"

#include <QDBusConnection>
#include <QTest>

namespace vantrel::test {

// The real mounting strategy and engine of a test's configuration environment, on the Linux tool
// set with the stand-ins of linuxStandInTools() (mount.nfs4 and umount among them) steered
// through the control folder, mounting below root. Nothing is triggered by itself: it mounts and
// unmounts when asked. On destruction it stops, releases held stand-ins and waits for its work.
struct StrategyStandIn {
    StrategyStandIn(ConfigEnvironment& environment, NetworkMonitor& network, const QString& root,
        const QString& controlFolder)
        : control(controlFolder)
        , engine(linuxStandInTools(), root, FileSystemInfo::system(), environment.keychain)
        , preferences(environment.defaults)
        , notifications(center, preferences, environment.log)
        , strategy(environment.configStore, environment.appState, network, engine, notifications, environment.defaults,
              power)
    {
        engine.linuxTools().controlFolder = socketFolder();
    }

    ~StrategyStandIn()
    {
        strategy.stop();
        for (const QString& tool : {QStringLiteral("mount.nfs4"), QStringLiteral("umount")}) {
            control.unset(tool + QStringLiteral(".hold"));
            control.set(tool + QStringLiteral(".release"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!strategy.hasOperationsUnderWay(), 10000);
        waitForFileWork();
    }

    StandInControl control;
    MountEngine engine;
    NotificationPreferences preferences;
    // No notification server answers on a bus of this name; the posts fail quietly.
    NotificationCenter center{QDBusConnection(QStringLiteral("vantrel-no-bus"))};
    NotificationService notifications;
    PowerEvents power{QDBusConnection(QStringLiteral("vantrel-no-bus"))};
    AutoMountStrategy strategy;
};

} // namespace vantrel::test
