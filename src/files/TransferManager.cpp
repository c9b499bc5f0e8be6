#include "files/TransferManager.h"

#include "files/RecentFilesTracker.h"
#include "mounting/NotificationService.h"
#include "platform/FileMove.h"
#include "platform/FileWork.h"
#include "platform/Localization.h"
#include "platform/Threading.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

QString destinationPath(const QUrl& source, const QUrl& destinationFolder)
{
    return QDir(destinationFolder.toLocalFile()).filePath(RecentFilesTracker::lastPathComponent(source));
}

} // namespace

TransferManager::TransferManager(RecentFilesTracker& recentFiles, NotificationService& notifications, Clock clock,
    QObject* parent)
    : QObject(parent)
    , m_recentFiles(recentFiles)
    , m_notifications(notifications)
    , m_clock(clock ? std::move(clock) : Clock(systemNow))
{
    m_publishTimer.setSingleShot(true);
    connect(&m_publishTimer, &QTimer::timeout, this, &TransferManager::publish);
}

TransferManager::~TransferManager()
{
    recordRecentFiles();
    announceCompletions();
    // Nobody is left to resume or retry these.
    for (TransferTask& task : m_tasks) {
        if (task.status == TransferStatus::pending || task.status == TransferStatus::paused)
            task.status = TransferStatus::cancelled;
    }
    // None of these uploads will come now. A name the copy under way may hold with its partial file
    // is given back only after that file is gone, in the same piece of work, so the two never race.
    QList<NameToGiveBack> afterTheCopy;
    QList<NameToGiveBack> names = m_namesToGiveBack.values();
    for (const PendingAdd& add : std::as_const(m_pendingAdds)) {
        if (!add.movedAside.isEmpty())
            names.append(NameToGiveBack{add.movedAside, destinationPath(add.source, add.destinationFolder)});
    }
    for (const NameToGiveBack& back : std::as_const(names)) {
        if (m_currentJob && back.name == m_currentJobDestination)
            afterTheCopy.append(back);
        else
            runFileWork(back.name, [back] { renameWithoutReplacing(back.movedAside, back.name); });
    }
    if (!m_currentJob)
        return;
    // Never wait for a step here: on a share that hangs it may take for ever. The step honours the
    // request at its next chunk boundary; a copy it leaves open (paused, or just opened) is then
    // discarded on its pool, and its outcome goes nowhere.
    m_currentJob->setCancelRequested(true);
    std::shared_ptr<FileCopy> job = m_currentJob;
    m_currentWork.then(&fileIOPool(m_currentJobPath), [job, afterTheCopy] {
        if (job->isOpen())
            job->discard();
        for (const NameToGiveBack& back : afterTheCopy)
            renameWithoutReplacing(back.movedAside, back.name);
    });
}

void TransferManager::addDownload(const QUrl& source, const QUrl& destinationFolder)
{
    addTransfer(source, destinationFolder, TransferDirection::download);
}

void TransferManager::addDownload(const QUrl& source, const QUrl& destinationFolder, qint64 knownSize)
{
    addTransfer(source, destinationFolder, TransferDirection::download, knownSize);
}

void TransferManager::addUpload(const QUrl& source, const QUrl& destinationFolder)
{
    addTransfer(source, destinationFolder, TransferDirection::upload);
}

void TransferManager::addUpload(const QUrl& source, const QUrl& destinationFolder, const QString& movedAside)
{
    addTransfer(source, destinationFolder, TransferDirection::upload, std::nullopt, movedAside);
}

void TransferManager::addTransfer(const QUrl& source, const QUrl& destinationFolder, TransferDirection direction,
    std::optional<qint64> knownSize, const QString& movedAside)
{
    m_pendingAdds.append(PendingAdd{source, destinationFolder, direction, knownSize, movedAside});
    if (m_addingTasks)
        return;
    m_addingTasks = true;
    startDeferred(this, [this] { return drainAdds(); });
}

