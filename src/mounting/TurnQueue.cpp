#include "mounting/TurnQueue.h"

#include <QFuture>
#include <QPromise>

#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <utility>

namespace vantrel {

struct TurnQueue::Turn::State {
    struct Key {
        int held = 0;
        std::deque<std::shared_ptr<QPromise<void>>> waiting;
    };
    int limit = 1;
    QHash<QString, Key> keys;

    void end(const QString& key)
    {
        const auto it = keys.find(key);
        if (it == keys.end())
            return;
        if (it->waiting.empty()) {
            if (--it->held <= 0)
                keys.erase(it);
            return;
        }
        // Handed over as it is: the count stays.
        const std::shared_ptr<QPromise<void>> next = std::move(it->waiting.front());
        it->waiting.pop_front();
        next->finish();
    }
};

TurnQueue::Turn::Turn(std::weak_ptr<State> state, QString key)
    : m_state(std::move(state))
    , m_key(std::move(key))
{
}

TurnQueue::Turn::Turn(Turn&& other) noexcept
    : m_state(std::exchange(other.m_state, {}))
    , m_key(std::move(other.m_key))
{
}

TurnQueue::Turn& TurnQueue::Turn::operator=(Turn&& other) noexcept
{
    if (this != &other) {
        end();
        m_state = std::exchange(other.m_state, {});
        m_key = std::move(other.m_key);
    }
    return *this;
}

TurnQueue::Turn::~Turn()
{
    end();
}

void TurnQueue::Turn::end()
{
    if (const std::shared_ptr<State> state = std::exchange(m_state, {}).lock())
        state->end(m_key);
}

TurnQueue::TurnQueue(int limit)
    : m_state(std::make_shared<Turn::State>())
{
    setLimit(limit);
}

TurnQueue::~TurnQueue()
{
    // The state goes first, so that each waiter, resumed as its promise ends (at once or later),
    // finds it gone and takes nothing.
    QHash<QString, Turn::State::Key> keys = std::exchange(m_state->keys, {});
    m_state.reset();
    for (Turn::State::Key& key : keys) {
        for (const std::shared_ptr<QPromise<void>>& waiter : key.waiting)
            waiter->finish();
    }
}

void TurnQueue::setLimit(int limit)
{
    m_state->limit = std::max(1, limit);
}

QCoro::Task<TurnQueue::Turn> TurnQueue::take(QString key)
{
    std::weak_ptr<Turn::State> weak = m_state;
    {
        Turn::State::Key& entry = m_state->keys[key];
        if (entry.held < m_state->limit && entry.waiting.empty()) {
            ++entry.held;
            co_return Turn(std::move(weak), std::move(key));
        }
        auto promise = std::make_shared<QPromise<void>>();
        promise->start();
        entry.waiting.push_back(promise);
        QFuture<void> turn = promise->future();
        promise.reset();
        co_await turn;
    }
    // `this` may be gone by now; only the state, if it still lives, says whether a turn was handed over.
    if (weak.expired())
        co_return Turn();
    co_return Turn(std::move(weak), std::move(key));
}

int TurnQueue::held(const QString& key) const
{
    return m_state->keys.value(key).held;
}

int TurnQueue::waiting(const QString& key) const
{
    return static_cast<int>(m_state->keys.value(key).waiting.size());
}

} // namespace vantrel
