#include "views/widgets/WrapLayout.h"

#include <QWidget>

#include <algorithm>

namespace vantrel {

WrapLayout::WrapLayout(QWidget* parent)
    : ItemListLayout(parent)
{
}

void WrapLayout::setLineSpacing(int spacing)
{
    m_lineSpacing = std::max(0, spacing);
    invalidate();
}

int WrapLayout::gap() const
{
    return std::max(0, spacing());
}

void WrapLayout::addTrailingWidget(QWidget* widget)
{
    if (m_firstTrailing < 0)
        m_firstTrailing = count();
    addWidget(widget);
}

QLayoutItem* WrapLayout::takeAt(int index)
{
    if (index < 0 || index >= count())
        return nullptr;
    if (m_firstTrailing > index)
        --m_firstTrailing;
    else if (m_firstTrailing == index && m_firstTrailing == count() - 1)
        m_firstTrailing = -1;
    return ItemListLayout::takeAt(index);
}

Qt::Orientations WrapLayout::expandingDirections() const
{
    return {};
}

QSize WrapLayout::sizeHint() const
{
    int width = 0;
    int height = 0;
    for (const QLayoutItem* item : items()) {
        if (item->isEmpty())
            continue;
        width += (width > 0 ? gap() : 0) + item->sizeHint().width();
        height = std::max(height, item->sizeHint().height());
    }
    const QMargins margins = contentsMargins();
    return {width + margins.left() + margins.right(), height + margins.top() + margins.bottom()};
}

int WrapLayout::arrange(const QRect& rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int available = std::max(1, area.width());
    struct Placed {
        QLayoutItem* item;
        int x;
        int width;
    };
    QList<QList<Placed>> lines{{}};
    int x = 0;
    // Leading widgets in reading order, each on the line where it still fits.
    const auto place = [&](QLayoutItem* item, int width) {
        if (x > 0 && x + gap() + width > available) {
            lines.append(QList<Placed>());
            x = 0;
        }
        const int at = x > 0 ? x + gap() : 0;
        lines.last().append(Placed{item, at, width});
        x = at + width;
    };
    QList<QLayoutItem*> trailing;
    for (qsizetype i = 0; i < items().size(); ++i) {
        QLayoutItem* item = items().at(i);
        if (item->isEmpty())
            continue;
        if (m_firstTrailing >= 0 && i >= m_firstTrailing)
            trailing << item;
        else
            place(item, std::min(available, item->sizeHint().width()));
    }
    if (!trailing.isEmpty()) {
        int together = 0;
        for (QLayoutItem* item : std::as_const(trailing))
            together += (together > 0 ? gap() : 0) + std::min(available, item->sizeHint().width());
        if (together <= available) {
            // Kept together, flush right, on the last line when there is room beside it.
            if (x > 0 && x + gap() + together > available)
                lines.append(QList<Placed>());
            int at = available - together;
            for (QLayoutItem* item : std::as_const(trailing)) {
                const int width = std::min(available, item->sizeHint().width());
                lines.last().append(Placed{item, at, width});
                at += width + gap();
            }
        } else {
            for (QLayoutItem* item : std::as_const(trailing))
                place(item, std::min(available, item->sizeHint().width()));
        }
    }

    int y = area.top();
    bool first = true;
    for (const QList<Placed>& line : std::as_const(lines)) {
        if (line.isEmpty())
            continue;
        int height = 0;
        for (const Placed& placed : line)
            height = std::max(height, placed.item->sizeHint().height());
        if (!first)
            y += m_lineSpacing;
        first = false;
        if (apply) {
            for (const Placed& placed : line) {
                const int itemHeight = std::min(height, placed.item->sizeHint().height());
                placed.item->setGeometry(
                    QRect(area.left() + placed.x, y + (height - itemHeight) / 2, placed.width, itemHeight));
            }
        }
        y += height;
    }
    const QMargins margins = contentsMargins();
    return y - area.top() + margins.top() + margins.bottom();
}

} // namespace vantrel
