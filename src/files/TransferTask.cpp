#include "files/TransferTask.h"

#include "platform/Formatters.h"

#include <cmath>
#include <limits>

namespace vantrel {

QString transferStatusRawValue(TransferStatus status)
{
    switch (status) {
    case TransferStatus::pending: return QStringLiteral("pending");
    case TransferStatus::running: return QStringLiteral("running");
    case TransferStatus::paused: return QStringLiteral("paused");
    case TransferStatus::completed: return QStringLiteral("completed");
    case TransferStatus::failed: return QStringLiteral("failed");
    case TransferStatus::cancelled: return QStringLiteral("cancelled");
    }
    return {};
}

std::optional<TransferStatus> transferStatusFromRaw(const QString& raw)
{
    for (TransferStatus s : {TransferStatus::pending, TransferStatus::running, TransferStatus::paused,
             TransferStatus::completed, TransferStatus::failed, TransferStatus::cancelled}) {
        if (transferStatusRawValue(s) == raw)
            return s;
    }
    return std::nullopt;
}

QDateTime TransferTask::systemNow()
{
    return QDateTime::currentDateTimeUtc();
}

double TransferTask::progress() const
{
    if (totalBytes < 1)
        return 0.0;
    return std::min(1.0, static_cast<double>(bytesTransferred) / static_cast<double>(totalBytes));
}

double TransferTask::speed(const Clock& clock) const
{
    if (!startDate)
        return 0.0;
    if (status != TransferStatus::running && status != TransferStatus::completed)
        return 0.0;
    if (bytesTransferred < 1)
        return 0.0;
    const double elapsed = static_cast<double>(startDate->msecsTo(clock())) / 1000.0;
    if (!(elapsed > 0.0))
        return 0.0;
    return static_cast<double>(bytesTransferred) / elapsed;
}

double TransferTask::estimatedTimeRemaining(const Clock& clock) const
{
    if (status != TransferStatus::running)
        return 0.0;
    if (!(speed(clock) > 0.0))
        return 0.0;
    return static_cast<double>(totalBytes - bytesTransferred) / speed(clock);
}

QString TransferTask::formattedSpeed(const Clock& clock) const
{
    const double bytesPerSecond = std::trunc(speed(clock));
    // Clamped so that the conversion cannot overflow.
    const qint64 whole = bytesPerSecond >= 9.2e18 ? std::numeric_limits<qint64>::max()
                                                  : static_cast<qint64>(bytesPerSecond);
    if (whole < 1)
        return QStringLiteral("--");
    return Formatters::fileByteCount(whole) + QStringLiteral("/s");
}

} // namespace vantrel
