#include "views/main/settings/AdvancedMountTab.h"

#include "model/NASConfig.h"
#include "platform/Localization.h"
#include "views/main/settings/SettingsRows.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/SegmentedControl.h"
#include "views/widgets/Stepper.h"

namespace vantrel {

AdvancedMountTab::AdvancedMountTab(Defaults& defaults, QWidget* parent)
    : QWidget(parent)
    , m_defaults(defaults)
{
    FormPage* page = settings::addFormPage(this, QStringLiteral("AdvancedMountTab"));

    FormSection* smb = page->addSection(
        Localization::text(QStringLiteral("settings.advanced.smb"), QStringLiteral("SMB 协议")));
    QList<SegmentedControl::Option> options;
    for (SMBVersion version : allCases<SMBVersion>())
        options.append({rawValue(version), displayName(version), {}});
    m_smbVersion = new SegmentedControl(options);
    m_smbVersion->setObjectName(smbVersionKey);
    // Whatever text is stored: one that no option stands for selects none.
    m_smbVersion->setValue(m_defaults.stringValue(smbVersionKey).value_or(rawValue(SMBVersion::automatic)));
    settings::addTrailingRow(smb,
        Localization::text(QStringLiteral("settings.advanced.smbVersion"), QStringLiteral("默认 SMB 版本")),
        m_smbVersion);
    connect(m_smbVersion, &SegmentedControl::activated, this,
        [this](const QString& raw) { m_defaults.setValue(smbVersionKey, raw); });

    const auto seconds = [](qint64 number) {
        return Localization::plural(QStringLiteral("%llds"), QStringLiteral("%llds"), number);
    };
    // A bare number: nothing to translate.
    const auto count = [](qint64 number) { return QString::number(number); };

    FormSection* timeout = page->addSection(
        Localization::text(QStringLiteral("settings.advanced.timeout"), QStringLiteral("超时设置")));
    m_timeout = makeStepper(timeoutKey, 5, 120, 5, defaultTimeout, seconds);
    settings::addTrailingRow(timeout,
        Localization::text(QStringLiteral("settings.advanced.connectionTimeout"), QStringLiteral("连接超时")),
        m_timeout);
    settings::addNote(timeout,
        Localization::text(QStringLiteral("settings.advanced.timeout.hint"),
            QStringLiteral("NAS 连接等待的最大时间。较长的超时可以应对较慢的网络。")));

    FormSection* retry = page->addSection(
        Localization::text(QStringLiteral("settings.advanced.retry"), QStringLiteral("重试设置")));
    m_retryCount = makeStepper(retryCountKey, 0, 10, 1, defaultRetryCount, count);
    settings::addTrailingRow(retry,
        Localization::text(QStringLiteral("settings.advanced.retryCount"), QStringLiteral("重试次数")), m_retryCount);
    m_retryInterval = makeStepper(retryIntervalKey, 5, 60, 5, defaultRetryInterval, seconds);
    settings::addTrailingRow(retry,
        Localization::text(QStringLiteral("settings.advanced.retryInterval"), QStringLiteral("重试间隔")),
        m_retryInterval);
    settings::addNote(retry,
        Localization::text(QStringLiteral("settings.advanced.retry.hint"),
            QStringLiteral("挂载失败后的重试策略。间隔时间会逐步增加（指数退避）。")));
}

Stepper* AdvancedMountTab::makeStepper(const QString& key, double minimum, double maximum, double step, double fallback,
    QString (*label)(qint64 number))
{
    auto* stepper = new Stepper(minimum, maximum, step);
    stepper->setObjectName(key);
    const qint64 fallbackNumber = settings::wholeNumber(fallback).value_or(0);
    stepper->setLabelFunction(
        [label, fallbackNumber](double value) { return label(settings::wholeNumber(value).value_or(fallbackNumber)); });
    // The stepper emits only for a press, so loading writes nothing back.
    stepper->setValue(settings::labelledNumber(m_defaults, key, fallback));
    connect(stepper, &Stepper::valueEdited, this, [this, key](double value) { m_defaults.setValue(key, value); });
    return stepper;
}

} // namespace vantrel
