#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace vantrel {

struct CacheEntry;

// One entry of a listed folder, live from a share or offline from the cache. Every construction
// makes a new id, so a refresh that finds a change replaces every item.
struct FileItem {
    QUuid id = QUuid::createUuid();
    QUrl url;
    QString name;
    qint64 size = -1; // -1 when the size cannot be read (folders have none)
    QDateTime modificationDate;
    bool isDirectory = false;
    bool isHidden = false;

    bool operator==(const FileItem&) const = default;
    // The same entry with the same values, whatever the ids.
    bool describesTheSame(const FileItem& other) const;

    // Reads the item's attributes (blocking: call off the main thread for a share); none when
    // they cannot be read.
    static std::optional<FileItem> fromUrl(const QUrl& url);
    // The same for a local path whose URL the caller already has.
    static std::optional<FileItem> fromLocalPath(const QString& path, const QUrl& url);
    // The same for an entry of an open folder, named by its bytes as the folder holds them (which
    // need not be valid text). A link whose target is gone is described by the link itself.
    static std::optional<FileItem> fromFolderEntry(int folderFd, const char* name, const QUrl& url);
    static FileItem fromCacheEntry(const CacheEntry& entry);

    // The symbol the file list shows for the item.
    QString iconName() const;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::FileItem)
