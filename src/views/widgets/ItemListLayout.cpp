#include "views/widgets/ItemListLayout.h"

namespace vantrel {

ItemListLayout::ItemListLayout(QWidget* parent)
    : QLayout(parent)
{
}

ItemListLayout::~ItemListLayout()
{
    qDeleteAll(m_items);
}

void ItemListLayout::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

int ItemListLayout::count() const
{
    return int(m_items.size());
}

QLayoutItem* ItemListLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items[index] : nullptr;
}

QLayoutItem* ItemListLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

bool ItemListLayout::hasHeightForWidth() const
{
    return true;
}

int ItemListLayout::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

QSize ItemListLayout::minimumSize() const
{
    QSize size;
    for (const QLayoutItem* item : m_items) {
        if (!item->isEmpty())
            size = size.expandedTo(item->minimumSize());
    }
    const QMargins margins = contentsMargins();
    return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void ItemListLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

} // namespace vantrel
