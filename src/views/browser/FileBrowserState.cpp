#include "views/browser/FileBrowserState.h"

namespace vantrel {

FileBrowserState::FileBrowserState(QObject* parent)
    : QObject(parent)
{
}

FileBrowserState& FileBrowserState::shared()
{
    static FileBrowserState* instance = new FileBrowserState;
    return *instance;
}

void FileBrowserState::configure(const NASConfig& config, const QUrl& mountPoint)
{
    m_config = config;
    emit configChanged();
    m_mountPoint = mountPoint;
    emit mountPointChanged();
}

} // namespace vantrel
