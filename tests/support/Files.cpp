#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vantrel::test {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool isOwnerOnly(const QString& path)
{
    const QFileInfo info(path);
    const QFileDevice::Permissions expected = info.isDir()
        ? QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
        : QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    return info.exists() && (info.permissions() & others) == QFileDevice::Permissions()
        && (info.permissions() & owner) == expected;
}

} // namespace vantrel::test
