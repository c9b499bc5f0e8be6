#include "views/main/settings/CacheSettingsTab.h"

#include "platform/Formatters.h"
#include "platform/Localization.h"
#include "platform/Threading.h"
#include "views/main/settings/SettingsRows.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/Theme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace vantrel {

CacheSettingsTab::CacheSettingsTab(Defaults& defaults, CacheManager& cacheManager, CacheDirectoryManager& dirManager,
    QWidget* parent)
    : QWidget(parent)
    , m_defaults(defaults)
    , m_cache(cacheManager)
    , m_dirManager(dirManager)
{
    FormPage* page = settings::addFormPage(this, QStringLiteral("CacheSettingsTab"));

    FormSection* usage = page->addSection(
        Localization::text(QStringLiteral("settings.cache.usage"), QStringLiteral("缓存使用情况")));
    m_entryCount = settings::makeValueLabel(QStringLiteral("entryCount"));
    m_totalSize = settings::makeValueLabel(QStringLiteral("totalSize"));
    m_hitRate = settings::makeValueLabel(QStringLiteral("hitRate"));
    m_diskSpace = settings::makeValueLabel(QStringLiteral("diskSpace"));
    settings::addTrailingRow(usage,
        Localization::text(QStringLiteral("settings.cache.entryCount"), QStringLiteral("缓存文件数")), m_entryCount);
    settings::addTrailingRow(usage,
        Localization::text(QStringLiteral("settings.cache.totalSize"), QStringLiteral("已用空间")), m_totalSize);
    settings::addTrailingRow(usage,
        Localization::text(QStringLiteral("settings.cache.hitRate"), QStringLiteral("命中率")), m_hitRate);
    settings::addTrailingRow(usage,
        Localization::text(QStringLiteral("settings.cache.diskSpace"), QStringLiteral("可用磁盘")), m_diskSpace);

    FormSection* limit = page->addSection(
        Localization::text(QStringLiteral("settings.cache.maxSize"), QStringLiteral("最大缓存大小")));
    auto* sliderRow = new QWidget;
    auto* sliderLayout = new QHBoxLayout(sliderRow);
    sliderLayout->setContentsMargins(0, 0, 0, 0);
    // Positions count steps, so a drag can only land on the grid of 100 MB.
    m_slider = new QSlider(Qt::Horizontal);
    m_slider->setObjectName(CacheManager::maxCacheSizeKey);
    m_slider->setRange(minimumSizeMB / sizeStepMB, maximumSizeMB / sizeStepMB);
    m_slider->setSingleStep(1);
    m_slider->setPageStep(1);
    m_sizeLabel = settings::makeValueLabel(QStringLiteral("maxSizeLabel"));
    m_sizeLabel->setMinimumWidth(80);
    sliderLayout->addWidget(m_slider, 1);
    sliderLayout->addWidget(m_sizeLabel);
    limit->addWideRow(sliderRow);

    FormSection* cleanup = page->addSection(
        Localization::text(QStringLiteral("settings.cache.autoCleanup"), QStringLiteral("自动清理")));
    m_autoCleanup = settings::addToggle(cleanup, CacheDirectoryManager::autoCleanupKey,
        Localization::text(QStringLiteral("settings.cache.autoCleanup.toggle"), QStringLiteral("启用自动清理")));
    m_lastCleanup = settings::makeValueLabel(QStringLiteral("lastCleanup"));
    m_lastRemoved = settings::makeValueLabel(QStringLiteral("lastRemoved"));
    settings::addTrailingRow(cleanup,
        Localization::text(QStringLiteral("settings.cache.lastCleanup"), QStringLiteral("上次清理")), m_lastCleanup);
    settings::addTrailingRow(cleanup,
        Localization::text(QStringLiteral("settings.cache.lastRemoved"), QStringLiteral("清理数量")), m_lastRemoved);

    FormSection* actions = page->addSection();
    m_cleanupNow = settings::makeSymbolButton(QStringLiteral("cleanupNow"), QStringLiteral("trash"),
        Localization::text(QStringLiteral("settings.cache.cleanupNow"), QStringLiteral("立即清理")), Theme::Color::red);
    m_clearAll = settings::makeSymbolButton(QStringLiteral("clearAll"), QStringLiteral("xmark.bin"),
        Localization::text(QStringLiteral("settings.cache.clearAll"), QStringLiteral("清除所有缓存")),
        Theme::Color::red);
    settings::addButtonRow(actions, {m_cleanupNow, m_clearAll});

    {
        const QSignalBlocker block(m_autoCleanup);
        m_autoCleanup->setChecked(m_defaults.boolValue(CacheDirectoryManager::autoCleanupKey).value_or(true));
    }
    loadSizeLimit();
    updateUsage();
    updateDiskSpace();
    updateLastCleanup();
    updateCleaningUp();

    connect(m_slider, &QSlider::valueChanged, this, &CacheSettingsTab::storeSizeLimit);
    connect(m_autoCleanup, &QCheckBox::toggled, this, [this](bool on) {
        m_defaults.setValue(CacheDirectoryManager::autoCleanupKey, on);
        if (on)
            m_dirManager.startPeriodicCleanup();
        else
            m_dirManager.stopPeriodicCleanup();
    });
    connect(m_cleanupNow, &QPushButton::clicked, this, [this] {
        // Runs on by itself; the published isCleaningUp drives the button meanwhile.
        QCoro::Task<qint64> cleanup = m_dirManager.performCleanup();
        Q_UNUSED(cleanup);
    });
    connect(m_clearAll, &QPushButton::clicked, this, [this] { detach(m_cache.clearAllCache()); });

    connect(&m_cache, &CacheManager::statisticsChanged, this, &CacheSettingsTab::updateUsage);
    connect(&m_dirManager, &CacheDirectoryManager::availableDiskSpaceChanged, this, &CacheSettingsTab::updateDiskSpace);
    connect(&m_dirManager, &CacheDirectoryManager::lastCleanupDateChanged, this, &CacheSettingsTab::updateLastCleanup);
    connect(&m_dirManager, &CacheDirectoryManager::lastCleanupRemovedCountChanged, this,
        &CacheSettingsTab::updateLastCleanup);
    connect(&m_dirManager, &CacheDirectoryManager::isCleaningUpChanged, this, &CacheSettingsTab::updateCleaningUp);
}

