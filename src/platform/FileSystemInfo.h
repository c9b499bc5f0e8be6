#pragma once

#include <QByteArray>
#include <QList>
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

    // One mount of the kernel's mount table.
    struct MountEntry {
        unsigned int major = 0;
        unsigned int minor = 0;
        QString mountPoint;
        // The kernel's name, such as "ext4", "cifs", "nfs4" or "fuse.vantrel-smbfs".
        QString type;
        QString source;

        bool operator==(const MountEntry&) const = default;
    };

    // The file-system type under the platform's names: "smbfs" for CIFS/SMB and for the vantrel-smbfs
    // user-space mounts that carry SMB shares, "nfs" for NFS, a few local types by their usual
    // names, otherwise empty. None when the path cannot be examined (missing, no permission, a
    // user-space mount whose process is gone).
    virtual std::optional<QString> typeName(const QString& path) const;

    // True when the path is the root of a mounted file system: its device differs from its
    // parent's (or it is "/"). False when either cannot be examined.
    virtual bool isMountRoot(const QString& path) const;

    // The kernel's type of what is mounted right at the path (the topmost of stacked mounts),
    // matched by the cleaned absolute path without touching the mount itself, so it also answers
    // for a user-space mount whose process died. None when nothing is mounted there.
    std::optional<QString> mountedTypeAt(const QString& path) const;
    // The whole entry of that mount (its type and source too).
    std::optional<MountEntry> mountAt(const QString& path) const;

    // The mounts this process sees, in the kernel's order; empty when the table is unreadable.
    // Read again only after the kernel reports a change; any thread may ask.
    virtual QList<MountEntry> mountTable() const;
    // How many times the kernel's table has been read (tests).
    static quint64 mountTableReads();

    // The name for a Linux statfs f_type magic number, as typeName reports it.
    static QString nameForMagic(unsigned long magic);
    // Parses /proc/<pid>/mountinfo text; lines it cannot read are skipped.
    static QList<MountEntry> parseMountInfo(const QByteArray& text);
};

} // namespace vantrel
