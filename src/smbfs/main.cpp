// vantrel-smbfs: mounts one SMB share at a folder, through FUSE and libsmbclient.

#include "Control.h"
#include "FileSystem.h"
#include "Options.h"
#include "Smb.h"

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace vantrel::smbfs;

namespace {

int g_reportFd = -1; // the waiting parent's pipe, until the mount is live

[[noreturn]] void finish(int code, const std::string& message)
{
    if (!message.empty())
        std::fprintf(stderr, "vantrel-smbfs: %s\n", message.c_str());
    std::fflush(stderr);
    if (g_reportFd >= 0) {
        const char byte = static_cast<char>(code);
        [[maybe_unused]] const ssize_t ignored = ::write(g_reportFd, &byte, 1);
    }
    std::_Exit(code);
}

std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    return text;
}

bool findFusermount()
{
    if (::geteuid() == 0)
        return true;
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && ::access((folder + "/fusermount3").c_str(), X_OK) == 0)
            return true;
    return ::access("/usr/bin/fusermount3", X_OK) == 0 || ::access("/bin/fusermount3", X_OK) == 0;
}

bool isMountPoint(const std::string& path)
{
    std::ifstream mountinfo("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mountinfo, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        if (point == path)
            return true;
    }
    struct stat self {};
    struct stat parentStat {};
    return ::stat(path.c_str(), &self) == 0 && ::stat((path + "/..").c_str(), &parentStat) == 0
        && self.st_dev != parentStat.st_dev;
}

void checkMountPoint(const std::string& given, std::string& canonical)
{
    char resolved[PATH_MAX];
    if (!::realpath(given.c_str(), resolved))
        finish(ExitMountPointUnusable, "the mount point " + given + " is unusable: " + std::strerror(errno));
    canonical = resolved;
    struct stat st {};
    if (::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode))
        finish(ExitMountPointUnusable, "the mount point " + given + " is not a folder");
    if (isMountPoint(canonical))
        finish(ExitMountPointUnusable, "the mount point " + given + " is already a mount");
    DIR* dir = ::opendir(resolved);
    if (!dir)
        finish(ExitMountPointUnusable, "the mount point " + given + " cannot be read: " + std::strerror(errno));
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    if (!empty)
        finish(ExitMountPointUnusable, "the mount point " + given + " is not empty");
    if (::access(resolved, W_OK | X_OK) != 0)
        finish(ExitMountPointUnusable, "the mount point " + given + " is not writable");
}

