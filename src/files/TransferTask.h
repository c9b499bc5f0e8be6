#pragma once

#include "model/TransferDirection.h"
#include "platform/Clock.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace vantrel {

enum class TransferStatus { pending, running, paused, completed, failed, cancelled };

QString rawValue(TransferStatus status);
template <>
QList<TransferStatus> allCases<TransferStatus>();

// One upload or download in a transfer queue; lives only in memory.
struct TransferTask {
    QUuid id;
    QUrl sourceURL;
    QUrl destinationURL;
    TransferDirection direction = TransferDirection::download;
    qint64 totalBytes = 0;
    TransferStatus status = TransferStatus::pending;
    qint64 bytesTransferred = 0;
    std::optional<QString> errorMessage;
    std::optional<QDateTime> startDate;
    std::optional<QDateTime> endDate;

    bool operator==(const TransferTask&) const = default;

    // Over for good: completed, failed or cancelled (a paused task can still resume).
    bool isFinished() const
    {
        return status == TransferStatus::completed || status == TransferStatus::failed
            || status == TransferStatus::cancelled;
    }

    // Derived afresh on every read. The fraction done, capped at 1; 0 when the size is unknown.
    double progress() const;
    // Average bytes per second since the run began, up to now (so it keeps falling after
    // completion); 0 unless running or completed with some bytes copied.
    double speed(const Clock& clock = systemNow) const;
    // Seconds left while running; negative once more was copied than the recorded size.
    double estimatedTimeRemaining(const Clock& clock = systemNow) const;
    // "1.5 MB/s", or "--" below one byte per second.
    QString formattedSpeed(const Clock& clock = systemNow) const;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::TransferStatus)
Q_DECLARE_METATYPE(vantrel::TransferTask)
