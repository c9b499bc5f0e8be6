#include "Smb.h"

#include <cerrno>
#include <cstring>

#include <sys/statvfs.h>

namespace vantrel::smbfs {

namespace {

void copyField(char* out, int size, const std::string& value)
{
    if (size <= 0)
        return;
    std::strncpy(out, value.c_str(), static_cast<size_t>(size) - 1);
    out[size - 1] = '\0';
}

void authenticate(SMBCCTX* ctx, const char*, const char*, char* workgroup, int workgroupSize, char* user, int userSize,
    char* password, int passwordSize)
{
    const auto* credentials = static_cast<const Credentials*>(smbc_getOptionUserData(ctx));
    if (!credentials)
        return;
    if (!credentials->domain.empty())
        copyField(workgroup, workgroupSize, credentials->domain);
    copyField(user, userSize, credentials->user.empty() ? std::string("guest") : credentials->user);
    copyField(password, passwordSize, credentials->password);
}

std::string encodePath(const std::string& path)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.'
            || c == '_' || c == '-' || c == '~' || c >= 0x80) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0xf];
        }
    }
    return out;
}

} // namespace

Smb::Smb(const Options& options, const Credentials& credentials)
    : m_options(options)
    , m_credentials(credentials)
{
    m_base = "smb://" + options.host + "/" + encodePath(options.share) + encodePath(options.folder);
}

Smb::~Smb()
{
    if (m_ctx)
        smbc_free_context(m_ctx, 1);
}

SMBCCTX* Smb::newContext()
{
    SMBCCTX* ctx = smbc_new_context();
    if (!ctx)
        return nullptr;
    smbc_setDebug(ctx, 0);
    smbc_setOptionDebugToStderr(ctx, 1);
    smbc_setOptionUserData(ctx, &m_credentials);
    smbc_setFunctionAuthDataWithContext(ctx, authenticate);
    smbc_setTimeout(ctx, m_options.timeoutSeconds * 1000);
    if (m_options.port)
        smbc_setPort(ctx, m_options.port);
    if (!m_credentials.domain.empty())
        smbc_setWorkgroup(ctx, m_credentials.domain.c_str());
    if (!m_credentials.user.empty())
        smbc_setUser(ctx, m_credentials.user.c_str());
    // A refused password must not silently become a guest session.
    smbc_setOptionNoAutoAnonymousLogin(ctx, m_credentials.user.empty() ? 0 : 1);
    smbc_setOptionUseKerberos(ctx, 0);
    smbc_setOptionFallbackAfterKerberos(ctx, 1);
    smbc_setOptionUseCCache(ctx, 0);
    smbc_setOptionCaseSensitive(ctx, 1);
    smbc_setOptionSmbEncryptionLevel(ctx, m_options.encrypt ? SMBC_ENCRYPTLEVEL_REQUIRE : SMBC_ENCRYPTLEVEL_DEFAULT);
    if (!smbc_init_context(ctx)) {
        smbc_free_context(ctx, 0);
        return nullptr;
    }
    // After init: initialising reads smb.conf, whose protocol settings this overrides.
    smbc_setOptionProtocols(ctx, "SMB2_02", "SMB3");
    return ctx;
}

void Smb::abandon()
{
    // Freeing would send a close for every open file to a server that may not answer; the
    // few bytes of a dead context are the lesser harm.
    m_ctx = nullptr;
}

