#include "FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

namespace vantrel::smbfs {

namespace {

constexpr double kAttrTimeout = 5.0;
constexpr double kEntryTimeout = 5.0;
constexpr double kNegativeTimeout = 1.0;
constexpr int64_t kNanos = 1000000000;
constexpr size_t kNameMax = 255;

FileSystem* self(fuse_req_t req)
{
    return static_cast<FileSystem*>(fuse_req_userdata(req));
}

int64_t steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int lastError()
{
    return errno ? errno : EIO;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

bool isAside(const char* name)
{
    return std::strncmp(name, FileSystem::kAsidePrefix, std::strlen(FileSystem::kAsidePrefix)) == 0;
}

bool startsWithFolder(const std::string& path, const std::string& folder)
{
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

} // namespace

FileSystem::FileSystem(const Options& options, Smb& smb)
    : m_options(options)
    , m_smb(smb)
    , m_absences(static_cast<int64_t>(kNegativeTimeout * kNanos), static_cast<int64_t>(kEntryTimeout * kNanos))
{
    auto root = std::make_unique<Inode>();
    root->ino = FUSE_ROOT_ID;
    root->lookups = 1;
    root->directory = true;
    m_byPath[""] = FUSE_ROOT_ID;
    m_inodes[FUSE_ROOT_ID] = std::move(root);
}

FileSystem::~FileSystem()
{
    stopSmbThread();
    for (Handle* handle : m_handles)
        delete handle;
}

void FileSystem::startSmbThread()
{
    m_smbThread = std::thread([this] { smbLoop(); });
    m_watchdogThread = std::thread([this] { watchdog(); });
}

void FileSystem::closeAll()
{
    // After the kernel let go of the mount, releases it never sent: files left aside go now.
    post([this] {
        while (!m_handles.empty()) {
            fuse_file_info info{};
            info.fh = reinterpret_cast<uint64_t>(*m_handles.begin());
            release(nullptr, &info);
        }
    });
}

void FileSystem::stopSmbThread()
{
    {
        std::lock_guard lock(m_queueMutex);
        m_stopping = true;
    }
    m_queueWake.notify_all();
    m_watchdogWake.notify_all();
    if (m_smbThread.joinable())
        m_smbThread.join();
    if (m_watchdogThread.joinable())
        m_watchdogThread.join();
}

void FileSystem::post(fuse_req_t req, std::function<void()> job)
{
    if (req && (m_overdue.load() || !m_online.load())) {
        fuse_reply_err(req, EIO);
        return;
    }
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back({std::move(job), req});
    }
    m_queueWake.notify_one();
}

void FileSystem::post(std::function<void()> job)
{
    post(nullptr, std::move(job));
}

void FileSystem::watchdog()
{
    // One libsmbclient call may take several exchanges, each bounded by the time-out: past the
    // bound the mount goes offline and the waiting requests are answered at once.
    using namespace std::chrono;
    const auto bound = seconds(std::max(1, m_options.timeoutSeconds));
    std::unique_lock lock(m_queueMutex);
    while (!m_stopping) {
        m_watchdogWake.wait_for(lock, milliseconds(100));
        const int64_t started = m_jobStarted.load();
        if (!started || nanoseconds(steadyNow() - started) < bound)
            continue;
        m_overdue.store(true);
        goOffline();
        std::vector<fuse_req_t> failed;
        for (auto it = m_queue.begin(); it != m_queue.end();) {
            if (it->req) {
                failed.push_back(it->req);
                it = m_queue.erase(it);
            } else {
                ++it;
            }
        }
        lock.unlock();
        for (fuse_req_t req : failed)
            fuse_reply_err(req, EIO);
        lock.lock();
    }
}

void FileSystem::smbLoop()
{
    using namespace std::chrono_literals;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_queueMutex);
            if (m_online.load())
                m_queueWake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            else
                m_queueWake.wait_for(lock, 1s, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty()) {
                if (m_stopping)
                    return;
                lock.unlock();
                // Offline and idle: the background reconnect.
                m_jobStarted.store(steadyNow());
                if (reconnect())
                    resendAll();
                m_jobStarted.store(0);
                m_overdue.store(false);
                continue;
            }
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_jobStarted.store(steadyNow());
        job.run();
        m_jobStarted.store(0);
        m_overdue.store(false);
    }
}

int FileSystem::call(const std::function<int()>& op)
{
    if (!m_online.load() || !m_smb.connected())
        return EIO;
    errno = 0;
    int error = op();
    if (error == 0 || !Smb::isConnectionError(error))
        return error;
    if (error == ETIMEDOUT) {
        goOffline();
        return ETIMEDOUT;
    }
    // A server that dropped an idle connection or restarted: once more over a new one.
    if (reconnect()) {
        errno = 0;
        error = op();
        if (error == 0 || !Smb::isConnectionError(error))
            return error;
    }
    goOffline();
    return EIO;
}

void FileSystem::goOffline()
{
    m_online.store(false);
}

bool FileSystem::reconnect()
{
    std::string reason;
    if (m_smb.connect(reason) != ExitOk) {
        m_online.store(false);
        return false;
    }
    for (Handle* handle : m_handles) {
        std::string path;
        {
            std::lock_guard lock(m_inodesMutex);
            path = handle->inode->path;
        }
        handle->file = m_smb.open(path, handle->flags & ~(O_CREAT | O_EXCL | O_TRUNC), 0);
        {
            std::lock_guard aheadLock(handle->aheadMutex);
            handle->aheadSize = 0;
        }
        if (!handle->file)
            handle->error = EIO;
    }
    m_online.store(true);
    return true;
}

bool FileSystem::refuseOffline(fuse_req_t req)
{
    if (m_online.load())
        return false;
    fuse_reply_err(req, EIO);
    return true;
}

bool FileSystem::refuseReadOnly(fuse_req_t req)
{
    if (!m_options.readOnly)
        return false;
    fuse_reply_err(req, EROFS);
    return true;
}

FileSystem::Inode* FileSystem::inode(fuse_ino_t ino)
{
    const auto it = m_inodes.find(ino);
    return it == m_inodes.end() ? nullptr : it->second.get();
}

std::string FileSystem::pathOf(fuse_ino_t ino)
{
    std::lock_guard lock(m_inodesMutex);
    const Inode* node = inode(ino);
    return node ? node->path : std::string();
}

bool FileSystem::childPath(fuse_req_t req, fuse_ino_t parent, const char* name, std::string& path)
{
    if (std::strlen(name) > kNameMax) {
        fuse_reply_err(req, ENAMETOOLONG);
        return false;
    }
    std::lock_guard lock(m_inodesMutex);
    const Inode* node = inode(parent);
    if (!node) {
        fuse_reply_err(req, ESTALE);
        return false;
    }
    path = node->path + "/" + name;
    return true;
}

