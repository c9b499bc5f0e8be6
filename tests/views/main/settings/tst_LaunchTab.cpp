#include "support/TestMain.h"
#include "support/gui/SettingsFixture.h"

#include "views/main/settings/LaunchTab.h"
#include "views/widgets/Stepper.h"

#include <QCheckBox>
#include <QLabel>
#include <QToolButton>

#include <cmath>
#include <limits>

using namespace vantrel;
using test::SettingsFixture;

class TestLaunchTab : public QObject {
    Q_OBJECT

private slots:
    void showsTheDefaultsWithNothingStored()
    {
        SettingsFixture fx;
        LaunchTab tab(fx.defaults, fx.launchAtLogin);
        tab.show();
        QVERIFY(!tab.launchAtLoginToggle()->isChecked());
        QVERIFY(tab.autoMountToggle()->isChecked());
        QVERIFY(tab.keepAliveToggle()->isChecked());
        QVERIFY(tab.intervalRow()->isVisible());
        QCOMPARE(tab.intervalStepper()->label()->text(), QStringLiteral("3 min"));
    }

    void userChangesAreStoredWithTheirTypes()
    {
        SettingsFixture fx;
        LaunchTab tab(fx.defaults, fx.launchAtLogin);
        tab.show();

        tab.autoMountToggle()->click();
        QCOMPARE(fx.defaults.value(LaunchTab::autoMountKey), QVariant(false));
        tab.intervalStepper()->incrementButton()->click();
        QCOMPARE(fx.defaults.value(LaunchTab::keepAliveIntervalKey).typeId(), QMetaType::Double);
        QCOMPARE(fx.defaults.doubleValue(LaunchTab::keepAliveIntervalKey), 240.0);

        // Hiding the interval leaves it as it is.
        tab.keepAliveToggle()->click();
        QCOMPARE(fx.defaults.value(LaunchTab::keepAliveEnabledKey), QVariant(false));
        QVERIFY(!tab.intervalRow()->isVisible());
        QCOMPARE(fx.defaults.doubleValue(LaunchTab::keepAliveIntervalKey), 240.0);
        tab.keepAliveToggle()->click();
        QVERIFY(tab.intervalRow()->isVisible());
        QVERIFY(fx.launchAtLoginCalls().isEmpty());
    }

    void launchAtLoginIsCalledOncePerUserChangeAndNeverOnLoad()
    {
        SettingsFixture fx;
        fx.defaults.setValue(LaunchTab::launchAtLoginKey, true);
        LaunchTab tab(fx.defaults, fx.launchAtLogin);
        QVERIFY(tab.launchAtLoginToggle()->isChecked());
        QVERIFY(fx.launchAtLoginCalls().isEmpty());

        tab.launchAtLoginToggle()->click();
        tab.launchAtLoginToggle()->click();
        tab.launchAtLoginToggle()->click();
        QCOMPARE(fx.launchAtLoginCalls(), (QList<bool>{false, true, false}));
        QCOMPARE(fx.defaults.value(LaunchTab::launchAtLoginKey), QVariant(false));
        QVERIFY(!fx.launchAtLogin.isEnabled());
    }

    void intervalStepsByAMinuteWithinItsBoundsWithoutSnapping()
    {
        SettingsFixture fx;
        fx.defaults.setValue(LaunchTab::keepAliveIntervalKey, 90.0);
        LaunchTab tab(fx.defaults, fx.launchAtLogin);
        Stepper* stepper = tab.intervalStepper();
        QCOMPARE(stepper->label()->text(), QStringLiteral("1 min"));
        stepper->incrementButton()->click();
        QCOMPARE(fx.defaults.doubleValue(LaunchTab::keepAliveIntervalKey), 150.0);
        QCOMPARE(stepper->label()->text(), QStringLiteral("2 min"));

        for (int i = 0; i < 20; ++i)
            stepper->stepUp();
        QCOMPARE(stepper->value(), 600.0);
        QCOMPARE(stepper->label()->text(), QStringLiteral("10 min"));
        QVERIFY(!stepper->incrementButton()->isEnabled());
        for (int i = 0; i < 20; ++i)
            stepper->stepDown();
        QCOMPARE(stepper->value(), 60.0);
        QCOMPARE(stepper->label()->text(), QStringLiteral("1 min"));
        QVERIFY(!stepper->decrementButton()->isEnabled());
        QCOMPARE(fx.defaults.doubleValue(LaunchTab::keepAliveIntervalKey), 60.0);
    }

    void anUnshowableStoredIntervalShowsTheDefaultAndStaysStored()
    {
        for (const double stored : {std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300}) {
            SettingsFixture fx;
            fx.defaults.setValue(LaunchTab::keepAliveIntervalKey, stored);
            LaunchTab tab(fx.defaults, fx.launchAtLogin);
            QCOMPARE(tab.intervalStepper()->label()->text(), QStringLiteral("3 min"));
            const std::optional<double> kept = fx.defaults.doubleValue(LaunchTab::keepAliveIntervalKey);
            QVERIFY(kept && (std::isnan(stored) ? std::isnan(*kept) : *kept == stored));

            tab.intervalStepper()->stepUp();
            QCOMPARE(fx.defaults.doubleValue(LaunchTab::keepAliveIntervalKey), 240.0);
        }
    }
};

VANTREL_TEST_MAIN(TestLaunchTab)
#include "tst_LaunchTab.moc"
