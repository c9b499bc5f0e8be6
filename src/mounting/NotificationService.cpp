#include "mounting/NotificationService.h"

#include "mounting/NotificationPreferences.h"
#include "platform/Encodings.h"
#include "platform/Localization.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QUuid>

namespace vantrel {

namespace {

// A share shows one notification at a time: its latest mount, failure or unmount.
QString shareThread(const QString& nasName)
{
    return QStringLiteral("share-") + nasName;
}

QString transferTitle(TransferDirection direction)
{
    return direction == TransferDirection::download
        ? Localization::text(QStringLiteral("notification.transfer.download.title"), QStringLiteral("下载完成"))
        : Localization::text(QStringLiteral("notification.transfer.upload.title"), QStringLiteral("上传完成"));
}

} // namespace

NotificationService::NotificationService(NotificationCenter& center, NotificationPreferences& preferences,
    LogManager& logger, QObject* parent)
    : QObject(parent)
    , m_center(center)
    , m_preferences(preferences)
    , m_logger(logger)
{
    const NotificationAction retry{retryActionID,
        Localization::text(QStringLiteral("notification.action.retry"), QStringLiteral("重试连接"))};
    m_center.setNotificationCategories({NotificationCategory{retryCategory, {retry}}});
    connect(&m_center, &NotificationCenter::actionInvoked, this, &NotificationService::handleAction);
}

NotificationService& NotificationService::shared()
{
    return sharedInstance([] {
        return new NotificationService(NotificationCenter::shared(), NotificationPreferences::shared(),
            LogManager::shared());
    });
}

void NotificationService::notifyMountSuccess(const QString& nasName)
{
    if (!m_preferences.isEnabled(NotificationEvent::mountSuccess))
        return;
    NotificationContent content;
    content.title = Localization::text(QStringLiteral("notification.mount.success.title"),
        QStringLiteral("NAS 已连接"));
    content.body = Localization::textFormat(QStringLiteral("notification.mount.success.body"),
        QStringLiteral("%@ 已成功挂载"), {nasName});
    content.threadIdentifier = shareThread(nasName);
    scheduleNotification(content, QStringLiteral("mount-success-") + nasName);
}

void NotificationService::notifyMountFailure(const QString& nasName, const VantrelError& error)
{
    if (!m_preferences.isEnabled(NotificationEvent::mountFailure))
        return;
    NotificationContent content;
    content.title = Localization::text(QStringLiteral("notification.mount.failure.title"),
        QStringLiteral("NAS 连接失败"));
    content.body = Localization::textFormat(QStringLiteral("notification.mount.failure.body"),
        QStringLiteral("%1$@: %2$@"), {nasName, error.message()});
    content.categoryIdentifier = retryCategory;
    content.userInfo.insert(QStringLiteral("nasName"), nasName);
    content.threadIdentifier = shareThread(nasName);
    scheduleNotification(content, QStringLiteral("mount-failure-") + nasName);
}

void NotificationService::notifyUnmount(const QString& nasName)
{
    if (!m_preferences.isEnabled(NotificationEvent::unmount))
        return;
    NotificationContent content;
    content.title = Localization::text(QStringLiteral("notification.unmount.title"), QStringLiteral("NAS 已断开"));
    content.body = Localization::textFormat(QStringLiteral("notification.unmount.body"), QStringLiteral("%@ 已卸载"),
        {nasName});
    content.playsSound = false;
    content.threadIdentifier = shareThread(nasName);
    scheduleNotification(content, QStringLiteral("unmount-") + nasName);
}

void NotificationService::notifyTransferComplete(const QString& fileName, TransferDirection direction,
    const QString& thread)
{
    if (!m_preferences.isEnabled(NotificationEvent::transferComplete))
        return;
    NotificationContent content;
    content.title = transferTitle(direction);
    if (direction == TransferDirection::download) {
        content.body = Localization::textFormat(QStringLiteral("notification.transfer.download.body"),
            QStringLiteral("%@ 已下载到本地"), {fileName});
    } else {
        content.body = Localization::textFormat(QStringLiteral("notification.transfer.upload.body"),
            QStringLiteral("%@ 已上传到 NAS"), {fileName});
    }
    content.threadIdentifier = thread;
    // A short random suffix keeps two files of the same name from replacing each other.
    const QString suffix = encoding::uuidText(QUuid::createUuid()).left(4);
    scheduleNotification(content, QStringLiteral("transfer-completed-") + fileName + QLatin1Char('-') + suffix);
}

void NotificationService::notifyTransfersComplete(qint64 count, TransferDirection direction, const QString& thread)
{
    if (!m_preferences.isEnabled(NotificationEvent::transferComplete))
        return;
    NotificationContent content;
    content.title = transferTitle(direction);
    if (direction == TransferDirection::download) {
        content.body = Localization::plural(QStringLiteral("notification.transfer.download.bodyCount"),
            QStringLiteral("%lld 个文件已下载到本地"), count);
    } else {
        content.body = Localization::plural(QStringLiteral("notification.transfer.upload.bodyCount"),
            QStringLiteral("%lld 个文件已上传到 NAS"), count);
    }
    content.threadIdentifier = thread;
    scheduleNotification(content, thread);
}

void NotificationService::scheduleNotification(const NotificationContent& content, const QString& identifier)
{
    m_center.removePendingNotificationRequests({identifier});
    LogManager* logger = &m_logger;
    m_center.add(NotificationRequest{identifier, content, triggerDelay},
        [logger, identifier](const std::optional<QString>& error) {
            if (error)
                VLOG_TO(*logger, error, defaultCategory,
                    QStringLiteral("Failed to schedule notification '%1': %2").arg(identifier, *error));
        });
}

void NotificationService::handleAction(const QString& /*identifier*/, const QString& actionIdentifier,
    const QVariantMap& userInfo)
{
    if (actionIdentifier != retryActionID)
        return;
    emit retryRequested(userInfo.value(QStringLiteral("nasName")).toString());
}

} // namespace vantrel
