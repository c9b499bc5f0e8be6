#pragma once

#include <QLayout>
#include <QList>

namespace vantrel {

// The item bookkeeping of a layout that places its items itself, line by line, and whose height
// follows its width: the layouts below supply only the arrangement.
class ItemListLayout : public QLayout {
    Q_OBJECT

public:
    explicit ItemListLayout(QWidget* parent = nullptr);
    ~ItemListLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    // The largest item's minimum: items may shrink as far as they allow, the height follows the width.
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

protected:
    // Lays the items out in rect (or only measures, when apply is false); returns the height used,
    // margins included.
    virtual int arrange(const QRect& rect, bool apply) const = 0;
    const QList<QLayoutItem*>& items() const { return m_items; }

private:
    QList<QLayoutItem*> m_items;
};

} // namespace vantrel
