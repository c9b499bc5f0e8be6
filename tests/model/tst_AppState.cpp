#include "support/TestMain.h"

#include "model/AppState.h"

#include <QSignalSpy>
#include <QThread>

using namespace vantrel;

namespace {

// Emits a status from a worker thread so that it crosses threads through a queued connection.
class Emitter : public QObject {
    Q_OBJECT
signals:
    void status(const vantrel::NASStatus& status);
};

} // namespace

class TestAppState : public QObject {
    Q_OBJECT

private slots:
    void messagesArePrefixPlusPayload()
    {
        QCOMPARE(VantrelError::authenticationFailed("x").message(), QStringLiteral("Authentication failed: x"));
        QCOMPARE(VantrelError::keychainError("").message(), QStringLiteral("Keychain error: "));
        QCOMPARE(VantrelError::mountFailed("").message(), QStringLiteral("Mount operation failed: "));
        QCOMPARE(VantrelError::unmountFailed(" busy \n").message(),
            QStringLiteral("Unmount operation failed:  busy \n"));
        QCOMPARE(VantrelError::connectionFailed("host").message(), QStringLiteral("Connection failed: host"));
        QCOMPARE(VantrelError::timeout("10s").message(), QStringLiteral("Operation timed out: 10s"));
        QCOMPARE(VantrelError::unknown("boom").message(), QStringLiteral("An unexpected error occurred: boom"));
        QCOMPARE(QString::fromUtf8(VantrelError::mountFailed("共享").what()),
            QStringLiteral("Mount operation failed: 共享"));

        const VantrelError defaulted;
        QCOMPARE(defaulted.kind(), VantrelError::Kind::unknown);
        QCOMPARE(QString::fromUtf8(defaulted.what()), QStringLiteral("An unexpected error occurred: "));

        QCOMPARE(globalErrorMessage(GlobalError::allMountsFailed),
            QStringLiteral("All NAS mount operations have failed. Check individual configurations for details."));
    }

    void thrownAndCaughtAsException()
    {
        try {
            throw VantrelError::timeout("t");
        } catch (const std::exception& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Operation timed out: t"));
        }
    }

    void equalityByValue()
    {
        QVERIFY(VantrelError::mountFailed("a") == VantrelError::mountFailed("a"));
        QVERIFY(VantrelError::mountFailed("a") != VantrelError::unmountFailed("a"));
        QVERIFY(VantrelError::mountFailed("abc") != VantrelError::mountFailed("ABC"));

        QVERIFY(
            MountState::failed(VantrelError::mountFailed("a")) == MountState::failed(VantrelError::mountFailed("a")));
        QVERIFY(MountState::failed(VantrelError::mountFailed("a")) != MountState::failed(VantrelError::timeout("a")));
        QVERIFY(MountState::idle() != MountState::offline());
        QVERIFY(MountState() == MountState::idle());

        QVERIFY(AppState::error(GlobalError::allMountsFailed) == AppState::error(GlobalError::allMountsFailed));
        QVERIFY(AppState::idle() != AppState::active());
        QVERIFY(AppState() == AppState::unconfigured());
        QCOMPARE(qHash(MenuBarIconState::offline), qHash(MenuBarIconState::offline));
    }

    void statusEquality()
    {
        const QUuid id = QUuid::createUuid();
        const NASStatus fresh(id);
        QCOMPARE(fresh.id(), id);
        QVERIFY(fresh.mountState == MountState::idle());
        QVERIFY(!fresh.mountPoint && !fresh.lastError && !fresh.lastMountedAt);

        NASStatus dated = fresh;
        dated.lastMountedAt = QDateTime::fromSecsSinceEpoch(1000, Qt::UTC);
        QVERIFY(dated != fresh);

        // The same instant in another time zone is the same date.
        NASStatus sameInstant = fresh;
        sameInstant.lastMountedAt = QDateTime::fromSecsSinceEpoch(1000, Qt::OffsetFromUTC, 3600);
        QVERIFY(dated == sameInstant);

        NASStatus withPoint = fresh;
        withPoint.mountPoint = QUrl::fromLocalFile("/mnt/a");
        QVERIFY(withPoint != fresh);
        NASStatus withError = fresh;
        withError.lastError = VantrelError::mountFailed("");
        QVERIFY(withError != fresh);
        QVERIFY(NASStatus(QUuid::createUuid()) != fresh);
    }

    void typesTravelThroughQueuedSignals()
    {
        registerModelMetaTypes();
        NASStatus sent(QUuid::createUuid());
        sent.mountState = MountState::failed(VantrelError::timeout("late"));
        sent.lastError = VantrelError::timeout("late");

        QThread worker;
        Emitter emitter;
        emitter.moveToThread(&worker);
        NASStatus received;
        QObject receiver;
        connect(
            &emitter, &Emitter::status, &receiver, [&received](const NASStatus& s) { received = s; },
            Qt::QueuedConnection);
        worker.start();
        QMetaObject::invokeMethod(&emitter, [&emitter, sent] { emit emitter.status(sent); });
        QTRY_VERIFY(received == sent);
        worker.quit();
        worker.wait();
    }
};

VANTREL_TEST_MAIN(TestAppState)
#include "tst_AppState.moc"
