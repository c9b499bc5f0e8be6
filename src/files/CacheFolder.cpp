#include "files/CacheFolder.h"

#include "platform/FileCopy.h"
#include "platform/StoredFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace vantrel {

namespace {

constexpr qint64 copyChunkSize = 1048576;

bool isInside(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && path.startsWith(folder + u'/');
}

// Empty when the folder does not exist.
QString canonicalFolder(const QString& folder)
{
    return QFileInfo(folder).canonicalFilePath();
}

bool isConfigurationFolderName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-F]{8}$"));
    return pattern.match(name).hasMatch();
}

QFileInfoList configurationFolders(const QDir& root)
{
    QFileInfoList result = root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    result.removeIf([](const QFileInfo& item) { return !isConfigurationFolderName(item.fileName()); });
    return result;
}

} // namespace

CacheFolder::CacheFolder(const QString& path)
    : m_path(path)
    , m_canonicalPath(canonicalFolder(path))
{
}

bool CacheFolder::containsFolder(const QString& canonicalPath) const
{
    return canonicalPath == m_canonicalPath || isInside(canonicalPath, m_canonicalPath);
}

bool CacheFolder::holdsCopy(const QString& copyPath) const
{
    const QFileInfo info(copyPath);
    if (info.isSymLink() || !info.isFile())
        return false;
    return isInside(info.canonicalFilePath(), m_canonicalPath);
}

void CacheFolder::removeCopy(const QString& copyPath) const
{
    if (containsFolder(canonicalFolder(QFileInfo(copyPath).absolutePath())))
        QFile::remove(copyPath);
}

void CacheFolder::removeEmptyConfigurationFolders() const
{
    const QDir root(m_path);
    for (const QFileInfo& item : configurationFolders(root)) {
        if (QDir(item.filePath()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            root.rmdir(item.fileName());
    }
}

void CacheFolder::removeEmptyConfigurationTrees() const
{
    const QDir root(m_path);
    for (const QFileInfo& item : configurationFolders(root)) {
        QStringList folders;
        QDirIterator it(item.filePath(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
            QDirIterator::Subdirectories);
        while (it.hasNext())
            folders.append(it.next());
        // Deepest first, so a folder is empty by the time its turn comes; rmdir spares the rest.
        std::sort(folders.begin(), folders.end(),
            [](const QString& a, const QString& b) { return a.count(u'/') > b.count(u'/'); });
        for (const QString& path : std::as_const(folders))
            QDir().rmdir(path);
        root.rmdir(item.fileName());
    }
}

QString CacheFolder::copyIn(const QString& sourcePath, const QString& destination, const QString& folder)
{
    const QFileInfo target(destination);
    const QString parent = target.absolutePath();
    if (StoredFile::makeFolder(parent))
        return QStringLiteral("Cannot create the folder %1").arg(parent);
    // A linked folder inside the cache must not carry the copy elsewhere.
    if (!CacheFolder(folder).containsFolder(canonicalFolder(parent)))
        return QStringLiteral("The folder %1 leads outside the cache folder").arg(parent);
    // Only a regular file: a pipe would hold the copy for ever, a device never end. Cached copies
    // need no flush of their own.
    FileCopy copy(sourcePath, destination, copyChunkSize, [](int) { return 0; });
    FileCopy::Result result = copy.open();
    if (result.step == FileCopy::Step::finished)
        result = copy.run([](qint64) {});
    if (result.step == FileCopy::Step::finished) {
        // A copy of the user's file is the user's alone.
        QFile::setPermissions(destination, StoredFile::ownerOnly);
        return QString();
    }
    if (result.failure == FileCopy::Failure::read || result.failure == FileCopy::Failure::write)
        QFile::remove(destination); // a partial copy
    if (result.failure == FileCopy::Failure::notRegularFile)
        return QStringLiteral("%1 is not a regular file").arg(sourcePath);
    // Carries no error number, and must not read as success.
    if (result.failure == FileCopy::Failure::sameFile)
        return QStringLiteral("%1 is the cached copy itself").arg(sourcePath);
    return qt_error_string(result.error);
}

} // namespace vantrel
