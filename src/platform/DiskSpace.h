#pragma once

#include <QString>

#include <optional>

namespace vantrel {

// Free space of the file system that holds a path. The product asks the kernel (statvfs); tests
// hand components a fake. A call may block on a dead network mount: run it off the main thread.
class DiskSpace {
public:
    virtual ~DiskSpace() = default;

    // The kernel-backed instance.
    static DiskSpace& system();

    // Bytes available to the user on the file system of path; none when it cannot be examined.
    virtual std::optional<qint64> availableBytes(const QString& path) const = 0;
};

class StatvfsDiskSpace final : public DiskSpace {
public:
    std::optional<qint64> availableBytes(const QString& path) const override;
};

} // namespace vantrel
