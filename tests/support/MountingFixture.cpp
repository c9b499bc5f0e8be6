#include "support/MountingFixture.h"

#include <QDir>

namespace vantrel::test {

void FakeFileSystem::declare(const QString& path, const QString& type, bool mountRoot)
{
    QMutexLocker lock(&m_mutex);
    m_entries.insert(QDir::cleanPath(path), Entry{type, mountRoot});
}

void FakeFileSystem::forget(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    const QString clean = QDir::cleanPath(path);
    m_entries.remove(clean);
    m_mounts.removeIf([&clean](const MountEntry& entry) { return entry.mountPoint == clean; });
}

void FakeFileSystem::declareMount(const QString& path, const QString& kernelType)
{
    QMutexLocker lock(&m_mutex);
    m_mounts.append(MountEntry{0, 0, QDir::cleanPath(path), kernelType, QStringLiteral("//nas/share")});
}

QList<FileSystemInfo::MountEntry> FakeFileSystem::mountTable() const
{
    QList<MountEntry> table = FileSystemInfo::mountTable();
    QMutexLocker lock(&m_mutex);
    return table + m_mounts;
}

void FakeFileSystem::hang(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    m_hangingPath = QDir::cleanPath(path);
}

void FakeFileSystem::release()
{
    QMutexLocker lock(&m_mutex);
    m_hangingPath.clear();
    m_released.wakeAll();
}

int FakeFileSystem::hanging() const
{
    QMutexLocker lock(&m_mutex);
    return m_hanging;
}

std::optional<QString> FakeFileSystem::typeName(const QString& path) const
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_hangingPath.isEmpty() && QDir::cleanPath(path) == m_hangingPath) {
            ++m_hanging;
            while (!m_hangingPath.isEmpty())
                m_released.wait(&m_mutex);
            --m_hanging;
        }
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

NASConfig sampleShare(const QString& name, bool enabled)
{
    NASConfig config;
    config.name = name;
    config.isEnabled = enabled;
    config.address = QStringLiteral("nas.local");
    config.sharePath = QStringLiteral("/") + name.toLower();
    return config;
}

MountingFixture::MountingFixture()
    : ConfigEnvironment(dir.path())
    , StandInControl(dir.filePath(QStringLiteral("control")))
{
}

} // namespace vantrel::test