void FileSystem::fillAttr(struct stat& out, const struct stat& server, fuse_ino_t ino) const
{
    out = {};
    out.st_ino = ino;
    const bool directory = S_ISDIR(server.st_mode);
    const bool writable = !m_options.readOnly && (directory || (server.st_mode & S_IWUSR));
    out.st_mode = directory ? (S_IFDIR | (writable ? 0755 : 0555)) : (S_IFREG | (writable ? 0644 : 0444));
    out.st_nlink = directory ? 2 : 1;
    out.st_uid = m_options.uid;
    out.st_gid = m_options.gid;
    out.st_size = directory ? 0 : server.st_size;
    out.st_blksize = static_cast<blksize_t>(kMaxTransfer);
    out.st_blocks = (out.st_size + 511) / 512;
    out.st_atim = server.st_atim;
    out.st_mtim = server.st_mtim;
    out.st_ctim = server.st_ctim;
}

fuse_entry_param FileSystem::entryFor(const std::string& path, const struct stat& server)
{
    std::lock_guard lock(m_inodesMutex);
    Inode* node = nullptr;
    if (auto it = m_byPath.find(path); it != m_byPath.end()) {
        node = inode(it->second);
        if (node && server.st_ino && node->serverIno && node->serverIno != server.st_ino && node->opens == 0) {
            // Another file now holds the name (replaced on the server).
            m_byPath.erase(it);
            if (m_byServerIno.count(node->serverIno) && m_byServerIno[node->serverIno] == node->ino)
                m_byServerIno.erase(node->serverIno);
            node->path = std::string(kAsidePrefix) + "stale";
            node = nullptr;
        }
    }
    if (!node && server.st_ino) {
        if (auto it = m_byServerIno.find(server.st_ino); it != m_byServerIno.end()) {
            Inode* known = inode(it->second);
            if (known && lower(known->path) == lower(path)) {
                // The same file under another case of its name (a case-insensitive server).
                node = known;
            } else if (known && !known->unlinked) {
                // Renamed by someone else, or a number the server reused.
                m_byPath.erase(known->path);
                known->path = path;
                m_byPath[path] = known->ino;
                node = known;
            }
        }
    }
    if (!node) {
        auto fresh = std::make_unique<Inode>();
        fresh->ino = m_nextIno++;
        fresh->path = path;
        node = fresh.get();
        m_byPath[path] = fresh->ino;
        m_inodes[fresh->ino] = std::move(fresh);
    }
    node->directory = S_ISDIR(server.st_mode);
    node->size = server.st_size;
    node->last = server;
    node->haveLast = true;
    node->lastSeen = steadyNow();
    m_absences.appeared(path);
    if (server.st_ino && !node->unlinked) {
        node->serverIno = server.st_ino;
        m_byServerIno[server.st_ino] = node->ino;
    }
    ++node->lookups;
    fuse_entry_param entry{};
    entry.ino = node->ino;
    entry.attr_timeout = kAttrTimeout;
    entry.entry_timeout = kEntryTimeout;
    fillAttr(entry.attr, server, node->ino);
    return entry;
}

void FileSystem::remember(fuse_ino_t ino, const struct stat& server)
{
    std::lock_guard lock(m_inodesMutex);
    if (Inode* node = inode(ino)) {
        node->size = server.st_size;
        node->last = server;
        node->haveLast = true;
        node->lastSeen = steadyNow();
    }
}

void FileSystem::noteMade(const std::string& path, bool folder)
{
    {
        std::lock_guard lock(m_inodesMutex);
        m_absences.appeared(path);
        if (folder)
            m_absences.madeFolder(path, steadyNow());
    }
    touchFolderOf(path);
}

void FileSystem::touchFolderOf(const std::string& path)
{
    // A change made here moves the folder's times on the server as well; the folder's
    // attributes are then answered from what is known (see getattr) without asking again.
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::lock_guard lock(m_inodesMutex);
    const auto it = m_byPath.find(path.substr(0, slash));
    Inode* folder = it == m_byPath.end() ? nullptr : inode(it->second);
    if (folder && folder->haveLast)
        folder->last.st_mtim = folder->last.st_ctim = now;
}

bool FileSystem::answerAbsent(fuse_req_t req, const std::string& path)
{
    // The kernel asks again for a name it has just been told is absent when it is about to
    // create it exclusively, and asks for every name copied into a new folder. The create
    // itself goes to the server, so a name made meanwhile by someone else is never replaced.
    int64_t left = 0;
    {
        std::lock_guard lock(m_inodesMutex);
        left = m_absences.absentFor(path, steadyNow());
    }
    if (left <= 0)
        return false;
    fuse_entry_param negative{};
    negative.entry_timeout = std::min(kNegativeTimeout, static_cast<double>(left) / kNanos);
    fuse_reply_entry(req, &negative);
    return true;
}

void FileSystem::replyEntry(fuse_req_t req, const std::string& path, bool lookup)
{
    struct stat st {};
    const int error = call([&] { return m_smb.stat(path, st) == 0 ? 0 : lastError(); });
    if (error == ENOENT && lookup) {
        // Remembered briefly, so that a program checking a name twice before creating it asks
        // the server once; whatever is created here replaces it at once.
        {
            std::lock_guard lock(m_inodesMutex);
            m_absences.absent(path, steadyNow());
        }
        fuse_entry_param negative{};
        negative.entry_timeout = kNegativeTimeout;
        fuse_reply_entry(req, &negative);
        return;
    }
    if (error) {
        fuse_reply_err(req, error);
        return;
    }
    const fuse_entry_param entry = entryFor(path, st);
    fuse_reply_entry(req, &entry);
}

void FileSystem::dropPath(const std::string& path)
{
    std::lock_guard lock(m_inodesMutex);
    const auto it = m_byPath.find(path);
    if (it == m_byPath.end())
        return;
    if (Inode* node = inode(it->second)) {
        if (node->serverIno && m_byServerIno.count(node->serverIno) && m_byServerIno[node->serverIno] == node->ino)
            m_byServerIno.erase(node->serverIno);
        node->serverIno = 0;
    }
    m_byPath.erase(it);
}

