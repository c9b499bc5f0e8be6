#include "files/FileItem.h"

#include "files/CacheIndex.h"

#include <QFile>
#include <QHash>

#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel {

std::optional<FileItem> FileItem::fromUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    return fromLocalPath(url.toLocalFile(), url);
}

namespace {

FileItem itemFromStat(const struct stat& info, const QUrl& url)
{
    FileItem item;
    item.url = url;
    item.name = url.fileName();
    item.isDirectory = S_ISDIR(info.st_mode);
    // A folder has no file size of its own.
    item.size = item.isDirectory ? -1 : static_cast<qint64>(info.st_size);
    item.modificationDate = QDateTime::fromMSecsSinceEpoch(
        static_cast<qint64>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1'000'000, Qt::UTC);
    item.isHidden = item.name.startsWith(u'.');
    return item;
}

} // namespace

std::optional<FileItem> FileItem::fromLocalPath(const QString& path, const QUrl& url)
{
    // One stat per item: listings of large folders make this the hot path.
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return itemFromStat(info, url);
}

std::optional<FileItem> FileItem::fromFolderEntry(int folderFd, const char* name, const QUrl& url)
{
    struct stat info {};
    if (::fstatat(folderFd, name, &info, 0) != 0 && ::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return itemFromStat(info, url);
}

FileItem FileItem::fromCacheEntry(const CacheEntry& entry)
{
    FileItem item;
    item.url = entry.localURL;
    item.name = entry.fileName;
    item.size = entry.fileSize;
    item.modificationDate = entry.cachedAt;
    item.isDirectory = entry.isDirectory;
    item.isHidden = false;
    return item;
}

bool FileItem::describesTheSame(const FileItem& other) const
{
    return url == other.url && name == other.name && size == other.size && modificationDate == other.modificationDate
        && isDirectory == other.isDirectory && isHidden == other.isHidden;
}

QString FileItem::iconName() const
{
    if (isDirectory)
        return QStringLiteral("folder");
    static const QHash<QString, QString> symbols = [] {
        QHash<QString, QString> table;
        const auto add = [&table](std::initializer_list<const char*> extensions, const char* symbol) {
            for (const char* extension : extensions)
                table.insert(QString::fromLatin1(extension), QString::fromLatin1(symbol));
        };
        add({"jpg", "jpeg", "png", "gif", "bmp", "heic", "tiff", "webp"}, "photo");
        add({"mp4", "mov", "avi", "mkv", "wmv"}, "film");
        add({"mp3", "aac", "wav", "flac", "m4a"}, "music.note");
        add({"pdf"}, "doc.text");
        add({"txt", "md", "rtf"}, "doc.plaintext");
        add({"zip", "rar", "7z", "tar", "gz"}, "doc.zipper");
        return table;
    }();
    const QString fileName = url.fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file, not an extension.
    const QString extension = dot > 0 ? fileName.mid(dot + 1).toLower() : QString();
    return symbols.value(extension, QStringLiteral("doc"));
}

} // namespace vantrel
