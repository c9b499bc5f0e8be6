#include "support/TestMain.h"

#include "mounting/AppStateManager.h"

#include <QSignalSpy>

using namespace vantrel;

namespace {

const QUrl mountPoint = QUrl::fromLocalFile(QStringLiteral("/home/u/VantrelVolumes/Photos"));

struct Fixture {
    AppStateManager manager;
    QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);

    Fixture()
    {
        manager.setClock([this] { return now; });
    }

    // Adds one status per state and returns their ids.
    QList<QUuid> withStates(const QList<MountState>& states)
    {
        QList<QUuid> ids;
        for (const MountState& state : states) {
            ids.append(QUuid::createUuid());
            manager.updateStatus(ids.last(), state, mountPoint);
        }
        return ids;
    }
};

const MountState failedState = MountState::failed(VantrelError::mountFailed("exit 1"));

} // namespace

class TestAppStateManager : public QObject {
    Q_OBJECT

private slots:
    void startsEmpty()
    {
        AppStateManager m;
        QVERIFY(m.nasStatuses().isEmpty());
        QVERIFY(m.appState() == AppState::unconfigured());
        QCOMPARE(m.menuBarIconState(), MenuBarIconState::idle);
        QCOMPARE(&AppStateManager::shared(), &AppStateManager::shared());
    }

    void oneUpdateAnnouncesMapThenStateThenIcon()
    {
        Fixture f;
        const QUuid other = QUuid::createUuid();
        f.manager.ensureStatus(other);

        QStringList order;
        connect(&f.manager, &AppStateManager::nasStatusesChanged, &f.manager, [&] { order << "map"; });
        connect(&f.manager, &AppStateManager::appStateChanged, &f.manager, [&](const AppState& s) {
            QVERIFY(s == f.manager.appState());
            order << "state";
        });
        connect(&f.manager, &AppStateManager::menuBarIconStateChanged, &f.manager, [&](MenuBarIconState s) {
            QCOMPARE(s, f.manager.menuBarIconState());
            order << "icon";
        });

        const QUuid id = QUuid::createUuid();
        f.manager.updateStatus(id, MountState::mounting());
        QCOMPARE(order, (QStringList{"map", "state", "icon"}));
        QVERIFY(f.manager.status(id));
        QCOMPARE(f.manager.nasStatuses().value(id).configID, id);
        QVERIFY(f.manager.appState() == AppState::operating());
        QCOMPARE(f.manager.menuBarIconState(), MenuBarIconState::mounting);

        // The same value again is announced again.
        order.clear();
        f.manager.updateStatus(id, MountState::mounting());
        QCOMPARE(order, (QStringList{"map", "state", "icon"}));

        // An existing status is left alone, yet both roll-ups are announced.
        order.clear();
        f.manager.ensureStatus(id);
        QCOMPARE(order, (QStringList{"state", "icon"}));
        QVERIFY(f.manager.status(id)->mountState == MountState::mounting());

        // Removing an unknown id changes no status but still announces.
        order.clear();
        f.manager.removeStatus(QUuid::createUuid());
        QCOMPARE(order, (QStringList{"map", "state", "icon"}));
        QCOMPARE(f.manager.nasStatuses().size(), 2);
    }

    void fieldsFollowTheState()
    {
        Fixture f;
        const QUuid id = QUuid::createUuid();
        f.manager.updateStatus(id, MountState::mounted(), mountPoint);
        NASStatus s = *f.manager.status(id);
        QCOMPARE(s.mountPoint, std::optional(mountPoint));
        QCOMPARE(s.lastMountedAt, std::optional(f.now));
        const QDateTime mountedAt = f.now;

        f.now = f.now.addSecs(60);
        f.manager.updateStatus(id, MountState::idle(), mountPoint);
        s = *f.manager.status(id);
        QVERIFY(!s.mountPoint);
        QCOMPARE(s.lastMountedAt, std::optional(mountedAt));

        f.manager.updateStatus(id, failedState, mountPoint);
        s = *f.manager.status(id);
        QCOMPARE(s.lastError, failedState.error());
        QVERIFY(!s.mountPoint);
        QCOMPARE(s.lastMountedAt, std::optional(mountedAt));

        f.manager.updateStatus(id, MountState::mounting(), mountPoint);
        s = *f.manager.status(id);
        QVERIFY(s.mountState == MountState::mounting());
        QCOMPARE(s.lastError, failedState.error());
        QVERIFY(!s.mountPoint);

        // Mounted keeps the last error and takes no mount point when none is given.
        f.manager.updateStatus(id, MountState::mounted());
        s = *f.manager.status(id);
        QVERIFY(!s.mountPoint);
        QCOMPARE(s.lastError, failedState.error());
        QCOMPARE(s.lastMountedAt, std::optional(f.now));

        for (const MountState& state : {MountState::offline(), MountState::unmounting()}) {
            f.manager.updateStatus(id, state, mountPoint);
            QVERIFY(!f.manager.status(id)->mountPoint);
        }

        f.manager.updateStatus(id, MountState::mounted(), mountPoint);
        f.manager.ensureStatus(id);
        QVERIFY(f.manager.status(id)->mountState == MountState::mounted());
        QCOMPARE(f.manager.status(id)->mountPoint, std::optional(mountPoint));
    }

