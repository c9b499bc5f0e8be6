#pragma once

#include <QHash>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

namespace vantrel {

class Defaults;

// A top-level window of the application with one replaceable content widget. Its object name is
// its identifier, so other code can recognise it among the application's windows.
class SceneWindow final : public QWidget {
    Q_OBJECT

public:
    explicit SceneWindow(const QString& identifier, QWidget* parent = nullptr);

    QString identifier() const { return objectName(); }
    QWidget* content() const { return m_content; }
    // Takes ownership; the previous content is deleted.
    void setContent(QWidget* content);

signals:
    void contentReplaced(QWidget* content);

private:
    QPointer<QWidget> m_content;
};

// The application's windows, each known by an identifier and present at most once: opening one
// creates it when it does not exist and otherwise brings the existing one forward. A closed
// window is gone and the next open creates it anew, unless its scene keeps it when closed.
class WindowRegistry final : public QObject {
    Q_OBJECT

public:
    enum class Resizability {
        contentMinimumSize, // resizable down to the content's minimum size
        contentSize,        // exactly the content's size
        automatic,          // the toolkit's choice (it also respects the content's minimum)
    };

    struct Scene {
        QString identifier;
        QString title;
        QSize defaultSize;
        Resizability resizability = Resizability::automatic;
        std::function<QWidget*()> makeContent;
        // Hidden on close instead of destroyed, so every path that opens it finds the same window.
        bool keepWhenClosed = false;
        // Opens in the middle of its screen (when it has no remembered frame).
        bool centred = false;
        // Comes back at the frame it was left in (with a defaults database to keep it in).
        bool remembersFrame = false;
    };

    // Frames are remembered in `defaults`; none when null.
    explicit WindowRegistry(Defaults* defaults = nullptr, QObject* parent = nullptr);
    ~WindowRegistry() override;

    void declare(Scene scene);
    QStringList identifiers() const;

    // Creates or reuses the window, shows it and brings it to the front; null for an unknown
    // identifier.
    SceneWindow* open(const QString& identifier);
    SceneWindow* find(const QString& identifier) const;

    // Applied to every open window's content now and to every window created later.
    void setLocale(const QLocale& locale);

signals:
    void windowCreated(const QString& identifier, vantrel::SceneWindow* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SceneWindow* create(const Scene& scene);
    void place(SceneWindow* window, const Scene& scene);
    void saveFrame(const SceneWindow* window);
    const Scene* scene(const QString& identifier) const;

    Defaults* m_defaults;

    QList<Scene> m_scenes;
    QHash<QString, QPointer<SceneWindow>> m_windows;
    std::optional<QLocale> m_locale;
};

// Shows a window, restores it when minimised and brings it to the front.
void bringToFront(QWidget* window);
// Moves a window's frame to the middle of its screen's available area (the primary screen's when
// it has none yet).
void centreOnScreen(QWidget* window);

} // namespace vantrel
