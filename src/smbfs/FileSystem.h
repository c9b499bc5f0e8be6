#pragma once

#define FUSE_USE_VERSION 34
#include <fuse_lowlevel.h>

#include "Absences.h"
#include "Options.h"
#include "Smb.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vantrel::smbfs {

// The FUSE side of the mount. Requests arrive on the FUSE thread, which answers what needs no
// server at once and hands everything else to the one SMB thread.
class FileSystem {
public:
    FileSystem(const Options& options, Smb& smb);
    ~FileSystem();
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;

    static const fuse_lowlevel_ops& operations();

    void startSmbThread();
    void stopSmbThread();
    void closeAll();
    void runOnSmbThread(std::function<void()> job) { post(std::move(job)); }

    bool online() const { return m_online.load(); }
    int openFiles() const { return m_openFiles.load(); }
    // Called once from the FUSE thread when the kernel has initialised the mount.
    std::function<void()> onMounted;

    // Requests; each replies to req itself (possibly later, from the SMB thread).
    void init(fuse_conn_info* conn);
    void lookup(fuse_req_t req, fuse_ino_t parent, const char* name);
    void forget(fuse_ino_t ino, uint64_t count);
    void getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    void setattr(fuse_req_t req, fuse_ino_t ino, const struct stat* attr, int toSet, fuse_file_info* fi);
    void mkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode);
    void mknod(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode);
    void unlink(fuse_req_t req, fuse_ino_t parent, const char* name);
    void rmdir(fuse_req_t req, fuse_ino_t parent, const char* name);
    void rename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
        unsigned flags);
    void open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    void create(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, fuse_file_info* fi);
    void read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi);
    void write(fuse_req_t req, fuse_ino_t ino, const char* data, size_t size, off_t offset, fuse_file_info* fi);
    void flush(fuse_req_t req, fuse_file_info* fi);
    void release(fuse_req_t req, fuse_file_info* fi);
    void opendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi);
    void readdir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi, bool plus);
    void releasedir(fuse_req_t req, fuse_file_info* fi);
    void statfs(fuse_req_t req);

    static constexpr size_t kMaxTransfer = 1024 * 1024;
    static constexpr size_t kReadAhead = 4 * 1024 * 1024;
    static constexpr size_t kMaxUnsent = 128 * 1024 * 1024;
    // Writes not yet sent that the kernel was told are done: its dirty-page accounting then
    // keeps sending while the server takes the last ones. A flush still waits for them all.
    static constexpr size_t kMaxAnswered = 32 * 1024 * 1024;
    static constexpr size_t kSpareBuffers = 8;
    // A slow link moves data in smaller exchanges, each well within the mount's time-out, so that
    // the watchdog sees progress; the first ones are small until the link's speed is known.
    static constexpr size_t kFirstExchange = 256 * 1024;
    static constexpr size_t kSmallestExchange = 64 * 1024;
    static constexpr const char* kAsidePrefix = ".vantrel-smbfs-deleted-";

