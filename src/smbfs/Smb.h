#pragma once

#include "Options.h"

#include <libsmbclient.h>

#include <string>

namespace vantrel::smbfs {

// One libsmbclient context. The library keeps global state that is not safe across threads, so
// every method is called from one thread only (the SMB thread).
class Smb {
public:
    Smb(const Options& options, const Credentials& credentials);
    ~Smb();
    Smb(const Smb&) = delete;
    Smb& operator=(const Smb&) = delete;

    // Makes a new context and logs in; on failure returns an exit code and a reason. The old
    // context (and every file open through it) is dropped on success.
    int connect(std::string& reason);
    bool connected() const { return m_ctx != nullptr; }
    // Forgets the context without talking to the server (it may not answer).
    void abandon();

    // URL of a path inside the mounted folder ("" or "/a/b").
    std::string url(const std::string& path) const;

    SMBCFILE* open(const std::string& path, int flags, mode_t mode);
    int close(SMBCFILE* file);
    ssize_t pread(SMBCFILE* file, char* buffer, size_t size, off_t offset);
    ssize_t pwrite(SMBCFILE* file, const char* buffer, size_t size, off_t offset);
    int ftruncate(SMBCFILE* file, off_t size);
    int stat(const std::string& path, struct stat& st);
    int fstat(SMBCFILE* file, struct stat& st);
    int mkdir(const std::string& path, mode_t mode);
    int rmdir(const std::string& path);
    int unlink(const std::string& path);
    int rename(const std::string& from, const std::string& to);
    int chmod(const std::string& path, mode_t mode);
    int utimes(const std::string& path, const timeval times[2]);
    int statvfs(struct statvfs& st);
    SMBCFILE* opendir(const std::string& path);
    const libsmb_file_info* readdirplus(SMBCFILE* dir, struct stat& st);
    int closedir(SMBCFILE* dir);

    // errno values that mean the connection is gone rather than a refusal.
    static bool isConnectionError(int error);

private:
    SMBCCTX* newContext();

    const Options& m_options;
    Credentials m_credentials;
    SMBCCTX* m_ctx = nullptr;
    std::string m_base;
};

} // namespace vantrel::smbfs
