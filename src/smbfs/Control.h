#pragma once

#include <functional>
#include <string>
#include <thread>

namespace vantrel::smbfs {

// The control socket: one line in, one line out, on a thread of its own that never waits for
// file work. Also receives the termination signals (through a pipe) so that they unmount the
// same way `quit` does.
class Control {
public:
    Control(std::string path, std::function<std::string()> status, std::function<void()> quit);
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Creates the folder (0700) and the socket (0600); false with a reason otherwise.
    bool listen(std::string& reason);
    void start();
    void stop();
    // Async-signal-safe: asks the control thread to quit.
    static void signalQuit();

private:
    void serve();
    void answer(int client);

    std::string m_path;
    std::function<std::string()> m_status;
    std::function<void()> m_quit;
    int m_listener = -1;
    int m_stopPipe[2] = {-1, -1};
    std::thread m_thread;
};

} // namespace vantrel::smbfs
