#pragma once

#include <QRect>
#include <QString>

class QScreen;
class QWidget;

namespace vantrel {

class Defaults;

// Where windows open: wholly on the screen that shows them, centred where asked, and at the frame
// the user left them in, kept in the defaults under "window.<identifier>.frame".
namespace WindowPlacement {

// The frame moved (and, where it is larger, shrunk) into the available area.
QRect fitted(const QRect& frame, const QRect& available);

// The screen holding most of the window's frame, else its own, else the primary one.
QScreen* screenOf(const QWidget* window);

// Moves and if need be shrinks the window so that its frame lies wholly on its screen.
void keepOnScreen(QWidget* window);
void centre(QWidget* window);

QString frameKey(const QString& identifier);
// Gives the window the frame remembered for it, fitted to its screen; false when none is.
bool restoreFrame(QWidget* window, const Defaults& defaults, const QString& identifier);
void saveFrame(const QWidget* window, Defaults& defaults, const QString& identifier);

} // namespace WindowPlacement

} // namespace vantrel
