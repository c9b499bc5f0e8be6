#include "support/Fixtures.h"

#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace vantrel::test {

SystemTools standInTools()
{
    const QString dir = QStringLiteral(VANTREL_TEST_TOOLS_DIR);
    SystemTools tools = SystemTools::macOSSet();
    tools.smbMount = dir + QStringLiteral("/mount_smbfs");
    tools.nfsMount = dir + QStringLiteral("/mount_nfs");
    tools.sudo = dir + QStringLiteral("/sudo");
    tools.diskutil = dir + QStringLiteral("/diskutil");
    tools.ping = dir + QStringLiteral("/ping");
    return tools;
}

SystemTools linuxTools()
{
    SystemTools tools = SystemTools::linuxSet();
    tools.smbfs = QStringLiteral(VANTREL_SMBFS_BINARY);
    return tools;
}

QString socketFolder()
{
    // Socket paths are limited to 107 bytes, which the test homes inside the build tree exceed.
    static QTemporaryDir folder(QDir::rootPath() + QStringLiteral("tmp/vantrel-sockets-XXXXXX"));
    return folder.path();
}

bool smbfsBuilt()
{
    return QFileInfo(QStringLiteral(VANTREL_SMBFS_BINARY)).isExecutable();
}

SystemTools linuxStandInTools()
{
    const QString dir = QStringLiteral(VANTREL_TEST_TOOLS_DIR);
    SystemTools tools = linuxTools();
    tools.nfsMount = dir + QStringLiteral("/mount.nfs4");
    tools.umount = dir + QStringLiteral("/umount");
    tools.sudo = dir + QStringLiteral("/sudo");
    tools.ping = dir + QStringLiteral("/ping");
    return tools;
}

StandInControl::StandInControl(const QString& folder)
    : folder(folder)
{
    QDir().mkpath(folder);
    qputenv("VANTREL_FAKE_DIR", QFile::encodeName(folder));
}

void StandInControl::set(const QString& file, const QByteArray& content) const
{
    QFile f(folder + QLatin1Char('/') + file);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

void StandInControl::unset(const QString& file) const
{
    QFile::remove(folder + QLatin1Char('/') + file);
}

bool StandInControl::exists(const QString& file) const
{
    return QFile::exists(folder + QLatin1Char('/') + file);
}

QByteArray StandInControl::read(const QString& file) const
{
    QFile f(folder + QLatin1Char('/') + file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QStringList> StandInControl::calls(const QString& tool) const
{
    QList<QStringList> result;
    const QString text = QString::fromUtf8(read(tool + QStringLiteral(".argv")));
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        result.append(line.split(QChar(0x1F)));
    return result;
}

void StandInControl::reset() const
{
    QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
        dir.remove(name);
}

void makeFile(const QString& path, const QByteArray& content)
{
    QVERIFY(writeFile(path, content));
}

} // namespace vantrel::test
