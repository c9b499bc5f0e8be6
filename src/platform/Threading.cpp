#include "platform/Threading.h"

#include <QQueue>
#include <QThreadPool>

#include <memory>

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

QThreadPool& shareIOPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(8);
        p->setObjectName(QStringLiteral("com.vantrel.shareio"));
        return p;
    }();
    return *pool;
}

int timerMilliseconds(double seconds)
{
    if (!(seconds > 0.0))
        return 0;
    const double ms = std::round(seconds * 1000.0);
    if (ms >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return std::max(1, static_cast<int>(ms));
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
}

ScheduledCall::~ScheduledCall()
{
    delete m_timer.data();
}

void ScheduledCall::start(std::chrono::milliseconds delay, std::function<void()> f, bool repeating)
{
    if (!m_timer)
        return;
    QObject::disconnect(m_connection);
    m_timer->stop();
    m_timer->setSingleShot(!repeating);
    m_timer->setInterval(timerMilliseconds(delay));
    m_connection = QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(f));
    m_timer->start();
}

void ScheduledCall::cancel()
{
    if (!m_timer)
        return;
    QObject::disconnect(m_connection);
    m_timer->stop();
}

bool ScheduledCall::isActive() const
{
    return m_timer && m_timer->isActive();
}

std::chrono::milliseconds ScheduledCall::interval() const
{
    return std::chrono::milliseconds(m_timer ? m_timer->interval() : 0);
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