int Smb::connect(std::string& reason)
{
    SMBCCTX* ctx = newContext();
    if (!ctx) {
        reason = std::string("cannot start the SMB client library: ") + std::strerror(errno);
        return ExitFailure;
    }
    const std::string server = "smb://" + m_options.host + "/";
    const std::string share = "smb://" + m_options.host + "/" + encodePath(m_options.share);
    auto fail = [&](int code, const std::string& text) {
        reason = text;
        smbc_free_context(ctx, 1);
        return code;
    };
    auto describe = [&](int error, const std::string& what) -> int {
        switch (error) {
        case ETIMEDOUT:
        case ECONNREFUSED:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ECONNRESET:
        case ENOTCONN:
        case EPIPE:
        case ECONNABORTED:
            return fail(ExitNoAnswer,
                "the server " + m_options.host + " does not answer (" + std::strerror(error) + ")");
        default: break;
        }
        return fail(ExitFailure, what + ": " + std::strerror(error));
    };

    struct stat st {};
    errno = 0;
    if (smbc_getFunctionStat(ctx)(ctx, share.c_str(), &st) != 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) {
            // Tell a refused login from a share that refuses this user: the server's own
            // IPC share takes any valid login.
            SMBCFILE* ipc = smbc_getFunctionOpendir(ctx)(ctx, server.c_str());
            const int ipcError = errno;
            if (ipc) {
                smbc_getFunctionClosedir(ctx)(ctx, ipc);
                return fail(ExitShareDenied, "access to the share " + m_options.share + " is denied");
            }
            if (ipcError == EACCES || ipcError == EPERM)
                return fail(ExitLoginRefused,
                    "the server refused the login of "
                        + (m_credentials.user.empty() ? std::string("guest") : m_credentials.user));
            return fail(ExitShareDenied, "access to the share " + m_options.share + " is denied");
        }
        if (error == ENOENT || error == ENODEV || error == ENXIO || error == EINVAL)
            return fail(ExitNoShare, "the server has no share " + m_options.share);
        return describe(error, "cannot reach the share " + m_options.share);
    }
    if (!m_options.folder.empty()) {
        errno = 0;
        if (smbc_getFunctionStat(ctx)(ctx, m_base.c_str(), &st) != 0) {
            const int error = errno;
            if (error == ENOENT || error == ENOTDIR)
                return fail(ExitNoShare, "the share has no folder " + m_options.folder);
            if (error == EACCES || error == EPERM)
                return fail(ExitShareDenied, "access to the folder " + m_options.folder + " is denied");
            return describe(error, "cannot open the folder " + m_options.folder);
        }
        if (!S_ISDIR(st.st_mode))
            return fail(ExitNoShare, "the share has no folder " + m_options.folder);
    }
    // Listing proves read access (a stat of the share's root succeeds for nearly anyone).
    SMBCFILE* dir = smbc_getFunctionOpendir(ctx)(ctx, m_base.c_str());
    if (!dir) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return fail(ExitShareDenied, "access to the share " + m_options.share + " is denied");
        if (error == ENOENT || error == ENOTDIR)
            return fail(ExitNoShare, "the server has no share " + m_options.share);
        return describe(error, "cannot list the share " + m_options.share);
    }
    smbc_getFunctionClosedir(ctx)(ctx, dir);
    if (m_ctx)
        smbc_free_context(m_ctx, 1);
    m_ctx = ctx;
    return ExitOk;
}

std::string Smb::url(const std::string& path) const
{
    return m_base + encodePath(path);
}

#define SMB_CTX_OR(value)                                                                                              \
    if (!m_ctx) {                                                                                                      \
        errno = ENOTCONN;                                                                                              \
        return value;                                                                                                  \
    }

SMBCFILE* Smb::open(const std::string& path, int flags, mode_t mode)
{
    SMB_CTX_OR(nullptr);
    return smbc_getFunctionOpen(m_ctx)(m_ctx, url(path).c_str(), flags, mode);
}

int Smb::close(SMBCFILE* file)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionClose(m_ctx)(m_ctx, file);
}

