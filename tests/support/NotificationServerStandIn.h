#pragma once

#include "platform/NotificationCenter.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <atomic>

namespace vantrel::test {

struct NotifyCall {
    QString appName;
    uint replacesId = 0;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int timeout = 0;
    uint id = 0;
};

// A notification server on its own bus connection and thread, as the desktop would run one. It
// records only what this test process sends: other tests on the same bus may post too.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit FakeNotificationServer(const QString& client)
        : m_client(client)
    {
    }

    std::atomic<int> replyDelayMs{0};
    std::atomic<bool> bodyMarkup{false};

    QList<NotifyCall> calls() const
    {
        QMutexLocker l(&m_mutex);
        return m_calls;
    }
    QList<uint> closed() const
    {
        QMutexLocker l(&m_mutex);
        return m_closed;
    }
    // The bodies of the notifications on screen now, by id; none is ever closed by the user here.
    QHash<uint, QString> onScreen() const
    {
        QMutexLocker l(&m_mutex);
        return m_onScreen;
    }

public slots:
    QStringList GetCapabilities()
    {
        QStringList caps{QStringLiteral("body"), QStringLiteral("actions")};
        if (bodyMarkup)
            caps << QStringLiteral("body-markup");
        return caps;
    }

    uint Notify(const QString& appName, uint replacesId, const QString& icon, const QString& summary,
        const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        if (message().service() != m_client)
            return replacesId != 0 ? replacesId : m_strangersNextId++;
        if (const int ms = replyDelayMs.load(); ms > 0)
            QThread::msleep(ms); // a slow server: the answer comes after the client posted again
        QMutexLocker l(&m_mutex);
        // An id no longer on screen cannot be replaced: the notification opens anew.
        const uint id = replacesId != 0 && m_onScreen.contains(replacesId) ? replacesId : m_nextId++;
        m_calls.append(NotifyCall{appName, replacesId, icon, summary, body, actions, hints, timeout, id});
        m_onScreen.insert(id, body);
        return id;
    }

    void CloseNotification(uint id)
    {
        if (message().service() != m_client)
            return;
        QMutexLocker l(&m_mutex);
        m_closed.append(id);
        m_onScreen.remove(id);
    }

signals:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    const QString m_client;
    mutable QMutex m_mutex;
    QList<NotifyCall> m_calls;
    QList<uint> m_closed;
    QHash<uint, QString> m_onScreen;
    uint m_nextId = 1;
    uint m_strangersNextId = 1'000'000; // never an id this test's client is given
};

class ServerHost {
public:
    ServerHost()
    {
        m_thread.start();
        m_server = new FakeNotificationServer(QDBusConnection::sessionBus().baseService());
        m_server->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_server,
            [this] {
                auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                    QStringLiteral("fake-notification-server"));
                m_ok = bus.registerObject(NotificationCenter::objectPath, m_server,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
                    && bus.registerService(NotificationCenter::serviceName);
                m_uniqueName = bus.baseService();
            },
            Qt::BlockingQueuedConnection);
    }
    ~ServerHost()
    {
        QMetaObject::invokeMethod(
            m_server,
            [this] {
                auto bus = QDBusConnection(QStringLiteral("fake-notification-server"));
                bus.unregisterService(NotificationCenter::serviceName);
                bus.unregisterObject(NotificationCenter::objectPath);
                delete m_server;
            },
            Qt::BlockingQueuedConnection);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-notification-server"));
        m_thread.quit();
        m_thread.wait();
    }
    bool ok() const { return m_ok; }
    FakeNotificationServer& server() { return *m_server; }
    void emitAction(uint id, const QString& key)
    {
        QMetaObject::invokeMethod(m_server, [this, id, key] { emit m_server->ActionInvoked(id, key); });
    }
    void emitClosed(uint id)
    {
        QMetaObject::invokeMethod(m_server, [this, id] { emit m_server->NotificationClosed(id, 2); });
    }

private:
    QThread m_thread;
    FakeNotificationServer* m_server = nullptr;
    bool m_ok = false;
    QString m_uniqueName;
};

} // namespace vantrel::test
