#include "platform/FileMove.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vantrel {

namespace {

std::optional<QString> copyIntoPlace(const QString& source, const QString& destination)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return in.errorString();
    // QSaveFile writes beside the destination and renames over it only after a clean finish.
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    out.setPermissions(in.permissions());
    constexpr qint64 chunkSize = 1 << 20;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(chunkSize);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
            out.cancelWriting();
            return in.errorString();
        }
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return out.errorString();
        }
    }
    if (!out.commit())
        return out.errorString();
    return std::nullopt;
}

} // namespace

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
