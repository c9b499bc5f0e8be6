#include "platform/TcpProbe.h"

#include "platform/Threading.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotimer.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace vantrel {

namespace {

using Outcome = TcpProbe::Result::Outcome;

bool isLinkLocal(const QHostAddress& address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol && address.isLinkLocal();
}

} // namespace

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

QList<QHostAddress> TcpProbe::attemptOrder(const QList<QHostAddress>& addresses)
{
    if (addresses.isEmpty())
        return {};
    const QAbstractSocket::NetworkLayerProtocol firstFamily = addresses.first().protocol();
    QList<QHostAddress> first;
    QList<QHostAddress> other;
    for (const QHostAddress& address : addresses) {
        QList<QHostAddress>& list = address.protocol() == firstFamily ? first : other;
        if (!list.contains(address))
            list.append(address);
    }
    QList<QHostAddress> order;
    for (qsizetype i = 0; i < std::max(first.size(), other.size()); ++i) {
        if (i < first.size())
            order.append(first.at(i));
        if (i < other.size())
            order.append(other.at(i));
    }
    return order;
}

QCoro::Task<TcpProbe::Result> TcpProbe::check(QString host, quint16 port, std::chrono::milliseconds limit,
    std::chrono::milliseconds stagger)
{
    if (host.isEmpty() || port == 0)
        co_return Result{Outcome::refused, QStringLiteral("no server address")};
    const QDeadlineTimer deadline(limit);
    const auto unanswered = [limit] {
        return Result{Outcome::unanswered, QStringLiteral("no answer within %1 ms").arg(limit.count())};
    };

    QList<QHostAddress> addresses;
    if (QHostAddress literal; literal.setAddress(host)) {
        addresses.append(literal);
    } else {
        // The system's resolver blocks; a lookup that outlasts the limit goes on by itself.
        auto lookup = [host] { return QHostInfo::fromName(host); };
        QFuture<QHostInfo> resolving = runBlockingWork(std::move(lookup));
        auto bounded = awaitWithin(resolving, std::chrono::milliseconds(std::max<qint64>(1, deadline.remainingTime())));
        const std::optional<QHostInfo> info = co_await std::move(bounded);
        if (!info)
            co_return unanswered();
        if (info->error() != QHostInfo::NoError || info->addresses().isEmpty())
            co_return Result{Outcome::refused, info->errorString()};
        addresses = info->addresses();
    }
    addresses = attemptOrder(addresses);

    QTimer wake;
    wake.setSingleShot(true);
    std::vector<std::unique_ptr<QTcpSocket>> attempts;
    qsizetype next = 0;
    QDeadlineTimer nextStart(0);
    QString lastReason;
    bool localFailure = false;
    QString localReason;

    for (;;) {
        // Attempts that ended: a connection wins; a failure lets the next address start at once.
        bool pending = false;
        for (const std::unique_ptr<QTcpSocket>& socket : attempts) {
            if (socket->state() == QAbstractSocket::ConnectedState) {
                for (const std::unique_ptr<QTcpSocket>& other : attempts)
                    other->abort();
                co_return Result{};
            }
            if (socket->state() != QAbstractSocket::UnconnectedState)
                pending = true;
        }
        if (deadline.hasExpired())
            break;
        if (next < addresses.size() && (!pending || nextStart.hasExpired())) {
            const QHostAddress address = addresses.at(next++);
            if (isLinkLocal(address) && address.scopeId().isEmpty()) {
                lastReason = address.toString()
                    + QStringLiteral(" is link-local but names no interface (add %interface)");
                continue;
            }
            auto socket = std::make_unique<QTcpSocket>();
            QTcpSocket* raw = socket.get();
            QObject::connect(raw, &QAbstractSocket::stateChanged, &wake, [&wake] { wake.start(0); });
            QObject::connect(raw, &QAbstractSocket::errorOccurred, &wake,
                [&wake, raw, &lastReason, &localFailure, &localReason](QAbstractSocket::SocketError error) {
                    if (error == QAbstractSocket::SocketResourceError) {
                        localFailure = true;
                        localReason = raw->errorString();
                    } else {
                        lastReason = raw->errorString();
                    }
                    wake.start(0);
                });
            attempts.push_back(std::move(socket));
            nextStart = QDeadlineTimer(stagger);
            raw->connectToHost(address, port);
            continue;
        }
        if (!pending && next >= addresses.size())
            break;
        qint64 wait = deadline.remainingTime();
        if (next < addresses.size())
            wait = std::min(wait, nextStart.remainingTime());
        if (!wake.isActive())
            wake.start(static_cast<int>(std::clamp<qint64>(wait, 0, 60000)));
        co_await wake;
    }

    bool stillPending = false;
    for (const std::unique_ptr<QTcpSocket>& socket : attempts) {
        stillPending = stillPending || socket->state() != QAbstractSocket::UnconnectedState;
        socket->abort();
    }
    if (localFailure)
        co_return Result{Outcome::localFailure, localReason};
    if (stillPending || lastReason.isEmpty())
        co_return unanswered();
    co_return Result{Outcome::refused, lastReason};
}

} // namespace vantrel
