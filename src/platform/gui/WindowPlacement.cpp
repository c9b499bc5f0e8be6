#include "platform/gui/WindowPlacement.h"

#include "platform/Defaults.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include <algorithm>

namespace vantrel::WindowPlacement {

QRect fitted(const QRect& frame, const QRect& available)
{
    if (available.isEmpty())
        return frame;
    QRect result(frame.topLeft(), frame.size().boundedTo(available.size()));
    result.moveLeft(std::clamp(result.left(), available.left(), available.right() - result.width() + 1));
    result.moveTop(std::clamp(result.top(), available.top(), available.bottom() - result.height() + 1));
    return result;
}

QScreen* screenOf(const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    QScreen* best = nullptr;
    qint64 bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->geometry().intersected(frame);
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    if (best)
        return best;
    return window->screen() ? window->screen() : QGuiApplication::primaryScreen();
}

namespace {

// The window's client size and frame position for a frame; decorations stay what they are.
void applyFrame(QWidget* window, const QRect& frame)
{
    const QSize decorations = window->frameGeometry().size() - window->geometry().size();
    const QSize client = (frame.size() - decorations).expandedTo(window->minimumSize());
    if (client != window->size())
        window->resize(client);
    if (frame.topLeft() != window->frameGeometry().topLeft())
        window->move(frame.topLeft());
}

} // namespace

void keepOnScreen(QWidget* window)
{
    const QScreen* screen = screenOf(window);
    if (!screen)
        return;
    const QRect frame = window->frameGeometry();
    const QRect inside = fitted(frame, screen->availableGeometry());
    if (inside != frame)
        applyFrame(window, inside);
}

void centre(QWidget* window)
{
    const QScreen* screen = screenOf(window);
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    applyFrame(window, fitted(frame, screen->availableGeometry()));
}

QString frameKey(const QString& identifier)
{
    return QStringLiteral("window.") + identifier + QStringLiteral(".frame");
}

bool restoreFrame(QWidget* window, const Defaults& defaults, const QString& identifier)
{
    // "x y width height" of the frame's corner and the window's own size.
    const QStringList parts = defaults.stringValue(frameKey(identifier)).value_or(QString()).split(u' ');
    if (parts.size() != 4)
        return false;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts.at(i).toInt(&ok);
        if (!ok)
            return false;
    }
    const QSize size = QSize(values[2], values[3]).expandedTo(window->minimumSize());
    if (size.width() <= 0 || size.height() <= 0)
        return false;
    window->resize(size);
    window->move(values[0], values[1]);
    // Saved on another screen layout: a frame partly or wholly outside what is there now.
    keepOnScreen(window);
    return true;
}

void saveFrame(const QWidget* window, Defaults& defaults, const QString& identifier)
{
    const QPoint corner = window->frameGeometry().topLeft();
    const QString text = QStringList{QString::number(corner.x()), QString::number(corner.y()),
        QString::number(window->width()), QString::number(window->height())}
                             .join(u' ');
    if (defaults.stringValue(frameKey(identifier)) != text)
        defaults.setValue(frameKey(identifier), text);
}

} // namespace vantrel::WindowPlacement
