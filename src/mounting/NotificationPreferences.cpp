#include "mounting/NotificationPreferences.h"

#include "platform/Defaults.h"
#include "platform/Localization.h"
#include "platform/Threading.h"

namespace vantrel {

namespace {

struct EventInfo {
    NotificationEvent event;
    const char* raw;
    const char* nameKey;
    const char* defaultName; // UTF-8
    bool defaultState;
};

constexpr EventInfo eventTable[] = {
    {NotificationEvent::mountSuccess, "mountSuccess", textKey("notification.event.mountSuccess"), "挂载成功", true},
    {NotificationEvent::mountFailure, "mountFailure", textKey("notification.event.mountFailure"), "挂载失败", true},
    {NotificationEvent::unmount, "unmount", textKey("notification.event.unmount"), "卸载", false},
    {NotificationEvent::networkChange, "networkChange", textKey("notification.event.networkChange"), "网络变化", true},
    {NotificationEvent::transferComplete, "transferComplete", textKey("notification.event.transferComplete"),
        "传输完成", true},
    {NotificationEvent::transferFailed, "transferFailed", textKey("notification.event.transferFailed"), "传输失败",
        true},
    {NotificationEvent::cacheCleanup, "cacheCleanup", textKey("notification.event.cacheCleanup"), "缓存清理", false},
};

const EventInfo& info(NotificationEvent event)
{
    return eventTable[static_cast<int>(event)];
}

} // namespace

template <>
QList<NotificationEvent> allCases<NotificationEvent>()
{
    QList<NotificationEvent> events;
    for (const EventInfo& e : eventTable)
        events.append(e.event);
    return events;
}

QString rawValue(NotificationEvent event)
{
    return QString::fromLatin1(info(event).raw);
}

QString notificationEventDisplayName(NotificationEvent event)
{
    return Localization::text(QString::fromLatin1(info(event).nameKey), QString::fromUtf8(info(event).defaultName));
}

bool notificationEventDefaultState(NotificationEvent event)
{
    return info(event).defaultState;
}

NotificationPreferences::NotificationPreferences(Defaults& defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
{
    // Only a stored Bool counts; a value of any other type reads as absent.
    const QVariant global = m_defaults.value(globalKey);
    m_globalEnabled = global.typeId() == QMetaType::Bool ? global.toBool() : true;
    for (NotificationEvent event : allCases<NotificationEvent>()) {
        const QVariant stored = m_defaults.value(eventKey(event));
        if (stored.typeId() == QMetaType::Bool)
            m_eventStates.insert(event, stored.toBool());
    }
}

NotificationPreferences& NotificationPreferences::shared()
{
    return sharedInstance([] { return new NotificationPreferences(Defaults::standard()); });
}

bool NotificationPreferences::isEnabled(NotificationEvent event) const
{
    QReadLocker locker(&m_lock);
    if (!m_globalEnabled)
        return false;
    const auto it = m_eventStates.constFind(event);
    return it != m_eventStates.constEnd() ? it.value() : notificationEventDefaultState(event);
}

void NotificationPreferences::setEnabled(bool enabled, NotificationEvent event)
{
    NotificationEventStates states;
    {
        QWriteLocker locker(&m_lock);
        m_eventStates.insert(event, enabled);
        states = m_eventStates;
    }
    emit eventStatesChanged(states);
    m_defaults.setValue(eventKey(event), enabled);
}

void NotificationPreferences::resetToDefaults()
{
    {
        QWriteLocker locker(&m_lock);
        m_eventStates.clear();
    }
    emit eventStatesChanged({});
    for (NotificationEvent event : allCases<NotificationEvent>())
        m_defaults.remove(eventKey(event));
}

bool NotificationPreferences::globalEnabled() const
{
    QReadLocker locker(&m_lock);
    return m_globalEnabled;
}

void NotificationPreferences::setGlobalEnabled(bool enabled)
{
    {
        QWriteLocker locker(&m_lock);
        m_globalEnabled = enabled;
    }
    emit globalEnabledChanged(enabled);
    m_defaults.setValue(globalKey, enabled);
}

NotificationEventStates NotificationPreferences::eventStates() const
{
    QReadLocker locker(&m_lock);
    return m_eventStates;
}

} // namespace vantrel
