#include "platform/AppPaths.h"

#include <QStandardPaths>

namespace vantrel {

namespace {

QString ownFolderIn(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location) + QStringLiteral("/Vantrel");
}

} // namespace

QString AppPaths::dataDirectory()
{
    return ownFolderIn(QStandardPaths::GenericDataLocation);
}

QString AppPaths::cacheDirectory()
{
    return ownFolderIn(QStandardPaths::GenericCacheLocation);
}

QString AppPaths::configDirectory()
{
    return ownFolderIn(QStandardPaths::GenericConfigLocation);
}

} // namespace vantrel
