#pragma once

#include <QRect>
#include <QStyledItemDelegate>

namespace vantrel {

class StatusPulse;

// Paints a share list row: the status dot, the name, the second line (the mount point's link or
// the address) and, for an enabled share, the network badge, each on one line. The list acts on
// clicks on the link; layout() says where it lies.
class ShareRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr qreal dotSize = 8;
    static constexpr int spacing = 8;     // between the dot and the texts
    static constexpr int lineSpacing = 2; // between the lines
    static constexpr int rowPadding = 2;  // above and below the lines
    static constexpr int inset = 6;       // between the row's edges and its content

    // The pulse that mounting rows are drawn with; may be null.
    explicit ShareRowDelegate(const StatusPulse* pulse, QObject* parent = nullptr);

    struct Layout {
        QRectF dot; // the square the dot is painted in
        QRect name;
        QRect secondLine;
        QRect link;  // the clickable link (symbol and text); empty without a link
        QRect badge; // empty without a badge
    };
    static Layout layout(const QStyleOptionViewItem& option, const QModelIndex& index);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const StatusPulse* m_pulse;
};

} // namespace vantrel
