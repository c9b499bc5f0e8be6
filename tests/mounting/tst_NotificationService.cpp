#include "support/Fixtures.h"
#include "support/NotificationServerStandIn.h"
#include "support/TestMain.h"

#include <QElapsedTimer>

#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/Defaults.h"
#include "platform/Localization.h"
#include "platform/NotificationCenter.h"
#include "services/LogManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QMutex>
#include <QSignalSpy>
#include <QThread>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace vantrel;
using test::NotifyCall;
using test::ServerHost;
using namespace std::chrono_literals;

namespace {

} // namespace

class TestNotificationService : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::LoggingFixture> m_logging;
    std::unique_ptr<NotificationPreferences> m_prefs;
    std::unique_ptr<NotificationCenter> m_center;
    std::unique_ptr<NotificationService> m_service;

    // The identifier the centre attached to what the server shows as id, learnt through a
    // "default" action round trip.
    QString identifierOf(ServerHost& host, uint id, int timeoutMs = 5000)
    {
        // The server may see the call before the centre has read the server's answer with the id,
        // so the action is repeated until the centre knows the id.
        QSignalSpy spy(m_center.get(), &NotificationCenter::actionInvoked);
        QElapsedTimer elapsed;
        elapsed.start();
        while (spy.isEmpty() && elapsed.elapsed() < timeoutMs) {
            host.emitAction(id, QStringLiteral("default"));
            spy.wait(100);
        }
        if (spy.isEmpty())
            return QStringLiteral("<none>");
        return spy.first().at(0).toString();
    }

