#include "files/TransferManager.h"

#include "files/RecentFilesManager.h"
#include "mounting/NotificationService.h"
#include "platform/Localization.h"
#include "platform/Threading.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace transfer_detail {

enum class Step { finished, paused, cancelled, failed };
// Which operation failed, so that the main thread can word the message.
enum class Failure { none, openSource, createFolder, sameFile, removeExisting, openDestination, read, write, finish };

struct StepResult {
    Step step = Step::finished;
    Failure failure = Failure::none;
    int error = 0;
};

// One file copy. The descriptors and the position live here between runs on the pool, so a
// paused copy holds no pool thread. The two flags mirror the manager's maps: the worker reads
// them at every chunk boundary without a round trip to the main thread.
struct CopyJob {
    QByteArray sourcePath;
    QByteArray destinationPath;
    qint64 chunkSize = TransferManager::chunkSize;
    std::function<int(int)> sync;
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> pauseRequested{false};

    int source = -1;
    int destination = -1;
    qint64 copied = 0;
    bool useCopyRange = true;
    bool discarded = false;
    std::vector<char> buffer;

    ~CopyJob() { closeBoth(); }

    void closeBoth()
    {
        // Errors of these closes are of no use: the copy already ended.
        if (source >= 0)
            ::close(source);
        if (destination >= 0)
            ::close(destination);
        source = destination = -1;
    }

    bool isOpen() const { return source >= 0 || destination >= 0; }

    // Ends a cancelled copy: its partial file goes away.
    void discard()
    {
        if (discarded)
            return;
        discarded = true;
        closeBoth();
        ::unlink(destinationPath.constData());
    }
};

