#pragma once

#include "model/NASConfig.h"

#include <QObject>
#include <QUrl>

#include <optional>

namespace vantrel {

// Which share the file browser window shows. Nothing clears it: the window keeps showing the last
// share chosen for browsing. Main thread only.
class FileBrowserState final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<vantrel::NASConfig> config READ config NOTIFY configChanged)
    Q_PROPERTY(std::optional<QUrl> mountPoint READ mountPoint NOTIFY mountPointChanged)

public:
    explicit FileBrowserState(QObject* parent = nullptr);
    // Created on first use on the main thread; kept until the process ends.
    static FileBrowserState& shared();

    const std::optional<NASConfig>& config() const { return m_config; }
    const std::optional<QUrl>& mountPoint() const { return m_mountPoint; }

    // Sets the configuration, then the mount point; each assignment is announced, so an observer
    // sees the new configuration with the previous mount point in between.
    void configure(const NASConfig& config, const QUrl& mountPoint);

signals:
    void configChanged();
    void mountPointChanged();

private:
    std::optional<NASConfig> m_config;
    std::optional<QUrl> m_mountPoint;
};

} // namespace vantrel