void FileSystem::movePath(const std::string& from, const std::string& to)
{
    std::lock_guard lock(m_inodesMutex);
    m_absences.moved(from, to);
    std::vector<std::pair<std::string, fuse_ino_t>> moved;
    for (auto it = m_byPath.begin(); it != m_byPath.end();) {
        if (it->first == from || startsWithFolder(it->first, from)) {
            moved.emplace_back(to + it->first.substr(from.size()), it->second);
            it = m_byPath.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [path, ino] : moved) {
        if (Inode* node = inode(ino))
            node->path = path;
        m_byPath[path] = ino;
    }
}

void FileSystem::maybeErase(Inode* node)
{
    // With the inode mutex held.
    if (node->ino == FUSE_ROOT_ID || node->lookups > 0 || node->opens > 0)
        return;
    if (auto it = m_byPath.find(node->path); it != m_byPath.end() && it->second == node->ino)
        m_byPath.erase(it);
    if (auto it = m_byServerIno.find(node->serverIno); it != m_byServerIno.end() && it->second == node->ino)
        m_byServerIno.erase(it);
    m_inodes.erase(node->ino);
}

void FileSystem::closeHandlesOf(Inode* node)
{
    for (Handle* handle : m_handles) {
        if (handle->inode == node && handle->file) {
            call([&] {
                const int result = handle->file && m_smb.close(handle->file) != 0 ? lastError() : 0;
                handle->file = nullptr;
                return result;
            });
            handle->file = nullptr;
        }
    }
}

void FileSystem::reopenHandlesOf(Inode* node)
{
    std::string path;
    {
        std::lock_guard lock(m_inodesMutex);
        path = node->path;
    }
    for (Handle* handle : m_handles) {
        if (handle->inode == node && !handle->file && !handle->error) {
            handle->file = m_smb.open(path, handle->flags & ~(O_CREAT | O_EXCL | O_TRUNC), 0);
            if (!handle->file)
                handle->error = lastError();
        }
    }
}

int FileSystem::moveAside(Inode* node)
{
    std::string from;
    std::string aside;
    {
        std::lock_guard lock(m_inodesMutex);
        from = node->path;
        const auto slash = from.rfind('/');
        aside = from.substr(0, slash + 1) + kAsidePrefix + std::to_string(::getpid()) + "-"
            + std::to_string(++m_asideCounter);
    }
    int error = call([&] { return m_smb.rename(from, aside) == 0 ? 0 : lastError(); });
    if (error == EACCES || error == EBUSY || error == EPERM) {
        // The server refuses to rename a file open with our own handles: close them around it.
        closeHandlesOf(node);
        error = call([&] { return m_smb.rename(from, aside) == 0 ? 0 : lastError(); });
        if (!error) {
            std::lock_guard lock(m_inodesMutex);
            node->path = aside;
        }
        reopenHandlesOf(node);
    }
    if (error)
        return error;
    std::lock_guard lock(m_inodesMutex);
    if (auto it = m_byPath.find(from); it != m_byPath.end() && it->second == node->ino)
        m_byPath.erase(it);
    if (auto it = m_byServerIno.find(node->serverIno); it != m_byServerIno.end() && it->second == node->ino)
        m_byServerIno.erase(it);
    node->path = aside;
    node->unlinked = true;
    return 0;
}

int FileSystem::openOnServer(const std::string& path, int flags, mode_t mode, SMBCFILE*& file, int& used)
{
    used = flags & ~(O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_DIRECT | O_NOATIME | O_LARGEFILE);
    // The kernel's page cache reads around partial writes even of write-only files.
    if (m_writeback && (used & O_ACCMODE) == O_WRONLY)
        used = (used & ~O_ACCMODE) | O_RDWR;
    int error = call([&] {
        file = m_smb.open(path, used, mode);
        return file ? 0 : lastError();
    });
    if (error == EACCES && (flags & O_ACCMODE) == O_WRONLY && (used & O_ACCMODE) == O_RDWR) {
        used = (used & ~O_ACCMODE) | O_WRONLY;
        error = call([&] {
            file = m_smb.open(path, used, mode);
            return file ? 0 : lastError();
        });
    }
    return error;
}

// ---- requests ----

void FileSystem::init(fuse_conn_info* conn)
{
    if (conn->capable & FUSE_CAP_WRITEBACK_CACHE) {
        conn->want |= FUSE_CAP_WRITEBACK_CACHE;
        m_writeback = true;
    }
    if (conn->capable & FUSE_CAP_READDIRPLUS)
        conn->want |= FUSE_CAP_READDIRPLUS;
    conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    if (conn->capable & FUSE_CAP_ASYNC_READ)
        conn->want |= FUSE_CAP_ASYNC_READ;
    conn->max_write = kMaxTransfer;
    conn->max_read = kMaxTransfer;
    conn->max_readahead = kMaxTransfer;
    conn->max_background = 64;
    conn->congestion_threshold = 48;
    conn->time_gran = 100;
    if (onMounted)
        onMounted();
}

void FileSystem::lookup(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    std::string path;
    if (!childPath(req, parent, name, path))
        return;
    if (isAside(name)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    if (refuseOffline(req) || answerAbsent(req, path))
        return;
    post(req, [this, req, path] { replyEntry(req, path, true); });
}

void FileSystem::forget(fuse_ino_t ino, uint64_t count)
{
    std::lock_guard lock(m_inodesMutex);
    Inode* node = inode(ino);
    if (!node)
        return;
    node->lookups = node->lookups > count ? node->lookups - count : 0;
    maybeErase(node);
}

void FileSystem::getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*)
{
    if (refuseOffline(req))
        return;
    {
        // The kernel drops a folder's attributes after every change made in it and asks for
        // them before the next name is looked up there: a folder is answered from the server's
        // last answer for as long as the kernel itself would have kept it, no longer.
        std::unique_lock lock(m_inodesMutex);
        const Inode* node = inode(ino);
        const int64_t age = node && node->directory && node->haveLast ? steadyNow() - node->lastSeen : -1;
        if (age >= 0 && age < static_cast<int64_t>(kAttrTimeout * kNanos)) {
            struct stat attr {};
            fillAttr(attr, node->last, ino);
            lock.unlock();
            fuse_reply_attr(req, &attr, kAttrTimeout - static_cast<double>(age) / kNanos);
            return;
        }
    }
    post(req, [this, req, ino] {
        const std::string path = pathOf(ino);
        struct stat st {};
        const int error = call([&] { return m_smb.stat(path, st) == 0 ? 0 : lastError(); });
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        remember(ino, st);
        struct stat attr {};
        fillAttr(attr, st, ino);
        fuse_reply_attr(req, &attr, kAttrTimeout);
    });
}

void FileSystem::setattr(fuse_req_t req, fuse_ino_t ino, const struct stat* attr, int toSet, fuse_file_info* fi)
{
    if (toSet & (FUSE_SET_ATTR_SIZE | FUSE_SET_ATTR_MODE | FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME)) {
        if (refuseReadOnly(req) || refuseOffline(req))
            return;
    }
    Handle* handle = fi ? reinterpret_cast<Handle*>(fi->fh) : nullptr;
    const struct stat wanted = *attr;
    post(req, [this, req, ino, wanted, toSet, handle] {
        std::string path = pathOf(ino);
        int error = 0;
        if (toSet & FUSE_SET_ATTR_SIZE) {
            if (handle && handle->file && !handle->error) {
                error = call([&] { return m_smb.ftruncate(handle->file, wanted.st_size) == 0 ? 0 : lastError(); });
            } else {
                error = call([&] {
                    SMBCFILE* file = m_smb.open(path, O_WRONLY, 0);
                    if (!file)
                        return lastError();
                    const int result = m_smb.ftruncate(file, wanted.st_size) == 0 ? 0 : lastError();
                    m_smb.close(file);
                    return result;
                });
            }
            std::lock_guard lock(m_inodesMutex);
            if (Inode* node = inode(ino))
                ++node->generation;
        }
        if (!error && (toSet & FUSE_SET_ATTR_MODE)) {
            const int result = call([&] { return m_smb.chmod(path, wanted.st_mode) == 0 ? 0 : lastError(); });
            // The server keeps no Unix modes of its own; only a connection loss is an error.
            if (Smb::isConnectionError(result) || result == EIO)
                error = result;
        }
        timespec atime{};
        timespec mtime{};
        if (!error && (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME))) {
            // Without asking the server first: an unset access time becomes now (the kernel
            // flushing a written file's times sets the modification time alone).
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            atime = (toSet & FUSE_SET_ATTR_ATIME) && !(toSet & FUSE_SET_ATTR_ATIME_NOW) ? wanted.st_atim : now;
            mtime = (toSet & FUSE_SET_ATTR_MTIME) && !(toSet & FUSE_SET_ATTR_MTIME_NOW) ? wanted.st_mtim : now;
            if (!(toSet & FUSE_SET_ATTR_MTIME)) {
                std::lock_guard lock(m_inodesMutex);
                const Inode* node = inode(ino);
                if (node && node->haveLast)
                    mtime = node->last.st_mtim;
            }
            // The kernel handing over the time of the last write through this handle: the
            // server set the same time, give or take, when it took the write.
            const bool writeTime = handle && handle->wrote && (toSet & FUSE_SET_ATTR_MTIME)
                && !(toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME_NOW))
                && std::abs(mtime.tv_sec - now.tv_sec) < 10;
            const timeval times[2] = {{atime.tv_sec, static_cast<suseconds_t>(atime.tv_nsec / 1000)},
                {mtime.tv_sec, static_cast<suseconds_t>(mtime.tv_nsec / 1000)}};
            if (!writeTime) {
                error = call([&] { return m_smb.utimes(path, times) == 0 ? 0 : lastError(); });
                Inode* node = nullptr;
                {
                    std::lock_guard lock(m_inodesMutex);
                    node = inode(ino);
                }
                if (!error && node && writing(node)) {
                    node->keepTimes = true;
                    node->keptTimes[0] = times[0];
                    node->keptTimes[1] = times[1];
                }
            }
        }
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        if (!(toSet & FUSE_SET_ATTR_SIZE)) {
            // Times and modes change nothing else the kernel keeps: answer from what is known.
            std::unique_lock lock(m_inodesMutex);
            Inode* node = inode(ino);
            if (node && node->haveLast) {
                if (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME)) {
                    node->last.st_atim = atime;
                    node->last.st_mtim = mtime;
                }
                const struct stat known = node->last;
                lock.unlock();
                struct stat out {};
                fillAttr(out, known, ino);
                fuse_reply_attr(req, &out, kAttrTimeout);
                return;
            }
        }
        struct stat st {};
        error = call([&] { return m_smb.stat(path, st) == 0 ? 0 : lastError(); });
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        remember(ino, st);
        struct stat out {};
        fillAttr(out, st, ino);
        fuse_reply_attr(req, &out, kAttrTimeout);
    });
}