QCoro::Task<> TransferManager::drainAdds()
{
    QPointer<TransferManager> self(this);
    int madeThisTurn = 0;
    while (!m_pendingAdds.isEmpty()) {
        if (madeThisTurn >= std::max(1, addsPerTurn)) {
            // A folder of thousands of files becomes tasks a slice per turn, so that the rest of
            // the application, and the observers of each slice, keep up.
            QTimer turn;
            turn.setSingleShot(true);
            turn.start(0);
            co_await turn;
            if (!self)
                co_return;
            madeThisTurn = 0;
        }
        // Stays queued until it is a task: a manager that goes meanwhile still knows of it.
        const PendingAdd add = m_pendingAdds.first();
        qint64 size = 0;
        if (add.knownSize) {
            size = *add.knownSize;
        } else {
            const QString path = add.source.toLocalFile();
            // The size of a share file: a stat that may hang, so never on this thread.
            // Temporaries inside a co_await expression are destroyed twice by GCC 12: name them.
            QFuture<qint64> sizeRead = runFileWork(path, [path]() -> qint64 {
                const QFileInfo info(path);
                return info.isFile() ? info.size() : 0;
            });
            size = co_await sizeRead;
            if (!self)
                co_return;
            madeThisTurn = 0;
        }
        m_pendingAdds.removeFirst();
        TransferTask task;
        task.id = QUuid::createUuid();
        task.sourceURL = add.source;
        task.destinationURL = QUrl::fromLocalFile(destinationPath(add.source, add.destinationFolder));
        task.direction = add.direction;
        task.totalBytes = size;
        if (!add.movedAside.isEmpty())
            m_namesToGiveBack.insert(task.id, NameToGiveBack{add.movedAside, task.destinationURL.toLocalFile()});
        appendTask(task);
        ++madeThisTurn;
        processQueue();
    }
    m_addingTasks = false;
    endRunIfIdle();
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
        if (m_statusCounts[std::size_t(TransferStatus::running)] >= maxConcurrent)
            break;
        const qsizetype next = nextPending();
        if (next < 0)
            break;
        // Temporaries inside a co_await expression are destroyed twice by GCC 12: name the task.
        auto transfer = executeTransfer(next);
        co_await transfer;
        if (!self)
            co_return;
    }
    recordRecentFiles();
    m_isProcessing = false;
    emit isProcessingChanged(false);
    endRunIfIdle();
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
    // A cancel made before the start is dropped (the task is cancelled at once and never starts);
    // a pause holds the copy at its first chunk.
    m_cancellationFlags[id] = false;

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
        m_namesToGiveBack.remove(id); // the upload has it now
        updateTask(id, [this](TransferTask& t) {
            t.status = TransferStatus::completed;
            t.bytesTransferred = t.totalBytes;
            t.endDate = m_clock();
        });
        m_totalBytesTransferred += done.totalBytes;
        emit totalBytesTransferredChanged(m_totalBytesTransferred);
        // Recorded with the next publication: storing the list per file would cost a queue of
        // small files more than copying them.
        if (done.direction == TransferDirection::download)
            m_unrecorded.append(done.destinationURL);
        // Announced with the next publication too: a notice per file would flood the desktop.
        m_unannounced[std::size_t(done.direction)].append(RecentFilesTracker::lastPathComponent(done.sourceURL));
        schedulePublish();
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

QCoro::Task<FileCopy::Result> TransferManager::runOnPool(std::function<FileCopy::Result()> work)
{
    QFuture<FileCopy::Result> future = runFileWork(m_currentJobPath, std::move(work));
    m_currentWork = QFuture<void>(future);
    const FileCopy::Result result = co_await future;
    // A step that had ended before the wait began resumes here at once, ahead of the progress it
    // queued: let that land first, or a late count would overwrite what the outcome sets.
    co_await afterQueuedCalls();
    co_return result;
}

QCoro::Task<TransferManager::CopyResult> TransferManager::copyFile(const QUrl& from, const QUrl& to, QUuid taskId)
{
    QPointer<TransferManager> self(this);
    auto job = std::make_shared<FileCopy>(from.toLocalFile(), to.toLocalFile(), chunkSize, syncFile, readSource);
    m_currentJob = job;
    m_currentJobId = taskId;
    // The copy runs in the lane of the share it touches; a local copy on the local pool.
    m_currentJobPath = shareRootOf(from.toLocalFile()).isEmpty() ? to.toLocalFile() : from.toLocalFile();
    m_currentJobDestination = to.toLocalFile();
    const auto finish = [self, job](CopyResult result) {
        if (self && self->m_currentJob == job) {
            self->m_currentJob.reset();
            self->m_currentJobId = QUuid();
        }
        return result;
    };

    std::function<FileCopy::Result()> work = [job] { return job->open(); };
    auto opening = runOnPool(std::move(work));
    FileCopy::Result step = co_await opening;
    if (!self)
        co_return CopyResult{};
    if (step.step == FileCopy::Step::failed)
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
            job->setCancelRequested(true);
            // A cancelled row offers no retry: a file moved aside for it gets its name back once
            // the partial copy is gone.
            const std::optional<NameToGiveBack> back = m_namesToGiveBack.contains(taskId)
                ? std::optional(m_namesToGiveBack.take(taskId))
                : std::nullopt;
            work = [job, back] {
                job->discard();
                if (back)
                    renameWithoutReplacing(back->movedAside, back->name);
                return FileCopy::Result{FileCopy::Step::cancelled};
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

        work = [job, published] { return job->run(published); };
        auto chunks = runOnPool(std::move(work));
        step = co_await chunks;
        if (!self)
            co_return CopyResult{};
        switch (step.step) {
        case FileCopy::Step::finished: co_return finish(CopyResult{CopyOutcome::succeeded, {}});
        case FileCopy::Step::failed: co_return finish(CopyResult{CopyOutcome::failed, messageFor(step, from, to)});
        case FileCopy::Step::cancelled:
            // A retry withdrew the request after the worker had already dropped the partial file:
            // this copy cannot go on, and the task, pending again, runs anew from the first byte.
            if (!m_cancellationFlags.value(taskId))
                co_return finish(CopyResult{CopyOutcome::cancelled, {}});
            break;
        case FileCopy::Step::paused:
            // The flags decide at the top of the loop (a pause may already be lifted again).
            break;
        }
    }
}