namespace {

StepResult failed(Failure failure, int error)
{
    return StepResult{Step::failed, failure, error};
}

StepResult openFiles(CopyJob& job)
{
    job.source = ::open(job.sourcePath.constData(), O_RDONLY | O_CLOEXEC);
    if (job.source < 0)
        return failed(Failure::openSource, errno);

    std::error_code ec;
    const std::filesystem::path destination(job.destinationPath.toStdString());
    std::filesystem::create_directories(destination.parent_path(), ec);
    if (ec) {
        job.closeBoth();
        return failed(Failure::createFolder, ec.value());
    }

    struct stat existing {};
    if (::lstat(job.destinationPath.constData(), &existing) == 0) {
        // Removing the destination would destroy the very file about to be read.
        struct stat sourceStat {};
        if (::fstat(job.source, &sourceStat) == 0 && sourceStat.st_dev == existing.st_dev
            && sourceStat.st_ino == existing.st_ino) {
            job.closeBoth();
            return failed(Failure::sameFile, 0);
        }
        // A folder of that name is never deleted in passing: unlink refuses it.
        if (::unlink(job.destinationPath.constData()) != 0) {
            const int error = errno;
            job.closeBoth();
            return failed(Failure::removeExisting, error);
        }
    }

    job.destination = ::open(job.destinationPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (job.destination < 0) {
        const int error = errno;
        job.closeBoth();
        return failed(Failure::openDestination, error);
    }
    return StepResult{};
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

// Copies up to one chunk; the number of bytes, 0 at the end of the source, or a failure.
std::variant<qint64, StepResult> copyChunk(CopyJob& job)
{
    if (job.useCopyRange) {
        // In-kernel copy: no trip through user space, and a server-side copy on shares that offer it.
        ssize_t n;
        do {
            n = ::copy_file_range(job.source, nullptr, job.destination, nullptr, static_cast<size_t>(job.chunkSize), 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            return qint64(n);
        // 0 is also what some file systems answer instead of copying, and errors here do not say
        // which side failed: plain reads and writes decide, from the same position.
        job.useCopyRange = false;
    }
    if (job.buffer.empty())
        job.buffer.resize(static_cast<size_t>(job.chunkSize));
    ssize_t n;
    do {
        n = ::read(job.source, job.buffer.data(), job.buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return failed(Failure::read, errno);
    if (n > 0 && !writeAll(job.destination, job.buffer.data(), n))
        return failed(Failure::write, errno);
    return qint64(n);
}

// Runs chunks until the end of the source, a failure, or a pause or cancel request.
StepResult runChunks(CopyJob& job, const std::function<void(qint64)>& published)
{
    for (;;) {
        if (job.cancelRequested.load()) {
            job.discard();
            return StepResult{Step::cancelled};
        }
        if (job.pauseRequested.load())
            return StepResult{Step::paused};

        const auto chunk = copyChunk(job);
        if (const auto* failure = std::get_if<StepResult>(&chunk)) {
            job.closeBoth();
            return *failure;
        }
        const qint64 n = std::get<qint64>(chunk);
        if (n == 0)
            break;
        job.copied += n;
        published(job.copied);
    }

    // Complete only once the data reached storage and the file closed cleanly: on a network share
    // that is where a full disk shows. Such a file is not kept as if it were whole.
    int error = 0;
    if (job.sync(job.destination) != 0)
        error = errno;
    if (::close(job.destination) != 0 && error == 0)
        error = errno;
    job.destination = -1;
    job.closeBoth();
    if (error != 0) {
        ::unlink(job.destinationPath.constData());
        return failed(Failure::finish, error);
    }
    return StepResult{};
}

} // namespace

} // namespace transfer_detail

using namespace transfer_detail;

TransferManager::TransferManager(
    RecentFilesTracker& recentFiles, NotificationService& notifications, TransferTask::Clock clock, QObject* parent)
    : QObject(parent)
    , syncFile([](int fd) { return ::fsync(fd); })
    , m_recentFiles(recentFiles)
    , m_notifications(notifications)
    , m_clock(clock ? std::move(clock) : TransferTask::Clock(&TransferTask::systemNow))
{
}

TransferManager::~TransferManager()
{
    // Nobody is left to resume or retry these.
    for (TransferTask& task : m_tasks) {
        if (task.status == TransferStatus::pending || task.status == TransferStatus::paused)
            task.status = TransferStatus::cancelled;
    }
    if (!m_currentJob)
        return;
    // The worker honours the request at its next chunk boundary and never waits on this thread.
    m_currentJob->cancelRequested = true;
    m_currentWork.waitForFinished();
    // A copy between two runs (paused, or just opened) still holds its files.
    if (m_currentJob->isOpen()) {
        std::shared_ptr<CopyJob> job = m_currentJob;
        shareIOPool().start([job] { job->discard(); });
    }
}

void TransferManager::addDownload(const QUrl& source, const QUrl& destinationFolder)
{
    addTransfer(source, destinationFolder, TransferDirection::download);
}

void TransferManager::addUpload(const QUrl& source, const QUrl& destinationFolder)
{
    addTransfer(source, destinationFolder, TransferDirection::upload);
}

void TransferManager::addTransfer(const QUrl& source, const QUrl& destinationFolder, TransferDirection direction)
{
    m_pendingAdds.append(PendingAdd{source, destinationFolder, direction});
    if (m_addingTasks)
        return;
    m_addingTasks = true;
    startDeferred(this, [this] { return drainAdds(); });
}

QCoro::Task<> TransferManager::drainAdds()
{
    QPointer<TransferManager> self(this);
    while (!m_pendingAdds.isEmpty()) {
        const PendingAdd add = m_pendingAdds.takeFirst();
        const QByteArray path = QFile::encodeName(add.source.toLocalFile());
        // The size of a share file: a stat that may hang, so never on this thread.
        // Temporaries inside a co_await expression are destroyed twice by GCC 12: name them.
        QFuture<qint64> sizeRead = QtConcurrent::run(&shareIOPool(), [path]() -> qint64 {
            struct stat st {};
            if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
                return 0;
            return st.st_size;
        });
        const qint64 size = co_await sizeRead;
        if (!self)
            co_return;
        const QString name = RecentFilesTracker::lastPathComponent(add.source);
        TransferTask task;
        task.id = QUuid::createUuid();
        task.sourceURL = add.source;
        task.destinationURL = QUrl::fromLocalFile(QDir(add.destinationFolder.toLocalFile()).filePath(name));
        task.direction = add.direction;
        task.totalBytes = size;
        m_tasks.append(task);
        emit tasksChanged();
        processQueue();
    }
    m_addingTasks = false;
}

void TransferManager::processQueue()
{
    if (m_isProcessing)
        return;
    m_isProcessing = true;
    emit isProcessingChanged(true);
    startDeferred(this, [this] { return queueLoop(); });
}

QCoro::Task<> TransferManager::queueLoop()
{
    QPointer<TransferManager> self(this);
    for (;;) {
        const auto running = std::count_if(m_tasks.cbegin(), m_tasks.cend(),
            [](const TransferTask& t) { return t.status == TransferStatus::running; });
        if (running >= maxConcurrent)
            break;
        const auto next = std::find_if(m_tasks.cbegin(), m_tasks.cend(),
            [](const TransferTask& t) { return t.status == TransferStatus::pending; });
        if (next == m_tasks.cend())
            break;
        // Temporaries inside a co_await expression are destroyed twice by GCC 12: name the task.
        auto transfer = executeTransfer(next - m_tasks.cbegin());
        co_await transfer;
        if (!self)
            co_return;
    }
    m_isProcessing = false;
    emit isProcessingChanged(false);
}

QCoro::Task<> TransferManager::executeTransfer(qsizetype index)
{
    if (index < 0 || index >= m_tasks.size())
        co_return;
    QPointer<TransferManager> self(this);
    const QUuid id = m_tasks.at(index).id;
    updateTask(id, [this](TransferTask& t) {
        t.status = TransferStatus::running;
        t.startDate = m_clock();
    });
    // Requests made before the start are dropped.
    m_cancellationFlags[id] = false;
    m_pauseFlags[id] = false;

    const TransferTask started = m_tasks.at(indexOf(id));
    auto copy = copyFile(started.sourceURL, started.destinationURL, id);
    const CopyResult result = co_await copy;
    if (!self)
        co_return;
    const qsizetype at = indexOf(id);
    if (at < 0)
        co_return;

    if (result.outcome == CopyOutcome::succeeded) {
        const TransferTask done = m_tasks.at(at);
        updateTask(id, [this](TransferTask& t) {
            t.status = TransferStatus::completed;
            t.bytesTransferred = t.totalBytes;
            t.endDate = m_clock();
        });
        m_totalBytesTransferred += done.totalBytes;
        emit totalBytesTransferredChanged(m_totalBytesTransferred);
        if (done.direction == TransferDirection::download)
            m_recentFiles.recordAccess(done.destinationURL, RecentFilesTracker::lastPathComponent(done.destinationURL));
        m_notifications.notifyTransferComplete(RecentFilesTracker::lastPathComponent(done.sourceURL), done.direction);
        co_return;
    }
    // A cancellation has already set its status; its text never reaches the task.
    if (result.outcome == CopyOutcome::cancelled || m_tasks.at(at).status == TransferStatus::cancelled)
        co_return;
    updateTask(id, [this, &result](TransferTask& t) {
        t.status = TransferStatus::failed;
        t.errorMessage = result.errorMessage;
        t.endDate = m_clock();
    });
}

QCoro::Task<StepResult> TransferManager::runOnPool(std::function<StepResult()> work)
{
    QFuture<StepResult> future = QtConcurrent::run(&shareIOPool(), std::move(work));
    m_currentWork = QFuture<void>(future);
    co_return co_await future;
}

QCoro::Task<TransferManager::CopyResult> TransferManager::copyFile(const QUrl& from, const QUrl& to, QUuid taskId)
{
    QPointer<TransferManager> self(this);
    auto job = std::make_shared<CopyJob>();
    job->sourcePath = QFile::encodeName(from.toLocalFile());
    job->destinationPath = QFile::encodeName(to.toLocalFile());
    job->sync = syncFile;
    m_currentJob = job;
    m_currentJobId = taskId;
    const auto finish = [self, job](CopyResult result) {
        if (self && self->m_currentJob == job) {
            self->m_currentJob.reset();
            self->m_currentJobId = QUuid();
        }
        return result;
    };

    std::function<StepResult()> work = [job] { return openFiles(*job); };
    auto opening = runOnPool(std::move(work));
    StepResult step = co_await opening;
    if (!self)
        co_return CopyResult{};
    if (step.step == Step::failed)
        co_return finish(CopyResult{CopyOutcome::failed, messageFor(step, from, to)});

    // Progress goes out without waiting: the worker keeps copying while this thread publishes.
    const auto published = [self, taskId](qint64 copied) {
        postToMainThread(self.data(), [self, taskId, copied] {
            self->updateTask(taskId, [copied](TransferTask& t) { t.bytesTransferred = copied; });
        });
    };

    for (;;) {
        if (m_cancellationFlags.value(taskId)) {
            updateTask(taskId, [](TransferTask& t) { t.status = TransferStatus::cancelled; });
            job->cancelRequested = true;
            work = [job] {
                job->discard();
                return StepResult{Step::cancelled};
            };
            auto discarding = runOnPool(std::move(work));
            co_await discarding;
            co_return finish(CopyResult{CopyOutcome::cancelled, {}});
        }
        if (m_pauseFlags.value(taskId)) {
            updateTask(taskId, [](TransferTask& t) { t.status = TransferStatus::paused; });
            while (m_pauseFlags.value(taskId) && !m_cancellationFlags.value(taskId)) {
                QTimer wait;
                wait.setSingleShot(true);
                wait.start(timerMilliseconds(pauseCheckInterval));
                co_await wait;
                if (!self)
                    co_return CopyResult{};
            }
            if (m_cancellationFlags.value(taskId))
                continue;
            updateTask(taskId, [](TransferTask& t) { t.status = TransferStatus::running; });
        }

        work = [job, published] { return runChunks(*job, published); };
        auto chunks = runOnPool(std::move(work));
        step = co_await chunks;
        if (!self)
            co_return CopyResult{};
        switch (step.step) {
        case Step::finished:
            co_return finish(CopyResult{CopyOutcome::succeeded, {}});
        case Step::failed:
            co_return finish(CopyResult{CopyOutcome::failed, messageFor(step, from, to)});
        case Step::cancelled:
            // A retry withdrew the request after the worker had already dropped the partial file:
            // this copy cannot go on, and the task, pending again, runs anew from the first byte.
            if (!m_cancellationFlags.value(taskId))
                co_return finish(CopyResult{CopyOutcome::cancelled, {}});
            break;
        case Step::paused:
            // The flags decide at the top of the loop (a pause may already be lifted again).
            break;
        }
    }
}

qsizetype TransferManager::indexOf(const QUuid& id) const
{
    for (qsizetype i = 0; i < m_tasks.size(); ++i) {
        if (m_tasks.at(i).id == id)
            return i;
    }
    return -1;
}

void TransferManager::updateTask(const QUuid& id, const std::function<void(TransferTask&)>& change)
{
    const qsizetype i = indexOf(id);
    if (i < 0)
        return;
    change(m_tasks[i]);
    emit tasksChanged();
}

void TransferManager::setCancelFlag(const QUuid& id, bool on)
{
    m_cancellationFlags[id] = on;
    if (m_currentJob && m_currentJobId == id)
        m_currentJob->cancelRequested = on;
}

void TransferManager::setPauseFlag(const QUuid& id, bool on)
{
    m_pauseFlags[id] = on;
    if (m_currentJob && m_currentJobId == id)
        m_currentJob->pauseRequested = on;
}

void TransferManager::cancel(const QUuid& taskId)
{
    setCancelFlag(taskId, true);
    const qsizetype i = indexOf(taskId);
    if (i >= 0 && m_tasks.at(i).status == TransferStatus::pending)
        updateTask(taskId, [](TransferTask& t) { t.status = TransferStatus::cancelled; });
}

void TransferManager::pause(const QUuid& taskId)
{
    setPauseFlag(taskId, true);
}

void TransferManager::resume(const QUuid& taskId)
{
    setPauseFlag(taskId, false);
    const qsizetype i = indexOf(taskId);
    if (i < 0 || m_tasks.at(i).status != TransferStatus::paused)
        return;
    updateTask(taskId, [](TransferTask& t) { t.status = TransferStatus::pending; });
    processQueue();
}

void TransferManager::retry(const QUuid& taskId)
{
    if (indexOf(taskId) < 0)
        return;
    updateTask(taskId, [](TransferTask& t) { t.status = TransferStatus::pending; });
    updateTask(taskId, [](TransferTask& t) { t.bytesTransferred = 0; });
    updateTask(taskId, [](TransferTask& t) { t.errorMessage.reset(); });
    updateTask(taskId, [](TransferTask& t) { t.startDate.reset(); });
    updateTask(taskId, [](TransferTask& t) { t.endDate.reset(); });
    setCancelFlag(taskId, false);
    setPauseFlag(taskId, false);
    processQueue();
}

void TransferManager::clearCompleted()
{
    const qsizetype removed = m_tasks.removeIf([](const TransferTask& t) {
        return t.status == TransferStatus::completed || t.status == TransferStatus::cancelled
            || t.status == TransferStatus::failed;
    });
    if (removed > 0)
        emit tasksChanged();
}

QString TransferManager::messageFor(const StepResult& result, const QUrl& from, const QUrl& to) const
{
    const QString sourceName = RecentFilesTracker::lastPathComponent(from);
    const QString destinationName = RecentFilesTracker::lastPathComponent(to);
    const QString reason = qt_error_string(result.error);
    switch (result.failure) {
    case Failure::openSource:
        return Localization::textFormat(QStringLiteral("transfer.error.openSource"),
            QStringLiteral("The file “%@” couldn’t be opened: %@"), {sourceName, reason});
    case Failure::createFolder:
        return Localization::textFormat(QStringLiteral("transfer.error.createFolder"),
            QStringLiteral("The folder for “%@” couldn’t be created: %@"), {destinationName, reason});
    case Failure::sameFile:
        return Localization::textFormat(QStringLiteral("transfer.error.sameFile"),
            QStringLiteral("“%@” is both the source and the destination of this transfer, so it was not copied."),
            {sourceName});
    case Failure::removeExisting:
        return Localization::textFormat(QStringLiteral("transfer.error.removeExisting"),
            QStringLiteral("The existing item “%@” couldn’t be replaced: %@"), {destinationName, reason});
    case Failure::openDestination:
        return Localization::textFormat(QStringLiteral("transfer.error.openDestination"),
            QStringLiteral("The file “%@” couldn’t be created: %@"), {destinationName, reason});
    case Failure::read:
        return Localization::textFormat(QStringLiteral("transfer.error.read"),
            QStringLiteral("The file “%@” couldn’t be read: %@"), {sourceName, reason});
    case Failure::write:
        return Localization::textFormat(QStringLiteral("transfer.error.write"),
            QStringLiteral("The file “%@” couldn’t be written: %@"), {destinationName, reason});
    case Failure::finish:
        return Localization::textFormat(QStringLiteral("transfer.error.finish"),
            QStringLiteral("The file “%@” couldn’t be saved completely: %@"), {destinationName, reason});
    case Failure::none:
        break;
    }
    return reason;
}

} // namespace vantrel
