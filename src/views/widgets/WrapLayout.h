#pragma once

#include <QLayout>
#include <QList>

class QWidget;

namespace vantrel {

// A row of widgets at their natural widths that continues on a further line when the width runs
// out, so a longer translation wraps instead of cutting the row off. The trailing widgets stay
// together at the right end: beside the others while they fit, else right-aligned on a line of
// their own. Hidden widgets take no room.
class WrapLayout final : public QLayout {
    Q_OBJECT

public:
    explicit WrapLayout(QWidget* parent = nullptr);
    ~WrapLayout() override;

    // Between lines; the layout's spacing() is the one between widgets on a line.
    int lineSpacing() const { return m_lineSpacing; }
    void setLineSpacing(int spacing);

    void addTrailingWidget(QWidget* widget);

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Lays the items out in rect (or only measures, when apply is false); returns the height used.
    int arrange(const QRect& rect, bool apply) const;
    int gap() const;

    QList<QLayoutItem*> m_items;
    qsizetype m_firstTrailing = -1;
    int m_lineSpacing = 6;
};

} // namespace vantrel
