#include "support/gui/BrowserFixture.h"

#include "views/browser/FileListView.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTableView>
#include <QTest>

namespace vantrel::test {

BrowserFixture::BrowserFixture()
    : Logging(dir.path())
    , center(QDBusConnection::sessionBus())
    , cache(defaults, log, dir.filePath(QStringLiteral("cache")), &systemNow)
{
    QDir().mkpath(share());
    QDir().mkpath(local());
    // Completion notices go out at once, not a second later.
    notifications.triggerDelay = std::chrono::milliseconds(0);
}

QString BrowserFixture::share(const QString& relative) const
{
    const QString root = dir.filePath(QStringLiteral("share"));
    return relative.isEmpty() ? root : root + u'/' + relative;
}

QString BrowserFixture::local(const QString& relative) const
{
    const QString root = dir.filePath(QStringLiteral("local"));
    return relative.isEmpty() ? root : root + u'/' + relative;
}

bool BrowserFixture::write(const QString& path, const QByteArray& content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray BrowserFixture::read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

FileBrowserServices BrowserFixture::services(Clock clock)
{
    FileBrowserServices services;
    services.cache = &cache;
    services.log = &log;
    services.recentFiles = &recentFiles;
    services.notifications = &notifications;
    services.workspace = &workspace;
    services.fileDialogs = &fileDialogs;
    services.defaults = &defaults;
    services.clock = std::move(clock);
    return services;
}

void dropOnto(FileBrowserView* view, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QWidget* target = view->fileList()->state() == FileListView::State::table
        ? view->fileList()->table()->viewport()
        : view->fileList()->findChild<QWidget*>(QStringLiteral("emptyPage"));
    // A drop reaches the widget that took the drag when it entered.
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
}

} // namespace vantrel::test