void FileSystem::mkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode)
{
    std::string path;
    if (!childPath(req, parent, name, path) || refuseReadOnly(req) || refuseOffline(req))
        return;
    post(req, [this, req, path, mode] {
        const int error = call([&] { return m_smb.mkdir(path, mode) == 0 ? 0 : lastError(); });
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        noteMade(path, true);
        replyEntry(req, path);
    });
}

void FileSystem::mknod(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode)
{
    if (!S_ISREG(mode)) {
        fuse_reply_err(req, EPERM);
        return;
    }
    std::string path;
    if (!childPath(req, parent, name, path) || refuseReadOnly(req) || refuseOffline(req))
        return;
    post(req, [this, req, path, mode] {
        const int error = call([&] {
            SMBCFILE* file = m_smb.open(path, O_WRONLY | O_CREAT | O_EXCL, mode);
            if (!file)
                return lastError();
            return m_smb.close(file) == 0 ? 0 : lastError();
        });
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        noteMade(path);
        replyEntry(req, path);
    });
}

void FileSystem::unlink(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    std::string path;
    if (!childPath(req, parent, name, path) || refuseReadOnly(req) || refuseOffline(req))
        return;
    post(req, [this, req, path] {
        Inode* open = nullptr;
        {
            std::lock_guard lock(m_inodesMutex);
            if (auto it = m_byPath.find(path); it != m_byPath.end()) {
                Inode* node = inode(it->second);
                if (node && node->opens > 0)
                    open = node;
            }
        }
        int error = 0;
        if (open) {
            // Still open here: it goes aside under a name no listing shows, until the last close.
            error = moveAside(open);
        } else {
            error = call([&] { return m_smb.unlink(path) == 0 ? 0 : lastError(); });
            if (!error)
                dropPath(path);
        }
        if (!error)
            touchFolderOf(path);
        fuse_reply_err(req, error);
    });
}

void FileSystem::rmdir(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    std::string path;
    if (!childPath(req, parent, name, path) || refuseReadOnly(req) || refuseOffline(req))
        return;
    post(req, [this, req, path] {
        int error = call([&] { return m_smb.rmdir(path) == 0 ? 0 : lastError(); });
        if (error == EACCES || error == EEXIST) {
            // Some servers answer "access denied" for a folder that is not empty.
            SMBCFILE* dir = nullptr;
            if (call([&] {
                    dir = m_smb.opendir(path);
                    return dir ? 0 : lastError();
                })
                == 0) {
                struct stat st {};
                while (const libsmb_file_info* info = m_smb.readdirplus(dir, st)) {
                    if (std::strcmp(info->name, ".") != 0 && std::strcmp(info->name, "..") != 0) {
                        error = ENOTEMPTY;
                        break;
                    }
                }
                m_smb.closedir(dir);
            }
        }
        if (!error) {
            dropPath(path);
            touchFolderOf(path);
            std::lock_guard lock(m_inodesMutex);
            m_absences.removedFolder(path);
        }
        fuse_reply_err(req, error);
    });
}