qsizetype TransferManager::indexOf(const QUuid& id) const
{
    return m_positions.value(id, -1);
}

std::optional<TransferTask> TransferManager::task(const QUuid& id) const
{
    const qsizetype i = indexOf(id);
    if (i < 0)
        return std::nullopt;
    return m_tasks.at(i);
}

qsizetype TransferManager::nextPending()
{
    while (m_pendingFrom < m_tasks.size() && m_tasks.at(m_pendingFrom).status != TransferStatus::pending)
        ++m_pendingFrom;
    return m_pendingFrom < m_tasks.size() ? m_pendingFrom : -1;
}

void TransferManager::appendTask(const TransferTask& task)
{
    m_positions.insert(task.id, m_tasks.size());
    m_tasks.append(task);
    ++m_statusCounts[std::size_t(task.status)];
    m_unpublished.added.append(task.id);
    m_unpublishedAdded.insert(task.id);
    schedulePublish();
}

void TransferManager::updateTask(const QUuid& id, const std::function<void(TransferTask&)>& change)
{
    const qsizetype i = indexOf(id);
    if (i < 0)
        return;
    TransferTask& task = m_tasks[i];
    const TransferStatus before = task.status;
    change(task);
    if (task.status != before) {
        --m_statusCounts[std::size_t(before)];
        ++m_statusCounts[std::size_t(task.status)];
        if (task.status == TransferStatus::pending)
            m_pendingFrom = std::min(m_pendingFrom, i);
    }
    if (!m_unpublishedAdded.contains(id) && !m_unpublishedChanged.contains(id)) {
        m_unpublishedChanged.insert(id);
        m_unpublished.changed.append(id);
    }
    schedulePublish();
}

void TransferManager::schedulePublish()
{
    if (m_publishTimer.isActive())
        return;
    const qint64 interval = publishInterval.count();
    const qint64 since = m_sincePublished.isValid() ? m_sincePublished.elapsed() : interval;
    m_publishTimer.start(int(std::clamp<qint64>(interval - since, 0, interval)));
}

void TransferManager::recordRecentFiles()
{
    m_recentFiles.recordAccesses(std::exchange(m_unrecorded, {}));
}

