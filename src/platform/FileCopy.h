#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>

#include <sys/types.h>
#include <variant>
#include <vector>

namespace vantrel {

// One file copied chunk by chunk through plain descriptors: in-kernel where the file systems allow
// it, reads and writes otherwise. The descriptors and the position live here between steps, so a
// paused copy holds no thread. Every step may block on a share for minutes: run them on a worker,
// one at a time. The two requests may come from any thread; a running step honours them at its
// next chunk boundary.
class FileCopy final {
public:
    enum class Step { finished, paused, cancelled, failed };
    // Which operation failed, so that the caller can word the message.
    enum class Failure {
        none,
        openSource,
        notRegularFile,
        createFolder,
        sameFile,
        removeExisting,
        openDestination,
        read,
        write,
        finish
    };
    struct Result {
        Step step = Step::finished;
        Failure failure = Failure::none;
        int error = 0; // errno of the call that failed
    };
    // Flushes a descriptor to its storage: 0, or -1 with errno set.
    using Sync = std::function<int(int fd)>;
    // Reads up to size bytes of the source as read(2) does. Given one, the copy reads only through
    // it (never in-kernel).
    using Read = std::function<ssize_t(int fd, char* buffer, size_t size)>;

    FileCopy(const QString& sourcePath, const QString& destinationPath, qint64 chunkSize, Sync sync = flushToStorage,
        Read read = {});
    ~FileCopy();
    FileCopy(const FileCopy&) = delete;
    FileCopy& operator=(const FileCopy&) = delete;

    // fsync.
    static int flushToStorage(int fd);

    // Opens the source and replaces the destination with an empty file, making its folder first.
    // Only a regular file is copied: a pipe would block for ever and a device never end.
    Result open();
    // Copies until the end of the source, a failure, or a request; after every chunk, progress
    // gets the number of bytes copied so far. The copy is complete only once its data reached
    // storage and the file closed cleanly; a file that did not is removed.
    Result run(const std::function<void(qint64 copied)>& progress);
    // Ends a cancelled copy: its partial file goes away.
    void discard();
    bool isOpen() const { return m_source >= 0 || m_destination >= 0; }

    void setCancelRequested(bool on) { m_cancelRequested = on; }
    void setPauseRequested(bool on) { m_pauseRequested = on; }

private:
    // Bytes copied (0 at the end of the source), or the failure.
    std::variant<qint64, Result> copyChunk();
    void closeBoth();

    QByteArray m_sourcePath;
    QByteArray m_destinationPath;
    qint64 m_chunkSize;
    Sync m_sync;
    Read m_read;
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_pauseRequested{false};

    int m_source = -1;
    int m_destination = -1;
    qint64 m_copied = 0;
    bool m_useCopyRange = true;
    bool m_discarded = false;
    std::vector<char> m_buffer;
};

// Both paths name one file (the same device and inode once links are followed), whatever way each
// path reaches it. False when either cannot be examined. Blocking: the paths may lie on a share.
bool isSameFile(const QString& first, const QString& second);

} // namespace vantrel
