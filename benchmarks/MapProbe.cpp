// Times a program from its exec to the mapping of its first top-level window on the X server:
//   vantrel_map_probe [--min-size PIXELS] [--timeout SECONDS] PROGRAM [ARGUMENTS...]
// prints the milliseconds, and the CPU time its main thread had used by then, then ends the
// program (SIGTERM, then SIGKILL after ten seconds).
// A window counts when it is not override-redirect (menus, tooltips), carries the program's
// process id in _NET_WM_PID and is at least --min-size pixels wide and high (default 200).
#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection,
        xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

long windowPid(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t pidAtom)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection,
        xcb_get_property(connection, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    long pid = -1;
    if (reply && xcb_get_property_value_length(reply) >= 4)
        pid = long(*static_cast<uint32_t*>(xcb_get_property_value(reply)));
    std::free(reply);
    return pid;
}

bool largeEnough(xcb_connection_t* connection, xcb_window_t window, int minSize)
{
    xcb_get_geometry_reply_t* reply = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    const bool large = reply && reply->width >= minSize && reply->height >= minSize;
    std::free(reply);
    return large;
}

// The CPU time of the process's main thread so far, in milliseconds (-1 when unknown).
double mainThreadCpuMs(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return -1;
    unsigned long long runNs = 0;
    const bool read = std::fscanf(file, "%llu", &runNs) == 1;
    std::fclose(file);
    return read ? double(runNs) / 1e6 : -1;
}

void endChild(pid_t pid)
{
    ::kill(pid, SIGTERM);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        ::usleep(10'000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char* argv[])
{
    int minSize = 200;
    int timeoutSeconds = 60;
    int first = 1;
    while (first + 1 < argc && argv[first][0] == '-') {
        const std::string option = argv[first];
        if (option == "--min-size")
            minSize = std::atoi(argv[first + 1]);
        else if (option == "--timeout")
            timeoutSeconds = std::atoi(argv[first + 1]);
        else
            break;
        first += 2;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--min-size PIXELS] [--timeout SECONDS] PROGRAM [ARGUMENTS...]\n", argv[0]);
        return 2;
    }

    // A server started a moment ago may not take connections yet.
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    for (int attempt = 0; xcb_connection_has_error(connection) && attempt < 50; ++attempt) {
        xcb_disconnect(connection);
        ::usleep(100'000);
        connection = xcb_connect(nullptr, &screenNumber);
    }
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "map probe: cannot connect to the X server\n");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    const xcb_atom_t pidAtom = internAtom(connection, "_NET_WM_PID");
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_request_check(connection, xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &mask));

    const Clock::time_point started = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        ::close(xcb_get_file_descriptor(connection));
        ::execvp(argv[first], argv + first);
        std::perror("exec");
        ::_exit(127);
    }

    const Clock::time_point deadline = started + std::chrono::seconds(timeoutSeconds);
    pollfd watched{xcb_get_file_descriptor(connection), POLLIN, 0};
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                const Clock::time_point mapped = Clock::now();
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (!map->override_redirect && windowPid(connection, map->window, pidAtom) == pid
                    && largeEnough(connection, map->window, minSize)) {
                    std::free(event);
                    std::printf("%.1f %.1f\n", std::chrono::duration<double, std::milli>(mapped - started).count(),
                        mainThreadCpuMs(pid));
                    std::fflush(stdout);
                    endChild(pid);
                    xcb_disconnect(connection);
                    return 0;
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection))
            break;
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "map probe: %s ended before it mapped a window\n", argv[first]);
            xcb_disconnect(connection);
            return 1;
        }
        ::poll(&watched, 1, 20);
    }
    std::fprintf(stderr, "map probe: no window of %s was mapped\n", argv[first]);
    endChild(pid);
    xcb_disconnect(connection);
    return 1;
}
