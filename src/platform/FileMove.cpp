#include "platform/FileMove.h"

#include "platform/FileCopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

QString describe(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Copies beside the destination under a hidden name, then renames over it, so the destination is
// either the old file or the whole new one.
std::optional<QString> copyIntoPlace(const QString& source, const QString& destination)
{
    const QFileInfo target(destination);
    if (!target.dir().exists())
        return QStringLiteral("The folder \"%1\" does not exist").arg(target.absolutePath());
    const QString temporary = target.dir().filePath(
        QStringLiteral(".%1.%2.part")
            .arg(target.fileName(), QString::number(QRandomGenerator::global()->generate(), 36)));
    const QByteArray temporaryName = QFile::encodeName(temporary);
    constexpr qint64 chunkSize = 1 << 20;
    FileCopy copy(source, temporary, chunkSize);
    FileCopy::Result result = copy.open();
    if (result.step == FileCopy::Step::finished)
        result = copy.run([](qint64) {});
    if (result.step != FileCopy::Step::finished) {
        ::unlink(temporaryName.constData());
        return result.failure == FileCopy::Failure::notRegularFile ? QStringLiteral("Not a regular file")
                                                                   : describe(result.error);
    }
    struct stat sourceInfo {};
    if (::stat(QFile::encodeName(source).constData(), &sourceInfo) == 0)
        ::chmod(temporaryName.constData(), sourceInfo.st_mode & 07777);
    if (std::rename(temporaryName.constData(), QFile::encodeName(destination).constData()) != 0) {
        const int error = errno;
        ::unlink(temporaryName.constData());
        return describe(error);
    }
    return std::nullopt;
}

} // namespace

bool renameWithoutReplacing(const QString& source, const QString& destination)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    // Network and user-space file systems may not offer the exclusive rename.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    struct stat existing {};
    if (::lstat(to.constData(), &existing) == 0 || errno != ENOENT)
        return false;
    return std::rename(from.constData(), to.constData()) == 0;
}

std::optional<QString> moveFileReplacing(const QString& source, const QString& destination)
{
    if (source.isEmpty() || destination.isEmpty())
        return QStringLiteral("No file name given");
    // rename() replaces an existing file in one step, so nothing is lost if it fails.
    if (std::rename(QFile::encodeName(source).constData(), QFile::encodeName(destination).constData()) == 0)
        return std::nullopt;
    const int error = errno;
    if (error != EXDEV)
        return QString::fromLocal8Bit(std::strerror(error));
    if (const std::optional<QString> failure = copyIntoPlace(source, destination))
        return failure;
    // The copy is complete; a source that cannot be removed only leaves a stray temporary file.
    QFile::remove(source);
    return std::nullopt;
}

} // namespace vantrel
