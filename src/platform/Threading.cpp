#include "platform/Threading.h"

#include <QPromise>
#include <QQueue>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantrel {

bool isMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void postToMainThread(std::function<void()> f)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(f), Qt::QueuedConnection);
}

void postToMainThread(QObject* context, std::function<void()> f)
{
    QPointer<QObject> guard(context);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, f = std::move(f)] {
            if (guard)
                f();
        },
        Qt::QueuedConnection);
}

void AfterQueuedCalls::await_suspend(std::coroutine_handle<> waiter) const
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [waiter] { waiter.resume(); }, Qt::QueuedConnection);
}

void moveToMainThread(QObject* object)
{
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && object->thread() != app->thread())
        object->moveToThread(app->thread());
}

void startDeferred(QObject* context, std::function<QCoro::Task<>()> coroutine)
{
    // The callable lives until the coroutine ends: a lambda coroutine's captures are stored in it.
    auto holder = std::make_shared<std::function<QCoro::Task<>()>>(std::move(coroutine));
    QTimer::singleShot(0, context, [holder] { (*holder)().then([holder] {}); });
}

namespace {

QCoro::Task<> settleWhenDone(QCoro::Task<> task, std::function<void(bool)> settle)
{
    try {
        co_await task;
    } catch (...) {
        // Ended all the same; the caller only asked whether it did.
    }
    settle(true);
}

} // namespace

QCoro::Task<bool> awaitWithin(QCoro::Task<> task, std::chrono::milliseconds limit)
{
    // Whichever comes first, the task's end or the time limit, settles the outcome.
    auto outcome = std::make_shared<QPromise<bool>>();
    outcome->start();
    QFuture<bool> settled = outcome->future();
    const auto settle = [outcome](bool done) {
        if (outcome->future().isFinished())
            return;
        outcome->addResult(done);
        outcome->finish();
    };
    QPointer<QTimer> timer = new QTimer;
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, [settle, timer] {
        settle(false);
        timer->deleteLater();
    });
    timer->start(timerMilliseconds(limit));
    QCoro::Task<> watcher = settleWhenDone(std::move(task), settle);
    const bool done = co_await settled;
    if (timer) {
        timer->stop();
        timer->deleteLater();
    }
    co_return done;
}

std::chrono::milliseconds millisecondsOf(double seconds)
{
    using std::chrono::milliseconds;
    if (!(seconds > 0.0))
        return milliseconds(0);
    const double ms = std::round(seconds * 1000.0);
    // 2^63 is the first double past the largest count.
    if (ms >= 9223372036854775808.0)
        return milliseconds::max();
    return std::max(milliseconds(1), milliseconds(static_cast<milliseconds::rep>(ms)));
}

int timerMilliseconds(double seconds)
{
    return timerMilliseconds(millisecondsOf(seconds));
}

int timerMilliseconds(std::chrono::milliseconds ms)
{
    if (ms.count() <= 0)
        return 0;
    if (ms.count() >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(ms.count());
}

ScheduledCall::ScheduledCall(QObject* owner)
    : m_timer(new QTimer(owner))
{
    m_timer->setSingleShot(true);
    QObject::connect(m_timer, &QTimer::timeout, m_timer, [this] { fire(); });
}

ScheduledCall::~ScheduledCall()
{
    delete m_timer.data();
}

void ScheduledCall::start(std::chrono::milliseconds delay, std::function<void()> f, bool repeating)
{
    if (!m_timer)
        return;
    m_call = std::move(f);
    m_repeating = repeating;
    m_interval = std::max(delay, std::chrono::milliseconds(0));
    arm(m_interval);
}

void ScheduledCall::arm(std::chrono::milliseconds wait)
{
    m_remaining = wait;
    const std::chrono::milliseconds turn = wait.count() > 0
        ? std::clamp(wait, std::chrono::milliseconds(1), std::max(longestWait, std::chrono::milliseconds(1)))
        : std::chrono::milliseconds(0);
    m_timer->start(timerMilliseconds(turn));
}

void ScheduledCall::fire()
{
    m_remaining -= std::chrono::milliseconds(m_timer->interval());
    if (m_remaining.count() > 0) {
        arm(m_remaining);
        return;
    }
    // The call may restart or cancel this one.
    const std::function<void()> call = m_call;
    if (m_repeating)
        arm(m_interval);
    if (call)
        call();
}

void ScheduledCall::cancel()
{
    if (!m_timer)
        return;
    m_timer->stop();
    m_call = nullptr;
}

bool ScheduledCall::isActive() const
{
    return m_timer && m_timer->isActive();
}

struct SerialGate::State {
    bool taken = false;
    QQueue<std::coroutine_handle<>> waiters;
    QObject context; // on the gate's thread; resumes still queued go with it
};

SerialGate::SerialGate()
    : m_state(std::make_shared<State>())
{
}

SerialGate::~SerialGate() = default;

bool SerialGate::isTaken() const
{
    return m_state->taken;
}

bool SerialGate::Entry::await_ready() const
{
    State& state = *m_gate->m_state;
    if (state.taken)
        return false;
    state.taken = true;
    return true;
}

void SerialGate::Entry::await_suspend(std::coroutine_handle<> waiter) const
{
    m_gate->m_state->waiters.enqueue(waiter);
}

SerialGate::Turn SerialGate::Entry::await_resume() const
{
    return Turn(m_gate->m_state);
}

SerialGate::Turn::Turn(std::weak_ptr<State> state)
    : m_state(std::move(state))
{
}

SerialGate::Turn::~Turn()
{
    const std::shared_ptr<State> state = m_state.lock();
    if (!state)
        return;
    if (state->waiters.isEmpty()) {
        state->taken = false;
        return;
    }
    // The turn passes straight to the next waiter: the gate stays taken.
    const std::coroutine_handle<> next = state->waiters.dequeue();
    QTimer::singleShot(0, &state->context, [next] { next.resume(); });
}

} // namespace vantrel