int runTool(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Politely when nothing is open, else lazily: the open files are served until closed.
void unmount(const std::string& mountPoint, bool busy)
{
    if (::geteuid() == 0) {
        if (busy || ::umount2(mountPoint.c_str(), 0) != 0)
            ::umount2(mountPoint.c_str(), MNT_DETACH);
        return;
    }
    if (busy || runTool({"fusermount3", "-u", "-q", mountPoint}) != 0)
        runTool({"fusermount3", "-u", "-z", "-q", mountPoint});
}

std::string escapeOption(const std::string& value)
{
    std::string out;
    for (char c : value) {
        if (c == ',' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

int check(const Options& options, const Credentials& credentials)
{
    Smb smb(options, credentials);
    std::string reason;
    const auto start = std::chrono::steady_clock::now();
    const int code = smb.connect(reason);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (code != ExitOk)
        finish(code, reason);
    std::printf("latency_ms=%lld\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    std::fflush(stdout);
    return ExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error))
        finish(ExitUsage, error);
    Credentials credentials;
    if (options.credentialsStdin)
        credentials = parseCredentials(readAll(STDIN_FILENO));
    std::signal(SIGPIPE, SIG_IGN);

    if (options.check)
        return check(options, credentials);

    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        finish(ExitFuseUnavailable,
            std::string("FUSE is unavailable: no access to /dev/fuse (") + std::strerror(errno) + ")");
    if (!findFusermount())
        finish(ExitFuseUnavailable, "FUSE is unavailable: fusermount3 is not installed");
    std::string mountPoint;
    checkMountPoint(options.mountPoint, mountPoint);

    if (!options.foreground) {
        // Before any thread: the parent waits for the child's word that the mount is live.
        int report[2];
        if (::pipe2(report, O_CLOEXEC) != 0)
            finish(ExitFailure, std::string("cannot create a pipe: ") + std::strerror(errno));
        const pid_t child = ::fork();
        if (child < 0)
            finish(ExitFailure, std::string("cannot start the daemon: ") + std::strerror(errno));
        if (child > 0) {
            ::close(report[1]);
            char code = ExitFailure;
            ssize_t n = 0;
            while ((n = ::read(report[0], &code, 1)) < 0 && errno == EINTR) {}
            std::_Exit(n == 1 ? static_cast<int>(code) : static_cast<int>(ExitFailure));
        }
        ::close(report[0]);
        g_reportFd = report[1];
        ::setsid();
    }

    Smb smb(options, credentials);
    FileSystem fs(options, smb);
    fs.startSmbThread();
    {
        // libsmbclient is used from the SMB thread only, the first login included.
        std::packaged_task<std::pair<int, std::string>()> task([&smb] {
            std::string reason;
            const int code = smb.connect(reason);
            return std::make_pair(code, reason);
        });
        auto result = task.get_future();
        fs.runOnSmbThread([&task] { task(); });
        const auto [code, reason] = result.get();
        if (code != ExitOk)
            finish(code, reason);
    }

    const std::string controlPath = options.control.empty() ? defaultControlPath(mountPoint) : options.control;
    Control control(
        controlPath,
        [&] {
            return std::string("state=") + (fs.online() ? "online" : "offline") + " pid=" + std::to_string(::getpid())
                + " open=" + std::to_string(fs.openFiles()) + " source=" + options.source + " mountpoint=" + mountPoint;
        },
        [&] {
            const bool busy = fs.openFiles() > 0;
            std::thread([mountPoint, busy] { unmount(mountPoint, busy); }).detach();
        });
    std::string reason;
    if (!control.listen(reason))
        finish(ExitFailure, reason);

    std::string fuseOptions = "fsname=" + escapeOption(options.source)
        + ",subtype=vantrel-smbfs,max_read=" + std::to_string(FileSystem::kMaxTransfer) + ",default_permissions";
    if (options.readOnly)
        fuseOptions += ",ro";
    std::vector<std::string> args = {"vantrel-smbfs", "-o", fuseOptions};
    std::vector<char*> fuseArgv;
    for (std::string& arg : args)
        fuseArgv.push_back(arg.data());
    fuse_args fuseArgs = FUSE_ARGS_INIT(static_cast<int>(fuseArgv.size()), fuseArgv.data());
    fuse_session* session = fuse_session_new(&fuseArgs, &FileSystem::operations(), sizeof(fuse_lowlevel_ops), &fs);
    if (!session)
        finish(ExitFuseUnavailable, "FUSE is unavailable: cannot create a session");
    fs.onMounted = [&] {
        if (g_reportFd >= 0) {
            const char byte = ExitOk;
            [[maybe_unused]] const ssize_t ignored = ::write(g_reportFd, &byte, 1);
            ::close(g_reportFd);
            g_reportFd = -1;
            const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (null >= 0) {
                ::dup2(null, STDIN_FILENO);
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
                ::close(null);
            }
        }
    };
    if (fuse_session_mount(session, mountPoint.c_str()) != 0)
        finish(ExitFuseUnavailable, "FUSE is unavailable: the mount at " + mountPoint + " failed");

    struct sigaction action {};
    action.sa_handler = [](int) { Control::signalQuit(); };
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    control.start();

    fuse_session_loop(session);
    fuse_session_unmount(session);
    if (g_reportFd >= 0)
        finish(ExitFuseUnavailable, "FUSE is unavailable: the kernel did not start the mount at " + mountPoint);
    fs.closeAll();
    fs.stopSmbThread();
    control.stop();
    fuse_session_destroy(session);
    fuse_opt_free_args(&fuseArgs);
    return ExitOk;
}
