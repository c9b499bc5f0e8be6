#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace vantrel {

// Icons by the symbol names the interface uses ("externaldrive.badge.xmark", ...): the desktop's
// icon theme when it has a matching freedesktop icon, otherwise a drawn stand-in, so an icon is
// never missing.
class Symbols {
public:
    static QIcon icon(const QString& symbolName);
    // The freedesktop names tried for a symbol, best first; empty for an unknown symbol.
    static QStringList themeNames(const QString& symbolName);
    // The symbol drawn in one colour over its whole shape (a template image with a tint).
    static QPixmap tinted(const QString& symbolName, const QColor& color, int size);
    // The drawn stand-in only, never the theme (the same on every desktop).
    static QPixmap drawn(const QString& symbolName, const QColor& color, int size);
};

} // namespace vantrel
