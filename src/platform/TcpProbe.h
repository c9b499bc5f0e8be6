#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <optional>

namespace vantrel {

// Whether a server accepts TCP connections: a connect and an immediate close, nothing sent.
class TcpProbe final {
public:
    struct Result {
        enum class Outcome {
            accepted,
            // The server's side: refused, unreachable, no such host.
            refused,
            // Nothing came back within the limit.
            unanswered,
            // This computer could not even try (out of sockets, buffers or memory): says nothing of the server.
            localFailure,
        };
        Outcome outcome = Outcome::accepted;
        QString reason; // empty when accepted

        bool accepted() const { return outcome == Outcome::accepted; }
    };

    // Blocks for at most about the limit (name lookup included): call it off the main thread.
    static bool accepts(const QString& host, quint16 port, std::chrono::milliseconds limit);

    // The same without blocking any thread. A name's addresses are tried as dual-stack clients do:
    // the families alternate, each next address starts `stagger` after the previous one while that
    // is still pending (at once when it failed), and the first connection wins; all of it within
    // the limit. Resumes on the calling thread.
    static QCoro::Task<Result> check(QString host, quint16 port, std::chrono::milliseconds limit,
        std::chrono::milliseconds stagger = std::chrono::milliseconds(250));

    // The order in which check tries the addresses: interleaved by family, the first one's first.
    static QList<QHostAddress> attemptOrder(const QList<QHostAddress>& addresses);
};

} // namespace vantrel
