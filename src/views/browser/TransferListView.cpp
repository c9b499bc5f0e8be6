#include "views/browser/TransferListView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <bit>

namespace vantrel {

TransferListView::TransferListView(QWidget* parent)
    : QListView(parent)
{
}

int TransferListView::measure(int row) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex index = model()->index(row, 0, rootIndex());
    return std::max(0, itemDelegateForIndex(index)->sizeHint(option, index).height());
}

void TransferListView::measureAll() const
{
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    m_heights.resize(rows);
    m_sums.fill(0, rows + 1);
    for (int row = 0; row < rows; ++row) {
        m_heights[row] = measure(row);
        // Each node sums its own range: built in one pass.
        const int node = row + 1;
        m_sums[node] += m_heights[row];
        const int parent = node + (node & -node);
        if (parent <= rows)
            m_sums[parent] += m_sums[node];
    }
}

void TransferListView::ensureLaidOut() const
{
    if (model() && m_heights.size() != model()->rowCount(rootIndex()))
        measureAll();
}

void TransferListView::addToSums(int row, int delta) const
{
    for (qsizetype node = row + 1; node < m_sums.size(); node += node & -node)
        m_sums[node] += delta;
}

int TransferListView::topOf(int row) const
{
    int sum = 0;
    for (int node = row; node > 0; node -= node & -node)
        sum += m_sums.at(node);
    return sum;
}

int TransferListView::totalHeight() const
{
    return topOf(int(m_heights.size()));
}

void TransferListView::doItemsLayout()
{
    measureAll();
    // The base's own bookkeeping only: the rows' places are kept here.
    QAbstractItemView::doItemsLayout();
    viewport()->update();
}

void TransferListView::rowHeightChanged(const QModelIndex& index)
{
    if (!index.isValid() || index.parent() != rootIndex())
        return;
    ensureLaidOut();
    const int row = index.row();
    if (row >= m_heights.size())
        return;
    const int height = measure(row);
    if (height == m_heights.at(row))
        return;
    addToSums(row, height - m_heights.at(row));
    m_heights[row] = height;
    updateGeometries();
    viewport()->update();
}

void TransferListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles)
{
    // A list view lays every row out again for any change of data; here a row's height changes
    // only through rowHeightChanged, so the change just repaints.
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

QRect TransferListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != 0)
        return {};
    ensureLaidOut();
    if (index.row() >= m_heights.size())
        return {};
    return {-horizontalOffset(), topOf(index.row()) - verticalOffset(), viewport()->width(), m_heights.at(index.row())};
}

QModelIndex TransferListView::indexAt(const QPoint& point) const
{
    ensureLaidOut();
    const int y = point.y() + verticalOffset();
    if (!model() || y < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return {};
    // The last row whose top is at or above y: walk down the tree.
    int row = 0;
    int remaining = y;
    for (int step = int(std::bit_floor(quint32(m_heights.size()))); step > 0; step >>= 1) {
        const int next = row + step;
        if (next < m_sums.size() && m_sums.at(next) <= remaining) {
            row = next;
            remaining -= m_sums.at(next);
        }
    }
    if (row >= m_heights.size())
        return {};
    return model()->index(row, 0, rootIndex());
}

void TransferListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    // Rows appended this turn are not in the scroll range until the next layout.
    updateGeometries();
    const QRect rect = visualRect(index);
    if (!rect.isValid())
        return;
    const int top = rect.top() + verticalOffset();
    const int page = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    switch (hint) {
    case PositionAtTop: bar->setValue(top); break;
    case PositionAtBottom: bar->setValue(top + rect.height() - page); break;
    case PositionAtCenter: bar->setValue(top - (page - rect.height()) / 2); break;
    case EnsureVisible:
        if (rect.top() < 0)
            bar->setValue(top);
        else if (rect.bottom() >= page)
            bar->setValue(std::min(top, top + rect.height() - page));
        break;
    }
}

void TransferListView::paintEvent(QPaintEvent* event)
{
    ensureLaidOut();
    if (!model() || m_heights.isEmpty())
        return;
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QRect area = event->rect();
    const QModelIndex first = indexAt(QPoint(0, std::max(0, area.top())));
    if (!first.isValid())
        return;
    for (int row = first.row(), top = topOf(row) - verticalOffset(); row < m_heights.size() && top <= area.bottom();
         top += m_heights.at(row), ++row) {
        const QModelIndex index = model()->index(row, 0, rootIndex());
        QStyleOptionViewItem item = option;
        item.rect = QRect(-horizontalOffset(), top, viewport()->width(), m_heights.at(row));
        item.index = index;
        itemDelegateForIndex(index)->paint(&painter, item, index);
    }
}

void TransferListView::updateGeometries()
{
    ensureLaidOut();
    QScrollBar* bar = verticalScrollBar();
    const int page = viewport()->height();
    bar->setSingleStep(20);
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, totalHeight() - page));
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

int TransferListView::horizontalOffset() const
{
    return 0;
}

int TransferListView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

void TransferListView::scrollContentsBy(int dx, int dy)
{
    viewport()->scroll(dx, dy);
}

QModelIndex TransferListView::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    if (rows == 0)
        return {};
    const int current = currentIndex().isValid() ? currentIndex().row() : 0;
    int row = current;
    switch (action) {
    case MoveUp:
    case MovePrevious: row = current - 1; break;
    case MoveDown:
    case MoveNext: row = current + 1; break;
    case MoveHome: row = 0; break;
    case MoveEnd: row = rows - 1; break;
    case MovePageUp: row = indexAt(QPoint(0, 0)).row(); break;
    case MovePageDown: row = indexAt(QPoint(0, viewport()->height() - 1)).row(); break;
    default: break;
    }
    return model()->index(std::clamp(row, 0, rows - 1), 0, rootIndex());
}

bool TransferListView::isIndexHidden(const QModelIndex&) const
{
    return false;
}

void TransferListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (!selectionModel())
        return;
    const QRect normal = rect.normalized();
    const QModelIndex first = indexAt(QPoint(0, std::max(0, normal.top())));
    QModelIndex last = indexAt(QPoint(0, normal.bottom()));
    if (!first.isValid()) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    if (!last.isValid())
        last = model()->index(model()->rowCount(rootIndex()) - 1, 0, rootIndex());
    selectionModel()->select(QItemSelection(first, last), command);
}

QRegion TransferListView::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        const QRect top = visualRect(range.topLeft());
        const QRect bottom = visualRect(range.bottomRight());
        region += top.united(bottom);
    }
    return region;
}

QSize TransferListView::viewportSizeHint() const
{
    ensureLaidOut();
    return {viewport()->width(), totalHeight()};
}

} // namespace vantrel
