#include "platform/TcpProbe.h"

#include "platform/Threading.h"

#include <QTcpSocket>

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

} // namespace vantrel
