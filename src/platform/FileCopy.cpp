#include "platform/FileCopy.h"

#include <QFile>

#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

FileCopy::Result failed(FileCopy::Failure failure, int error)
{
    return FileCopy::Result{FileCopy::Step::failed, failure, error};
}

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

FileCopy::FileCopy(const QString& sourcePath, const QString& destinationPath, qint64 chunkSize, Sync sync, Read read)
    : m_sourcePath(QFile::encodeName(sourcePath))
    , m_destinationPath(QFile::encodeName(destinationPath))
    , m_chunkSize(chunkSize)
    , m_sync(std::move(sync))
    , m_read(std::move(read))
    , m_useCopyRange(!m_read)
{
}

FileCopy::~FileCopy()
{
    closeBoth();
}

int FileCopy::flushToStorage(int fd)
{
    return ::fsync(fd);
}

void FileCopy::closeBoth()
{
    // Errors of these closes are of no use: the copy already ended.
    if (m_source >= 0)
        ::close(m_source);
    if (m_destination >= 0)
        ::close(m_destination);
    m_source = m_destination = -1;
}

void FileCopy::discard()
{
    if (m_discarded)
        return;
    m_discarded = true;
    closeBoth();
    ::unlink(m_destinationPath.constData());
}

FileCopy::Result FileCopy::open()
{
    // Non-blocking, so that opening a pipe without a writer returns at once instead of waiting.
    m_source = ::open(m_sourcePath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_source < 0)
        return failed(Failure::openSource, errno);
    struct stat sourceType {};
    if (::fstat(m_source, &sourceType) != 0) {
        const int error = errno;
        closeBoth();
        return failed(Failure::openSource, error);
    }
    if (!S_ISREG(sourceType.st_mode)) {
        closeBoth();
        return failed(Failure::notRegularFile, 0);
    }
    ::fcntl(m_source, F_SETFL, ::fcntl(m_source, F_GETFL) & ~O_NONBLOCK);

    std::error_code ec;
    const std::filesystem::path destination(m_destinationPath.toStdString());
    std::filesystem::create_directories(destination.parent_path(), ec);
    if (ec) {
        closeBoth();
        return failed(Failure::createFolder, ec.value());
    }

    struct stat existing {};
    if (::lstat(m_destinationPath.constData(), &existing) == 0) {
        // Removing the destination would destroy the very file about to be read.
        struct stat sourceStat {};
        if (::fstat(m_source, &sourceStat) == 0 && sourceStat.st_dev == existing.st_dev
            && sourceStat.st_ino == existing.st_ino) {
            closeBoth();
            return failed(Failure::sameFile, 0);
        }
        // A folder of that name is never deleted in passing: unlink refuses it.
        if (::unlink(m_destinationPath.constData()) != 0) {
            const int error = errno;
            closeBoth();
            return failed(Failure::removeExisting, error);
        }
    }

    // Exclusive: whatever appeared in the meantime (a pipe, a link) is not written into.
    m_destination = ::open(m_destinationPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (m_destination < 0) {
        const int error = errno;
        closeBoth();
        return failed(Failure::openDestination, error);
    }
    return Result{};
}

std::variant<qint64, FileCopy::Result> FileCopy::copyChunk()
{
    if (m_useCopyRange) {
        // In-kernel copy: no trip through user space, and a server-side copy on shares that offer it.
        ssize_t n;
        do {
            n = ::copy_file_range(m_source, nullptr, m_destination, nullptr, static_cast<size_t>(m_chunkSize), 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            return qint64(n);
        // 0 is also what some file systems answer instead of copying, and errors here do not say
        // which side failed: plain reads and writes decide, from the same position.
        m_useCopyRange = false;
    }
    if (m_buffer.empty())
        m_buffer.resize(static_cast<size_t>(m_chunkSize));
    ssize_t n;
    do {
        n = m_read ? m_read(m_source, m_buffer.data(), m_buffer.size())
                   : ::read(m_source, m_buffer.data(), m_buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return failed(Failure::read, errno);
    if (n > 0 && !writeAll(m_destination, m_buffer.data(), n))
        return failed(Failure::write, errno);
    return qint64(n);
}

FileCopy::Result FileCopy::run(const std::function<void(qint64 copied)>& progress)
{
    for (;;) {
        if (m_cancelRequested.load()) {
            discard();
            return Result{Step::cancelled};
        }
        if (m_pauseRequested.load())
            return Result{Step::paused};

        const auto chunk = copyChunk();
        if (const auto* failure = std::get_if<Result>(&chunk)) {
            closeBoth();
            return *failure;
        }
        const qint64 n = std::get<qint64>(chunk);
        if (n == 0)
            break;
        m_copied += n;
        progress(m_copied);
    }

    // On a network share a full disk shows only here. Such a file is not kept as if it were whole.
    int error = 0;
    if (m_sync(m_destination) != 0)
        error = errno;
    if (::close(m_destination) != 0 && error == 0)
        error = errno;
    m_destination = -1;
    closeBoth();
    if (error != 0) {
        ::unlink(m_destinationPath.constData());
        return failed(Failure::finish, error);
    }
    return Result{};
}

bool isSameFile(const QString& first, const QString& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(QFile::encodeName(first).constData(), &a) == 0
        && ::stat(QFile::encodeName(second).constData(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace vantrel
