#include "platform/DiskSpace.h"

#include <QFile>

#include <limits>

#include <sys/statvfs.h>

namespace vantrel {

DiskSpace& DiskSpace::system()
{
    static DiskSpace* instance = new StatvfsDiskSpace;
    return *instance;
}

std::optional<qint64> StatvfsDiskSpace::availableBytes(const QString& path) const
{
    struct statvfs info {};
    if (path.isEmpty() || ::statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    const unsigned long long blockSize = info.f_frsize ? info.f_frsize : info.f_bsize;
    unsigned long long bytes = 0;
    if (__builtin_mul_overflow(static_cast<unsigned long long>(info.f_bavail), blockSize, &bytes)
        || bytes > static_cast<unsigned long long>(std::numeric_limits<qint64>::max()))
        return std::nullopt;
    return static_cast<qint64>(bytes);
}

} // namespace vantrel
