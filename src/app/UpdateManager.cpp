#include "app/UpdateManager.h"

#include "platform/Threading.h"
#include "platform/gui/Workspace.h"
#include "services/LogManager.h"

namespace vantrel {

namespace {

// Drops the last path segment, keeping a trailing "/" as a folder URL does.
QString withoutLastComponent(QString path)
{
    if (path.endsWith(u'/') && path.size() > 1)
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QStringLiteral("/") : path.left(slash + 1);
}

} // namespace

UpdateManager::UpdateManager(LogManager& log, Workspace& workspace)
    : m_log(log)
    , m_workspace(workspace)
{
}

UpdateManager& UpdateManager::shared()
{
    return sharedInstance([] { return new UpdateManager(LogManager::shared(), Workspace::shared()); });
}

void UpdateManager::configure(const QUrl& feedURL)
{
    if (m_isInitialized)
        return;
    m_feedURL = feedURL;
    VLOG_TO(m_log, info, defaultCategory,
        QStringLiteral("No update framework is built in: updates come from the system's package manager"));
    m_isInitialized = true;
}

void UpdateManager::checkForUpdates()
{
    VLOG_TO(m_log, warning, defaultCategory,
        QStringLiteral("No update framework is built in: updates come from the system's package manager"));
    if (!m_feedURL)
        return;
    m_workspace.open(productPage(*m_feedURL));
}

QUrl UpdateManager::productPage(const QUrl& feedURL)
{
    QUrl page = feedURL;
    page.setQuery(QString());
    page.setFragment(QString());
    page.setPath(withoutLastComponent(withoutLastComponent(feedURL.path())));
    return page;
}

} // namespace vantrel
