#include "platform/StoredFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

using State = StoredFile::Contents::State;

StoredFile::Contents unreadable(const QString& problem)
{
    return {State::unreadable, {}, problem};
}

// Why a file of this kind and size may not be read, or empty.
QString refusal(const struct stat& info, qint64 maxSize)
{
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("it is a folder");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is not a regular file");
    if (info.st_size > maxSize)
        return QStringLiteral("it is larger than %1 bytes").arg(maxSize);
    return {};
}

// A save writes beside its file under this tail plus six random characters, a name no one else
// gives a file: the clean-up at start may then remove such files without a doubt.
const QString temporaryTail = QStringLiteral(".vantrel-save-");

bool isMissing(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

bool exists(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 || errno != ENOENT;
}

// The names an unreadable file may be kept under, tried in turn until one is free.
QString asideName(const QString& path, const QString& stamp, int attempt)
{
    QString name = path + QStringLiteral(".unreadable-") + stamp;
    if (attempt > 0)
        name += u'-' + QString::number(attempt);
    return name;
}

constexpr int asideAttempts = 100;

QString asideStamp()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

} // namespace

StoredFile::Contents StoredFile::read(const QString& path, qint64 maxSize)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    // Looked at before opening: opening a FIFO or a device may block or have effects of its own.
    if (::stat(native.constData(), &info) != 0)
        return isMissing(errno) ? Contents{} : unreadable(qt_error_string(errno));
    if (const QString problem = refusal(info, maxSize); !problem.isEmpty())
        return unreadable(problem);

    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return isMissing(errno) ? Contents{} : unreadable(qt_error_string(errno));
    Contents contents{State::read, {}, {}};
    // The path may have been replaced since it was looked at: judge what was opened.
    if (::fstat(fd, &info) != 0) {
        contents = unreadable(qt_error_string(errno));
    } else if (const QString problem = refusal(info, maxSize); !problem.isEmpty()) {
        contents = unreadable(problem);
    } else {
        // One byte beyond the bound tells a file that grew since from one that fits.
        const qint64 limit = maxSize + 1;
        contents.bytes.reserve(static_cast<qsizetype>(info.st_size));
        char buffer[64 * 1024];
        while (contents.bytes.size() < limit) {
            const qint64 wanted = std::min<qint64>(sizeof buffer, limit - contents.bytes.size());
            const ssize_t n = ::read(fd, buffer, static_cast<size_t>(wanted));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                contents = unreadable(qt_error_string(errno));
                break;
            }
            if (n == 0)
                break;
            contents.bytes.append(buffer, n);
        }
        if (contents.state == State::read && contents.bytes.size() > maxSize)
            contents = unreadable(QStringLiteral("it is larger than %1 bytes").arg(maxSize));
    }
    ::close(fd);
    return contents;
}

std::optional<QString> StoredFile::write(const QString& path, const QByteArray& bytes)
{
    if (auto failure = makeFolder(QFileInfo(path).absolutePath()))
        return failure;
    // Through a link the file it leads to is replaced, not the link.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;
    QTemporaryFile file(target + temporaryTail + QStringLiteral("XXXXXX"));
    // Created owner-only, before the first byte, whatever the file it replaces allowed.
    if (!file.open())
        return file.errorString();
    // Without the flush and sync a full disk or a crash could leave a truncated file in place of
    // the previous one.
    if (file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0) {
        const QString failure = file.error() != QFileDevice::NoError ? file.errorString() : qt_error_string(errno);
        return failure;
    }
    const QByteArray from = QFile::encodeName(file.fileName());
    if (::rename(from.constData(), QFile::encodeName(target).constData()) != 0)
        return qt_error_string(errno);
    file.setAutoRemove(false);
    return std::nullopt;
}

std::optional<QString> StoredFile::makeFolder(const QString& path)
{
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    for (QString current = folder; !QFileInfo(current).isDir(); current = QFileInfo(current).path()) {
        if (current == QFileInfo(current).path())
            break; // the root
        missing.prepend(current);
    }
    for (const QString& each : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(each).constData(), 0700) == 0)
            continue;
        const int error = errno;
        if (error != EEXIST || !QFileInfo(each).isDir()) // another writer may have made it meanwhile
            return QStringLiteral("The folder \"%1\" could not be created: %2").arg(each, qt_error_string(error));
    }
    return std::nullopt;
}

std::optional<QString> StoredFile::moveAside(const QString& path, QString* error)
{
    const auto fail = [error](const QString& reason) -> std::optional<QString> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0)
        return fail(qt_error_string(errno));
    // Not ours to move: whatever a folder here holds, the user put it there.
    if (S_ISDIR(info.st_mode))
        return fail(QStringLiteral("it is a folder"));
    const QString stamp = asideStamp();
    for (int attempt = 0; attempt < asideAttempts; ++attempt) {
        const QString aside = asideName(path, stamp, attempt);
        if (exists(aside))
            continue;
        // rename(2), not QFile::rename: that one falls back to copying, which could block on a FIFO.
        const QByteArray nativeAside = QFile::encodeName(aside);
        if (::rename(native.constData(), nativeAside.constData()) != 0)
            return fail(qt_error_string(errno));
        // What the file held is nobody else's business either, however it was readable before.
        if (S_ISREG(info.st_mode))
            ::chmod(nativeAside.constData(), 0600);
        return aside;
    }
    return fail(QStringLiteral("no free name beside the file"));
}

std::optional<QString> StoredFile::writeAside(const QString& path, const QByteArray& bytes, QString* error)
{
    QString failure = QStringLiteral("no free name beside the file");
    const QString stamp = asideStamp();
    for (int attempt = 0; attempt < asideAttempts; ++attempt) {
        QFile file(asideName(path, stamp, attempt));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly)) {
            failure = file.errorString();
            if (file.exists())
                continue;
            break;
        }
        if (file.write(bytes) == bytes.size() && file.flush()) {
            file.close();
            return file.fileName();
        }
        failure = file.errorString();
        file.close();
        file.remove();
        break;
    }
    if (error)
        *error = failure;
    return std::nullopt;
}

void StoredFile::removeLeftovers(const QString& path)
{
    static const QRegularExpression leftoverTail(
        QRegularExpression::escape(temporaryTail) + QStringLiteral("[A-Za-z0-9]{6}$"));
    const QFileInfo target(path);
    const QDir folder = target.absoluteDir();
    const QStringList names = folder.entryList({target.fileName() + temporaryTail + QStringLiteral("??????")},
        QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    // A recent one may belong to a save of another instance that is running right now.
    const QDateTime settled = QDateTime::currentDateTimeUtc().addSecs(-60);
    for (const QString& name : names) {
        const QFileInfo leftover(folder.filePath(name));
        if (leftoverTail.match(name).hasMatch() && leftover.lastModified().toUTC() < settled)
            QFile::remove(leftover.filePath());
    }
}

} // namespace vantrel