ssize_t Smb::pread(SMBCFILE* file, char* buffer, size_t size, off_t offset)
{
    SMB_CTX_OR(-1);
    if (smbc_getFunctionLseek(m_ctx)(m_ctx, file, offset, SEEK_SET) < 0)
        return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = smbc_getFunctionRead(m_ctx)(m_ctx, file, buffer + done, size - done);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t Smb::pwrite(SMBCFILE* file, const char* buffer, size_t size, off_t offset)
{
    SMB_CTX_OR(-1);
    if (smbc_getFunctionLseek(m_ctx)(m_ctx, file, offset, SEEK_SET) < 0)
        return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = smbc_getFunctionWrite(m_ctx)(m_ctx, file, buffer + done, size - done);
        if (n < 0)
            return -1;
        if (n == 0) {
            errno = EIO;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int Smb::ftruncate(SMBCFILE* file, off_t size)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionFtruncate(m_ctx)(m_ctx, file, size);
}

int Smb::stat(const std::string& path, struct stat& st)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionStat(m_ctx)(m_ctx, url(path).c_str(), &st);
}

int Smb::fstat(SMBCFILE* file, struct stat& st)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionFstat(m_ctx)(m_ctx, file, &st);
}

int Smb::mkdir(const std::string& path, mode_t mode)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionMkdir(m_ctx)(m_ctx, url(path).c_str(), mode);
}

int Smb::rmdir(const std::string& path)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionRmdir(m_ctx)(m_ctx, url(path).c_str());
}

int Smb::unlink(const std::string& path)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionUnlink(m_ctx)(m_ctx, url(path).c_str());
}

int Smb::rename(const std::string& from, const std::string& to)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionRename(m_ctx)(m_ctx, url(from).c_str(), m_ctx, url(to).c_str());
}

int Smb::chmod(const std::string& path, mode_t mode)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionChmod(m_ctx)(m_ctx, url(path).c_str(), mode);
}

int Smb::utimes(const std::string& path, const timeval times[2])
{
    SMB_CTX_OR(-1);
    timeval copy[2] = {times[0], times[1]};
    return smbc_getFunctionUtimes(m_ctx)(m_ctx, url(path).c_str(), copy);
}

int Smb::statvfs(struct statvfs& st)
{
    SMB_CTX_OR(-1);
    std::string base = m_base + "/";
    return smbc_getFunctionStatVFS(m_ctx)(m_ctx, base.data(), &st);
}

SMBCFILE* Smb::opendir(const std::string& path)
{
    SMB_CTX_OR(nullptr);
    return smbc_getFunctionOpendir(m_ctx)(m_ctx, url(path).c_str());
}

const libsmb_file_info* Smb::readdirplus(SMBCFILE* dir, struct stat& st)
{
    SMB_CTX_OR(nullptr);
    errno = 0;
    // Not the library's variant with a stat: it looks the server up again for every entry,
    // which made it three quarters of the time a large folder takes to list. The entry's
    // server file number is the one thing lost; lookups still learn it.
    const libsmb_file_info* info = smbc_getFunctionReaddirPlus(m_ctx)(m_ctx, dir);
    if (!info)
        return nullptr;
    constexpr uint16_t kReadOnly = 0x01;
    constexpr uint16_t kDirectory = 0x10;
    st = {};
    st.st_mode = (info->attrs & kDirectory) ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    if (!(info->attrs & kReadOnly))
        st.st_mode |= S_IWUSR;
    st.st_nlink = 1;
    st.st_size = static_cast<off_t>(info->size);
    st.st_atim = info->atime_ts;
    st.st_mtim = info->mtime_ts;
    st.st_ctim = info->ctime_ts;
    return info;
}

int Smb::closedir(SMBCFILE* dir)
{
    SMB_CTX_OR(-1);
    return smbc_getFunctionClosedir(m_ctx)(m_ctx, dir);
}

bool Smb::isConnectionError(int error)
{
    switch (error) {
    case ETIMEDOUT:
    case ECONNRESET:
    case ECONNREFUSED:
    case ECONNABORTED:
    case ENOTCONN:
    case EPIPE:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETRESET:
    case EBADF: return true;
    default: return false;
    }
}

} // namespace vantrel::smbfs
