#pragma once

#include "views/widgets/ItemListLayout.h"

#include <QStyle>

namespace vantrel {

// A grid of adaptive columns: as many equal columns of at least the minimum width as the width
// allows (always at least one), items placed row by row, each row as high as its tallest item.
// Hidden widgets take no cell.
class FlowLayout final : public ItemListLayout {
    Q_OBJECT

public:
    explicit FlowLayout(int minimumColumnWidth, QWidget* parent = nullptr);

    int minimumColumnWidth() const { return m_minimumColumnWidth; }
    void setMinimumColumnWidth(int width);
    // Between columns; -1 (the default) takes the style's horizontal layout spacing.
    int columnSpacing() const;
    void setColumnSpacing(int spacing);
    // Between rows; -1 (the default) takes the style's vertical layout spacing.
    int rowSpacing() const;
    void setRowSpacing(int spacing);

    // The number of columns at a width of the whole layout, margins included.
    int columnCount(int width) const;

    Qt::Orientations expandingDirections() const override;
    QSize sizeHint() const override;

protected:
    int arrange(const QRect& rect, bool apply) const override;

private:
    int styleSpacing(QStyle::PixelMetric metric) const;

    int m_minimumColumnWidth;
    int m_columnSpacing = -1;
    int m_rowSpacing = -1;
};

} // namespace vantrel
