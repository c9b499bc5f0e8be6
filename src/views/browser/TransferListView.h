#pragma once

#include <QList>
#include <QListView>

namespace vantrel {

// The transfer queue's list: one column of rows whose heights differ by the state of each row's
// transfer. It keeps every row's height and their running sums itself, so that a row that grows or
// shrinks moves the rows below it without the whole list being laid out again; only a change in
// the number of rows or the width measures every row anew.
class TransferListView final : public QListView {
    Q_OBJECT

public:
    explicit TransferListView(QWidget* parent = nullptr);

    QRect visualRect(const QModelIndex& index) const override;
    QModelIndex indexAt(const QPoint& point) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    void doItemsLayout() override;

    // Measures the row again; connected to the delegate in place of a layout of every row.
    void rowHeightChanged(const QModelIndex& index);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles = {}) override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    void scrollContentsBy(int dx, int dy) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    QSize viewportSizeHint() const override;

private:
    // Measures every row when their number changed since the last time.
    void ensureLaidOut() const;
    void measureAll() const;
    int measure(int row) const;
    // The top of the row in the list's own coordinates.
    int topOf(int row) const;
    int totalHeight() const;
    void addToSums(int row, int delta) const;

    mutable QList<int> m_heights;
    mutable QList<int> m_sums; // a Fenwick tree over m_heights, 1-based
};

} // namespace vantrel
