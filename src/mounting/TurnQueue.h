#pragma once

#include <QHash>
#include <QString>

#include <qcoro/qcorotask.h>

#include <deque>
#include <memory>
#include <optional>

template <typename T>
class QPromise;

namespace vantrel {

// Turns handed out per key (a server, say), at most `limit` held at once for each key, the others
// waiting in order. A turn is held until its token goes; a token or a waiter that outlives the
// queue does nothing to it: the queue's state dies with it.
class TurnQueue final {
public:
    class Turn {
    public:
        Turn() = default;
        Turn(Turn&& other) noexcept;
        Turn& operator=(Turn&& other) noexcept;
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        ~Turn();

        bool held() const { return !m_state.expired(); }
        // Gives the turn back now; nothing when it is not held.
        void end();

    private:
        friend class TurnQueue;
        struct State;
        Turn(std::weak_ptr<State> state, QString key);

        std::weak_ptr<State> m_state;
        QString m_key;
    };

    explicit TurnQueue(int limit);
    ~TurnQueue();
    TurnQueue(const TurnQueue&) = delete;
    TurnQueue& operator=(const TurnQueue&) = delete;

    // The limit applies to turns taken from now on (at least 1).
    void setLimit(int limit);

    // Resumes with a held turn, or with none when the queue died meanwhile (the caller's object may
    // be gone too: touch nothing of it then).
    QCoro::Task<Turn> take(QString key);

    int held(const QString& key) const;
    int waiting(const QString& key) const;

private:
    std::shared_ptr<Turn::State> m_state;
};

} // namespace vantrel
