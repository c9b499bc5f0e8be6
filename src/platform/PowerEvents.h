#pragma once

#include <QDBusConnection>
#include <QObject>

namespace vantrel {

// The system going to sleep and waking up, from logind's PrepareForSleep signal on the system bus.
// Without a system bus or without logind nothing is ever announced. Signals are delivered on the
// thread the instance lives on.
class PowerEvents final : public QObject {
    Q_OBJECT

public:
    static inline const QString service = QStringLiteral("org.freedesktop.login1");
    static inline const QString path = QStringLiteral("/org/freedesktop/login1");
    static inline const QString interface = QStringLiteral("org.freedesktop.login1.Manager");

    // On the system bus.
    explicit PowerEvents(QObject* parent = nullptr);
    explicit PowerEvents(const QDBusConnection& bus, QObject* parent = nullptr);
    static PowerEvents& shared();

    // Whether the logind signal is subscribed to.
    bool isWatching() const { return m_watching; }

signals:
    void willSleep();
    void didWake();

private slots:
    void onPrepareForSleep(bool start);

private:
    bool m_watching = false;
};

} // namespace vantrel
