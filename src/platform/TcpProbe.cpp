#include "platform/TcpProbe.h"

#include "platform/Threading.h"

#include <QTcpSocket>

#include <QDeadlineTimer>

#include <qcoro/qcorosignal.h>

namespace vantrel {

bool TcpProbe::accepts(const QString& host, quint16 port, std::chrono::milliseconds limit)
{
    if (host.isEmpty() || port == 0)
        return false;
    QTcpSocket socket;
    socket.connectToHost(host, port);
    const bool connected = socket.waitForConnected(timerMilliseconds(limit));
    socket.abort();
    return connected;
}

QCoro::Task<std::optional<QString>> TcpProbe::refusal(QString host, quint16 port, std::chrono::milliseconds limit)
{
    if (host.isEmpty() || port == 0)
        co_return QStringLiteral("no server address");
    QTcpSocket socket;
    const QDeadlineTimer deadline(limit);
    socket.connectToHost(host, port);
    // A refusal ends the wait as soon as it comes, not only a connection.
    for (;;) {
        const QAbstractSocket::SocketState state = socket.state();
        if (state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState)
            break;
        const std::chrono::milliseconds remaining{deadline.remainingTime()};
        if (remaining <= std::chrono::milliseconds::zero())
            break;
        auto changed = qCoro(&socket, &QAbstractSocket::stateChanged, remaining);
        if (!co_await std::move(changed))
            break;
    }
    if (socket.state() == QAbstractSocket::ConnectedState) {
        socket.abort();
        co_return std::nullopt;
    }
    const bool unanswered = socket.state() != QAbstractSocket::UnconnectedState;
    const QString reason = unanswered ? QStringLiteral("no answer within %1 ms").arg(limit.count())
                                      : socket.errorString();
    socket.abort();
    co_return reason;
}

} // namespace vantrel
