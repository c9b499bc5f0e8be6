#include "views/widgets/FlowLayout.h"

#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace vantrel {

FlowLayout::FlowLayout(int minimumColumnWidth, QWidget* parent)
    : ItemListLayout(parent)
    , m_minimumColumnWidth(std::max(1, minimumColumnWidth))
{
}

void FlowLayout::setMinimumColumnWidth(int width)
{
    m_minimumColumnWidth = std::max(1, width);
    invalidate();
}

int FlowLayout::columnSpacing() const
{
    return m_columnSpacing >= 0 ? m_columnSpacing : styleSpacing(QStyle::PM_LayoutHorizontalSpacing);
}

void FlowLayout::setColumnSpacing(int spacing)
{
    m_columnSpacing = spacing;
    invalidate();
}

int FlowLayout::rowSpacing() const
{
    return m_rowSpacing >= 0 ? m_rowSpacing : styleSpacing(QStyle::PM_LayoutVerticalSpacing);
}

void FlowLayout::setRowSpacing(int spacing)
{
    m_rowSpacing = spacing;
    invalidate();
}

int FlowLayout::styleSpacing(QStyle::PixelMetric metric) const
{
    const QWidget* widget = parentWidget();
    if (!widget)
        return 0;
    return std::max(0, widget->style()->pixelMetric(metric, nullptr, widget));
}

int FlowLayout::columnCount(int width) const
{
    const QMargins margins = contentsMargins();
    const int available = width - margins.left() - margins.right();
    const int spacing = columnSpacing();
    // n columns fit when n * minimum + (n - 1) * spacing <= available.
    return std::max(1, (available + spacing) / (m_minimumColumnWidth + spacing));
}

Qt::Orientations FlowLayout::expandingDirections() const
{
    return Qt::Horizontal;
}

QSize FlowLayout::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = m_minimumColumnWidth + margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

int FlowLayout::arrange(const QRect& rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int columns = columnCount(rect.width());
    const int spacing = columnSpacing();
    const int rowGap = rowSpacing();
    // Column edges are spread over the whole width, so rounding leaves no gap at the right.
    const auto columnLeft = [&](int column) {
        return area.left() + int(qint64(column) * (area.width() + spacing) / columns);
    };
    const auto cell = [&](int column, int top, int height) {
        const int left = columnLeft(column);
        return QRect(left, top, std::max(0, columnLeft(column + 1) - spacing - left), height);
    };

    QList<QLayoutItem*> visible;
    for (QLayoutItem* item : items()) {
        if (!item->isEmpty())
            visible << item;
    }
    int y = area.top();
    for (qsizetype rowStart = 0; rowStart < visible.size(); rowStart += columns) {
        const qsizetype rowEnd = std::min(visible.size(), rowStart + columns);
        int rowHeight = 0;
        for (qsizetype i = rowStart; i < rowEnd; ++i) {
            const int width = cell(int(i - rowStart), 0, 0).width();
            const QLayoutItem* item = visible[i];
            // Both are already bounded by the item's minimum and maximum sizes.
            const int height = item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
            rowHeight = std::max(rowHeight, height);
        }
        if (apply) {
            for (qsizetype i = rowStart; i < rowEnd; ++i)
                visible[i]->setGeometry(cell(int(i - rowStart), y, rowHeight));
        }
        y += rowHeight + (rowEnd < visible.size() ? rowGap : 0);
    }
    return y - area.top() + contentsMargins().top() + contentsMargins().bottom();
}

} // namespace vantrel
