#pragma once

#include <QString>

namespace vantrel {

// The files of the offline cache below its folder, which "cache.location" may set to a folder that
// also holds the user's own files. Nothing here reaches outside: a copy the cache serves or removes
// must really lie inside the folder, not behind a linked folder that leads elsewhere. The cache's
// own subfolders are the configuration folders (eight upper-case hex digits). Every call works on
// the disk: keep it off the main thread where the folder may be slow.
class CacheFolder final {
public:
    // Resolves where the folder really lies, as it is now.
    explicit CacheFolder(const QString& path);

    // A copy the cache may serve: a regular file, not a link, whose folder lies inside.
    bool holdsCopy(const QString& copyPath) const;
    // Removes a copy unless a linked folder on its way would take the removal outside.
    void removeCopy(const QString& copyPath) const;
    // Removes the configuration folders that hold nothing.
    void removeEmptyConfigurationFolders() const;
    // Removes the folders below every configuration folder, and those folders themselves, where
    // nothing but other such folders is left in them.
    void removeEmptyConfigurationTrees() const;

    // Copies the source into the cache folder, replacing what lies at destination. Empty on
    // success, else what went wrong.
    static QString copyIn(const QString& sourcePath, const QString& destination, const QString& folder);

private:
    bool containsFolder(const QString& canonicalPath) const;

    QString m_path;
    QString m_canonicalPath; // empty while the folder does not exist
};

} // namespace vantrel
