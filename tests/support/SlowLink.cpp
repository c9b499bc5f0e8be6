#include "SlowLink.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::test {

namespace {

constexpr size_t kBuffered = 256 * 1024;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// One direction of one connection: what was read and waits for its share of the rate.
struct Flow {
    int from = -1;
    int to = -1;
    std::vector<char> pending;
    double tokens = 0;
    bool closed = false;
};

} // namespace

SlowLink::SlowLink(quint16 targetPort, qint64 bytesPerSecond)
    : m_target(targetPort)
    , m_rate(bytesPerSecond)
{
}

SlowLink::~SlowLink()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

bool SlowLink::start()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(m_listener, 16) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        errorString = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
    return true;
}

void SlowLink::run()
{
    using Clock = std::chrono::steady_clock;
    std::vector<Flow> flows; // pairs: client to server, server to client
    auto last = Clock::now();
    while (!m_stop) {
        std::vector<pollfd> watched{{m_listener, POLLIN, 0}};
        for (const Flow& flow : flows) {
            if (!flow.closed && flow.pending.size() < kBuffered)
                watched.push_back({flow.from, POLLIN, 0});
        }
        ::poll(watched.data(), watched.size(), 2);

        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client >= 0) {
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in target = loopback(m_target);
            if (server >= 0 && ::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
                ::fcntl(server, F_SETFL, ::fcntl(server, F_GETFL) | O_NONBLOCK);
                flows.push_back({client, server, {}, 0, false});
                flows.push_back({server, client, {}, 0, false});
            } else {
                ::close(client);
                if (server >= 0)
                    ::close(server);
            }
        }

        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - last).count();
        last = now;
        for (Flow& flow : flows) {
            // A burst of a tenth of a second at most.
            flow.tokens = std::min(flow.tokens + elapsed * static_cast<double>(m_rate), m_rate / 10.0);
            if (!flow.closed && flow.pending.size() < kBuffered) {
                char buffer[65536];
                const ssize_t got = ::read(flow.from, buffer, std::min(sizeof buffer, kBuffered - flow.pending.size()));
                if (got > 0)
                    flow.pending.insert(flow.pending.end(), buffer, buffer + got);
                else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    flow.closed = true;
            }
            const size_t allowed = std::min(flow.pending.size(), static_cast<size_t>(std::max(0.0, flow.tokens)));
            if (allowed > 0) {
                const ssize_t sent = ::send(flow.to, flow.pending.data(), allowed, MSG_NOSIGNAL);
                if (sent > 0) {
                    flow.pending.erase(flow.pending.begin(), flow.pending.begin() + sent);
                    flow.tokens -= static_cast<double>(sent);
                }
            }
        }
        // A connection ends once either side closed and what it sent went through.
        for (size_t i = 0; i + 1 < flows.size();) {
            Flow& up = flows[i];
            Flow& down = flows[i + 1];
            if ((up.closed && up.pending.empty()) || (down.closed && down.pending.empty())) {
                ::close(up.from);
                ::close(up.to);
                flows.erase(flows.begin() + static_cast<std::ptrdiff_t>(i),
                    flows.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            } else {
                i += 2;
            }
        }
    }
    for (size_t i = 0; i + 1 < flows.size(); i += 2) {
        ::close(flows[i].from);
        ::close(flows[i].to);
    }
}

} // namespace vantrel::test
