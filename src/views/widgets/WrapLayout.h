#pragma once

#include "views/widgets/ItemListLayout.h"

class QWidget;

namespace vantrel {

// A row of widgets at their natural widths that continues on a further line when the width runs
// out, so a longer translation wraps instead of cutting the row off. The trailing widgets stay
// together at the right end: beside the others while they fit, else right-aligned on a line of
// their own. Hidden widgets take no room.
class WrapLayout final : public ItemListLayout {
    Q_OBJECT

public:
    explicit WrapLayout(QWidget* parent = nullptr);

    // Between lines; the layout's spacing() is the one between widgets on a line.
    int lineSpacing() const { return m_lineSpacing; }
    void setLineSpacing(int spacing);

    void addTrailingWidget(QWidget* widget);

    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    QSize sizeHint() const override;

protected:
    int arrange(const QRect& rect, bool apply) const override;

private:
    int gap() const;

    qsizetype m_firstTrailing = -1;
    int m_lineSpacing = 6;
};

} // namespace vantrel
