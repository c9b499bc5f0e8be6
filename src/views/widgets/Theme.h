#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QAbstractButton;
class QLabel;
class QWidget;

namespace vantrel {

// The interface's text styles and semantic colours. Tests read what was applied from the dynamic
// properties "textStyle", "tint" and "symbol" instead of from pixels.
class Theme {
public:
    enum class TextStyle { largeTitle, title2, title3, headline, body, callout, subheadline, caption, caption2 };
    enum class Color {
        primary,
        secondary,
        tertiary,
        accent,
        separator,
        controlBackground,
        green,
        orange,
        red,
        yellow,
        blue,
        gray
    };

    // The size of a style in points, body being 13.
    static qreal designPointSize(TextStyle style);
    // The style's font: the desktop's own font scaled so that body text is the desktop's
    // default size and every other style keeps its proportion to it.
    static QFont font(TextStyle style);
    // A system font of a size given in design points ("the system font of size 48").
    static QFont systemFont(qreal designPoints, QFont::Weight weight = QFont::Normal);
    static void setTextStyle(QWidget* widget, TextStyle style, QFont::Weight weight);
    static void setTextStyle(QWidget* widget, TextStyle style);
    // The pixel size at which a symbol sits in a line of the style's text.
    static int symbolSize(TextStyle style);

    static QColor color(Color color, const QPalette& palette);
    static QColor color(Color color);     // from the application's palette
    static QString name(Color color);     // "secondary", "orange", ...
    static QString name(TextStyle style); // "caption", "title2", ...

    // A label of plain text in the style and tint, wrapped at word boundaries.
    static QLabel* label(const QString& text, TextStyle style, Color tint, QWidget* parent = nullptr);
    // A label showing only the symbol, at a fixed size, named "symbol".
    static QLabel* symbolLabel(const QString& symbolName, Color tint, int pixelSize, QWidget* parent = nullptr);

    // Sets the widget's foreground (text of labels and buttons) and records the tint's name.
    // Children that set no colour of their own take it too.
    static void setTint(QWidget* widget, Color color, qreal opacity = 1.0);
    // Shows the symbol on the label or button at the given pixel size, drawn in the tint.
    static void setSymbol(QLabel* label, const QString& symbolName, Color tint, int pixelSize, qreal opacity = 1.0);
    static void setSymbol(QAbstractButton* button, const QString& symbolName, Color tint, int pixelSize);
};

} // namespace vantrel