void TransferManager::announceCompletions()
{
    for (std::size_t direction = 0; direction < m_unannounced.size(); ++direction) {
        const QStringList names = std::exchange(m_unannounced[direction], {});
        if (names.isEmpty())
            continue;
        if (m_runThread.isEmpty())
            m_runThread = QStringLiteral("transfers-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        // One notice per direction and run: the first file by its name, then the count so far,
        // which replaces what the run showed before.
        const QString thread = m_runThread + u'-' + rawValue(TransferDirection(direction));
        const qint64 before = std::exchange(m_runAnnounced[direction], m_runAnnounced[direction] + names.size());
        if (before == 0 && names.size() == 1)
            m_notifications.notifyTransferComplete(names.constFirst(), TransferDirection(direction), thread);
        else
            m_notifications.notifyTransfersComplete(m_runAnnounced[direction], TransferDirection(direction), thread);
    }
}

void TransferManager::endRunIfIdle()
{
    if (m_isProcessing || m_addingTasks)
        return;
    announceCompletions();
    m_runAnnounced.fill(0);
    m_runThread.clear();
}

void TransferManager::publish()
{
    recordRecentFiles();
    announceCompletions();
    if (m_unpublished.isEmpty())
        return;
    const TransferChanges changes = std::exchange(m_unpublished, {});
    m_unpublishedAdded.clear();
    m_unpublishedChanged.clear();
    m_sincePublished.start();
    emit tasksUpdated(changes);
    emit tasksChanged();
}

void TransferManager::giveNameBack(const QUuid& id)
{
    // The copy under way gives it back itself, once its partial file is gone.
    if (m_currentJob && m_currentJobId == id)
        return;
    const auto found = m_namesToGiveBack.constFind(id);
    if (found == m_namesToGiveBack.cend())
        return;
    const NameToGiveBack back = *found;
    m_namesToGiveBack.erase(found);
    runFileWork(back.name, [back] { renameWithoutReplacing(back.movedAside, back.name); });
}

void TransferManager::setCancelFlag(const QUuid& id, bool on)
{
    m_cancellationFlags[id] = on;
    if (m_currentJob && m_currentJobId == id)
        m_currentJob->setCancelRequested(on);
}

void TransferManager::setPauseFlag(const QUuid& id, bool on)
{
    m_pauseFlags[id] = on;
    if (m_currentJob && m_currentJobId == id)
        m_currentJob->setPauseRequested(on);
}

void TransferManager::cancel(const QUuid& taskId)
{
    setCancelFlag(taskId, true);
    const qsizetype i = indexOf(taskId);
    if (i >= 0 && m_tasks.at(i).status == TransferStatus::pending) {
        updateTask(taskId, [](TransferTask& t) { t.status = TransferStatus::cancelled; });
        giveNameBack(taskId);
    }
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
    updateTask(taskId, [](TransferTask& t) {
        t.status = TransferStatus::pending;
        t.bytesTransferred = 0;
        t.errorMessage.reset();
        t.startDate.reset();
        t.endDate.reset();
    });
    setCancelFlag(taskId, false);
    setPauseFlag(taskId, false);
    processQueue();
}

void TransferManager::clearCompleted()
{
    QSet<QUuid> removed;
    const qsizetype count = m_tasks.removeIf([&removed](const TransferTask& t) {
        if (!t.isFinished())
            return false;
        removed.insert(t.id);
        return true;
    });
    if (count == 0)
        return;
    m_positions.clear();
    m_positions.reserve(m_tasks.size());
    m_statusCounts.fill(0);
    for (qsizetype i = 0; i < m_tasks.size(); ++i) {
        m_positions.insert(m_tasks.at(i).id, i);
        ++m_statusCounts[std::size_t(m_tasks.at(i).status)];
    }
    m_pendingFrom = 0;
    // A task added and cleared before anyone heard of it is not announced at all.
    const auto gone = [&removed](const QUuid& id) { return removed.contains(id); };
    m_unpublished.added.removeIf(gone);
    for (const QUuid& id : removed) {
        if (m_unpublishedAdded.remove(id))
            continue;
        m_unpublished.removed.append(id);
    }
    m_unpublished.changed.removeIf(gone);
    for (const QUuid& id : removed) {
        m_unpublishedChanged.remove(id);
        // A failed upload cleared away will not be retried.
        giveNameBack(id);
    }
    schedulePublish();
}

QString TransferManager::messageFor(const FileCopy::Result& result, const QUrl& from, const QUrl& to) const
{
    const QString sourceName = RecentFilesTracker::lastPathComponent(from);
    const QString destinationName = RecentFilesTracker::lastPathComponent(to);
    const QString reason = qt_error_string(result.error);
    switch (result.failure) {
    case FileCopy::Failure::openSource:
        return Localization::textFormat(QStringLiteral("transfer.error.openSource"),
            QStringLiteral("The file “%@” couldn’t be opened: %@"), {sourceName, reason});
    case FileCopy::Failure::notRegularFile:
        return Localization::textFormat(QStringLiteral("transfer.error.notRegularFile"),
            QStringLiteral("“%@” is not a regular file, so it was not copied."), {sourceName});
    case FileCopy::Failure::createFolder:
        return Localization::textFormat(QStringLiteral("transfer.error.createFolder"),
            QStringLiteral("The folder for “%@” couldn’t be created: %@"), {destinationName, reason});
    case FileCopy::Failure::sameFile:
        return Localization::textFormat(QStringLiteral("transfer.error.sameFile"),
            QStringLiteral("“%@” is both the source and the destination of this transfer, so it was not copied."),
            {sourceName});
    case FileCopy::Failure::removeExisting:
        return Localization::textFormat(QStringLiteral("transfer.error.removeExisting"),
            QStringLiteral("The existing item “%@” couldn’t be replaced: %@"), {destinationName, reason});
    case FileCopy::Failure::openDestination:
        return Localization::textFormat(QStringLiteral("transfer.error.openDestination"),
            QStringLiteral("The file “%@” couldn’t be created: %@"), {destinationName, reason});
    case FileCopy::Failure::read:
        return Localization::textFormat(QStringLiteral("transfer.error.read"),
            QStringLiteral("The file “%@” couldn’t be read: %@"), {sourceName, reason});
    case FileCopy::Failure::write:
        return Localization::textFormat(QStringLiteral("transfer.error.write"),
            QStringLiteral("The file “%@” couldn’t be written: %@"), {destinationName, reason});
    case FileCopy::Failure::finish:
        return Localization::textFormat(QStringLiteral("transfer.error.finish"),
            QStringLiteral("The file “%@” couldn’t be saved completely: %@"), {destinationName, reason});
    case FileCopy::Failure::none: break;
    }
    return reason;
}

} // namespace vantrel
