#pragma once

#include "files/TransferTask.h"
#include "platform/FileCopy.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

class NotificationService;
class RecentFilesTracker;

// What one publication of a transfer queue changed, so that an observer touches only those tasks.
struct TransferChanges {
    QList<QUuid> added;   // appended to the list, in this order
    QList<QUuid> removed; // gone from the list
    QList<QUuid> changed; // still there with other fields; never one of `added`

    bool isEmpty() const { return added.isEmpty() && removed.isEmpty() && changed.isEmpty(); }
};

// The uploads and downloads of one file browser window: an ordered queue that copies one file at
// a time in 1 MiB chunks in the lane of the share it touches. All public calls and every change of
// the published state happen on the main thread.
//
// `tasks` is current at every moment, but its changes are published together, at most once per
// event-loop turn and `publishInterval`: a folder of thousands of files, or a queue of thousands
// of small ones running, costs observers one update per turn, and `tasksUpdated` names the tasks
// that changed so that they need not compare the whole list.
//
// Destroying the manager (closing the window) ends its pending and paused transfers as cancelled
// at once: a running copy cancels itself at its next chunk boundary, on its worker.
//
// An upload may take the name of a file the user had moved aside for it. Should that upload never
// come (cancelled, cleared after failing, or ended with the window), the file gets its name back
// once no partial copy holds it; a failed upload stays retryable until then.
class TransferManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<vantrel::TransferTask> tasks READ tasks NOTIFY tasksChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(qint64 totalBytesTransferred READ totalBytesTransferred NOTIFY totalBytesTransferredChanged)

public:
    static constexpr int maxConcurrent = 3;
    static constexpr qint64 chunkSize = 1048576;

    TransferManager(RecentFilesTracker& recentFiles, NotificationService& notifications, Clock clock = systemNow,
        QObject* parent = nullptr);
    ~TransferManager() override;

    QList<TransferTask> tasks() const { return m_tasks; }
    // The task with this id as it stands now; none when it is not in the list.
    std::optional<TransferTask> task(const QUuid& id) const;
    bool isProcessing() const { return m_isProcessing; }
    qint64 totalBytesTransferred() const { return m_totalBytesTransferred; }

    // Queue the file into the given folder, under the source's own name. The source's size is read
    // off the main thread, so the task appears in `tasks` a moment later, in the order added.
    void addDownload(const QUrl& source, const QUrl& destinationFolder);
    // For a caller that has just read the size itself (a folder walk): the share is not asked again.
    void addDownload(const QUrl& source, const QUrl& destinationFolder, qint64 knownSize);
    void addUpload(const QUrl& source, const QUrl& destinationFolder);
    // An upload in place of the file just moved aside to `movedAside`, which the upload's name was.
    void addUpload(const QUrl& source, const QUrl& destinationFolder, const QString& movedAside);

    void cancel(const QUuid& taskId);
    void pause(const QUuid& taskId);
    void resume(const QUuid& taskId);
    void retry(const QUuid& taskId);
    void clearCompleted();

    // How often a paused copy looks at its flags again.
    std::chrono::milliseconds pauseCheckInterval{100};
    // The least time between two publications of `tasks`; the first change after a quiet spell is
    // published at the next turn.
    std::chrono::milliseconds publishInterval{100};
    // How many queued adds become tasks in one event-loop turn.
    int addsPerTurn = 500;
    // Flushes the finished destination to its storage; a failure fails the transfer. Replaceable
    // because a flush that fails (a full network share) cannot be produced on a local disk.
    FileCopy::Sync syncFile = &FileCopy::flushToStorage;
    // Reads the source in place of the plain reads when set; replaceable because a share that
    // delivers slowly, or stops in the middle of a file, cannot be produced on a local disk.
    FileCopy::Read readSource;

signals:
    // Emitted first, with what changed since the last publication; `tasksChanged` follows.
    void tasksUpdated(const vantrel::TransferChanges& changes);
    void tasksChanged();
    void isProcessingChanged(bool isProcessing);
    void totalBytesTransferredChanged(qint64 totalBytesTransferred);

private:
    struct PendingAdd {
        QUrl source;
        QUrl destinationFolder;
        TransferDirection direction;
        std::optional<qint64> knownSize;
        QString movedAside;
    };
    // A file moved aside for an upload, and the name it gets back if the upload never comes.
    struct NameToGiveBack {
        QString movedAside;
        QString name;
    };
    enum class CopyOutcome { succeeded, cancelled, failed };
    struct CopyResult {
        CopyOutcome outcome = CopyOutcome::failed;
        QString errorMessage;
    };

    void addTransfer(const QUrl& source, const QUrl& destinationFolder, TransferDirection direction,
        std::optional<qint64> knownSize = std::nullopt, const QString& movedAside = {});
    QCoro::Task<> drainAdds();
    void processQueue();
    QCoro::Task<> queueLoop();
    QCoro::Task<> executeTransfer(qsizetype index);
    QCoro::Task<CopyResult> copyFile(const QUrl& from, const QUrl& to, QUuid taskId);
    QCoro::Task<FileCopy::Result> runOnPool(std::function<FileCopy::Result()> work);

    qsizetype indexOf(const QUuid& id) const;
    void updateTask(const QUuid& id, const std::function<void(TransferTask&)>& change);
    void appendTask(const TransferTask& task);
    qsizetype nextPending();
    void schedulePublish();
    void publish();
    void recordRecentFiles();
    void announceCompletions();
    void endRunIfIdle();
    void giveNameBack(const QUuid& id);
    void setCancelFlag(const QUuid& id, bool on);
    void setPauseFlag(const QUuid& id, bool on);
    QString messageFor(const FileCopy::Result& result, const QUrl& from, const QUrl& to) const;

    RecentFilesTracker& m_recentFiles;
    NotificationService& m_notifications;
    Clock m_clock;

    QList<TransferTask> m_tasks;
    QHash<QUuid, qsizetype> m_positions;       // where each task stands in m_tasks
    std::array<qsizetype, 6> m_statusCounts{}; // by TransferStatus
    qsizetype m_pendingFrom = 0;               // no task before this position is pending
    bool m_isProcessing = false;
    qint64 m_totalBytesTransferred = 0;
    QHash<QUuid, bool> m_cancellationFlags;
    QHash<QUuid, bool> m_pauseFlags;
    QHash<QUuid, NameToGiveBack> m_namesToGiveBack; // by upload task, until it completes or gives it back

    QList<PendingAdd> m_pendingAdds;
    bool m_addingTasks = false;

    // What the next publication announces.
    TransferChanges m_unpublished;
    QSet<QUuid> m_unpublishedAdded;
    QSet<QUuid> m_unpublishedChanged;
    QList<QUrl> m_unrecorded; // completed downloads, for the recent files
    // Files completed since the last publication, and announced so far in this run of the queue,
    // by TransferDirection. A run lasts while tasks are being added or copied.
    std::array<QStringList, 2> m_unannounced;
    std::array<qint64, 2> m_runAnnounced{};
    QString m_runThread;
    QTimer m_publishTimer;
    QElapsedTimer m_sincePublished;

    // The copy under way (at most one) and the last piece of its work handed to the pool.
    std::shared_ptr<FileCopy> m_currentJob;
    QUuid m_currentJobId;
    QString m_currentJobPath; // the file whose pool runs its steps
    QString m_currentJobDestination;
    QFuture<void> m_currentWork;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::TransferChanges)
