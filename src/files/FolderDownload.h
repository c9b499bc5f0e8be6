#pragma once

#include <QList>
#include <QString>
#include <QUrl>

namespace vantrel {

// What downloading a whole folder of a share takes: every regular file below it with the local
// folder it goes to, so that the tree keeps its shape under the destination.
struct FolderDownloadPlan {
    struct File {
        QUrl source;            // the file on the share
        QUrl destinationFolder; // the local folder it lands in, under its own name
        qint64 size = 0;
    };
    QList<File> files;
    // Every folder of the tree at the destination, the top one first, so that empty folders
    // arrive too.
    QList<QUrl> folders;
    // The folder itself could not be read; the plan is then empty.
    bool unreadable = false;
};

// Walks `folder` (on a share) and maps it below `destination` as destination/<folder name>/...
// Hidden entries come along; links to folders are not followed (a loop would never end), links to
// files are copied as files, and anything that is not a regular file (pipes, devices, sockets) is
// left out. Blocking: run it through runFileWork.
FolderDownloadPlan planFolderDownload(const QUrl& folder, const QUrl& destination);

// Creates the plan's folders. Blocking (the destination may itself be a share); false with the
// first failing path in *failedPath.
bool createPlannedFolders(const FolderDownloadPlan& plan, QString* failedPath = nullptr);

} // namespace vantrel