    void rollUps_data()
    {
        QTest::addColumn<QList<MountState>>("states");
        QTest::addColumn<AppState>("overall");
        QTest::addColumn<MenuBarIconState>("icon");
        const auto idle = MountState::idle(), mounting = MountState::mounting(), mounted = MountState::mounted(),
                   unmounting = MountState::unmounting(), offline = MountState::offline();
        const auto allFailed = AppState::error(GlobalError::allMountsFailed);

        QTest::newRow("none") << QList<MountState>{} << AppState::unconfigured() << MenuBarIconState::idle;
        QTest::newRow("mounting beats all")
            << QList{failedState, mounted, mounting} << AppState::operating() << MenuBarIconState::mounting;
        QTest::newRow("unmounting") << QList{offline, unmounting} << AppState::operating()
                                    << MenuBarIconState::mounting;
        QTest::newRow("mounted+failed") << QList{mounted, failedState} << AppState::active()
                                        << MenuBarIconState::partiallyMounted;
        QTest::newRow("mounted+offline") << QList{mounted, offline} << AppState::active()
                                         << MenuBarIconState::partiallyMounted;
        QTest::newRow("mounted+idle") << QList{mounted, idle} << AppState::active()
                                      << MenuBarIconState::partiallyMounted;
        QTest::newRow("all mounted") << QList{mounted, mounted} << AppState::active() << MenuBarIconState::allMounted;
        QTest::newRow("all failed") << QList{failedState, MountState::failed(VantrelError::timeout(""))} << allFailed
                                    << MenuBarIconState::allFailed;
        QTest::newRow("all offline") << QList{offline, offline} << AppState::idle() << MenuBarIconState::offline;
        QTest::newRow("failed+offline") << QList{failedState, offline} << AppState::idle() << MenuBarIconState::idle;
        QTest::newRow("idle+failed") << QList{idle, failedState} << AppState::idle() << MenuBarIconState::idle;
        QTest::newRow("one idle") << QList{idle} << AppState::idle() << MenuBarIconState::idle;
    }

    void rollUps()
    {
        QFETCH(QList<MountState>, states);
        QFETCH(AppState, overall);
        QFETCH(MenuBarIconState, icon);
        Fixture f;
        f.withStates(states);
        QVERIFY(f.manager.appState() == overall);
        QCOMPARE(f.manager.menuBarIconState(), icon);
        QVERIFY(AppStateManager::computeAppState(f.manager.nasStatuses()) == overall);
        QCOMPARE(AppStateManager::computeMenuBarIconState(f.manager.nasStatuses()), icon);
    }

    void removingTheLastStatus()
    {
        Fixture f;
        const QList<QUuid> ids = f.withStates({MountState::mounted()});
        QSignalSpy icon(&f.manager, &AppStateManager::menuBarIconStateChanged);
        f.manager.removeStatus(ids.first());
        QVERIFY(f.manager.nasStatuses().isEmpty());
        QVERIFY(f.manager.appState() == AppState::unconfigured());
        QCOMPARE(icon.size(), 1);
        QCOMPARE(icon.first().first().value<MenuBarIconState>(), MenuBarIconState::idle);
    }

    void propertiesNotify()
    {
        AppStateManager m;
        QSignalSpy spy(&m, &AppStateManager::appStateChanged);
        QVERIFY(m.setProperty("appState", QVariant::fromValue(AppState::active())) == false); // read-only
        m.ensureStatus(QUuid::createUuid());
        QCOMPARE(spy.size(), 1);
        QVERIFY(m.property("appState").value<AppState>() == AppState::idle());
        QCOMPARE(m.property("nasStatuses").value<NASStatusMap>().size(), 1);
    }
};

VANTREL_TEST_MAIN(TestAppStateManager)
#include "tst_AppStateManager.moc"
