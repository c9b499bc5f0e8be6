#pragma once

#include <QString>

namespace vantrel {

// Where the system tools that mount, unmount and test shares live. Tests point these at
// stand-ins.
struct SystemTools {
    QString smbMount = QStringLiteral("/sbin/mount_smbfs");
    QString expect = QStringLiteral("/usr/bin/expect");
    QString nfsMount = QStringLiteral("/sbin/mount_nfs");
    QString sudo = QStringLiteral("/usr/bin/sudo");
    QString diskutil = QStringLiteral("/usr/sbin/diskutil");
    QString ping = QStringLiteral("/sbin/ping");

    bool operator==(const SystemTools&) const = default;
};

} // namespace vantrel