void FileSystem::rename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
    unsigned flags)
{
    std::string from;
    std::string to;
    if (!childPath(req, parent, name, from) || !childPath(req, newParent, newName, to))
        return;
    if (flags & ~static_cast<unsigned>(RENAME_NOREPLACE)) {
        fuse_reply_err(req, EINVAL);
        return;
    }
    if (isAside(newName)) {
        fuse_reply_err(req, EPERM);
        return;
    }
    if (refuseReadOnly(req) || refuseOffline(req))
        return;
    post(req, [this, req, from, to, flags] {
        struct stat source {};
        int error = call([&] { return m_smb.stat(from, source) == 0 ? 0 : lastError(); });
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        struct stat target {};
        const int targetError = call([&] { return m_smb.stat(to, target) == 0 ? 0 : lastError(); });
        const bool sameFile = targetError == 0 && source.st_ino && source.st_ino == target.st_ino;
        const bool targetExists = targetError == 0 && !sameFile;
        if (targetError && targetError != ENOENT) {
            fuse_reply_err(req, targetError);
            return;
        }
        if (targetExists && (flags & RENAME_NOREPLACE)) {
            fuse_reply_err(req, EEXIST);
            return;
        }
        if (targetExists) {
            if (S_ISDIR(target.st_mode) != S_ISDIR(source.st_mode)) {
                fuse_reply_err(req, S_ISDIR(target.st_mode) ? EISDIR : ENOTDIR);
                return;
            }
            Inode* open = nullptr;
            {
                std::lock_guard lock(m_inodesMutex);
                if (auto it = m_byPath.find(to); it != m_byPath.end()) {
                    Inode* node = inode(it->second);
                    if (node && node->opens > 0)
                        open = node;
                }
            }
            if (open)
                error = moveAside(open);
            else if (S_ISDIR(target.st_mode))
                error = call([&] { return m_smb.rmdir(to) == 0 ? 0 : lastError(); });
            else
                error = call([&] { return m_smb.unlink(to) == 0 ? 0 : lastError(); });
            if (error == EACCES && S_ISDIR(target.st_mode))
                error = ENOTEMPTY;
            if (error) {
                fuse_reply_err(req, error);
                return;
            }
            dropPath(to);
        }
        Inode* moving = nullptr;
        {
            std::lock_guard lock(m_inodesMutex);
            if (auto it = m_byPath.find(from); it != m_byPath.end())
                moving = inode(it->second);
        }
        error = call([&] { return m_smb.rename(from, to) == 0 ? 0 : lastError(); });
        if ((error == EACCES || error == EBUSY) && moving && moving->opens > 0) {
            closeHandlesOf(moving);
            error = call([&] { return m_smb.rename(from, to) == 0 ? 0 : lastError(); });
            if (!error)
                movePath(from, to);
            reopenHandlesOf(moving);
        } else if (!error) {
            movePath(from, to);
        }
        if (!error) {
            touchFolderOf(from);
            touchFolderOf(to);
        }
        fuse_reply_err(req, error);
    });
}

void FileSystem::open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    const int accmode = fi->flags & O_ACCMODE;
    if ((accmode != O_RDONLY || (fi->flags & O_TRUNC)) && refuseReadOnly(req))
        return;
    if (refuseOffline(req))
        return;
    fuse_file_info info = *fi;
    post(req, [this, req, ino, info]() mutable {
        std::string path;
        Inode* node = nullptr;
        {
            std::lock_guard lock(m_inodesMutex);
            node = inode(ino);
            if (node)
                path = node->path;
        }
        if (!node) {
            fuse_reply_err(req, ESTALE);
            return;
        }
        SMBCFILE* file = nullptr;
        int used = 0;
        const int error = openOnServer(path, info.flags, 0, file, used);
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        auto* handle = new Handle;
        handle->inode = node;
        handle->file = file;
        handle->flags = used;
        handle->reportedSeq = node->errorSeq;
        {
            std::lock_guard lock(m_inodesMutex);
            ++node->opens;
            if (info.flags & O_TRUNC)
                ++node->generation;
        }
        m_handles.insert(handle);
        ++m_openFiles;
        info.fh = reinterpret_cast<uint64_t>(handle);
        info.keep_cache = 0;
        info.direct_io = 0;
        if (fuse_reply_open(req, &info) != 0) {
            // The opener is gone (interrupted): nobody will release it.
            release(nullptr, &info);
        }
    });
}

void FileSystem::create(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, fuse_file_info* fi)
{
    std::string path;
    if (!childPath(req, parent, name, path) || refuseReadOnly(req) || refuseOffline(req))
        return;
    if (isAside(name)) {
        fuse_reply_err(req, EPERM);
        return;
    }
    fuse_file_info info = *fi;
    post(req, [this, req, path, mode, info]() mutable {
        SMBCFILE* file = nullptr;
        int used = 0;
        int error = openOnServer(path, info.flags | O_CREAT, mode, file, used);
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        noteMade(path);
        struct stat st {};
        if (info.flags & O_EXCL) {
            // Made just now: empty, and its times are now.
            st.st_mode = S_IFREG | 0644;
            ::clock_gettime(CLOCK_REALTIME, &st.st_mtim);
            st.st_atim = st.st_ctim = st.st_mtim;
        } else {
            error = call([&] { return m_smb.fstat(file, st) == 0 ? 0 : lastError(); });
        }
        if (error)
            error = call([&] { return m_smb.stat(path, st) == 0 ? 0 : lastError(); });
        if (error) {
            call([&] { return m_smb.close(file) == 0 ? 0 : lastError(); });
            fuse_reply_err(req, error);
            return;
        }
        const fuse_entry_param entry = entryFor(path, st);
        auto* handle = new Handle;
        {
            std::lock_guard lock(m_inodesMutex);
            handle->inode = inode(entry.ino);
            handle->reportedSeq = handle->inode->errorSeq;
            ++handle->inode->opens;
            ++handle->inode->generation;
        }
        handle->file = file;
        handle->flags = used & ~(O_CREAT | O_EXCL | O_TRUNC);
        m_handles.insert(handle);
        ++m_openFiles;
        info.fh = reinterpret_cast<uint64_t>(handle);
        info.keep_cache = 0;
        info.direct_io = 0;
        if (fuse_reply_create(req, &entry, &info) != 0) {
            forget(entry.ino, 1);
            release(nullptr, &info);
        }
    });
}

bool FileSystem::readAhead(fuse_req_t req, Handle* handle, size_t size, off_t offset, uint64_t generation)
{
    // With the handle's read-ahead mutex held.
    auto holds = [&](off_t start, size_t length, bool eof) {
        const off_t end = start + static_cast<off_t>(length);
        return length > 0 && offset >= start && (offset + static_cast<off_t>(size) <= end || (eof && offset <= end));
    };
    if (handle->aheadGeneration != generation)
        handle->aheadSize = 0;
    if (handle->nextGeneration != generation)
        handle->nextSize = 0;
    if (!holds(handle->aheadStart, handle->aheadSize, handle->aheadEof)) {
        if (!holds(handle->nextStart, handle->nextSize, handle->nextEof))
            return false;
        std::swap(handle->ahead, handle->next);
        std::swap(handle->aheadCapacity, handle->nextCapacity);
        handle->aheadSize = handle->nextSize;
        handle->aheadStart = handle->nextStart;
        handle->aheadEof = handle->nextEof;
        handle->aheadGeneration = handle->nextGeneration;
        handle->nextSize = 0;
        prefetch(handle);
    }
    const size_t skip = static_cast<size_t>(offset - handle->aheadStart);
    const size_t count = std::min(size, handle->aheadSize - std::min(skip, handle->aheadSize));
    handle->nextOffset = offset + static_cast<off_t>(count);
    fuse_reply_buf(req, handle->ahead.get() + skip, count);
    return true;
}

