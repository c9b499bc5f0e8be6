#include "platform/NotificationCenter.h"

#include "platform/AppInfo.h"
#include "platform/Threading.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMetaObject>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <qcoro/qcorodbus.h>

#include <algorithm>
#include <utility>

namespace vantrel {

NotificationCenter::NotificationCenter(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{
    // Servers that draw no theme icon for the application (it is not installed in the theme they
    // read) still show the file; looked up once, on the local disk.
    const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
        QStringLiteral("icons/hicolor/scalable/apps/") + AppInfo::iconName() + QStringLiteral(".svg"));
    m_imagePath = installed.isEmpty() ? AppInfo::iconName() : QUrl::fromLocalFile(installed).toString();
    // Any sender may emit these; each handler accepts only the server that showed the notification,
    // which avoids resolving the server's name on the bus here.
    m_bus.connect(QString(), objectPath, interfaceName, QStringLiteral("ActionInvoked"), this,
        SLOT(onActionInvoked(uint, QString, QDBusMessage)));
    m_bus.connect(QString(), objectPath, interfaceName, QStringLiteral("NotificationClosed"), this,
        SLOT(onNotificationClosed(uint, uint, QDBusMessage)));
}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::shared()
{
    return sharedInstance([] { return new NotificationCenter(QDBusConnection::sessionBus()); });
}

QCoro::Task<NotificationAuthorization> NotificationCenter::requestAuthorization()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName,
        QStringLiteral("GetCapabilities"));
    if (!m_bus.isConnected())
        co_return NotificationAuthorization{false,
            m_bus.lastError().isValid() ? m_bus.lastError().message()
                                        : QStringLiteral("Not connected to the session bus")};
    // A named pending call: GCC 12 destroys temporaries inside a co_await expression twice.
    QDBusPendingCall pending = m_bus.asyncCall(call);
    const QDBusMessage reply = co_await pending;
    if (reply.type() == QDBusMessage::ErrorMessage)
        co_return NotificationAuthorization{false, reply.errorMessage()};
    if (!reply.arguments().isEmpty())
        m_bodyMarkup = reply.arguments().constFirst().toStringList().contains(QStringLiteral("body-markup"));
    co_return NotificationAuthorization{true, std::nullopt};
}

void NotificationCenter::setNotificationCategories(const QList<NotificationCategory>& categories)
{
    QMutexLocker locker(&m_categoriesMutex);
    m_categories = categories;
}

QList<NotificationCategory> NotificationCenter::notificationCategories() const
{
    QMutexLocker locker(&m_categoriesMutex);
    return m_categories;
}

void NotificationCenter::add(const NotificationRequest& request, Completion completion)
{
    // Queued when called from another thread: all bookkeeping belongs to the centre's thread.
    QMetaObject::invokeMethod(this,
        [this, request, completion = std::move(completion)] { addOnOwnThread(request, completion); });
}

void NotificationCenter::removePendingNotificationRequests(const QStringList& identifiers)
{
    QMetaObject::invokeMethod(this, [this, identifiers] {
        for (const QString& identifier : identifiers) {
            m_pending.remove(identifier);
            if (auto it = m_shown.find(identifier); it != m_shown.end())
                it->next.reset();
        }
    });
}

void NotificationCenter::removeDeliveredNotifications(const QStringList& identifiers)
{
    QMetaObject::invokeMethod(this, [this, identifiers] {
        QList<Completion> withdrawn; // called once the bookkeeping is done, as they may post again
        for (const QString& identifier : identifiers) {
            const auto it = m_shown.find(identifier);
            if (it == m_shown.end())
                continue;
            if (it->inFlight) {
                // The server has not said which id it shows yet: close it once it has. A post
                // queued behind it was delivered before this removal, so it goes too.
                it->closeWhenShown = true;
                if (std::optional<Pending> next = std::exchange(it->next, std::nullopt); next && next->completion)
                    withdrawn.append(next->completion);
                continue;
            }
            if (it->serverId == 0)
                continue;
            close(it->sender, it->serverId);
            forgetServerId(identifier);
        }
        for (const Completion& completion : withdrawn)
            completion(std::nullopt);
    });
}

