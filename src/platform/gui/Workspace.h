#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

namespace vantrel {

// Hands URLs and files to the desktop. Callers take a Workspace& (defaulting to shared()), so
// tests can hand them a recording one that launches nothing.
class Workspace {
public:
    virtual ~Workspace() = default;

    // The desktop's, on the session bus. Main thread only.
    static Workspace& shared();

    // Opens the URL with its default application (a folder in the file manager, a page in the
    // browser). Nothing is reported back.
    virtual void open(const QUrl& url) = 0;
    // Shows the file selected in a file-manager window, or its folder when no file manager takes
    // the request. Returns at once.
    virtual void selectFile(const QUrl& file) = 0;

    // The folder holding `url` (for a folder URL, with or without a trailing slash, its parent).
    static QUrl containingFolder(const QUrl& url);
};

// Opens URLs through the desktop's default applications and selects files through a file manager
// that serves org.freedesktop.FileManager1 on the bus.
class DesktopWorkspace final : public QObject, public Workspace {
    Q_OBJECT

public:
    static inline const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString fileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
    static inline const QString fileManagerInterface = QStringLiteral("org.freedesktop.FileManager1");

    // Opens a URL with the desktop's default application; tests record instead.
    using Opener = std::function<void(const QUrl&)>;
    static void openWithDesktop(const QUrl& url);

    explicit DesktopWorkspace(const QDBusConnection& bus, const QString& service = fileManagerService,
        Opener opener = openWithDesktop, QObject* parent = nullptr);

    void open(const QUrl& url) override;
    void selectFile(const QUrl& file) override;

    // How long the file manager may take (it may first have to be started) before the folder is
    // opened instead; the bus's own default.
    std::chrono::milliseconds fileManagerTimeout{25'000};

private:
    QDBusConnection m_bus;
    QString m_service;
    Opener m_opener;
};

} // namespace vantrel
