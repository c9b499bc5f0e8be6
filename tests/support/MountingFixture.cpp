#include "support/MountingFixture.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace vantrel::test {

void FakeFileSystem::declare(const QString& path, const QString& type, bool mountRoot)
{
    QMutexLocker lock(&m_mutex);
    m_entries.insert(QDir::cleanPath(path), Entry{type, mountRoot});
}

void FakeFileSystem::forget(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    m_entries.remove(QDir::cleanPath(path));
}

std::optional<QString> FakeFileSystem::typeName(const QString& path) const
{
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_entries.constFind(QDir::cleanPath(path));
        if (it != m_entries.cend())
            return it->type;
    }
    return FileSystemInfo::typeName(path);
}

bool FakeFileSystem::isMountRoot(const QString& path) const
{
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_entries.constFind(QDir::cleanPath(path));
        if (it != m_entries.cend())
            return it->mountRoot;
    }
    return FileSystemInfo::isMountRoot(path);
}

MountingFixture::MountingFixture()
    : ConfigEnvironment(dir.path())
{
    QDir(dir.path()).mkpath(QStringLiteral("control"));
    qputenv("VANTREL_FAKE_DIR", QFile::encodeName(control()));
}

QString MountingFixture::control() const
{
    return dir.filePath(QStringLiteral("control"));
}

void MountingFixture::set(const QString& file, const QByteArray& content) const
{
    QFile f(control() + QLatin1Char('/') + file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

void MountingFixture::unset(const QString& file) const
{
    QFile::remove(control() + QLatin1Char('/') + file);
}

bool MountingFixture::exists(const QString& file) const
{
    return QFile::exists(control() + QLatin1Char('/') + file);
}

QByteArray MountingFixture::read(const QString& file) const
{
    QFile f(control() + QLatin1Char('/') + file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QStringList> MountingFixture::calls(const QString& tool) const
{
    QList<QStringList> result;
    const QString text = QString::fromUtf8(read(tool + QStringLiteral(".argv")));
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        result.append(line.split(QChar(0x1F)));
    return result;
}

} // namespace vantrel::test
