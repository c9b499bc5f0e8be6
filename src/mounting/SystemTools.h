#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>

namespace vantrel {

// Which system tools mount, unmount and test shares, and where they live. Two sets exist: the
// Linux set (SMB through our own user-space file system over FUSE, NFS v4 through the kernel client) and the
// macOS set (mount_smbfs, mount_nfs, diskutil). A default-constructed value is the
// macOS set; platformDefault() picks the one for the running system. Tests point the paths at
// stand-ins.
struct SystemTools {
    enum class Set { macOS, gnuLinux };

    Set set = Set::macOS;

    // Both sets. In the Linux set nfsMount is mount.nfs4 and ping takes Linux flags.
    QString nfsMount = QStringLiteral("/sbin/mount_nfs");
    QString sudo = QStringLiteral("/usr/bin/sudo");
    QString ping = QStringLiteral("/sbin/ping");

    // macOS set only.
    QString smbMount = QStringLiteral("/sbin/mount_smbfs");
    QString expect = QStringLiteral("/usr/bin/expect");
    QString diskutil = QStringLiteral("/usr/sbin/diskutil");

    // Linux set only.
    QString smbfs = QStringLiteral("vantrel-smbfs");
    QString fusermount = QStringLiteral("/usr/bin/fusermount3");
    QString umount = QStringLiteral("/usr/bin/umount");

    bool operator==(const SystemTools&) const = default;

    static SystemTools macOSSet() { return {}; }

    static SystemTools linuxSet()
    {
        SystemTools tools;
        tools.set = Set::gnuLinux;
        tools.nfsMount = QStringLiteral("/usr/sbin/mount.nfs4");
        tools.ping = QStringLiteral("/usr/bin/ping");
        tools.smbfs = smbfsProgram();
        return tools;
    }

    // The SMB file system's program: beside the running executable (the build tree puts them
    // together), else in the private program folder of the installation it belongs to.
    static QString smbfsProgram()
    {
        static const QString name = QStringLiteral("vantrel-smbfs");
        if (!QCoreApplication::instance())
            return QStringLiteral("/usr/libexec/vantrel/") + name;
        const QString folder = QCoreApplication::applicationDirPath();
        const QString beside = folder + QLatin1Char('/') + name;
        if (QFileInfo(beside).isExecutable())
            return beside;
        return QDir::cleanPath(folder + QStringLiteral("/../libexec/vantrel/") + name);
    }

    static SystemTools platformDefault()
    {
#ifdef __linux__
        return linuxSet();
#else
        return macOSSet();
#endif
    }
};

} // namespace vantrel
