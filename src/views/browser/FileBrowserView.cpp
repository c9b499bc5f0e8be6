#include "views/browser/FileBrowserView.h"

namespace vantrel {

FileBrowserView::FileBrowserView(const NASConfig& config, const QUrl& mountPoint, AppStateManager& appState,
    NASConfigStore& configStore, QWidget* parent)
    : QWidget(parent)
    , m_config(config)
    , m_mountPoint(mountPoint)
    , m_appState(appState)
    , m_configStore(configStore)
{
    setObjectName(QStringLiteral("FileBrowserView"));
    setMinimumSize(minimumContentWidth, minimumContentHeight);
}

} // namespace vantrel
