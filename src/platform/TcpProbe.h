#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

namespace vantrel {

// Whether a server accepts TCP connections: a connect and an immediate close, nothing sent.
class TcpProbe final {
public:
    // Blocks for at most about the limit (name lookup included): call it off the main thread.
    static bool accepts(const QString& host, quint16 port, std::chrono::milliseconds limit);
    // The same without blocking any thread: none when the server accepted, else why not (refused,
    // no such host, no answer within the limit). Resumes on the calling thread.
    static QCoro::Task<std::optional<QString>> refusal(QString host, quint16 port, std::chrono::milliseconds limit);
};

} // namespace vantrel
