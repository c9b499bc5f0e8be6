#include "platform/FileSystemInfo.h"

#include <QFile>

#include <sys/stat.h>
#include <sys/statfs.h>

namespace vantrel {

FileSystemInfo& FileSystemInfo::system()
{
    static FileSystemInfo* instance = new FileSystemInfo;
    return *instance;
}

QString FileSystemInfo::nameForMagic(unsigned long magic)
{
    switch (magic) {
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x517BUL:     // SMB
        return QStringLiteral("smbfs");
    case 0x6969UL: return QStringLiteral("nfs");
    case 0xEF53UL: return QStringLiteral("ext4");
    case 0x01021994UL: return QStringLiteral("tmpfs");
    case 0x9123683EUL: return QStringLiteral("btrfs");
    case 0x58465342UL: return QStringLiteral("xfs");
    case 0x794C7630UL: return QStringLiteral("overlay");
    case 0x65735546UL: return QStringLiteral("fuse");
    case 0x4D44UL: return QStringLiteral("msdos");
    default: return {};
    }
}

std::optional<QString> FileSystemInfo::typeName(const QString& path) const
{
    struct statfs info {};
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || ::statfs(native.constData(), &info) != 0)
        return std::nullopt;
    // f_type is signed on some ABIs; the magic numbers are 32-bit.
    return nameForMagic(static_cast<unsigned long>(static_cast<quint32>(info.f_type)));
}

bool FileSystemInfo::isMountRoot(const QString& path) const
{
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty())
        return false;
    struct stat self {};
    struct stat parent {};
    if (::stat(native.constData(), &self) != 0)
        return false;
    if (::stat((native + "/..").constData(), &parent) != 0)
        return false;
    if (self.st_dev != parent.st_dev)
        return true;
    // "/" is its own parent.
    return self.st_ino == parent.st_ino;
}

} // namespace vantrel