void FileSystem::measured(size_t bytes, int64_t nanos)
{
    // The watchdog bounds each job by the time since its last exchange that moved data.
    if (m_jobStarted.load())
        m_jobStarted.store(steadyNow());
    if (bytes < kSmallestExchange || nanos <= 0)
        return;
    const double rate = static_cast<double>(bytes) * kNanos / static_cast<double>(nanos);
    m_bytesPerSecond = m_bytesPerSecond > 0 ? (m_bytesPerSecond + rate) / 2 : rate;
    // A quarter of the bound: room for a link that slows down, and for the server's own work.
    const double budget = m_bytesPerSecond * std::max(1, m_options.timeoutSeconds) / 4;
    const auto fit = [&](size_t low, size_t high) {
        return budget >= static_cast<double>(high) ? high : std::max(low, static_cast<size_t>(budget) / low * low);
    };
    m_exchange = fit(kSmallestExchange, kReadAhead);
    m_readAhead.store(fit(kMaxTransfer, kReadAhead));
}

ssize_t FileSystem::inExchanges(size_t size, const std::function<ssize_t(size_t done, size_t part)>& exchange)
{
    size_t done = 0;
    while (done < size) {
        const size_t part = std::min(m_exchange, size - done);
        const int64_t started = steadyNow();
        const ssize_t moved = exchange(done, part);
        if (moved < 0)
            return -1;
        measured(static_cast<size_t>(moved), steadyNow() - started);
        done += static_cast<size_t>(moved);
        if (static_cast<size_t>(moved) < part)
            break; // the end of the file, or the rest is the caller's
    }
    return static_cast<ssize_t>(done);
}

ssize_t FileSystem::readFromServer(SMBCFILE* file, char* buffer, size_t size, off_t offset)
{
    return inExchanges(size, [&](size_t done, size_t part) {
        return m_smb.pread(file, buffer + done, part, offset + static_cast<off_t>(done));
    });
}

ssize_t FileSystem::writeToServer(SMBCFILE* file, const char* buffer, size_t size, off_t offset)
{
    return inExchanges(size, [&](size_t done, size_t part) {
        return m_smb.pwrite(file, buffer + done, part, offset + static_cast<off_t>(done));
    });
}

void FileSystem::prefetch(Handle* handle)
{
    // With the handle's read-ahead mutex held. The job runs before the handle's release: the
    // kernel releases a file only after its reads are answered, and this is queued before.
    if (handle->prefetching || handle->aheadEof || handle->aheadSize < kMaxTransfer)
        return;
    handle->prefetching = true;
    // The block is filled without the mutex: nothing may take it over meanwhile.
    handle->nextSize = 0;
    const off_t start = handle->aheadStart + static_cast<off_t>(handle->aheadSize);
    const uint64_t generation = handle->aheadGeneration;
    const size_t want = m_readAhead.load();
    post([this, handle, start, generation, want] {
        ssize_t got = -1;
        if (handle->nextCapacity < kReadAhead) {
            handle->next.reset(new char[kReadAhead]);
            handle->nextCapacity = kReadAhead;
        }
        if (!handle->error && handle->file && m_online.load()) {
            const int error = call([&] {
                if (!handle->file)
                    return EIO;
                got = readFromServer(handle->file, handle->next.get(), want, start);
                return got < 0 ? lastError() : 0;
            });
            if (error)
                got = -1;
        }
        std::lock_guard lock(handle->aheadMutex);
        handle->prefetching = false;
        if (got > 0) {
            handle->nextStart = start;
            handle->nextSize = static_cast<size_t>(got);
            handle->nextEof = static_cast<size_t>(got) < want;
            handle->nextGeneration = generation;
        }
    });
}

void FileSystem::read(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi)
{
    auto* handle = reinterpret_cast<Handle*>(fi->fh);
    uint64_t generation = 0;
    {
        std::lock_guard lock(m_inodesMutex);
        generation = handle->inode->generation;
    }
    {
        std::lock_guard lock(handle->aheadMutex);
        if (!handle->error && readAhead(req, handle, size, offset, generation))
            return;
    }
    post(req, [this, req, size, offset, handle] {
        if (handle->error || !handle->file) {
            fuse_reply_err(req, handle->error ? handle->error : EIO);
            return;
        }
        uint64_t generation = 0;
        off_t knownSize = -1;
        {
            std::lock_guard lock(m_inodesMutex);
            generation = handle->inode->generation;
            knownSize = handle->inode->size;
        }
        std::lock_guard aheadLock(handle->aheadMutex);
        if (readAhead(req, handle, size, offset, generation))
            return;
        // A read that continues the last one fetches ahead in one large exchange, no further
        // than the file's end as last seen (it is only a bound on the extra).
        const bool sequential = offset == handle->nextOffset || (offset == 0 && handle->nextOffset < 0);
        const size_t aheadLimit = m_readAhead.load();
        size_t want = sequential ? std::max(size, aheadLimit) : size;
        // Not past it either: a read that reaches past the end costs another exchange.
        if (knownSize >= 0 && want > size)
            want = std::max(size, knownSize > offset ? static_cast<size_t>(knownSize - offset) : size_t(0));
        want = std::min(want, std::max(size, aheadLimit));
        if (handle->aheadCapacity < want) {
            handle->ahead.reset(new char[want]);
            handle->aheadCapacity = want;
        }
        ssize_t got = 0;
        const int error = call([&] {
            if (!handle->file)
                return EIO;
            got = readFromServer(handle->file, handle->ahead.get(), want, offset);
            return got < 0 ? lastError() : 0;
        });
        if (error) {
            handle->aheadSize = 0;
            fuse_reply_err(req, error);
            return;
        }
        handle->aheadSize = static_cast<size_t>(got);
        handle->aheadStart = offset;
        handle->aheadEof = static_cast<size_t>(got) < want;
        handle->aheadGeneration = generation;
        if (sequential)
            prefetch(handle);
        // At or past the end nothing is held: the answer is what was read, maybe nothing.
        if (!readAhead(req, handle, size, offset, generation))
            fuse_reply_buf(req, handle->ahead.get(), std::min(size, static_cast<size_t>(got)));
    });
}

void FileSystem::write(fuse_req_t req, fuse_ino_t, const char* data, size_t size, off_t offset, fuse_file_info* fi)
{
    // Not refused while offline: the data is kept to be written again after the reconnect.
    if (refuseReadOnly(req))
        return;
    auto* handle = reinterpret_cast<Handle*>(fi->fh);
    {
        // At once: a read answered from the read-ahead must not miss a write already received.
        std::lock_guard lock(m_inodesMutex);
        ++handle->inode->generation;
    }
    auto pending = std::make_shared<Write>();
    pending->handle = handle;
    pending->offset = offset;
    bool answered = false;
    {
        std::lock_guard lock(m_queueMutex);
        answered = m_answeredBytes + size <= kMaxAnswered;
        if (answered)
            m_answeredBytes += size;
        if (size >= kMaxTransfer && !m_spareBuffers.empty()) {
            pending->data = std::move(m_spareBuffers.back());
            m_spareBuffers.pop_back();
        }
    }
    pending->data.assign(data, data + size);
    pending->req = answered ? nullptr : req;
    post([this, pending] { send(*pending); });
    if (answered)
        fuse_reply_write(req, size);
}