void NotificationCenter::close(const QString& sender, uint serverId)
{
    QDBusMessage call = QDBusMessage::createMethodCall(sender, objectPath, interfaceName,
        QStringLiteral("CloseNotification"));
    call << serverId;
    // Fire and forget: the notification may already be gone, which is what we want anyway.
    call.setAutoStartService(false);
    m_bus.asyncCall(call);
}

void NotificationCenter::addOnOwnThread(const NotificationRequest& request, const Completion& completion)
{
    const quint64 serial = m_nextSerial++;
    m_pending.insert(request.identifier, Pending{request, completion, serial});
    const QString identifier = request.identifier;
    QTimer::singleShot(request.delay, this, [this, identifier, serial] {
        const auto it = m_pending.find(identifier);
        if (it == m_pending.end() || it->serial != serial)
            return; // removed or replaced meanwhile
        const Pending pending = *it;
        m_pending.erase(it);
        send(pending.request, pending.completion);
    });
}

QStringList NotificationCenter::actionsFor(const QString& categoryIdentifier) const
{
    QStringList actions;
    if (categoryIdentifier.isEmpty())
        return actions;
    QMutexLocker locker(&m_categoriesMutex);
    for (const NotificationCategory& category : m_categories) {
        if (category.identifier != categoryIdentifier)
            continue;
        for (const NotificationAction& action : category.actions)
            actions << action.identifier << action.title;
    }
    return actions;
}

bool NotificationCenter::takeOverThread(const NotificationRequest& request, const Completion& completion)
{
    const QString& thread = request.content.threadIdentifier;
    if (thread.isEmpty())
        return true;
    const QString holder = m_identifierByThread.value(thread);
    if (!holder.isEmpty() && holder != request.identifier) {
        const auto other = m_shown.find(holder);
        if (other != m_shown.end()) {
            if (other->inFlight) {
                // Posted once the server has said which notification this one replaces.
                other->next = Pending{request, completion, 0};
                return false;
            }
            const Shown previous = *other;
            m_shown.erase(other);
            if (previous.serverId != 0) {
                m_identifierByServerId.remove(previous.serverId);
                Shown& shown = m_shown[request.identifier];
                // Whatever still showed under this identifier goes: the thread shows one.
                if (shown.serverId != 0 && !shown.inFlight) {
                    close(shown.sender, shown.serverId);
                    m_identifierByServerId.remove(shown.serverId);
                }
                if (!shown.inFlight) {
                    shown.serverId = previous.serverId;
                    shown.sender = previous.sender;
                }
            }
        }
    }
    m_identifierByThread.insert(thread, request.identifier);
    return true;
}

void NotificationCenter::send(const NotificationRequest& request, const Completion& completion)
{
    if (!takeOverThread(request, completion))
        return;
    m_shown[request.identifier].order = m_nextOrder++;
    forgetOldest(request.identifier);
    Shown& shown = m_shown[request.identifier];
    if (shown.inFlight) {
        // The server has not told us the id to replace yet; post once it has.
        shown.next = Pending{request, completion, 0};
        return;
    }
    if (!m_bus.isConnected()) {
        // A pending call on a dead connection never finishes: report the failure now.
        if (shown.serverId == 0 && !shown.next)
            m_shown.remove(request.identifier);
        if (completion)
            completion(m_bus.lastError().isValid() ? m_bus.lastError().message()
                                                   : QStringLiteral("Not connected to the session bus"));
        return;
    }
    shown.inFlight = true;

    // The server finds the application's name and icon through its desktop entry.
    QVariantMap hints{{QStringLiteral("desktop-entry"), AppInfo::iconName()},
        {QStringLiteral("image-path"), m_imagePath}};
    if (!request.content.playsSound)
        hints.insert(QStringLiteral("suppress-sound"), true);
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName,
        QStringLiteral("Notify"));
    const QString body = m_bodyMarkup ? request.content.body.toHtmlEscaped() : request.content.body;
    call << AppInfo::displayName() << shown.serverId << AppInfo::iconName() << request.content.title << body
         << actionsFor(request.content.categoryIdentifier) << hints << qint32(-1);

    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    const QString identifier = request.identifier;
    const NotificationContent content = request.content;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, identifier, content, completion](
            QDBusPendingCallWatcher* w) { notifyFinished(identifier, content, completion, w); });
}

