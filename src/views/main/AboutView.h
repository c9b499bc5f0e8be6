#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

class QToolButton;

namespace vantrel {

class Workspace;

// The content of the about window: the application's symbol, name, version and build, and links
// to the product's web pages, opened in the desktop's browser. It has one fixed size.
class AboutView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int contentWidth = 360;
    static constexpr int contentHeight = 280;

    struct Link {
        QString id; // "website", "feedback", "documentation": the button's object name is "link." + id
        QString symbol;
        QString text; // its own localization key
        QUrl url;
    };
    // Web site, feedback forum, documentation: always these three, in this order.
    static QList<Link> links();

    // `info` reads like the bundle's information dictionary (AppInfo::infoDictionary()).
    explicit AboutView(QWidget* parent = nullptr);
    AboutView(const QVariantMap& info, Workspace& workspace, QWidget* parent = nullptr);

    // The version and build under their keys when they are non-empty text, else "0.1.0" and "1".
    static QString appVersion(const QVariantMap& info);
    static QString buildNumber(const QVariantMap& info);

    // A top-level about window with its title, fixed size and only a close button, centred on the
    // screen and not yet shown. It is not deleted when closed, so it can be shown again.
    static QWidget* makeWindow(QWidget* content = nullptr);
    static QString windowTitle();
    // Brings forward the window that carries the about title, whoever made it, or makes one; the
    // main window and the tray menu both open it here, so there is only ever one.
    static QWidget* showWindow(Workspace& workspace);

    QList<QToolButton*> linkButtons() const { return m_linkButtons; }

private:
    Workspace& m_workspace;
    QList<QToolButton*> m_linkButtons;
};

} // namespace vantrel