void FileSystem::send(Write& pending)
{
    Handle* handle = pending.handle;
    const off_t offset = pending.offset;
    const size_t size = pending.data.size();
    ssize_t written = 0;
    int error = handle->error ? handle->error : resend(handle);
    if (!error) {
        error = call([&] {
            if (!handle->file)
                return EIO;
            written = writeToServer(handle->file, pending.data.data(), size, offset);
            handle->wrote = true;
            return written < 0 ? lastError() : 0;
        });
    }
    if (!error && static_cast<size_t>(written) < size) {
        // The kernel took the whole page as written: keep the rest.
        std::vector<char> rest(pending.data.begin() + written, pending.data.end());
        keepUnsent(handle, offset + written, std::move(rest), EIO);
        written = static_cast<ssize_t>(size);
    }
    if (error)
        keepUnsent(handle, offset, std::move(pending.data), error);
    {
        std::lock_guard lock(m_inodesMutex);
        ++handle->inode->generation;
        if (!error && handle->inode->size >= 0)
            handle->inode->size = std::max<off_t>(handle->inode->size, offset + written);
    }
    // A write answered already that failed here is reported by the flush, as one kept for later.
    if (pending.req && error)
        fuse_reply_err(pending.req, error);
    else if (pending.req)
        fuse_reply_write(pending.req, size);
    std::lock_guard lock(m_queueMutex);
    if (!pending.req)
        m_answeredBytes -= size;
    if (pending.data.capacity() >= kMaxTransfer && m_spareBuffers.size() < kSpareBuffers) {
        pending.data.clear();
        m_spareBuffers.push_back(std::move(pending.data));
    }
}

void FileSystem::flush(fuse_req_t req, fuse_file_info* fi)
{
    // Every write went to the server before it was answered; queued behind them, this answers
    // once they are all done.
    auto* handle = reinterpret_cast<Handle*>(fi->fh);
    post(req, [this, req, handle] {
        int error = resend(handle);
        if (!error)
            error = handle->error;
        Inode* node = handle->inode;
        if (!error && handle->reportedSeq != node->errorSeq) {
            error = node->writeError ? node->writeError : EIO;
            handle->reportedSeq = node->errorSeq;
        }
        fuse_reply_err(req, error);
    });
}

int FileSystem::resend(Handle* handle)
{
    Inode* node = handle->inode;
    if (!node->unsent.empty() && (handle->flags & O_ACCMODE) == O_RDONLY) {
        // Kept from another handle of the file: written through one that can write.
        for (Handle* other : m_handles) {
            if (other->inode == node && other->file && !other->error && (other->flags & O_ACCMODE) != O_RDONLY) {
                handle = other;
                break;
            }
        }
    }
    while (!node->unsent.empty()) {
        Inode::Unsent& first = node->unsent.front();
        const int error = call([&] {
            if (!handle->file || handle->error)
                return EIO;
            const ssize_t written = writeToServer(handle->file, first.data.data(), first.data.size(), first.offset);
            return written == static_cast<ssize_t>(first.data.size()) ? 0 : written < 0 ? lastError() : EIO;
        });
        if (error && (error == EIO || Smb::isConnectionError(error)))
            return error;
        if (error) {
            // Refused by the server now: lost, and reported to every handle.
            node->writeError = error;
            ++node->errorSeq;
        }
        handle->wrote = true;
        m_unsentBytes -= first.data.size();
        node->unsent.erase(node->unsent.begin());
        std::lock_guard lock(m_inodesMutex);
        ++node->generation;
    }
    return 0;
}

void FileSystem::resendAll()
{
    for (Handle* handle : m_handles) {
        if (!handle->inode->unsent.empty() && handle->file && !handle->error && (handle->flags & O_ACCMODE) != O_RDONLY)
            resend(handle);
    }
}

void FileSystem::keepUnsent(Handle* handle, off_t offset, std::vector<char>&& data, int error)
{
    Inode* node = handle->inode;
    const bool lostConnection = error == EIO || Smb::isConnectionError(error);
    if (lostConnection && m_unsentBytes + data.size() <= kMaxUnsent) {
        m_unsentBytes += data.size();
        node->unsent.push_back({offset, std::move(data)});
        return;
    }
    // Refused by the server, or too much held already: lost, and reported to every handle.
    node->writeError = error;
    ++node->errorSeq;
}

void FileSystem::dropUnsent(Inode* node)
{
    for (const Inode::Unsent& unsent : node->unsent)
        m_unsentBytes -= unsent.data.size();
    node->unsent.clear();
}

bool FileSystem::writing(const Inode* node) const
{
    for (const Handle* handle : m_handles) {
        if (handle->inode == node && (handle->flags & O_ACCMODE) != O_RDONLY)
            return true;
    }
    return false;
}

void FileSystem::release(fuse_req_t req, fuse_file_info* fi)
{
    auto* handle = reinterpret_cast<Handle*>(fi->fh);
    auto job = [this, req, handle] {
        Inode* node = handle->inode;
        int error = resend(handle);
        if (handle->file) {
            const int closed = call([&] {
                if (!handle->file)
                    return 0;
                const int result = m_smb.close(handle->file) == 0 ? 0 : lastError();
                handle->file = nullptr;
                return result;
            });
            if (!error)
                error = closed;
        }
        handle->file = nullptr;
        m_handles.erase(handle);
        --m_openFiles;
        delete handle;
        if (m_handles.empty()) {
            std::lock_guard lock(m_queueMutex);
            m_spareBuffers.clear();
        }
        std::string aside;
        std::string path;
        int opens = 0;
        {
            std::lock_guard lock(m_inodesMutex);
            opens = --node->opens;
            if (node->opens == 0 && node->unlinked)
                aside = node->path;
            path = node->path;
        }
        if (node->keepTimes && !writing(node)) {
            node->keepTimes = false;
            if (aside.empty())
                call([&] { return m_smb.utimes(path, node->keptTimes) == 0 ? 0 : lastError(); });
        }
        if (opens == 0) {
            // Reported by the flush before this release.
            dropUnsent(node);
            node->writeError = 0;
        }
        if (!aside.empty())
            call([&] { return m_smb.unlink(aside) == 0 ? 0 : lastError(); });
        {
            std::lock_guard lock(m_inodesMutex);
            maybeErase(node);
        }
        if (req)
            fuse_reply_err(req, error);
    };
    if (req)
        post(job);
    else
        job(); // already on the SMB thread
}

