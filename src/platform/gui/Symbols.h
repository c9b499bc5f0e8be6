#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace vantrel {

// Icons by the symbol names the interface uses ("externaldrive.badge.xmark", ...): the desktop's
// icon theme when it has a fitting freedesktop icon, otherwise a stand-in bundled under
// ":/symbols", so an icon is never missing. Every icon is drawn in one colour, so it can be tinted.
//
// On the GUI thread, the icon found for a name and each tinted drawing (per name, colour and size)
// are kept and handed out again: a row painted fifty times, or a window built anew, renders and
// searches the theme once. A change of the icon theme's name, fallback or search paths starts over.
class Symbols {
public:
    // Every symbol name the interface uses, each with its bundled stand-in.
    static QStringList names();
    static bool isKnown(const QString& symbolName);

    static QIcon icon(const QString& symbolName);
    // The freedesktop names tried for a symbol, best first; empty where none fits.
    static QStringList themeNames(const QString& symbolName);
    // The bundled stand-in, never the theme (the same on every desktop); an outlined square for
    // an unknown name.
    static QIcon bundledIcon(const QString& symbolName);
    // The symbol drawn in one colour over its whole shape (a template image with a tint), at
    // size by size pixels.
    static QPixmap tinted(const QString& symbolName, const QColor& color, int size);
    // How many tinted drawings were rendered rather than handed out again, since the start.
    static quint64 renderCount();

    // The application's own icon in colour, from the bundled drawing that the installed theme
    // icons are rendered from, so a build that is not installed shows it too.
    static QIcon applicationIcon();

    // Lets a desktop whose icon theme has no one-colour ("-symbolic") icons borrow them from the
    // freedesktop default theme when it is installed. A desktop that names no theme of its own
    // (none, or the bare "hicolor") gets that theme as its theme: it inherits "hicolor", so every
    // icon is still found, and a launch no longer reads hicolor's large index before the first
    // symbol. Call once, before the first icon lookup: the toolkit caches theme lookups.
    static void useSymbolicFallbackTheme();
};

} // namespace vantrel