private:
    struct Inode {
        fuse_ino_t ino = 0;
        std::string path; // "" for the root
        uint64_t lookups = 0;
        ino_t serverIno = 0;
        int opens = 0;
        bool unlinked = false;   // renamed aside; deleted with the last close
        uint64_t generation = 0; // counts changes of the content, for the read-ahead
        bool directory = false;
        off_t size = -1;     // as last seen; bounds the read-ahead
        struct stat last {}; // the server's attributes as last seen
        bool haveLast = false;
        int64_t lastSeen = 0; // steady clock ns when the server last gave them
        // Writes the server did not take, in order, written again before anything newer.
        struct Unsent {
            off_t offset;
            std::vector<char> data;
        };
        std::vector<Unsent> unsent;
        int writeError = 0;    // a write lost for good, reported once to every handle
        uint64_t errorSeq = 0; // counts such losses
        // Times set while the file is open for writing: the server moves the write time
        // when a writing handle closes, so they are set again after the last one.
        bool keepTimes = false;
        timeval keptTimes[2]{};
    };
    struct Handle {
        Inode* inode = nullptr;
        SMBCFILE* file = nullptr;
        int flags = 0;                 // as opened on the server, for reopening
        int error = 0;                 // the file was lost (server gone and not reopened)
        uint64_t reportedSeq = 0;      // the inode's write losses this handle reported
        std::mutex aheadMutex;         // the FUSE thread answers from the read-ahead without the SMB thread
        std::unique_ptr<char[]> ahead; // not zero-filled: most of it is often never used
        size_t aheadCapacity = 0;
        size_t aheadSize = 0;
        off_t aheadStart = 0;
        bool aheadEof = false;
        uint64_t aheadGeneration = 0;
        off_t nextOffset = -1;
        bool wrote = false;
        // The block after the read-ahead, fetched while the reader is served from it.
        std::unique_ptr<char[]> next;
        size_t nextCapacity = 0;
        size_t nextSize = 0;
        off_t nextStart = 0;
        bool nextEof = false;
        uint64_t nextGeneration = 0;
        bool prefetching = false;
    };
    struct DirEntry {
        std::string name;
        struct stat st;
    };
    struct DirHandle {
        std::string path;
        std::vector<DirEntry> entries;
    };

    bool readAhead(fuse_req_t req, Handle* handle, size_t size, off_t offset, uint64_t generation);
    // pread/pwrite in exchanges the link can carry within the bound; -1 with errno on failure.
    ssize_t readFromServer(SMBCFILE* file, char* buffer, size_t size, off_t offset);
    ssize_t writeToServer(SMBCFILE* file, const char* buffer, size_t size, off_t offset);
    ssize_t inExchanges(size_t size, const std::function<ssize_t(size_t done, size_t part)>& exchange);
    void measured(size_t bytes, int64_t nanos);
    void prefetch(Handle* handle);
    // A job with a request can be answered with an error without running, while the server
    // is gone or the SMB thread is stuck past the bound.
    void post(fuse_req_t req, std::function<void()> job);
    void post(std::function<void()> job);
    void watchdog();
    int resend(Handle* handle);
    void resendAll();
    void keepUnsent(Handle* handle, off_t offset, std::vector<char>&& data, int error);
    void dropUnsent(Inode* node);
    bool writing(const Inode* node) const;
    void smbLoop();
    // Runs op (returning 0 or an errno) on the SMB thread with the reconnect policy.
    int call(const std::function<int()>& op);
    bool reconnect();
    void goOffline();
    bool refuseOffline(fuse_req_t req);
    bool refuseReadOnly(fuse_req_t req);

    Inode* inode(fuse_ino_t ino);
    std::string pathOf(fuse_ino_t ino);
    bool childPath(fuse_req_t req, fuse_ino_t parent, const char* name, std::string& path);
    fuse_entry_param entryFor(const std::string& path, const struct stat& server);
    void fillAttr(struct stat& out, const struct stat& server, fuse_ino_t ino) const;
    void replyEntry(fuse_req_t req, const std::string& path, bool lookup = false);
    void remember(fuse_ino_t ino, const struct stat& server);
    // This mount made path just now (a folder: empty).
    void noteMade(const std::string& path, bool folder = false);
    void touchFolderOf(const std::string& path);
    bool answerAbsent(fuse_req_t req, const std::string& path);
    void dropPath(const std::string& path);
    void movePath(const std::string& from, const std::string& to);
    void maybeErase(Inode* node);
    int moveAside(Inode* node);
    void closeHandlesOf(Inode* node);
    void reopenHandlesOf(Inode* node);
    int openOnServer(const std::string& path, int flags, mode_t mode, SMBCFILE*& file, int& used);

    const Options& m_options;
    Smb& m_smb;

    std::mutex m_inodesMutex;
    std::unordered_map<fuse_ino_t, std::unique_ptr<Inode>> m_inodes;
    std::unordered_map<std::string, fuse_ino_t> m_byPath;
    std::unordered_map<ino_t, fuse_ino_t> m_byServerIno;
    Absences m_absences; // with the inode mutex held
    fuse_ino_t m_nextIno = FUSE_ROOT_ID + 1;
    uint64_t m_asideCounter = 0;

    std::set<Handle*> m_handles; // SMB thread only

    std::mutex m_queueMutex;
    std::condition_variable m_queueWake;
    struct Job {
        std::function<void()> run;
        fuse_req_t req = nullptr;
    };
    struct Write {
        Handle* handle = nullptr;
        off_t offset = 0;
        std::vector<char> data;
        fuse_req_t req = nullptr; // null when answered already
    };
    void send(Write& write);
    std::deque<Job> m_queue;
    bool m_stopping = false;
    std::thread m_smbThread;
    std::thread m_watchdogThread;
    std::condition_variable m_watchdogWake;
    std::atomic<int64_t> m_jobStarted{0}; // steady clock ns of the running job, 0 when idle
    std::atomic<bool> m_overdue{false};   // the running job is past the bound
    double m_bytesPerSecond = 0;          // SMB thread only; 0 until measured
    size_t m_exchange = kFirstExchange;   // SMB thread only
    std::atomic<size_t> m_readAhead{kMaxTransfer};
    size_t m_unsentBytes = 0;   // SMB thread only
    size_t m_answeredBytes = 0; // with the queue mutex held
    // Buffers of writes, used again while files are open: a fresh one costs a page fault per page.
    std::vector<std::vector<char>> m_spareBuffers; // with the queue mutex held

    std::atomic<bool> m_online{true};
    std::atomic<int> m_openFiles{0};
    bool m_writeback = false;
};

} // namespace vantrel::smbfs
