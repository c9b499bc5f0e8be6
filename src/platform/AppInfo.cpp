#include "platform/AppInfo.h"

#include "AppInfoConfig.h"

namespace vantrel {

QString AppInfo::bundleIdentifier()
{
    return QStringLiteral(VANTREL_BUNDLE_IDENTIFIER);
}
QString AppInfo::version()
{
    return QStringLiteral(VANTREL_VERSION);
}
QString AppInfo::buildNumber()
{
    return QStringLiteral(VANTREL_BUILD_NUMBER);
}
QString AppInfo::displayName()
{
    return QStringLiteral("Vantrel");
}
QString AppInfo::iconName()
{
    return bundleIdentifier();
}
QString AppInfo::installedExecutable()
{
    return QStringLiteral(VANTREL_INSTALLED_EXECUTABLE);
}

QVariantMap AppInfo::infoDictionary()
{
    return {
        {QStringLiteral("CFBundleIdentifier"), bundleIdentifier()},
        {QStringLiteral("CFBundleName"), displayName()},
        {QStringLiteral("CFBundleShortVersionString"), version()},
        {QStringLiteral("CFBundleVersion"), buildNumber()},
    };
}

} // namespace vantrel
