#pragma once

#include "model/NASConfig.h"

#include <QUrl>
#include <QWidget>

namespace vantrel {

class AppStateManager;
class NASConfigStore;

// The content of the file browser window for one mounted share.
class FileBrowserView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int minimumContentWidth = 700;
    static constexpr int minimumContentHeight = 500;

    FileBrowserView(const NASConfig& config, const QUrl& mountPoint, AppStateManager& appState,
        NASConfigStore& configStore, QWidget* parent = nullptr);

    const NASConfig& config() const { return m_config; }
    QUrl mountPoint() const { return m_mountPoint; }

private:
    NASConfig m_config;
    QUrl m_mountPoint;
    AppStateManager& m_appState;
    NASConfigStore& m_configStore;
};

} // namespace vantrel
