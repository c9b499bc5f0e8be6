#include "views/widgets/Theme.h"

#include "platform/gui/Symbols.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>

#include <cmath>

namespace vantrel {

namespace {

constexpr qreal designBodySize = 13.0;

struct FixedColor {
    QRgb light;
    QRgb dark;
};

// The system colours used here have no palette role; each has a variant for dark palettes.
FixedColor fixedColor(Theme::Color color)
{
    switch (color) {
    case Theme::Color::green: return {qRgb(0x28, 0xCD, 0x41), qRgb(0x32, 0xD7, 0x4B)};
    case Theme::Color::orange: return {qRgb(0xFF, 0x95, 0x00), qRgb(0xFF, 0x9F, 0x0A)};
    case Theme::Color::red: return {qRgb(0xFF, 0x3B, 0x30), qRgb(0xFF, 0x45, 0x3A)};
    case Theme::Color::yellow: return {qRgb(0xFF, 0xCC, 0x00), qRgb(0xFF, 0xD6, 0x0A)};
    case Theme::Color::blue: return {qRgb(0x00, 0x7A, 0xFF), qRgb(0x0A, 0x84, 0xFF)};
    default: return {qRgb(0x8E, 0x8E, 0x93), qRgb(0x98, 0x98, 0x9D)};
    }
}

QColor withAlpha(QColor color, qreal factor)
{
    color.setAlphaF(color.alphaF() * factor);
    return color;
}

} // namespace

qreal Theme::designPointSize(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle: return 26;
    case TextStyle::title2: return 17;
    case TextStyle::title3: return 15;
    case TextStyle::headline:
    case TextStyle::body: return 13;
    case TextStyle::callout: return 12;
    case TextStyle::subheadline: return 11;
    case TextStyle::caption:
    case TextStyle::caption2: return 10;
    }
    return designBodySize;
}

QFont Theme::systemFont(qreal designPoints, QFont::Weight weight)
{
    // The design measures in points of a 72-dpi screen; scaling from the desktop's default font
    // keeps the proportions and still follows the user's font-size setting.
    QFont font = QApplication::font();
    const qreal factor = designPoints / designBodySize;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * factor))));
    font.setWeight(weight);
    return font;
}

QFont Theme::font(TextStyle style)
{
    switch (style) {
    case TextStyle::headline: return systemFont(designPointSize(style), QFont::Bold);
    case TextStyle::caption2:
        // The same size as caption, told apart by its weight.
        return systemFont(designPointSize(style), QFont::Medium);
    default: return systemFont(designPointSize(style));
    }
}

void Theme::setTextStyle(QWidget* widget, TextStyle style, QFont::Weight weight)
{
    QFont styled = font(style);
    styled.setWeight(weight);
    widget->setFont(styled);
    widget->setProperty("textStyle", name(style));
}

void Theme::setTextStyle(QWidget* widget, TextStyle style)
{
    widget->setFont(font(style));
    widget->setProperty("textStyle", name(style));
}

int Theme::symbolSize(TextStyle style)
{
    return QFontMetrics(font(style)).height();
}

QColor Theme::color(Color color, const QPalette& palette)
{
    switch (color) {
    case Color::primary: return palette.color(QPalette::Active, QPalette::WindowText);
    case Color::secondary: return palette.color(QPalette::Active, QPalette::PlaceholderText);
    case Color::tertiary: return withAlpha(palette.color(QPalette::Active, QPalette::WindowText), 0.26);
    case Color::accent: return palette.color(QPalette::Active, QPalette::Highlight);
    case Color::separator: return palette.color(QPalette::Active, QPalette::Mid);
    case Color::controlBackground: return palette.color(QPalette::Active, QPalette::Base);
    default: break;
    }
    const FixedColor fixed = fixedColor(color);
    const bool dark = palette.color(QPalette::Active, QPalette::Window).lightness() < 128;
    return QColor::fromRgb(dark ? fixed.dark : fixed.light);
}

QColor Theme::color(Color color)
{
    return Theme::color(color, QApplication::palette());
}

QString Theme::name(Color color)
{
    switch (color) {
    case Color::primary: return QStringLiteral("primary");
    case Color::secondary: return QStringLiteral("secondary");
    case Color::tertiary: return QStringLiteral("tertiary");
    case Color::accent: return QStringLiteral("accent");
    case Color::separator: return QStringLiteral("separator");
    case Color::controlBackground: return QStringLiteral("controlBackground");
    case Color::green: return QStringLiteral("green");
    case Color::orange: return QStringLiteral("orange");
    case Color::red: return QStringLiteral("red");
    case Color::yellow: return QStringLiteral("yellow");
    case Color::blue: return QStringLiteral("blue");
    case Color::gray: return QStringLiteral("gray");
    }
    return {};
}

QString Theme::name(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle: return QStringLiteral("largeTitle");
    case TextStyle::title2: return QStringLiteral("title2");
    case TextStyle::title3: return QStringLiteral("title3");
    case TextStyle::headline: return QStringLiteral("headline");
    case TextStyle::body: return QStringLiteral("body");
    case TextStyle::callout: return QStringLiteral("callout");
    case TextStyle::subheadline: return QStringLiteral("subheadline");
    case TextStyle::caption: return QStringLiteral("caption");
    case TextStyle::caption2: return QStringLiteral("caption2");
    }
    return {};
}

QLabel* Theme::label(const QString& text, TextStyle style, Color tint, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    setTextStyle(label, style);
    setTint(label, tint);
    return label;
}

QLabel* Theme::symbolLabel(const QString& symbolName, Color tint, int pixelSize, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("symbol"));
    setSymbol(label, symbolName, tint, pixelSize);
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return label;
}

void Theme::setTint(QWidget* widget, Color color, qreal opacity)
{
    QPalette palette = widget->palette();
    const QColor tint = withAlpha(Theme::color(color, palette), opacity);
    // The disabled group keeps the style's dimmed colour, so a disabled control still looks it.
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(group, role, tint);
    }
    widget->setPalette(palette);
    widget->setProperty("tint", name(color));
}

void Theme::setSymbol(QLabel* label, const QString& symbolName, Color tint, int pixelSize, qreal opacity)
{
    const qreal ratio = label->devicePixelRatioF();
    QPixmap pixmap = Symbols::tinted(symbolName, withAlpha(color(tint, label->palette()), opacity),
        int(std::ceil(pixelSize * ratio)));
    pixmap.setDevicePixelRatio(ratio);
    label->setPixmap(pixmap);
    label->setProperty("symbol", symbolName);
    label->setProperty("tint", name(tint));
}

void Theme::setSymbol(QAbstractButton* button, const QString& symbolName, Color tint, int pixelSize)
{
    const int size = int(std::ceil(pixelSize * button->devicePixelRatioF()));
    button->setIcon(QIcon(Symbols::tinted(symbolName, color(tint, button->palette()), size)));
    button->setIconSize(QSize(pixelSize, pixelSize));
    button->setProperty("symbol", symbolName);
    button->setProperty("tint", name(tint));
}

} // namespace vantrel
