#include "app/LaunchAtLoginManager.h"

#include "platform/AppInfo.h"
#include "platform/LoginItems.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

namespace vantrel {

LaunchAtLoginManager::LaunchAtLoginManager(LoginItems& loginItems, LogManager& log, const QString& serviceIdentifier)
    : m_loginItems(loginItems)
    , m_log(log)
    , m_serviceIdentifier(serviceIdentifier.isEmpty() ? QStringLiteral("com.vantrel.app") : serviceIdentifier)
{
}

LaunchAtLoginManager& LaunchAtLoginManager::shared()
{
    return sharedInstance([] {
        return new LaunchAtLoginManager(LoginItems::shared(), LogManager::shared(), AppInfo::bundleIdentifier());
    });
}

bool LaunchAtLoginManager::isEnabled() const
{
    return m_loginItems.status(m_serviceIdentifier) == LoginItems::Status::enabled;
}

void LaunchAtLoginManager::setEnabled(bool enabled)
{
    const bool registered = isEnabled();
    std::optional<QString> failure;
    // An entry left by another build or install would start that program: it is replaced.
    if (enabled && (!registered || !m_loginItems.startsThisProgram(m_serviceIdentifier)))
        failure = m_loginItems.registerItem(m_serviceIdentifier, AppInfo::displayName());
    else if (!enabled && registered)
        failure = m_loginItems.unregisterItem(m_serviceIdentifier);

    if (failure) {
        VLOG_TO(m_log, error, lifecycle, QStringLiteral("Failed to set launch at login: ") + *failure);
        return;
    }
    VLOG_TO(m_log, info, lifecycle,
        QStringLiteral("Launch at login set to ") + (enabled ? QStringLiteral("true") : QStringLiteral("false")));
}

} // namespace vantrel