void FileSystem::opendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    if (refuseOffline(req))
        return;
    fuse_file_info info = *fi;
    post(req, [this, req, ino, info]() mutable {
        auto dir = std::make_unique<DirHandle>();
        dir->path = pathOf(ino);
        const int error = call([&] {
            dir->entries.clear();
            SMBCFILE* listing = m_smb.opendir(dir->path);
            if (!listing)
                return lastError();
            struct stat st {};
            for (;;) {
                errno = 0;
                const libsmb_file_info* info = m_smb.readdirplus(listing, st);
                if (!info)
                    break;
                const char* name = info->name;
                if (!name || !std::strcmp(name, ".") || !std::strcmp(name, "..") || isAside(name))
                    continue;
                dir->entries.push_back({name, st});
            }
            const int readError = errno;
            m_smb.closedir(listing);
            return Smb::isConnectionError(readError) ? readError : 0;
        });
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        info.fh = reinterpret_cast<uint64_t>(dir.release());
        info.cache_readdir = 0;
        if (fuse_reply_open(req, &info) != 0)
            delete reinterpret_cast<DirHandle*>(info.fh);
    });
}

void FileSystem::readdir(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi, bool plus)
{
    auto* dir = reinterpret_cast<DirHandle*>(fi->fh);
    std::vector<char> buffer(size);
    size_t used = 0;
    for (size_t i = static_cast<size_t>(offset); i < dir->entries.size(); ++i) {
        const DirEntry& entry = dir->entries[i];
        const off_t next = static_cast<off_t>(i + 1);
        size_t needed = 0;
        if (plus) {
            fuse_entry_param param = entryFor(dir->path + "/" + entry.name, entry.st);
            needed = fuse_add_direntry_plus(req, buffer.data() + used, size - used, entry.name.c_str(), &param, next);
            if (needed > size - used) {
                forget(param.ino, 1);
                break;
            }
        } else {
            struct stat st {};
            st.st_mode = S_ISDIR(entry.st.st_mode) ? S_IFDIR : S_IFREG;
            st.st_ino = 0xffffffff;
            needed = fuse_add_direntry(req, buffer.data() + used, size - used, entry.name.c_str(), &st, next);
            if (needed > size - used)
                break;
        }
        used += needed;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void FileSystem::releasedir(fuse_req_t req, fuse_file_info* fi)
{
    delete reinterpret_cast<DirHandle*>(fi->fh);
    fuse_reply_err(req, 0);
}

void FileSystem::statfs(fuse_req_t req)
{
    if (refuseOffline(req))
        return;
    post(req, [this, req] {
        struct statvfs st {};
        const int error = call([&] { return m_smb.statvfs(st) == 0 ? 0 : lastError(); });
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        st.f_namemax = kNameMax;
        if (m_options.readOnly)
            st.f_flag |= ST_RDONLY;
        fuse_reply_statfs(req, &st);
    });
}

const fuse_lowlevel_ops& FileSystem::operations()
{
    static const fuse_lowlevel_ops ops = [] {
        fuse_lowlevel_ops o{};
        o.init = [](void* data, fuse_conn_info* conn) { static_cast<FileSystem*>(data)->init(conn); };
        o.lookup = [](fuse_req_t req, fuse_ino_t parent, const char* name) { self(req)->lookup(req, parent, name); };
        o.forget = [](fuse_req_t req, fuse_ino_t ino, uint64_t n) {
            self(req)->forget(ino, n);
            fuse_reply_none(req);
        };
        o.forget_multi = [](fuse_req_t req, size_t count, fuse_forget_data* list) {
            for (size_t i = 0; i < count; ++i)
                self(req)->forget(list[i].ino, list[i].nlookup);
            fuse_reply_none(req);
        };
        o.getattr = [](fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) { self(req)->getattr(req, ino, fi); };
        o.setattr = [](fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet, fuse_file_info* fi) {
            self(req)->setattr(req, ino, attr, toSet, fi);
        };
        o.readlink = [](fuse_req_t req, fuse_ino_t) { fuse_reply_err(req, EINVAL); };
        o.mknod = [](fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, dev_t) {
            self(req)->mknod(req, parent, name, mode);
        };
        o.mkdir = [](fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode) {
            self(req)->mkdir(req, parent, name, mode);
        };
        o.unlink = [](fuse_req_t req, fuse_ino_t parent, const char* name) { self(req)->unlink(req, parent, name); };
        o.rmdir = [](fuse_req_t req, fuse_ino_t parent, const char* name) { self(req)->rmdir(req, parent, name); };
        o.symlink = [](fuse_req_t req, const char*, fuse_ino_t, const char*) { fuse_reply_err(req, EPERM); };
        o.link = [](fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) { fuse_reply_err(req, EPERM); };
        o.rename = [](fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
                       unsigned flags) { self(req)->rename(req, parent, name, newParent, newName, flags); };
        o.open = [](fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) { self(req)->open(req, ino, fi); };
        o.read = [](fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info* fi) {
            self(req)->read(req, ino, size, off, fi);
        };
        o.write = [](fuse_req_t req, fuse_ino_t ino, const char* buf, size_t size, off_t off, fuse_file_info* fi) {
            self(req)->write(req, ino, buf, size, off, fi);
        };
        o.flush = [](fuse_req_t req, fuse_ino_t, fuse_file_info* fi) { self(req)->flush(req, fi); };
        o.fsync = [](fuse_req_t req, fuse_ino_t, int, fuse_file_info* fi) { self(req)->flush(req, fi); };
        o.release = [](fuse_req_t req, fuse_ino_t, fuse_file_info* fi) { self(req)->release(req, fi); };
        o.opendir = [](fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) { self(req)->opendir(req, ino, fi); };
        o.readdir = [](fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info* fi) {
            self(req)->readdir(req, ino, size, off, fi, false);
        };
        o.readdirplus = [](fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info* fi) {
            self(req)->readdir(req, ino, size, off, fi, true);
        };
        o.releasedir = [](fuse_req_t req, fuse_ino_t, fuse_file_info* fi) { self(req)->releasedir(req, fi); };
        o.fsyncdir = [](fuse_req_t req, fuse_ino_t, int, fuse_file_info*) { fuse_reply_err(req, 0); };
        o.statfs = [](fuse_req_t req, fuse_ino_t) { self(req)->statfs(req); };
        // No extended attributes: ENOSYS makes the kernel answer ENOTSUP itself from then on,
        // which spares `ls -l` two round trips per file.
        o.setxattr = [](fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) {
            fuse_reply_err(req, ENOSYS);
        };
        o.getxattr = [](fuse_req_t req, fuse_ino_t, const char*, size_t) { fuse_reply_err(req, ENOSYS); };
        o.listxattr = [](fuse_req_t req, fuse_ino_t, size_t) { fuse_reply_err(req, ENOSYS); };
        o.removexattr = [](fuse_req_t req, fuse_ino_t, const char*) { fuse_reply_err(req, ENOSYS); };
        o.create = [](fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, fuse_file_info* fi) {
            self(req)->create(req, parent, name, mode, fi);
        };
        return o;
    }();
    return ops;
}

} // namespace vantrel::smbfs
