#include "views/browser/FileBrowserState.h"

#include "platform/Threading.h"

namespace vantrel {

FileBrowserState::FileBrowserState(QObject* parent)
    : QObject(parent)
{
}

FileBrowserState& FileBrowserState::shared()
{
    return sharedInstance([] { return new FileBrowserState; });
}

void FileBrowserState::configure(const NASConfig& config, const QUrl& mountPoint)
{
    m_config = config;
    emit configChanged();
    m_mountPoint = mountPoint;
    emit mountPointChanged();
}

} // namespace vantrel
