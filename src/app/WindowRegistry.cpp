#include "app/WindowRegistry.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QVBoxLayout>

namespace vantrel {

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

WindowRegistry::WindowRegistry(QObject* parent)
    : QObject(parent)
{
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
    if (window)
        bringToFront(window);
    return window;
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
    } else {
        window->resize(scene.defaultSize.expandedTo(window->minimumSizeHint()));
    }
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
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

} // namespace vantrel
