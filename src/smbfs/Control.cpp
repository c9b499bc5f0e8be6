#include "Control.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantrel::smbfs {

namespace {

int g_signalPipe[2] = {-1, -1};

} // namespace

Control::Control(std::string path, std::function<std::string()> status, std::function<void()> quit)
    : m_path(std::move(path))
    , m_status(std::move(status))
    , m_quit(std::move(quit))
{
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_signalPipe[0] = g_signalPipe[1] = -1;
    if (::pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        m_stopPipe[0] = m_stopPipe[1] = -1;
}

Control::~Control()
{
    stop();
    for (int fd : m_stopPipe)
        if (fd >= 0)
            ::close(fd);
}

void Control::signalQuit()
{
    if (g_signalPipe[1] >= 0) {
        const char byte = 'q';
        [[maybe_unused]] const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    }
}

bool Control::listen(std::string& reason)
{
    const auto slash = m_path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = m_path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = "cannot create the folder of the control socket " + folder + ": " + std::strerror(errno);
            return false;
        }
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof(address.sun_path)) {
        reason = "the control socket path is too long: " + m_path;
        return false;
    }
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0) {
        reason = std::string("cannot create the control socket: ") + std::strerror(errno);
        return false;
    }
    // A socket left by a daemon that died: nobody answers on it any more.
    ::unlink(m_path.c_str());
    const mode_t old = ::umask(0177);
    const int bound = ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::umask(old);
    if (bound != 0 || ::listen(m_listener, 16) != 0) {
        reason = "cannot listen on the control socket " + m_path + ": " + std::strerror(errno);
        ::close(m_listener);
        m_listener = -1;
        return false;
    }
    ::chmod(m_path.c_str(), 0600);
    return true;
}

void Control::start()
{
    m_thread = std::thread([this] { serve(); });
}

void Control::stop()
{
    if (m_thread.joinable()) {
        const char byte = 's';
        [[maybe_unused]] const ssize_t ignored = ::write(m_stopPipe[1], &byte, 1);
        m_thread.join();
    }
    if (m_listener >= 0) {
        ::close(m_listener);
        m_listener = -1;
        ::unlink(m_path.c_str());
    }
}

void Control::serve()
{
    for (;;) {
        pollfd fds[3] = {{m_listener, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (fds[2].revents) {
            char drain[16];
            while (::read(g_signalPipe[0], drain, sizeof drain) > 0) {}
            m_quit();
        }
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                answer(client);
                ::close(client);
            }
        }
    }
}

void Control::answer(int client)
{
    std::string line;
    char buffer[256];
    while (line.find('\n') == std::string::npos && line.size() < 1024) {
        pollfd fd{client, POLLIN, 0};
        // A client that says nothing must not hold the next one up for long.
        if (::poll(&fd, 1, 2000) <= 0)
            return;
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::string reply;
    if (line == "status") {
        reply = m_status() + "\n";
    } else if (line == "quit") {
        reply = "ok\n";
    } else {
        reply = "error unknown command\n";
    }
    [[maybe_unused]] const ssize_t ignored = ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    if (line == "quit")
        m_quit();
}

} // namespace vantrel::smbfs
