#include "support/TestMain.h"

#include "platform/Threading.h"

#include <QCoroTimer>
#include <QPromise>
#include <QTemporaryDir>
#include <QThreadPool>

#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <stdexcept>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

// Holds the gate's turn across a wait, and notes when it has given the turn back.
QCoro::Task<> holdTurn(SerialGate& gate, QStringList& log, QString name, std::chrono::milliseconds hold)
{
    {
        const SerialGate::Turn turn = co_await gate.enter();
        log << name + QStringLiteral(" in");
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(hold);
        co_await timer;
    }
    log << name + QStringLiteral(" gave the turn");
}

QCoro::Task<> failWithTurn(SerialGate& gate)
{
    const SerialGate::Turn turn = co_await gate.enter();
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(5ms);
    co_await timer;
    throw std::runtime_error("failed while holding the turn");
}

// A shared instance that counts how often it is made.
struct Counted : QObject {
    static inline int made = 0;
    Counted() { ++made; }
    static Counted& shared()
    {
        return sharedInstance([] { return new Counted; });
    }
};

} // namespace

class TestThreading : public QObject {
    Q_OBJECT

private slots:
    void gateGivesTurnsInArrivalOrderThroughTheEventLoop()
    {
        SerialGate gate;
        QStringList log;
        // The first enters at once; the later ones, though quicker, wait their turn.
        auto first = holdTurn(gate, log, QStringLiteral("a"), 30ms);
        QCOMPARE(log, QStringList{QStringLiteral("a in")});
        QVERIFY(gate.isTaken());
        auto second = holdTurn(gate, log, QStringLiteral("b"), 0ms);
        auto third = holdTurn(gate, log, QStringLiteral("c"), 0ms);
        QCOMPARE(log.size(), 1);

        QCoro::waitFor(third);
        // A waiter never runs inside the coroutine that hands it the turn.
        QCOMPARE(log, (QStringList{"a in", "a gave the turn", "b in", "b gave the turn", "c in", "c gave the turn"}));
        QVERIFY(!gate.isTaken());
    }

    void turnPassesOnWhenItsHolderThrowsAndIsHarmlessAfterTheGate()
    {
        QStringList log;
        {
            SerialGate gate;
            auto failing = failWithTurn(gate);
            auto next = holdTurn(gate, log, QStringLiteral("next"), 0ms);
            QCoro::waitFor(next);
            QVERIFY(failing.isReady());
            QCOMPARE(log, (QStringList{"next in", "next gave the turn"}));
            QVERIFY(!gate.isTaken());
        }

        // The gate goes while a turn is held: ending the holder afterwards touches nothing.
        log.clear();
        auto gate = std::make_unique<SerialGate>();
        auto holder = holdTurn(*gate, log, QStringLiteral("holder"), 10ms);
        gate.reset();
        QCoro::waitFor(holder);
        QCOMPARE(log, (QStringList{"holder in", "holder gave the turn"}));
    }

    // A worker that asks first still gets an object of the main thread, made once.
    void sharedInstanceIsMadeOnceAndLivesOnTheMainThread()
    {
        QThread* worker = nullptr;
        Counted* fromWorker = QtConcurrent::run([&worker] {
            worker = QThread::currentThread();
            return &Counted::shared();
        }).result();
        QVERIFY(worker != QThread::currentThread());
        QCOMPARE(fromWorker->thread(), QThread::currentThread());
        QCOMPARE(&Counted::shared(), fromWorker);
        QCOMPARE(Counted::made, 1);
    }

    void delaysLongerThanATimerHoldsAreWaitedInTurns()
    {
        QObject owner;
        ScheduledCall call(&owner);
        call.longestWait = 20ms;
        int fired = 0;
        call.start(70ms, [&fired] { ++fired; });
        QCOMPARE(call.interval(), 70ms);
        QTest::qWait(45);
        QCOMPARE(fired, 0);
        QTRY_COMPARE(fired, 1);
        QTest::qWait(100);
        QCOMPARE(fired, 1);
        QVERIFY(!call.isActive());

        // Repeating: every full interval; a cancel inside the call ends it.
        call.start(
            30ms,
            [&] {
                if (++fired == 3)
                    call.cancel();
            },
            true);
        QTRY_COMPARE(fired, 3);
        QTest::qWait(100);
        QCOMPARE(fired, 3);

        // Far beyond what a timer holds (about 24.8 days), nothing is cut.
        ScheduledCall longCall(&owner);
        longCall.start(std::chrono::hours(24 * 60), [] {});
        QCOMPARE(longCall.interval(), std::chrono::hours(24 * 60));
        QVERIFY(longCall.isActive());
        QCOMPARE(millisecondsOf(5184000.0), std::chrono::milliseconds(5'184'000'000));
        QCOMPARE(millisecondsOf(1e300), std::chrono::milliseconds::max());
        QCOMPARE(millisecondsOf(0.0001), 1ms);
        QCOMPARE(timerMilliseconds(5184000.0), std::numeric_limits<int>::max());
    }

    void awaitWithinTellsWhetherTheWorkEndedInTime()
    {
        SerialGate gate;
        QStringList log;
        auto holder = holdTurn(gate, log, QStringLiteral("holder"), 100ms);
        auto waiter = holdTurn(gate, log, QStringLiteral("waiter"), 0ms);
        QCOMPARE(QCoro::waitFor(awaitWithin(std::move(waiter), 20ms)), false);
        QCOMPARE(log, QStringList{QStringLiteral("holder in")});
        // The abandoned work runs on by itself.
        QTRY_VERIFY(log.contains(QStringLiteral("waiter gave the turn")));
        auto quick = holdTurn(gate, log, QStringLiteral("quick"), 0ms);
        QCOMPARE(QCoro::waitFor(awaitWithin(std::move(quick), 2s)), true);

        QPromise<int> promise;
        promise.start();
        QCOMPARE(QCoro::waitFor(awaitWithin(promise.future(), 20ms)), std::nullopt);
        QFuture<int> ready = QtFuture::makeReadyFuture(7);
        QCOMPARE(QCoro::waitFor(awaitWithin(ready, 2s)), std::optional<int>(7));
        promise.finish();
    }

    // Work that finished before the wait resumes it at once: what the work queued must still come first.
    void afterQueuedCallsLetsTheWorksPostsLandFirst()
    {
        QStringList log;
        QFuture<void> work = QtConcurrent::run(
            [&log] { postToMainThread([&log] { log << QStringLiteral("progress"); }); });
        work.waitForFinished();
        QCoro::waitFor([](QFuture<void> finished, QStringList& log) -> QCoro::Task<> {
            co_await finished;
            co_await afterQueuedCalls();
            log << QStringLiteral("outcome");
        }(work, log));
        QCOMPARE(log, (QStringList{QStringLiteral("progress"), QStringLiteral("outcome")}));
    }
};

VANTREL_TEST_MAIN(TestThreading)
#include "tst_Threading.moc"
