#pragma once

#include "files/CacheDirectoryManager.h"
#include "files/CacheManager.h"
#include "platform/Defaults.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace vantrel {

// How the offline cache is used, its size limit, the periodic clean-up and its outcome, and the
// clean-up and clear buttons. Everything it shows comes from the two managers' published state.
class CacheSettingsTab final : public QWidget {
    Q_OBJECT

public:
    static constexpr qint64 bytesPerMB = 1'048'576;
    static constexpr int minimumSizeMB = 100;
    static constexpr int maximumSizeMB = 5000;
    static constexpr int sizeStepMB = 100;

    explicit CacheSettingsTab(Defaults& defaults = Defaults::standard(),
        CacheManager& cacheManager = CacheManager::shared(),
        CacheDirectoryManager& dirManager = CacheDirectoryManager::shared(), QWidget* parent = nullptr);

    // "%.1f%%" of the hits among all lookups (0.0 without any), and whether more than half hit.
    struct HitRate {
        QString text;
        bool good = false;
    };
    static HitRate hitRate(const CacheStatistics& statistics);

    // The limit the slider stands for, in megabytes.
    double maxCacheSizeMB() const { return m_maxCacheSizeMB; }
    QSlider* sizeSlider() const { return m_slider; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void loadSizeLimit();
    void storeSizeLimit(int sliderPosition);
    void updateSizeLabel();
    void updateUsage();
    void updateDiskSpace();
    void updateLastCleanup();
    void updateCleaningUp();

    Defaults& m_defaults;
    CacheManager& m_cache;
    CacheDirectoryManager& m_dirManager;
    double m_maxCacheSizeMB = 500;

    QLabel* m_entryCount;
    QLabel* m_totalSize;
    QLabel* m_hitRate;
    QLabel* m_diskSpace;
    QSlider* m_slider;
    QLabel* m_sizeLabel;
    QCheckBox* m_autoCleanup;
    QLabel* m_lastCleanup;
    QLabel* m_lastRemoved;
    QPushButton* m_cleanupNow;
    QPushButton* m_clearAll;
};

} // namespace vantrel
