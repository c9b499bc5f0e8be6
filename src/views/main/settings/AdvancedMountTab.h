#pragma once

#include "platform/Defaults.h"

#include <QWidget>

namespace vantrel {

class SegmentedControl;
class Stepper;

// The defaults for mounting: SMB version, connection time-out, retry count and retry interval.
// The numbers are stored as floating point, the retry count included.
class AdvancedMountTab final : public QWidget {
    Q_OBJECT

public:
    static inline const QString smbVersionKey = QStringLiteral("mount.defaultSMBVersion");
    static inline const QString timeoutKey = QStringLiteral("mount.defaultTimeout");
    static inline const QString retryCountKey = QStringLiteral("mount.defaultRetryCount");
    static inline const QString retryIntervalKey = QStringLiteral("mount.defaultRetryInterval");
    static constexpr double defaultTimeout = 30;
    static constexpr double defaultRetryCount = 3;
    static constexpr double defaultRetryInterval = 10;

    explicit AdvancedMountTab(Defaults& defaults = Defaults::standard(), QWidget* parent = nullptr);

    SegmentedControl* smbVersionPicker() const { return m_smbVersion; }
    Stepper* timeoutStepper() const { return m_timeout; }
    Stepper* retryCountStepper() const { return m_retryCount; }
    Stepper* retryIntervalStepper() const { return m_retryInterval; }

private:
    // A stepper bound to a number setting, labelled by the whole number through the format key.
    Stepper* makeStepper(const QString& key, double minimum, double maximum, double step, double fallback,
        QString (*label)(qint64 number));

    Defaults& m_defaults;
    SegmentedControl* m_smbVersion;
    Stepper* m_timeout;
    Stepper* m_retryCount;
    Stepper* m_retryInterval;
};

} // namespace vantrel
