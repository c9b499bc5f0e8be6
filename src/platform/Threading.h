#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <coroutine>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace vantrel {

bool isMainThread();

// Queues f on the main thread's event loop; with a context, f is dropped once the context is gone.
void postToMainThread(std::function<void()> f);
void postToMainThread(QObject* context, std::function<void()> f);

// Runs f on the main thread and waits for its result (runs it directly when already there).
template <typename F>
auto runOnMainThreadAndWait(F&& f) -> std::invoke_result_t<F>
{
    using R = std::invoke_result_t<F>;
    if (isMainThread())
        return f();
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<F>(f), Qt::BlockingQueuedConnection);
    } else {
        R result{};
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// Gives the object to the main thread (when there is an application), from the thread it lives on.
void moveToMainThread(QObject* object);

// The process-wide instance that `make` creates on first use: `return sharedInstance([] { return
// new T(...); });` in each `T::shared()`. It is deliberately leaked, so no static-destruction order
// bites at exit, and a QObject is handed to the main thread even when a worker asks first, so that
// its timers and observers run there.
template <typename Make>
auto& sharedInstance(Make make)
{
    using T = std::remove_pointer_t<std::invoke_result_t<Make>>;
    static T* const instance = [&make] {
        T* created = make();
        if constexpr (std::is_base_of_v<QObject, T>)
            moveToMainThread(created);
        return created;
    }();
    return *instance;
}

// Lets a started coroutine run on by itself; it frees itself when it ends.
inline void detach(QCoro::Task<> task)
{
    Q_UNUSED(task);
}

// Starts a coroutine on the next turn of the event loop (QCoro tasks start eagerly; callers
// expect a queued start). Nothing runs when the context is gone by then.
void startDeferred(QObject* context, std::function<QCoro::Task<>()> coroutine);

// Runs f on the global pool: blocking work that never touches a share, such as a keychain's D-Bus
// round trip or a read of /proc or the mount table. File work goes through runFileWork.
template <typename F>
auto runBlockingWork(F&& f)
{
    return QtConcurrent::run(QThreadPool::globalInstance(), std::forward<F>(f));
}

// Resumes the awaiting coroutine from the main thread's event loop, after every call queued there so
// far (postToMainThread): a future that had finished before the wait began resumes at once, ahead
// of what its work queued.
class AfterQueuedCalls final {
public:
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter) const;
    void await_resume() const noexcept {}
};
inline AfterQueuedCalls afterQueuedCalls()
{
    return {};
}

// Waits for the task, but at most `limit`: false when it had not ended by then. It then runs on by
// itself and its outcome goes nowhere.
QCoro::Task<bool> awaitWithin(QCoro::Task<> task, std::chrono::milliseconds limit);

// The same for a future; none when it had not finished in time.
template <typename T>
QCoro::Task<std::optional<T>> awaitWithin(QFuture<T> future, std::chrono::milliseconds limit)
{
    QCoro::Task<> finished = [](QFuture<void> f) -> QCoro::Task<> { co_await f; }(QFuture<void>(future));
    QCoro::Task<bool> race = awaitWithin(std::move(finished), limit);
    if (!co_await race || future.resultCount() == 0)
        co_return std::nullopt;
    co_return future.result();
}

// Converts seconds to milliseconds: rounded, never 0 for a positive value, at most the largest
// count.
std::chrono::milliseconds millisecondsOf(double seconds);
// The same as a QTimer interval, clamped to what QTimer can hold (about 24.8 days): for longer
// waits use ScheduledCall.
int timerMilliseconds(double seconds);
int timerMilliseconds(std::chrono::milliseconds ms);

// A cancellable single-shot or repeating call on the owner's thread, with delays of any length.
// Restarting replaces the pending call; destroying the owner cancels it.
class ScheduledCall final {
public:
    explicit ScheduledCall(QObject* owner);
    ~ScheduledCall();
    ScheduledCall(const ScheduledCall&) = delete;
    ScheduledCall& operator=(const ScheduledCall&) = delete;

    void start(std::chrono::milliseconds delay, std::function<void()> f, bool repeating = false);
    void cancel();
    bool isActive() const;
    // The whole delay, however it is waited.
    std::chrono::milliseconds interval() const { return m_interval; }

    // A delay longer than QTimer can hold is waited in turns of at most this; tests shorten it.
    std::chrono::milliseconds longestWait{std::numeric_limits<int>::max()};

private:
    void arm(std::chrono::milliseconds wait);
    void fire();

    QPointer<QTimer> m_timer;
    std::function<void()> m_call;
    std::chrono::milliseconds m_interval{0};
    std::chrono::milliseconds m_remaining{0};
    bool m_repeating = false;
};

// Gives one coroutine at a time its turn, in the order they asked: `auto turn = co_await
// gate.enter();` waits while another holds it; the turn passes on when `turn` goes out of scope,
// however the coroutine ends. The next waiter resumes from the event loop of the gate's thread, not
// inside the one that finished. Use a gate on one thread only. Waiters still queued when the gate
// goes are never resumed.
class SerialGate final {
    struct State;

public:
    class Turn final {
    public:
        Turn(Turn&& other) noexcept = default;
        Turn& operator=(Turn&&) = delete;
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        ~Turn();

    private:
        friend class SerialGate;
        explicit Turn(std::weak_ptr<State> state);
        std::weak_ptr<State> m_state; // a turn outliving its gate gives nothing back
    };

    class Entry final {
    public:
        bool await_ready() const;
        void await_suspend(std::coroutine_handle<> waiter) const;
        Turn await_resume() const;

    private:
        friend class SerialGate;
        explicit Entry(SerialGate* gate)
            : m_gate(gate)
        {
        }
        SerialGate* m_gate;
    };

    SerialGate();
    ~SerialGate();
    SerialGate(const SerialGate&) = delete;
    SerialGate& operator=(const SerialGate&) = delete;

    Entry enter() { return Entry(this); }
    bool isTaken() const;

private:
    std::shared_ptr<State> m_state;
};

} // namespace vantrel
