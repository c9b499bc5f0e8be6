#pragma once

#include "support/Fixtures.h"
#include "support/RecordingWorkspace.h"
#include "support/gui/ScriptedFileDialogs.h"

#include "files/CacheManager.h"
#include "files/RecentFilesTracker.h"
#include "files/TransferTask.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/NotificationCenter.h"
#include "views/browser/FileBrowserView.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace vantrel::test {

// What a file browser window works with, private to one test: a temporary folder holding the
// "share" (a plain folder standing for a mount point) and a local folder, the cache, recent files
// and notifications on a private defaults file, and a recording workspace and scripted panels.
struct BrowserFixture : TemporaryFolder, Logging {
    BrowserFixture();

    NotificationPreferences preferences{defaults};
    NotificationCenter center;
    NotificationService notifications{center, preferences, log};
    RecentFilesTracker recentFiles{defaults, log};
    CacheManager cache;
    RecordingWorkspace workspace;
    ScriptedFileDialogs fileDialogs;

    // <temporary>/share and <temporary>/local, both existing.
    QString share(const QString& relative = QString()) const;
    QString local(const QString& relative = QString()) const;
    QUrl shareUrl(const QString& relative = QString()) const { return QUrl::fromLocalFile(share(relative)); }
    QUrl localUrl(const QString& relative = QString()) const { return QUrl::fromLocalFile(local(relative)); }

    // Writes a file (making its folders); false when it could not.
    static bool write(const QString& path, const QByteArray& content);
    static QByteArray read(const QString& path);

    // Everything above for a browser window; the clock is the system's unless given.
    FileBrowserServices services(Clock clock = systemNow);
};

// Drops local files onto the browser's file list as the desktop drops them; fails the test when
// the list refuses them.
void dropOnto(FileBrowserView* view, const QList<QUrl>& urls);

} // namespace vantrel::test