private slots:
    void init()
    {
        Localization::useCatalog(QString());
        m_logging = std::make_unique<test::LoggingFixture>();
        m_prefs = std::make_unique<NotificationPreferences>(m_logging->defaults);
        m_center = std::make_unique<NotificationCenter>(QDBusConnection::sessionBus());
        m_service = std::make_unique<NotificationService>(*m_center, *m_prefs, m_logging->log);
        m_service->triggerDelay = 0ms;
    }

    void cleanup()
    {
        m_service.reset();
        m_center.reset();
        m_prefs.reset();
        m_logging.reset();
    }

    // An installed notification daemon started on demand would answer in place of the stand-in.
    void theBusStartsNoServiceOfTheSystem()
    {
        const QStringList activatable = QDBusConnection::sessionBus().interface()->activatableServiceNames();
        QCOMPARE(activatable, QStringList{QStringLiteral("org.freedesktop.DBus")});
    }

    void permissionFollowsTheServer()
    {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        const NotificationAuthorization refused = QCoro::waitFor(m_center->requestAuthorization());
        QVERIFY(!refused.granted);
        QVERIFY(refused.error.has_value() && !refused.error->isEmpty());

        ServerHost host;
        QVERIFY(host.ok());
        const NotificationAuthorization granted = QCoro::waitFor(m_center->requestAuthorization());
        QVERIFY(granted.granted);
        QVERIFY(!granted.error.has_value());
    }

    void deadBusRefusesAndReportsAtOnce()
    {
        // Without a session bus nothing may wait forever: permission is refused and posts fail.
        NotificationCenter center(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/vantrel-test-bus"), QStringLiteral("vantrel-dead-bus")));
        NotificationService service(center, *m_prefs, m_logging->log);
        service.triggerDelay = 0ms;
        const NotificationAuthorization refused = QCoro::waitFor(center.requestAuthorization());
        QVERIFY(!refused.granted);
        QVERIFY(refused.error.has_value());
        service.notifyMountSuccess("Office");
        QTRY_VERIFY_WITH_TIMEOUT(!m_logging->systemLog.messages().isEmpty(), 5000);
        QVERIFY(m_logging->systemLog.messages().constFirst().startsWith(
            QStringLiteral("Failed to schedule notification 'mount-success-Office': ")));
    }

    void namesShowAsTypedOnServersThatReadMarkup()
    {
        ServerHost host;
        QVERIFY(host.ok());
        m_service->notifyMountSuccess("A&B <Media>");
        QTRY_COMPARE_WITH_TIMEOUT(host.server().calls().size(), 1, 5000);
        QCOMPARE(host.server().calls().at(0).body, QStringLiteral("A&B <Media> 已成功挂载"));

        host.server().bodyMarkup = true;
        QVERIFY(QCoro::waitFor(m_center->requestAuthorization()).granted);
        m_service->notifyMountSuccess("A&B <Media>");
        QTRY_COMPARE_WITH_TIMEOUT(host.server().calls().size(), 2, 5000);
        QCOMPARE(host.server().calls().at(1).body, QStringLiteral("A&amp;B &lt;Media&gt; 已成功挂载"));
    }

    void failedPostIsLogged()
    {
        m_service->notifyMountSuccess("Office");
        QTRY_VERIFY_WITH_TIMEOUT(!m_logging->systemLog.messages().isEmpty(), 5000);
        const QString line = m_logging->systemLog.messages().constFirst();
        QVERIFY2(line.startsWith(QStringLiteral("Failed to schedule notification 'mount-success-Office': ")),
            qPrintable(line));
        QCOMPARE(m_logging->systemLog.records().constFirst().type, SystemLog::Type::Error);
    }

    void mountNotificationsCarryTextsSoundAndCategory()
    {
        ServerHost host;
        QVERIFY(host.ok());
        auto& server = host.server();

        m_service->notifyUnmount("Office"); // off by default: nothing is sent
        m_service->notifyMountSuccess("Office");
        m_service->notifyMountFailure("Office", VantrelError::mountFailed("mount_smbfs exited with 68"));
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 2, 5000);
        NotifyCall success = server.calls().at(0);
        QCOMPARE(success.summary, QStringLiteral("NAS 已连接"));
        QCOMPARE(success.body, QStringLiteral("Office 已成功挂载"));
        QVERIFY(success.actions.isEmpty());
        QVERIFY(!success.hints.contains("suppress-sound"));
        QCOMPARE(success.replacesId, 0u);
        // The server shows the installed icon and finds the desktop entry by the same name.
        QCOMPARE(success.icon, QStringLiteral("com.vantrel.app"));
        QCOMPARE(success.hints.value("desktop-entry"), QVariant(QStringLiteral("com.vantrel.app")));
        // Not installed in an icon theme here: the image is named by the same icon.
        QCOMPARE(success.hints.value("image-path"), QVariant(QStringLiteral("com.vantrel.app")));
        NotifyCall failure = server.calls().at(1);
        QCOMPARE(failure.summary, QStringLiteral("NAS 连接失败"));
        QCOMPARE(failure.body, QStringLiteral("Office: Mount operation failed: mount_smbfs exited with 68"));
        QCOMPARE(failure.actions, (QStringList{"RETRY_ACTION", "重试连接"}));
        // A share shows one notification: its failure takes the place of its success.
        QCOMPARE(failure.replacesId, success.id);
        QCOMPARE(identifierOf(host, failure.id), QStringLiteral("mount-failure-Office"));

        m_prefs->setEnabled(true, NotificationEvent::unmount);
        m_service->notifyUnmount("");
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 3, 5000);
        NotifyCall unmount = server.calls().at(2);
        QCOMPARE(unmount.summary, QStringLiteral("NAS 已断开"));
        QCOMPARE(unmount.body, QStringLiteral(" 已卸载"));
        QCOMPARE(unmount.hints.value("suppress-sound"), QVariant(true));
        QCOMPARE(identifierOf(host, unmount.id), QStringLiteral("unmount-"));

        // The global switch silences every event.
        m_prefs->setGlobalEnabled(false);
        m_service->notifyMountSuccess("Office");
        m_service->notifyMountFailure("Office", VantrelError::timeout("x"));
        m_prefs->setGlobalEnabled(true);
        Localization::useCatalog("en");
        m_service->notifyMountSuccess("Home");
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 4, 5000);
        QCOMPARE(server.calls().at(3).summary, QStringLiteral("NAS Connected"));
        QCOMPARE(server.calls().at(3).body, QStringLiteral("Home was mounted successfully"));
        QVERIFY(m_logging->systemLog.messages().isEmpty());
    }

    void sameIdentifierReplaces()
    {
        ServerHost host;
        QVERIFY(host.ok());
        auto& server = host.server();

        // Within the delay only the later request is shown.
        m_service->triggerDelay = 200ms;
        m_service->notifyMountSuccess("Office");
        m_service->notifyMountSuccess("Office");
        m_service->notifyMountSuccess("Other");
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 2, 5000);
        QTest::qWait(300);
        QCOMPARE(server.calls().size(), 2);
        const uint officeId = server.calls().at(0).id;
        QCOMPARE(server.calls().at(1).replacesId, 0u);

        // Once shown, the same identifier replaces the notification on screen.
        m_service->triggerDelay = 0ms;
        m_service->notifyMountSuccess("Office");
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 3, 5000);
        QCOMPARE(server.calls().at(2).replacesId, officeId);

        // A post made before the server answered the previous one still replaces it.
        server.replyDelayMs = 150;
        m_service->notifyMountSuccess("Lab");
        QTest::qWait(30);
        m_service->notifyMountSuccess("Lab");
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 5, 5000);
        server.replyDelayMs = 0;
        QCOMPARE(server.calls().at(3).replacesId, 0u);
        QCOMPARE(server.calls().at(4).replacesId, server.calls().at(3).id);

        // A notification the server closed is not replaced but posted anew. The signals of one
        // sender arrive in order, so the action round trip shows the close was seen.
        const uint otherId = server.calls().at(1).id;
        host.emitClosed(officeId);
        QCOMPARE(identifierOf(host, otherId), QStringLiteral("mount-success-Other"));
        QCOMPARE(identifierOf(host, officeId, 200), QStringLiteral("<none>"));
        m_service->notifyMountSuccess("Office");
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 6, 5000);
        QCOMPARE(server.calls().at(5).replacesId, 0u);

        // Removal closes what is shown.
        const uint shown = server.calls().at(5).id;
        m_center->removeDeliveredNotifications({QStringLiteral("mount-success-Office")});
        QTRY_COMPARE_WITH_TIMEOUT(server.closed(), QList<uint>{shown}, 5000);
    }

    void removalBeforeTheServerAnsweredClosesWhatItShows()
    {
        ServerHost host;
        QVERIFY(host.ok());
        auto& server = host.server();
        const QString identifier = QStringLiteral("mount-success-Office");

        // Removed while the first post is unanswered: it and the post queued behind it go.
        server.replyDelayMs = 150;
        m_service->notifyMountSuccess("Office");
        QTest::qWait(30);
        m_service->notifyMountSuccess("Office");
        QTest::qWait(30);
        m_center->removeDeliveredNotifications({identifier});
        QTRY_COMPARE_WITH_TIMEOUT(server.closed().size(), 1, 5000);
        QTest::qWait(50);
        QCOMPARE(server.calls().size(), 1);
        QCOMPARE(server.closed().at(0), server.calls().at(0).id);

        // A later post is a new notification, not a replacement of the closed one.
        server.replyDelayMs = 0;
        m_service->notifyMountSuccess("Office");
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 2, 5000);
        QCOMPARE(server.calls().at(1).replacesId, 0u);
        QTest::qWait(50);
        QCOMPARE(server.calls().size(), 2);
    }

    void transferNotifications()
    {
        ServerHost host;
        QVERIFY(host.ok());
        auto& server = host.server();

        m_service->notifyTransferComplete("report.pdf", TransferDirection::download);
        m_service->notifyTransferComplete("report.pdf", TransferDirection::download);
        m_service->notifyTransferComplete("photo.jpg", TransferDirection::upload);
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 3, 5000);
        const auto calls = server.calls();
        QCOMPARE(calls.at(0).summary, QStringLiteral("下载完成"));
        QCOMPARE(calls.at(0).body, QStringLiteral("report.pdf 已下载到本地"));
        QCOMPARE(calls.at(2).summary, QStringLiteral("上传完成"));
        QCOMPARE(calls.at(2).body, QStringLiteral("photo.jpg 已上传到 NAS"));
        // Same file name, separate notifications.
        QCOMPARE(calls.at(1).replacesId, 0u);
        QVERIFY(calls.at(0).id != calls.at(1).id);
        const QRegularExpression pattern(QStringLiteral("^transfer-completed-report\\.pdf-[0-9A-F]{4}$"));
        const QString first = identifierOf(host, calls.at(0).id);
        const QString second = identifierOf(host, calls.at(1).id);
        QVERIFY2(pattern.match(first).hasMatch(), qPrintable(first));
        QVERIFY2(pattern.match(second).hasMatch(), qPrintable(second));

        m_prefs->setEnabled(false, NotificationEvent::transferComplete);
        m_service->notifyTransferComplete("a", TransferDirection::upload);
        m_service->notifyMountSuccess("after");
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 4, 5000);
        QCOMPARE(server.calls().at(3).body, QStringLiteral("after 已成功挂载"));
    }

    void shownNotificationsAreRememberedWithinABound()
    {
        ServerHost host;
        QVERIFY(host.ok());
        auto& server = host.server();
        // Each transfer gets a notification of its own, and this server never says it closed one.
        m_service->notifyTransferComplete(QStringLiteral("first"), TransferDirection::download);
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 1, 5000);
        const uint first = server.calls().first().id;
        QVERIFY(identifierOf(host, first).startsWith(QStringLiteral("transfer-completed-first-")));

        m_center->maxRemembered = 50;
        const int later = m_center->maxRemembered;
        for (int i = 0; i < later; ++i)
            m_service->notifyTransferComplete(QStringLiteral("file%1").arg(i), TransferDirection::download);
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), later + 1, 10000);
        QVERIFY(identifierOf(host, server.calls().last().id).startsWith(QStringLiteral("transfer-completed-file")));
        QCOMPARE(identifierOf(host, first, 300), QStringLiteral("<none>"));
        // What could no longer be replaced does not stay on screen either.
        QTRY_VERIFY_WITH_TIMEOUT(server.closed().contains(first), 5000);
        QCOMPARE(server.onScreen().size(), later);
    }

    void retryActionReachesTheService()
    {
        ServerHost host;
        QVERIFY(host.ok());
        auto& server = host.server();
        QSignalSpy retry(m_service.get(), &NotificationService::retryRequested);

        // Posted from a worker thread, as the mounting strategy does.
        std::thread worker([this] { m_service->notifyMountFailure("Office", VantrelError::timeout("30 s")); });
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(server.calls().size(), 1, 5000);
        const uint id = server.calls().at(0).id;
        QCOMPARE(identifierOf(host, id), QStringLiteral("mount-failure-Office"));

        // A signal from another bus peer is not the server's and is ignored.
        QDBusMessage spoof = QDBusMessage::createSignal(NotificationCenter::objectPath,
            NotificationCenter::interfaceName, QStringLiteral("ActionInvoked"));
        spoof << id << QStringLiteral("RETRY_ACTION");
        QVERIFY(QDBusConnection::sessionBus().send(spoof));

        host.emitAction(id, QStringLiteral("RETRY_ACTION"));
        QVERIFY(retry.wait(5000));
        QTest::qWait(100);
        QCOMPARE(retry.size(), 1);
        QCOMPARE(retry.first().at(0).toString(), QStringLiteral("Office"));

        // Only the retry action asks for a retry.
        host.emitAction(id, QStringLiteral("default"));
        QTest::qWait(100);
        QCOMPARE(retry.size(), 1);
    }
};

VANTREL_TEST_MAIN(TestNotificationService)
#include "tst_NotificationService.moc"
