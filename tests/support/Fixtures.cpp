#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace vantrel::test {

SystemTools standInTools()
{
    const QString dir = QStringLiteral(VANTREL_TEST_TOOLS_DIR);
    SystemTools tools;
    tools.smbMount = dir + QStringLiteral("/mount_smbfs");
    tools.nfsMount = dir + QStringLiteral("/mount_nfs");
    tools.sudo = dir + QStringLiteral("/sudo");
    tools.diskutil = dir + QStringLiteral("/diskutil");
    tools.ping = dir + QStringLiteral("/ping");
    return tools;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace vantrel::test
