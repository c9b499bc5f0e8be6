#include "platform/gui/Workspace.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>

namespace vantrel {

Workspace& Workspace::shared()
{
    static DesktopWorkspace* instance = new DesktopWorkspace(QDBusConnection::sessionBus());
    return *instance;
}

QUrl Workspace::containingFolder(const QUrl& url)
{
    return url.adjusted(QUrl::StripTrailingSlash).adjusted(QUrl::RemoveFilename);
}

void DesktopWorkspace::openWithDesktop(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

DesktopWorkspace::DesktopWorkspace(const QDBusConnection& bus, const QString& service, Opener opener, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_service(service)
    , m_opener(std::move(opener))
{
}

void DesktopWorkspace::open(const QUrl& url)
{
    if (m_opener)
        m_opener(url);
}

void DesktopWorkspace::selectFile(const QUrl& file)
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, fileManagerPath, fileManagerInterface,
        QStringLiteral("ShowItems"));
    // No start-up notification id: the file manager raises its own window.
    call << QStringList{file.toString(QUrl::FullyEncoded)} << QString();
    // Never waited for here: a file manager being started can take seconds.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, static_cast<int>(fileManagerTimeout.count())),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, file](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        if (finished->isError())
            open(containingFolder(file));
    });
}

} // namespace vantrel
