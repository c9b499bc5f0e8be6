#pragma once

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QReadWriteLock>
#include <QString>

#include <optional>

namespace vantrel {

class Defaults;

// The events a user notification may be posted for, in the order the settings list them.
enum class NotificationEvent {
    mountSuccess,
    mountFailure,
    unmount,
    networkChange,
    transferComplete,
    transferFailed,
    cacheCleanup
};

QList<NotificationEvent> allNotificationEvents();
QString notificationEventRawValue(NotificationEvent event);
// Exact, case-sensitive match of a raw value; none for any other text.
std::optional<NotificationEvent> notificationEventFromRaw(const QString& raw);
// The localized label of the event's switch.
QString notificationEventDisplayName(NotificationEvent event);
// The state of an event the user never switched.
bool notificationEventDefaultState(NotificationEvent event);

inline size_t qHash(NotificationEvent event, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(event), seed);
}

using NotificationEventStates = QHash<NotificationEvent, bool>;

// The user's choice of which events may produce a notification: a global switch and one switch
// per event, kept in the defaults database. Written on the main thread; `isEnabled` may be called
// from any thread and sees either the old or the new choice.
class NotificationPreferences final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool globalEnabled READ globalEnabled WRITE setGlobalEnabled NOTIFY globalEnabledChanged)
    Q_PROPERTY(vantrel::NotificationEventStates eventStates READ eventStates NOTIFY eventStatesChanged)

public:
    static inline const QString globalKey = QStringLiteral("notificationsEnabled");
    static inline const QString eventPrefix = QStringLiteral("notify.");

    explicit NotificationPreferences(Defaults& defaults, QObject* parent = nullptr);
    static NotificationPreferences& shared();

    bool isEnabled(NotificationEvent event) const;
    void setEnabled(bool enabled, NotificationEvent event);
    void resetToDefaults();

    bool globalEnabled() const;
    // Publishes on every assignment, the unchanged value included, then stores it.
    void setGlobalEnabled(bool enabled);
    // Only the events with a stored choice.
    NotificationEventStates eventStates() const;

    static QString eventKey(NotificationEvent event) { return eventPrefix + notificationEventRawValue(event); }

signals:
    void globalEnabledChanged(bool enabled);
    void eventStatesChanged(const vantrel::NotificationEventStates& states);

private:
    Defaults& m_defaults;
    mutable QReadWriteLock m_lock;
    bool m_globalEnabled = true;
    NotificationEventStates m_eventStates;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::NotificationEvent)
Q_DECLARE_METATYPE(vantrel::NotificationEventStates)
