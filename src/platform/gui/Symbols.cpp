#include "platform/gui/Symbols.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

namespace vantrel {

namespace {

const QHash<QString, QStringList>& themeTable()
{
    static const QHash<QString, QStringList> table{
        {QStringLiteral("externaldrive.connected.to.line.below"),
            {QStringLiteral("network-server"), QStringLiteral("drive-harddisk")}},
        {QStringLiteral("externaldrive.badge.xmark"),
            {QStringLiteral("network-offline"), QStringLiteral("drive-harddisk")}},
    };
    return table;
}

// A drive body, with a network line below for the connected variant and a cross for the
// disconnected one; anything else is drawn as the plain drive.
void drawSymbol(QPainter& painter, const QString& symbolName, const QColor& color, int size)
{
    const qreal s = size;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const bool connected = symbolName == QStringLiteral("externaldrive.connected.to.line.below");
    const QRectF body(s * 0.08, s * 0.18, s * 0.84, connected ? s * 0.44 : s * 0.5);
    QPainterPath path;
    path.addRoundedRect(body, s * 0.1, s * 0.1);
    // A light slot and status dot make the shape read as a drive.
    QPainterPath slot;
    slot.addRoundedRect(QRectF(body.left() + s * 0.12, body.center().y() - s * 0.03, s * 0.36, s * 0.06), s * 0.03,
        s * 0.03);
    slot.addEllipse(QPointF(body.right() - s * 0.16, body.center().y()), s * 0.05, s * 0.05);
    painter.drawPath(path.subtracted(slot));
    if (connected) {
        painter.drawRect(QRectF(s * 0.46, body.bottom(), s * 0.08, s * 0.14));
        painter.drawRoundedRect(QRectF(s * 0.08, s * 0.76, s * 0.84, s * 0.08), s * 0.04, s * 0.04);
    } else if (symbolName == QStringLiteral("externaldrive.badge.xmark")) {
        QPen pen(color, s * 0.08, Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        const QPointF c(s * 0.8, s * 0.8);
        const qreal r = s * 0.12;
        painter.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
        painter.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
    }
}

} // namespace

QStringList Symbols::themeNames(const QString& symbolName)
{
    return themeTable().value(symbolName);
}

QPixmap Symbols::drawn(const QString& symbolName, const QColor& color, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawSymbol(painter, symbolName, color, size);
    return pixmap;
}

QIcon Symbols::icon(const QString& symbolName)
{
    for (const QString& name : themeNames(symbolName)) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(drawn(symbolName, QColor(0x6E, 0x6E, 0x73), size));
    return icon;
}

QPixmap Symbols::tinted(const QString& symbolName, const QColor& color, int size)
{
    QPixmap pixmap = icon(symbolName).pixmap(size, size);
    if (pixmap.isNull())
        return drawn(symbolName, color, size);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

} // namespace vantrel
