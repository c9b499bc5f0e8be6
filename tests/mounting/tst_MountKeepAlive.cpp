#include "support/FileWorkGate.h"
#include "support/MountingFixture.h"
#include "support/TestMain.h"

#include "mounting/MountEngine.h"
#include "mounting/MountKeepAlive.h"
#include "platform/FileWork.h"

#include <limits>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

struct Fixture : test::MountingFixture {
    MountEngine engine{test::standInTools(), dir.filePath(QStringLiteral("Volumes")), fileSystem, keychain};
    QList<QString> vanished; // names, in the order they were reported
    MountKeepAlive keepAlive{configStore, appState, engine, defaults,
        [this](const NASConfig& config) { vanished.append(config.name); }};

    ~Fixture()
    {
        keepAlive.stop();
        QTRY_VERIFY(!keepAlive.isChecking());
        waitForFileWork();
    }

    // A share recorded as mounted whose mount point the file system shows as one.
    NASConfig mounted(const QString& name, bool enabled = true)
    {
        const NASConfig config = test::sampleShare(name, enabled);
        configStore.addConfig(config);
        const QString path = engine.mountPointPath(config);
        appState.updateStatus(config.id, MountState::mounted(), MountEngine::directoryUrl(path));
        fileSystem.declare(path, QStringLiteral("smbfs"));
        return config;
    }
};

} // namespace

class TestMountKeepAlive : public QObject {
    Q_OBJECT

private slots:
    void aPassReportsOnlyEnabledMountedSharesThatAreGone()
    {
        Fixture f;
        const NASConfig live = f.mounted(QStringLiteral("Live"));
        const NASConfig gone = f.mounted(QStringLiteral("Gone"));
        const NASConfig disabled = f.mounted(QStringLiteral("Disabled"), false);
        const NASConfig idle = f.mounted(QStringLiteral("Idle"));
        f.appState.updateStatus(idle.id, MountState::idle());
        for (const NASConfig& config : {gone, disabled, idle})
            f.fileSystem.forget(f.engine.mountPointPath(config));

        QCoro::waitFor(f.keepAlive.performPass());
        QCOMPARE(f.vanished, QList<QString>{QStringLiteral("Gone")});
    }

    void aShareWhoseCheckHangsIsNotCheckedAgainNorHoldsTheOthersBack()
    {
        Fixture f;
        f.defaults.setValue(MountKeepAlive::intervalKey, 0.03);
        f.keepAlive.minimumInterval = 0.01;
        const NASConfig hung = f.mounted(QStringLiteral("Hung"));
        const NASConfig other = f.mounted(QStringLiteral("Other"));
        const QString hungPath = f.engine.mountPointPath(hung);

        test::FileWorkGate gate;
        gate.hold(hungPath);
        f.keepAlive.start();
        QVERIFY(f.keepAlive.isRunning());
        QTest::qWait(300); // about ten intervals
        QCOMPARE(gate.arrived(hungPath), 1);
        QVERIFY(f.keepAlive.isChecking());

        // The other share is still checked: ejected, it is found at a later pass.
        f.fileSystem.forget(f.engine.mountPointPath(other));
        QTRY_VERIFY(f.vanished.contains(QStringLiteral("Other")));
        QCOMPARE(gate.arrived(hungPath), 1);

        // Once the hung check returns, the share is checked again at every pass.
        gate.slow(hungPath, 0ms);
        gate.release(hungPath);
        QTRY_VERIFY(gate.arrived(hungPath) >= 3);
        QVERIFY(!f.vanished.contains(QStringLiteral("Hung")));
        f.keepAlive.stop();
        QVERIFY(!f.keepAlive.isRunning());
    }

    void intervalFallsBackOnUnusableValues()
    {
        Fixture f;
        QCOMPARE(f.keepAlive.interval(), 180.0);
        const QList<QVariant> unusable{QStringLiteral("120"), 0.0, -5.0, 0.5, qint64(0),
            std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), true};
        for (const QVariant& value : unusable) {
            f.defaults.remove(MountKeepAlive::intervalKey);
            f.defaults.setValue(MountKeepAlive::intervalKey, value);
            QCOMPARE(f.keepAlive.interval(), 180.0);
        }
        f.defaults.setValue(MountKeepAlive::intervalKey, qint64(60));
        QCOMPARE(f.keepAlive.interval(), 60.0);
        f.defaults.setValue(MountKeepAlive::intervalKey, 120.5);
        QCOMPARE(f.keepAlive.interval(), 120.5);

        f.defaults.setValue(MountKeepAlive::intervalKey, 0.0);
        f.keepAlive.start();
        QCOMPARE(f.keepAlive.timerInterval(), 180000ms);

        // Longer than a timer holds (about 24.8 days): kept whole.
        f.defaults.setValue(MountKeepAlive::intervalKey, 3'000'000.0);
        f.keepAlive.start();
        QCOMPARE(f.keepAlive.timerInterval(), std::chrono::milliseconds(3'000'000'000));

        // Switched off, it does not start.
        f.keepAlive.stop();
        f.defaults.setValue(MountKeepAlive::enabledKey, false);
        QVERIFY(!f.keepAlive.isEnabled());
        f.keepAlive.start();
        QVERIFY(!f.keepAlive.isRunning());
    }
};

VANTREL_TEST_MAIN(TestMountKeepAlive)
#include "tst_MountKeepAlive.moc"
