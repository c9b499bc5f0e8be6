#pragma once

#include <QString>

#include <optional>

namespace vantrel {

// What kind of file system holds a path. The product asks the kernel (statfs); tests subclass it
// to declare chosen folders network mounts. Calls may block for long on a dead network mount:
// coroutines run them through runFileWork().
class FileSystemInfo {
public:
    virtual ~FileSystemInfo() = default;

    // The kernel-backed instance.
    static FileSystemInfo& system();

    // The file-system type under the platform's names: "smbfs" for CIFS/SMB, "nfs" for NFS, a
    // few local types by their usual names, otherwise empty. None when the path cannot be
    // examined (missing, no permission).
    virtual std::optional<QString> typeName(const QString& path) const;

    // True when the path is the root of a mounted file system: its device differs from its
    // parent's (or it is "/"). False when either cannot be examined.
    virtual bool isMountRoot(const QString& path) const;

    // The name for a Linux statfs f_type magic number, as typeName reports it.
    static QString nameForMagic(unsigned long magic);
};

} // namespace vantrel
