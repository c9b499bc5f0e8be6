#include "support/TestMain.h"
#include "support/gui/SettingsFixture.h"

#include "views/main/settings/NotificationSettingsTab.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>

using namespace vantrel;
using test::SettingsFixture;

namespace {

QList<bool> rowStates(const NotificationSettingsTab& tab)
{
    QList<bool> states;
    for (NotificationEvent event : allCases<NotificationEvent>())
        states << tab.eventToggle(event)->isChecked();
    return states;
}

} // namespace

class TestNotificationSettingsTab : public QObject {
    Q_OBJECT

private slots:
    void showsTheDefaultsWithNothingStored()
    {
        SettingsFixture fx;
        NotificationSettingsTab tab(fx.notifications);
        QVERIFY(tab.masterToggle()->isChecked());
        QCOMPARE(rowStates(tab), (QList<bool>{true, true, false, true, true, true, false}));
    }

    void switchesAreStoredAndRowsStayEditableWhileTheMasterIsOff()
    {
        SettingsFixture fx;
        NotificationSettingsTab tab(fx.notifications);
        tab.show();
        tab.masterToggle()->click();
        QCOMPARE(fx.defaults.value(NotificationPreferences::globalKey), QVariant(false));
        QCOMPARE(rowStates(tab), (QList<bool>{true, true, false, true, true, true, false}));

        QCheckBox* unmount = tab.eventToggle(NotificationEvent::unmount);
        QVERIFY(unmount->isEnabled());
        unmount->click();
        QCOMPARE(fx.defaults.value(QStringLiteral("notify.unmount")), QVariant(true));

        // Set back to its default, the choice stays stored until a reset.
        QCheckBox* success = tab.eventToggle(NotificationEvent::mountSuccess);
        success->click();
        success->click();
        QCOMPARE(fx.defaults.value(QStringLiteral("notify.mountSuccess")), QVariant(true));

        tab.resetButton()->click();
        QVERIFY(!unmount->isChecked());
        QVERIFY(!fx.defaults.contains(QStringLiteral("notify.unmount")));
        QVERIFY(!fx.defaults.contains(QStringLiteral("notify.mountSuccess")));
        QVERIFY(!tab.masterToggle()->isChecked());
        QCOMPARE(fx.defaults.value(NotificationPreferences::globalKey), QVariant(false));
    }

    void followsChangesMadeElsewhereWithoutWritingBack()
    {
        SettingsFixture fx;
        NotificationSettingsTab tab(fx.notifications);
        QSignalSpy writes(&fx.defaults, &Defaults::valueChanged);
        fx.notifications.setEnabled(false, NotificationEvent::transferFailed);
        fx.notifications.setGlobalEnabled(false);
        QVERIFY(!tab.eventToggle(NotificationEvent::transferFailed)->isChecked());
        QVERIFY(!tab.masterToggle()->isChecked());
        QCOMPARE(writes.size(), 2); // the two changes themselves, nothing echoed by the tab
    }
};

VANTREL_TEST_MAIN(TestNotificationSettingsTab)
#include "tst_NotificationSettingsTab.moc"
