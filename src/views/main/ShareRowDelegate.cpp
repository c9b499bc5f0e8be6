#include "views/main/ShareRowDelegate.h"

#include "model/AppState.h"
#include "platform/gui/Symbols.h"
#include "views/main/ShareListModel.h"
#include "views/main/StatusIndicator.h"
#include "views/widgets/Theme.h"

#include <QApplication>
#include <QPainter>

namespace vantrel {

namespace {

constexpr int linkSymbolSpacing = 2;
constexpr int badgeSymbolSpacing = 4;

QFont nameFont()
{
    return Theme::font(Theme::TextStyle::body);
}

QFont smallFont()
{
    return Theme::font(Theme::TextStyle::caption2);
}

int smallSymbolSize()
{
    return Theme::symbolSize(Theme::TextStyle::caption2);
}

int nameLineHeight()
{
    return QFontMetrics(nameFont()).height();
}

// A small line may hold a symbol as well as text.
int smallLineHeight()
{
    return std::max(QFontMetrics(smallFont()).height(), smallSymbolSize());
}

bool hasBadge(const QModelIndex& index)
{
    return index.data(ShareListModel::BadgeVisibleRole).toBool();
}

// The lines' height, for both the layout and the row's size hint, so the texts always fit the row.
int textHeight(const QModelIndex& index)
{
    const int lines = nameLineHeight() + ShareRowDelegate::lineSpacing + smallLineHeight();
    return hasBadge(index) ? lines + ShareRowDelegate::lineSpacing + smallLineHeight() : lines;
}

// A symbol and a text side by side, over a rounded backdrop when one is given; returns the width
// both take.
int drawSymbolAndText(QPainter& painter, const QRect& line, const QString& symbol, const QString& text,
    const QColor& colour, int symbolSpacing, const QColor& backdrop = {})
{
    const int symbolSize = smallSymbolSize();
    const QRect textRect = line.adjusted(symbolSize + symbolSpacing, 0, 0, 0);
    const QFontMetrics metrics(painter.font());
    const QString shown = metrics.elidedText(text, Qt::ElideRight, std::max(0, textRect.width()));
    const int width = symbolSize + symbolSpacing + metrics.horizontalAdvance(shown);
    if (backdrop.isValid()) {
        const QRectF area = QRectF(line.left(), line.top(), width, line.height()).adjusted(-3, 0, 3, 0);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(backdrop);
        painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
        painter.restore();
    }
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QPixmap pixmap = Symbols::tinted(symbol, colour, int(std::ceil(symbolSize * ratio)));
    pixmap.setDevicePixelRatio(ratio);
    const int top = line.top() + (line.height() - symbolSize) / 2;
    painter.drawPixmap(QRect(line.left(), top, symbolSize, symbolSize), pixmap);
    painter.setPen(colour);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    return width;
}

} // namespace

ShareRowDelegate::ShareRowDelegate(const StatusPulse* pulse, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_pulse(pulse)
{
}

ShareRowDelegate::Layout ShareRowDelegate::layout(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    Layout result;
    const QRect content = option.rect.adjusted(inset, inset / 2 + rowPadding, -inset, -(inset / 2 + rowPadding));
    const int nameHeight = nameLineHeight();
    const int smallHeight = smallLineHeight();

    const int extent = StatusIndicator::extent(dotSize);
    const int top = content.top() + (content.height() - textHeight(index)) / 2;
    result.dot = QRectF(content.left(), content.top() + (content.height() - extent) / 2.0, extent, extent);
    const int left = content.left() + extent + spacing;
    const int width = std::max(0, content.right() - left + 1);
    result.name = QRect(left, top, width, nameHeight);
    result.secondLine = QRect(left, result.name.bottom() + 1 + lineSpacing, width, smallHeight);
    if (hasBadge(index))
        result.badge = QRect(left, result.secondLine.bottom() + 1 + lineSpacing, width, smallHeight);

    const QString linkText = index.data(ShareListModel::LinkTextRole).toString();
    if (index.data(ShareListModel::LinkRole).toUrl().isValid()) {
        const int linkWidth = smallSymbolSize() + linkSymbolSpacing
            + QFontMetrics(smallFont()).horizontalAdvance(linkText);
        result.link = QRect(result.secondLine.topLeft(), QSize(std::min(linkWidth, width), smallHeight));
    }
    return result;
}

QSize ShareRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return {std::max(option.rect.width(), 100), textHeight(index) + 2 * rowPadding + 2 * (inset / 2)};
}

void ShareRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem styled = option;
    initStyleOption(&styled, index);
    // Only the row's background: the content is painted below.
    styled.text.clear();
    styled.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &styled, painter, widget);

    const Layout parts = layout(option, index);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QPalette& palette = option.palette;
    const QPalette::ColorGroup group = option.state.testFlag(QStyle::State_Active) ? QPalette::Active
                                                                                   : QPalette::Inactive;
    const QColor selectedText = palette.color(group, QPalette::HighlightedText);
    const auto tint = [&](Theme::Color colour) { return selected ? selectedText : Theme::color(colour, palette); };

    painter->save();
    const MountState state = index.data(ShareListModel::MountStateRole).value<MountState>();
    const bool pulsing = m_pulse && state.is(MountState::Kind::mounting);
    StatusIndicator::paint(*painter, parts.dot, state, dotSize, palette, pulsing ? m_pulse->scale() : 1.0,
        pulsing ? m_pulse->opacity() : 1.0);

    painter->setFont(nameFont());
    painter->setPen(selected ? selectedText : palette.color(group, QPalette::Text));
    const QString name = index.data(Qt::DisplayRole).toString();
    painter->drawText(parts.name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        QFontMetrics(painter->font()).elidedText(name, Qt::ElideRight, parts.name.width()));

    painter->setFont(smallFont());
    if (!parts.link.isEmpty()) {
        drawSymbolAndText(*painter, parts.secondLine, QStringLiteral("arrow.up.forward.app"),
            index.data(ShareListModel::LinkTextRole).toString(), tint(Theme::Color::blue), linkSymbolSpacing);
    } else {
        painter->setPen(tint(Theme::Color::secondary));
        const QString address = index.data(ShareListModel::AddressRole).toString();
        painter->drawText(parts.secondLine, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            QFontMetrics(painter->font()).elidedText(address, Qt::ElideRight, parts.secondLine.width()));
    }
    if (!parts.badge.isEmpty()) {
        // The badge keeps its green or orange on a selected row too, the colour being its message;
        // there it sits on the list's own background, where that colour reads.
        const bool matched = index.data(ShareListModel::BadgeMatchedRole).toBool();
        drawSymbolAndText(*painter, parts.badge, index.data(ShareListModel::BadgeSymbolRole).toString(),
            index.data(ShareListModel::BadgeTextRole).toString(),
            Theme::color(matched ? Theme::Color::green : Theme::Color::orange, palette), badgeSymbolSpacing,
            selected ? palette.color(group, QPalette::Base) : QColor());
    }
    painter->restore();
}

} // namespace vantrel