void NotificationCenter::notifyFinished(const QString& identifier, const NotificationContent& content,
    const Completion& completion, QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    Shown& shown = m_shown[identifier];
    shown.inFlight = false;
    const bool removed = std::exchange(shown.closeWhenShown, false);
    std::optional<QString> error;
    if (reply.isError()) {
        error = reply.error().message();
    } else if (removed) {
        close(reply.reply().service(), reply.value());
        m_identifierByServerId.remove(shown.serverId);
        shown.serverId = 0;
        shown.userInfo.clear();
    } else {
        if (shown.serverId != 0 && shown.serverId != reply.value())
            m_identifierByServerId.remove(shown.serverId);
        shown.serverId = reply.value();
        shown.sender = reply.reply().service();
        shown.userInfo = content.userInfo;
        m_identifierByServerId.insert(shown.serverId, identifier);
    }
    std::optional<Pending> next = std::move(shown.next);
    shown.next.reset();
    if (completion)
        completion(error);
    if (next)
        send(next->request, next->completion);
    else if (const auto it = m_shown.constFind(identifier);
             it != m_shown.constEnd() && it->serverId == 0 && !it->inFlight)
        m_shown.erase(it);
    // Entries still under way when newer ones arrived can go now.
    forgetOldest(QString());
}

void NotificationCenter::forgetServerId(const QString& identifier)
{
    const auto it = m_shown.find(identifier);
    if (it == m_shown.end())
        return;
    m_identifierByServerId.remove(it->serverId);
    it->serverId = 0;
    it->userInfo.clear();
    if (!it->inFlight && !it->next)
        m_shown.erase(it);
}

void NotificationCenter::forgetOldest(const QString& keep)
{
    while (m_shown.size() > std::max(1, maxRemembered)) {
        // Only settled ones: a post under way still needs its entry.
        auto oldest = m_shown.end();
        for (auto it = m_shown.begin(); it != m_shown.end(); ++it) {
            if (it.key() != keep && !it->inFlight && !it->next
                && (oldest == m_shown.end() || it->order < oldest->order))
                oldest = it;
        }
        if (oldest == m_shown.end())
            return;
        if (oldest->serverId != 0) {
            close(oldest->sender, oldest->serverId);
            m_identifierByServerId.remove(oldest->serverId);
        }
        m_shown.erase(oldest);
    }
}

std::optional<QString> NotificationCenter::identifierShownBy(uint serverId, const QDBusMessage& message) const
{
    const auto idIt = m_identifierByServerId.constFind(serverId);
    if (idIt == m_identifierByServerId.constEnd())
        return std::nullopt;
    // Only the server that showed the notification speaks for it.
    const auto it = m_shown.constFind(idIt.value());
    if (it == m_shown.constEnd() || it->sender != message.service())
        return std::nullopt;
    return idIt.value();
}

void NotificationCenter::onActionInvoked(uint serverId, const QString& actionKey, const QDBusMessage& message)
{
    const std::optional<QString> identifier = identifierShownBy(serverId, message);
    if (!identifier)
        return;
    const QVariantMap userInfo = m_shown.value(*identifier).userInfo;
    emit actionInvoked(*identifier, actionKey, userInfo);
}

void NotificationCenter::onNotificationClosed(uint serverId, uint /*reason*/, const QDBusMessage& message)
{
    const std::optional<QString> found = identifierShownBy(serverId, message);
    if (!found)
        return;
    const QString identifier = *found;
    // A closed notification cannot be replaced; the next post with this identifier opens a new one.
    forgetServerId(identifier);
}

} // namespace vantrel
