#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace vantrel {

struct NotificationAction {
    QString identifier;
    QString title;
    bool operator==(const NotificationAction&) const = default;
};

// A kind of notification and the actions offered with it.
struct NotificationCategory {
    QString identifier;
    QList<NotificationAction> actions;
    bool operator==(const NotificationCategory&) const = default;
};

struct NotificationContent {
    QString title;
    QString body;
    bool playsSound = true; // the server's default sound, or silence
    QString categoryIdentifier;
    QVariantMap userInfo; // handed back with an invoked action
    // Notifications of one thread replace each other on screen, whatever their identifiers; none
    // when empty.
    QString threadIdentifier;
};

struct NotificationRequest {
    QString identifier;
    NotificationContent content;
    // Shown after this delay; until then the request is pending and a newer one replaces it.
    std::chrono::milliseconds delay{0};
};

struct NotificationAuthorization {
    bool granted = false;
    std::optional<QString> error;
};

// User notifications through the desktop's notification server (org.freedesktop.Notifications on
// the session bus). Every bus call is asynchronous; the public methods may be called from any
// thread and do their work on the centre's own thread.
//
// A request identifier stays attached to what the server shows: posting the same identifier again
// replaces the notification on screen instead of adding a second one.
class NotificationCenter final : public QObject {
    Q_OBJECT

public:
    static inline const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString interfaceName = QStringLiteral("org.freedesktop.Notifications");

    explicit NotificationCenter(const QDBusConnection& bus, QObject* parent = nullptr);
    ~NotificationCenter() override;
    // On the session bus.
    static NotificationCenter& shared();

    // Granted when a notification server answers; refused with the bus error when none does.
    QCoro::Task<NotificationAuthorization> requestAuthorization();

    // Replaces every registered category.
    void setNotificationCategories(const QList<NotificationCategory>& categories);
    QList<NotificationCategory> notificationCategories() const;

    // The completion runs on the centre's thread once the server accepted or refused the
    // notification; it is dropped when a newer request with the same identifier replaces this one
    // before it was shown.
    using Completion = std::function<void(const std::optional<QString>& error)>;
    void add(const NotificationRequest& request, Completion completion = {});
    // How many shown notifications are remembered, to replace them or hand back their actions;
    // beyond it the least recently posted are closed and forgotten (servers need not say when they
    // close one), so that none stays on screen that a newer post could no longer replace.
    int maxRemembered = 1000;
    void removePendingNotificationRequests(const QStringList& identifiers);
    void removeDeliveredNotifications(const QStringList& identifiers);

signals:
    // The user chose an action of a shown notification.
    void actionInvoked(const QString& identifier, const QString& actionIdentifier, const QVariantMap& userInfo);

private slots:
    void onActionInvoked(uint serverId, const QString& actionKey, const QDBusMessage& message);
    void onNotificationClosed(uint serverId, uint reason, const QDBusMessage& message);

private:
    struct Pending {
        NotificationRequest request;
        Completion completion;
        quint64 serial = 0;
    };
    // What the server shows, or is about to show, for one identifier.
    struct Shown {
        uint serverId = 0;
        QString sender; // the server's unique bus name
        QVariantMap userInfo;
        bool inFlight = false;
        bool closeWhenShown = false; // removed while its Notify had no answer yet
        std::optional<Pending> next; // posted while the previous Notify had no answer yet
        quint64 order = 0;           // when it was last posted
    };

    // Hands what the thread's other notification shows over to the request, so that its post
    // replaces it on screen; false when the post has to wait for that one's Notify to answer.
    bool takeOverThread(const NotificationRequest& request, const Completion& completion);
    // The identifier of a notification this centre posted, when the signal comes from its server.
    std::optional<QString> identifierShownBy(uint serverId, const QDBusMessage& message) const;
    void addOnOwnThread(const NotificationRequest& request, const Completion& completion);
    void send(const NotificationRequest& request, const Completion& completion);
    void notifyFinished(const QString& identifier, const NotificationContent& content, const Completion& completion,
        QDBusPendingCallWatcher* watcher);
    void forgetServerId(const QString& identifier);
    void close(const QString& sender, uint serverId);
    void forgetOldest(const QString& keep);
    QStringList actionsFor(const QString& categoryIdentifier) const;

    QDBusConnection m_bus;
    // A server that reads markup in bodies gets names escaped, so "<" or "&" in a share or file
    // name shows as typed.
    std::atomic<bool> m_bodyMarkup = false;
    // The installed icon file as a URL, else the icon's theme name.
    QString m_imagePath;
    mutable QMutex m_categoriesMutex;
    QList<NotificationCategory> m_categories;
    quint64 m_nextSerial = 1;
    quint64 m_nextOrder = 1;
    QHash<QString, Pending> m_pending;
    QHash<QString, Shown> m_shown;
    QHash<uint, QString> m_identifierByServerId;
    QHash<QString, QString> m_identifierByThread; // the last posted of each thread
};

} // namespace vantrel
