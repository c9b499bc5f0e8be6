#pragma once

#include <QString>

#include <chrono>

namespace vantrel {

// Whether a server accepts TCP connections: a connect and an immediate close, nothing sent.
class TcpProbe final {
public:
    // Blocks for at most about the limit (name lookup included): call it off the main thread.
    static bool accepts(const QString& host, quint16 port, std::chrono::milliseconds limit);
};

} // namespace vantrel
