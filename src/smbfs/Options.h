#pragma once

#include <string>

namespace vantrel::smbfs {

enum ExitCode : int {
    ExitOk = 0,
    ExitFailure = 1,
    ExitUsage = 2,
    ExitNoAnswer = 3,
    ExitLoginRefused = 4,
    ExitNoShare = 5,
    ExitFuseUnavailable = 6,
    ExitMountPointUnusable = 7,
    ExitShareDenied = 8,
};

struct Credentials {
    std::string user;
    std::string domain;
    std::string password;
};

struct Options {
    bool check = false;
    bool credentialsStdin = false;
    int timeoutSeconds = 15;
    bool readOnly = false;
    bool encrypt = false;
    bool foreground = false;
    unsigned uid = 0;
    unsigned gid = 0;
    std::string control;
    std::string source; // as given: //HOST[:PORT]/SHARE[/FOLDER]
    std::string host;
    unsigned short port = 0;
    std::string share;
    std::string folder; // "" or "/a/b", without a trailing slash
    std::string mountPoint;
};

// Fills `options` from argv; on failure returns false with a one-line reason in `error`.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);
bool parseSource(const std::string& source, Options& options);
// Lines `user=`, `domain=`, `password=` (the value is the rest of the line).
Credentials parseCredentials(const std::string& text);

std::string sha256Hex(const std::string& data);
// $XDG_RUNTIME_DIR/vantrel/smbfs-<16 hex>.sock, or /tmp/vantrel-$UID/ without XDG_RUNTIME_DIR.
std::string defaultControlPath(const std::string& canonicalMountPoint);

} // namespace vantrel::smbfs
