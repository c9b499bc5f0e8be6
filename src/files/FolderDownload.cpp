#include "files/FolderDownload.h"

#include "files/FileSystemManager.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace vantrel {

FolderDownloadPlan planFolderDownload(const QUrl& folder, const QUrl& destination)
{
    FolderDownloadPlan plan;
    const QString root = FileSystemManager::pathText(folder);
    const QFileInfo rootInfo(root);
    if (!rootInfo.isDir() || !rootInfo.isReadable()) {
        plan.unreadable = true;
        return plan;
    }
    const QString target = QDir(FileSystemManager::pathText(destination)).filePath(rootInfo.fileName());
    plan.folders.append(QUrl::fromLocalFile(target));

    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString relativeParent = QDir(root).relativeFilePath(info.absolutePath());
        const QString destinationFolder = relativeParent == QLatin1String(".") ? target
                                                                               : QDir(target).filePath(relativeParent);
        if (info.isDir()) {
            // The iterator does not descend into a link; its target may lie outside the folder.
            if (!info.isSymLink())
                plan.folders.append(QUrl::fromLocalFile(QDir(destinationFolder).filePath(info.fileName())));
            continue;
        }
        if (info.isFile())
            plan.files.append(
                {QUrl::fromLocalFile(info.filePath()), QUrl::fromLocalFile(destinationFolder), info.size()});
    }
    return plan;
}

bool createPlannedFolders(const FolderDownloadPlan& plan, QString* failedPath)
{
    for (const QUrl& folder : plan.folders) {
        if (!QDir().mkpath(folder.toLocalFile())) {
            if (failedPath)
                *failedPath = folder.toLocalFile();
            return false;
        }
    }
    return true;
}

} // namespace vantrel
