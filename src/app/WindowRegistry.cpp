#include "app/WindowRegistry.h"

#include "platform/gui/WindowPlacement.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace vantrel {

namespace {
const char* const centredProperty = "vantrelCentredOnOpen";
} // namespace

SceneWindow::SceneWindow(const QString& identifier, QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(identifier);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

void SceneWindow::setContent(QWidget* content)
{
    if (content == m_content)
        return;
    delete m_content.data();
    m_content = content;
    if (content) {
        layout()->addWidget(content);
        // The environment's locale: every content built for this window sees the window's locale.
        if (testAttribute(Qt::WA_SetLocale))
            content->setLocale(locale());
    }
    emit contentReplaced(content);
}

WindowRegistry::WindowRegistry(Defaults* defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
{
    // Windows still open at quit are remembered where they are.
    if (QCoreApplication* app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            for (const QPointer<SceneWindow>& window : std::as_const(m_windows)) {
                if (window && window->isVisible())
                    saveFrame(window);
            }
        });
    }
}

WindowRegistry::~WindowRegistry()
{
    for (const QPointer<SceneWindow>& window : std::as_const(m_windows))
        delete window.data();
}

void WindowRegistry::declare(Scene scene)
{
    m_scenes.append(std::move(scene));
}

QStringList WindowRegistry::identifiers() const
{
    QStringList result;
    for (const Scene& scene : m_scenes)
        result.append(scene.identifier);
    return result;
}

SceneWindow* WindowRegistry::find(const QString& identifier) const
{
    return m_windows.value(identifier).data();
}

SceneWindow* WindowRegistry::open(const QString& identifier)
{
    SceneWindow* window = find(identifier);
    if (!window) {
        for (const Scene& scene : std::as_const(m_scenes)) {
            if (scene.identifier == identifier) {
                window = create(scene);
                break;
            }
        }
    }
    if (!window)
        return nullptr;
    const bool first = !window->isVisible();
    bringToFront(window);
    // The window manager's decorations are known once shown: the whole frame stays on screen.
    if (first) {
        QTimer::singleShot(0, window, [window] {
            if (window->property(centredProperty).toBool())
                WindowPlacement::centre(window);
            else
                WindowPlacement::keepOnScreen(window);
        });
    }
    return window;
}

const WindowRegistry::Scene* WindowRegistry::scene(const QString& identifier) const
{
    for (const Scene& scene : m_scenes) {
        if (scene.identifier == identifier)
            return &scene;
    }
    return nullptr;
}

void WindowRegistry::place(SceneWindow* window, const Scene& scene)
{
    const bool restored = scene.remembersFrame && m_defaults
        && WindowPlacement::restoreFrame(window, *m_defaults, scene.identifier);
    // Centred again once shown, by the frame the window manager gave it.
    window->setProperty(centredProperty, !restored && scene.centred);
    if (restored)
        return;
    if (scene.centred)
        WindowPlacement::centre(window);
    else
        WindowPlacement::keepOnScreen(window);
}

void WindowRegistry::saveFrame(const SceneWindow* window)
{
    const Scene* declared = scene(window->identifier());
    if (declared && declared->remembersFrame && m_defaults)
        WindowPlacement::saveFrame(window, *m_defaults, window->identifier());
}

bool WindowRegistry::eventFilter(QObject* watched, QEvent* event)
{
    // Hidden, closed or about to be: where the user left it.
    if (event->type() == QEvent::Hide || event->type() == QEvent::Close) {
        // A hide is told after the fact; a close of a window not shown has no frame to keep.
        auto* window = qobject_cast<SceneWindow*>(watched);
        if (window && (event->type() == QEvent::Hide || window->isVisible()))
            saveFrame(window);
    }
    return QObject::eventFilter(watched, event);
}

SceneWindow* WindowRegistry::create(const Scene& scene)
{
    auto* window = new SceneWindow(scene.identifier);
    if (!scene.keepWhenClosed)
        window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(scene.title);
    if (m_locale)
        window->setLocale(*m_locale);
    window->setContent(scene.makeContent ? scene.makeContent() : new QWidget);
    if (scene.resizability == Resizability::contentSize) {
        window->layout()->setSizeConstraint(QLayout::SetFixedSize);
        window->setWindowFlag(Qt::WindowMaximizeButtonHint, false);
        // Its size now, so that it is placed by it.
        window->layout()->activate();
    } else {
        window->resize(scene.defaultSize.expandedTo(window->minimumSizeHint()));
    }
    place(window, scene);
    window->installEventFilter(this);
    m_windows.insert(scene.identifier, window);
    emit windowCreated(scene.identifier, window);
    return window;
}

void WindowRegistry::setLocale(const QLocale& locale)
{
    m_locale = locale;
    for (const QPointer<SceneWindow>& window : std::as_const(m_windows)) {
        if (!window)
            continue;
        window->setLocale(locale);
        if (QWidget* content = window->content())
            content->setLocale(locale);
    }
}

void bringToFront(QWidget* window)
{
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void centreOnScreen(QWidget* window)
{
    WindowPlacement::centre(window);
}

} // namespace vantrel
