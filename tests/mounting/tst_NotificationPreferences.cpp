#include "support/TestMain.h"

#include "mounting/NotificationPreferences.h"
#include "platform/Defaults.h"
#include "platform/Localization.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace vantrel;

class TestNotificationPreferences : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;
    QString nextPath() { return m_dir.filePath(QStringLiteral("d%1.json").arg(m_files++)); }

    static QList<bool> states(const NotificationPreferences& p)
    {
        QList<bool> out;
        for (NotificationEvent e : allNotificationEvents())
            out << p.isEnabled(e);
        return out;
    }

private slots:
    void eventsAndRawValues()
    {
        const QStringList raws{"mountSuccess", "mountFailure", "unmount", "networkChange", "transferComplete",
            "transferFailed", "cacheCleanup"};
        QStringList got;
        for (NotificationEvent e : allNotificationEvents()) {
            got << notificationEventRawValue(e);
            QCOMPARE(notificationEventFromRaw(notificationEventRawValue(e)), std::optional<NotificationEvent>(e));
        }
        QCOMPARE(got, raws);
        QVERIFY(!notificationEventFromRaw(QString()).has_value());
        QVERIFY(!notificationEventFromRaw("MountSuccess").has_value());
        QVERIFY(!notificationEventFromRaw("unmount ").has_value());

        Localization::useCatalog(QString());
        QCOMPARE(notificationEventDisplayName(NotificationEvent::cacheCleanup), QStringLiteral("缓存清理"));
        Localization::useCatalog("en");
        QCOMPARE(notificationEventDisplayName(NotificationEvent::mountFailure), QStringLiteral("Mount failed"));
        Localization::useCatalog("zh-Hans");
        QCOMPARE(notificationEventDisplayName(NotificationEvent::mountFailure), QStringLiteral("挂载失败"));
    }

    void storedChoicesAndDefaults()
    {
        const QList<bool> defaults{true, true, false, true, true, true, false};
        {
            Defaults d(nextPath());
            NotificationPreferences p(d);
            QCOMPARE(states(p), defaults);
            QVERIFY(p.globalEnabled());
            QVERIFY(p.eventStates().isEmpty());
        }
        {
            Defaults d(nextPath());
            d.setValue("notify.unmount", true);
            d.setValue("notify.mountFailure", false);
            // Only a stored Bool counts: other types read as absent.
            d.setValue("notify.mountSuccess", QStringLiteral("false"));
            d.setValue("notify.cacheCleanup", qint64(1));
            d.setValue("notificationsEnabled", QStringLiteral("no"));
            NotificationPreferences p(d);
            QCOMPARE(states(p), (QList<bool>{true, false, true, true, true, true, false}));
            QVERIFY(p.globalEnabled());
            QCOMPARE(p.eventStates(),
                (NotificationEventStates{{NotificationEvent::unmount, true},
                    {NotificationEvent::mountFailure, false}}));
        }
    }

    void globalSwitchOverridesEveryEvent()
    {
        const QString path = nextPath();
        Defaults d(path);
        d.setValue("notificationsEnabled", false);
        d.setValue("notify.unmount", true);
        NotificationPreferences p(d);
        QCOMPARE(states(p), QList<bool>(7, false));

        QSignalSpy spy(&p, &NotificationPreferences::globalEnabledChanged);
        p.setGlobalEnabled(true);
        p.setGlobalEnabled(true); // every assignment is announced
        QCOMPARE(spy.size(), 2);
        QCOMPARE(states(p), (QList<bool>{true, true, true, true, true, true, false}));
        QCOMPARE(d.value("notificationsEnabled"), QVariant(true));

        p.setGlobalEnabled(false);
        QVERIFY(d.synchronize());
        Defaults reread(path);
        NotificationPreferences again(reread);
        QVERIFY(!again.globalEnabled());
        QVERIFY(!again.isEnabled(NotificationEvent::mountSuccess));
    }

    void setAndResetPersist()
    {
        const QString path = nextPath();
        Defaults d(path);
        d.setValue("notificationsEnabled", false);
        d.setValue("unrelated", true);
        NotificationPreferences p(d);
        p.setGlobalEnabled(true);

        QSignalSpy spy(&p, &NotificationPreferences::eventStatesChanged);
        p.setEnabled(true, NotificationEvent::unmount);
        p.setEnabled(false, NotificationEvent::transferComplete);
        QCOMPARE(spy.size(), 2);
        QCOMPARE(d.value("notify.unmount"), QVariant(true));
        QCOMPARE(d.value("notify.transferComplete"), QVariant(false));
        QVERIFY(p.isEnabled(NotificationEvent::unmount));
        QVERIFY(!p.isEnabled(NotificationEvent::transferComplete));

        for (NotificationEvent e : allNotificationEvents())
            d.setValue(NotificationPreferences::eventKey(e), true);
        p.resetToDefaults();
        QCOMPARE(spy.size(), 3);
        QVERIFY(spy.last().at(0).value<NotificationEventStates>().isEmpty());
        for (NotificationEvent e : allNotificationEvents())
            QVERIFY(!d.contains(NotificationPreferences::eventKey(e)));
        QCOMPARE(d.value("notificationsEnabled"), QVariant(true));
        QVERIFY(d.contains("unrelated"));
        QVERIFY(!p.isEnabled(NotificationEvent::unmount));
        QVERIFY(p.isEnabled(NotificationEvent::transferComplete));
    }
};

VANTREL_TEST_MAIN(TestNotificationPreferences)
#include "tst_NotificationPreferences.moc"