CacheSettingsTab::HitRate CacheSettingsTab::hitRate(const CacheStatistics& statistics)
{
    // Summed as doubles: two counts near the top of their range must not overflow.
    const double total = double(statistics.hitCount) + double(statistics.missCount);
    const double fraction = total < 1 ? 0 : double(statistics.hitCount) / total;
    // The interface language's decimal separator ("75,0%" in German).
    return {Localization::locale().toString(fraction * 100, 'f', 1) + u'%', fraction > 0.5};
}

void CacheSettingsTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // "5 minutes ago" is relative to when it is seen.
    updateLastCleanup();
}

void CacheSettingsTab::loadSizeLimit()
{
    // An absent or unusable limit is the cache's own default of 500 MB.
    const std::optional<qint64> bytes = m_defaults.integerValue(CacheManager::maxCacheSizeKey);
    m_maxCacheSizeMB = double(bytes.value_or(CacheManager::defaultMaxSize)) / double(bytesPerMB);
    const double position = std::round(m_maxCacheSizeMB / sizeStepMB);
    const QSignalBlocker block(m_slider);
    m_slider->setValue(int(std::clamp(position, double(m_slider->minimum()), double(m_slider->maximum()))));
    updateSizeLabel();
}

void CacheSettingsTab::storeSizeLimit(int sliderPosition)
{
    const int megabytes = sliderPosition * sizeStepMB;
    m_maxCacheSizeMB = megabytes;
    updateSizeLabel();
    m_defaults.setValue(CacheManager::maxCacheSizeKey, qint64(megabytes) * bytesPerMB);
    m_cache.updateStatistics();
}

void CacheSettingsTab::updateSizeLabel()
{
    const qint64 megabytes = settings::wholeNumber(m_maxCacheSizeMB).value_or(0);
    m_sizeLabel->setText(Localization::plural(QStringLiteral("%lld MB"), QStringLiteral("%lld MB"), megabytes));
}

void CacheSettingsTab::updateUsage()
{
    const CacheStatistics statistics = m_cache.statistics();
    m_entryCount->setText(QString::number(statistics.entryCount));
    m_totalSize->setText(Formatters::fileByteCount(statistics.totalSize));
    const HitRate rate = hitRate(statistics);
    m_hitRate->setText(rate.text);
    Theme::setTint(m_hitRate, rate.good ? Theme::Color::green : Theme::Color::secondary);
}

void CacheSettingsTab::updateDiskSpace()
{
    m_diskSpace->setText(Formatters::fileByteCount(m_dirManager.availableDiskSpace()));
    Theme::setTint(m_diskSpace, m_dirManager.isLowDiskSpace() ? Theme::Color::red : Theme::Color::secondary);
}

void CacheSettingsTab::updateLastCleanup()
{
    const std::optional<QDateTime> date = m_dirManager.lastCleanupDate();
    const qint64 removed = m_dirManager.lastCleanupRemovedCount();
    if (date)
        m_lastCleanup->setText(Formatters::relativeDateNamed(*date));
    m_lastRemoved->setText(QString::number(removed));
    settings::setRowVisible(m_lastCleanup->parentWidget(), date.has_value());
    settings::setRowVisible(m_lastRemoved->parentWidget(), date.has_value() && removed >= 1);
}

void CacheSettingsTab::updateCleaningUp()
{
    m_cleanupNow->setEnabled(!m_dirManager.isCleaningUp());
}

} // namespace vantrel
