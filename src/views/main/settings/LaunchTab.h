#pragma once

#include "app/LaunchAtLoginManager.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/MountKeepAlive.h"
#include "platform/Defaults.h"

#include <QWidget>

class QCheckBox;

namespace vantrel {

class Stepper;

// Start at login, mount at launch, the automatic mounting's safeguards and the keep-alive check.
// The values are read by the automatic mounting strategy when it next starts its checks; only
// the login item is changed at once.
class LaunchTab final : public QWidget {
    Q_OBJECT

public:
    static inline const QString launchAtLoginKey = QStringLiteral("launchAtLogin");
    // The readers own these keys, so writer and reader cannot drift apart.
    static inline const QString& autoMountKey = AutoMountStrategy::autoMountOnLaunchKey;
    static inline const QString& keepAliveEnabledKey = MountKeepAlive::enabledKey;
    static inline const QString& keepAliveIntervalKey = MountKeepAlive::intervalKey;
    static constexpr double defaultKeepAliveInterval = 180;

    explicit LaunchTab(Defaults& defaults = Defaults::standard(),
        LaunchAtLoginManager& launchAtLogin = LaunchAtLoginManager::shared(), QWidget* parent = nullptr);

    // The interval's label for a number of seconds: whole minutes, the fraction dropped.
    static QString intervalText(double seconds);

    QCheckBox* launchAtLoginToggle() const { return m_launchAtLogin; }
    QCheckBox* autoMountToggle() const { return m_autoMount; }
    QCheckBox* keepAliveToggle() const { return m_keepAlive; }
    Stepper* intervalStepper() const { return m_interval; }
    QWidget* intervalRow() const { return m_intervalRow; }

private:
    void load();
    void updateIntervalRow();

    Defaults& m_defaults;
    LaunchAtLoginManager& m_loginItem;
    QCheckBox* m_launchAtLogin;
    QCheckBox* m_autoMount;
    QCheckBox* m_keepAlive;
    Stepper* m_interval;
    QWidget* m_intervalRow;
};

} // namespace vantrel
