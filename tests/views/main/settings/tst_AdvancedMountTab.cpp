#include "support/TestMain.h"
#include "support/gui/SettingsFixture.h"

#include "views/main/settings/AdvancedMountTab.h"
#include "views/widgets/SegmentedControl.h"
#include "views/widgets/Stepper.h"

#include <QLabel>
#include <QSignalSpy>
#include <QToolButton>

#include <cmath>
#include <limits>

using namespace vantrel;
using test::SettingsFixture;

class TestAdvancedMountTab : public QObject {
    Q_OBJECT

private slots:
    void showsTheDefaultsWithNothingStored()
    {
        SettingsFixture fx;
        AdvancedMountTab tab(fx.defaults);
        QCOMPARE(tab.smbVersionPicker()->value(), QStringLiteral("auto"));
        QCOMPARE(tab.smbVersionPicker()->button(QStringLiteral("2"))->text(), QStringLiteral("SMB 2.x"));
        QCOMPARE(tab.timeoutStepper()->label()->text(), QStringLiteral("30s"));
        QCOMPARE(tab.retryCountStepper()->label()->text(), QStringLiteral("3"));
        QCOMPARE(tab.retryIntervalStepper()->label()->text(), QStringLiteral("10s"));
    }

    void everyChangeIsStoredAsTextOrFloatingPoint()
    {
        SettingsFixture fx;
        AdvancedMountTab tab(fx.defaults);
        tab.show();
        tab.smbVersionPicker()->button(QStringLiteral("3"))->click();
        QCOMPARE(fx.defaults.value(AdvancedMountTab::smbVersionKey), QVariant(QStringLiteral("3")));

        tab.timeoutStepper()->incrementButton()->click();
        tab.retryCountStepper()->incrementButton()->click();
        tab.retryIntervalStepper()->decrementButton()->click();
        QCOMPARE(fx.defaults.value(AdvancedMountTab::timeoutKey), QVariant(35.0));
        QCOMPARE(fx.defaults.value(AdvancedMountTab::retryCountKey), QVariant(4.0));
        QCOMPARE(fx.defaults.value(AdvancedMountTab::retryIntervalKey), QVariant(5.0));
        QVERIFY(!tab.retryIntervalStepper()->decrementButton()->isEnabled());
        QCOMPARE(tab.retryCountStepper()->label()->text(), QStringLiteral("4"));
    }

    void storedValuesFromElsewhereAreShownTruncatedOrNotAtAll()
    {
        SettingsFixture fx;
        fx.defaults.setValue(AdvancedMountTab::retryIntervalKey, 7.9);
        fx.defaults.setValue(AdvancedMountTab::timeoutKey, -0.5);
        fx.defaults.setValue(AdvancedMountTab::smbVersionKey, QStringLiteral("SMB3"));
        QSignalSpy writes(&fx.defaults, &Defaults::valueChanged);
        AdvancedMountTab tab(fx.defaults);
        QCOMPARE(tab.retryIntervalStepper()->label()->text(), QStringLiteral("7s"));
        QCOMPARE(tab.timeoutStepper()->label()->text(), QStringLiteral("0s"));
        QCOMPARE(tab.smbVersionPicker()->value(), QString());
        QCOMPARE(tab.smbVersionPicker()->currentIndex(), -1);
        QCOMPARE(writes.size(), 0);
        // Off the grid, a press moves by one step without snapping.
        tab.retryIntervalStepper()->stepUp();
        QCOMPARE(fx.defaults.doubleValue(AdvancedMountTab::retryIntervalKey), 12.9);
    }

    void unshowableNumbersShowTheDefaultUntilTheUserChangesThem()
    {
        const QList<std::pair<QString, QString>> keys{{AdvancedMountTab::timeoutKey, QStringLiteral("30s")},
            {AdvancedMountTab::retryCountKey, QStringLiteral("3")},
            {AdvancedMountTab::retryIntervalKey, QStringLiteral("10s")}};
        for (const double stored :
            {std::numeric_limits<double>::quiet_NaN(), 1e300, -std::numeric_limits<double>::infinity()}) {
            SettingsFixture fx;
            for (const auto& [key, label] : keys)
                fx.defaults.setValue(key, stored);
            AdvancedMountTab tab(fx.defaults);
            const QList<Stepper*> steppers{tab.timeoutStepper(), tab.retryCountStepper(), tab.retryIntervalStepper()};
            for (qsizetype i = 0; i < keys.size(); ++i) {
                QCOMPARE(steppers.at(i)->label()->text(), keys.at(i).second);
                const double kept = fx.defaults.doubleValue(keys.at(i).first).value();
                QVERIFY(std::isnan(stored) ? std::isnan(kept) : kept == stored);
            }
            tab.retryCountStepper()->stepUp();
            QCOMPARE(fx.defaults.doubleValue(AdvancedMountTab::retryCountKey), 4.0);
        }
    }
};

VANTREL_TEST_MAIN(TestAdvancedMountTab)
#include "tst_AdvancedMountTab.moc"
