#pragma once

#include "model/AppState.h"
#include "model/TransferDirection.h"
#include "platform/NotificationCenter.h"

#include <QObject>
#include <QString>

#include <chrono>

namespace vantrel {

class LogManager;
class NotificationPreferences;

// Posts the user notifications for mounts, unmounts and finished transfers, each only when the
// user allows its event. The notify operations may be called from any thread.
class NotificationService final : public QObject {
    Q_OBJECT

public:
    static inline const QString retryCategory = QStringLiteral("MOUNT_FAILURE_CATEGORY");
    static inline const QString retryActionID = QStringLiteral("RETRY_ACTION");

    // Registers the mount-failure category with its retry action.
    NotificationService(NotificationCenter& center, NotificationPreferences& preferences, LogManager& logger,
        QObject* parent = nullptr);
    static NotificationService& shared();

    void notifyMountSuccess(const QString& nasName);
    void notifyMountFailure(const QString& nasName, const VantrelError& error);
    void notifyUnmount(const QString& nasName);
    // A queue's notices of one run share a thread: each replaces the one before it on screen.
    void notifyTransferComplete(const QString& fileName, TransferDirection direction, const QString& thread = {});
    // Files of one run finished so far, in one notice that later counts of the run replace, on
    // screen and while it waits to be shown; the thread names the run.
    void notifyTransfersComplete(qint64 count, TransferDirection direction, const QString& thread);

    void scheduleNotification(const NotificationContent& content, const QString& identifier);

    // How long a request waits before it is shown; a newer one with the same identifier replaces it.
    std::chrono::milliseconds triggerDelay{1000};

signals:
    // The user chose "retry" on a mount-failure notification; carries the name it was posted for.
    void retryRequested(const QString& nasName);

private:
    void handleAction(const QString& identifier, const QString& actionIdentifier, const QVariantMap& userInfo);

    NotificationCenter& m_center;
    NotificationPreferences& m_preferences;
    LogManager& m_logger;
};

} // namespace vantrel
