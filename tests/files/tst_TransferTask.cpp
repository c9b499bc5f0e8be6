#include "support/TestMain.h"

#include "files/TransferTask.h"

using namespace vantrel;

namespace {

const QDateTime start = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);

TransferTask::Clock at(double secondsAfterStart)
{
    return [secondsAfterStart] { return start.addMSecs(qint64(secondsAfterStart * 1000)); };
}

TransferTask runningTask(qint64 total, qint64 done)
{
    TransferTask t;
    t.id = QUuid::createUuid();
    t.sourceURL = QUrl::fromLocalFile("/share/a.bin");
    t.destinationURL = QUrl::fromLocalFile("/home/u/a.bin");
    t.totalBytes = total;
    t.bytesTransferred = done;
    t.status = TransferStatus::running;
    t.startDate = start;
    return t;
}

} // namespace

class TestTransferTask : public QObject {
    Q_OBJECT

private slots:
    void progressIsCappedAndZeroWithoutSize()
    {
        QCOMPARE(runningTask(200, 50).progress(), 0.25);
        QCOMPARE(runningTask(200, 500).progress(), 1.0); // the source grew
        QCOMPARE(runningTask(0, 500).progress(), 0.0);   // size unknown
        QCOMPARE(runningTask(-1, 5).progress(), 0.0);
    }

    void speedAndTimeLeft()
    {
        TransferTask t = runningTask(10'000'000, 3'000'000);
        QCOMPARE(t.speed(at(2)), 1'500'000.0);
        QCOMPARE(t.estimatedTimeRemaining(at(2)), 7'000'000.0 / 1'500'000.0);
        QCOMPARE(t.formattedSpeed(at(2)), QStringLiteral("1.5 MB/s"));

        // No elapsed time, or a clock that went backwards.
        QCOMPARE(t.speed(at(0)), 0.0);
        QCOMPARE(t.speed(at(-5)), 0.0);
        QCOMPARE(t.estimatedTimeRemaining(at(0)), 0.0);
        QCOMPARE(t.formattedSpeed(at(0)), QStringLiteral("--"));

        // Unknown size: negative time left as soon as anything was copied.
        QVERIFY(runningTask(0, 100).estimatedTimeRemaining(at(1)) < 0);
        QVERIFY(runningTask(50, 100).estimatedTimeRemaining(at(1)) < 0);

        // A completed task keeps a speed that falls as time passes; no time left.
        t.status = TransferStatus::completed;
        t.bytesTransferred = t.totalBytes;
        QCOMPARE(t.speed(at(10)), 1'000'000.0);
        QVERIFY(t.speed(at(20)) < t.speed(at(10)));
        QCOMPARE(t.estimatedTimeRemaining(at(10)), 0.0);
    }

    void speedTextDashes()
    {
        for (TransferStatus s :
            {TransferStatus::pending, TransferStatus::paused, TransferStatus::failed, TransferStatus::cancelled}) {
            TransferTask t = runningTask(100, 50);
            t.status = s;
            QCOMPARE(t.speed(at(1)), 0.0);
            QCOMPARE(t.formattedSpeed(at(1)), QStringLiteral("--"));
        }
        QCOMPARE(runningTask(100, 0).formattedSpeed(at(1)), QStringLiteral("--"));
        TransferTask noStart = runningTask(100, 50);
        noStart.startDate.reset();
        QCOMPARE(noStart.formattedSpeed(at(1)), QStringLiteral("--"));

        // Under one byte per second: "--", while the time left still uses the exact speed.
        TransferTask slow = runningTask(10, 1);
        QCOMPARE(slow.formattedSpeed(at(2)), QStringLiteral("--"));
        QCOMPARE(slow.estimatedTimeRemaining(at(2)), 18.0);
        QCOMPARE(runningTask(100, 12).formattedSpeed(at(1)), QStringLiteral("12 bytes/s"));
    }

    void equalityAndIdentity()
    {
        const TransferTask a = runningTask(100, 10);
        TransferTask b = a;
        QVERIFY(a == b);
        b.bytesTransferred = 11;
        QVERIFY(!(a == b));
        b = a;
        b.errorMessage = QString();
        QVERIFY(!(a == b)); // an empty message is not an absent one
        TransferTask c = a;
        c.id = QUuid::createUuid();
        QVERIFY(!(a == c));
    }

    void rawValues()
    {
        QCOMPARE(transferStatusRawValue(TransferStatus::cancelled), QStringLiteral("cancelled"));
        QCOMPARE(transferStatusFromRaw("paused"), std::optional<TransferStatus>(TransferStatus::paused));
        QVERIFY(!transferStatusFromRaw("Pending"));
        QVERIFY(!transferStatusFromRaw("canceled"));
        QVERIFY(!transferStatusFromRaw(""));
    }
};

VANTREL_TEST_MAIN(TestTransferTask)
#include "tst_TransferTask.moc"
