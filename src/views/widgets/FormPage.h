#pragma once

#include <QGroupBox>
#include <QPointer>
#include <QWidget>

class QFormLayout;
class QFrame;
class QScrollArea;
class QVBoxLayout;

namespace vantrel {

// One section of a form: a group box titled with its (already localized) header, holding a form
// layout of rows. A section without a header shows no title.
class FormSection final : public QGroupBox {
    Q_OBJECT

public:
    explicit FormSection(const QString& header = {}, QWidget* parent = nullptr);

    QFormLayout* form() const { return m_form; }
    // A row that spans the label column (notes, hints, stacks of controls).
    void addWideRow(QWidget* widget);
    // A wide row whose content FormPage::alignLabelColumns() moves under the fields. Wrapped text
    // belongs here rather than in the field column, where the form measures its height for a
    // narrower column than it gets. The widget needs a layout.
    void addIndentedRow(QWidget* widget);
    QList<QWidget*> indentedRows() const { return m_indentedRows; }

private:
    QFormLayout* m_form;
    QList<QWidget*> m_indentedRows;
};

// A form: its sections in a vertical scroll area, and an optional action bar pinned below the
// scroll area, outside it, so the bar stays in view however long the form grows. It scrolls only
// vertically: the page is never narrower than its sections need, so nothing is cut off at the side.
class FormPage final : public QWidget {
    Q_OBJECT

public:
    explicit FormPage(QWidget* parent = nullptr);

    // Appends a section below the others.
    FormSection* addSection(const QString& header = {});
    // Inserts a section before the section at `index` (appends when index is out of range).
    FormSection* insertSection(int index, const QString& header = {});
    QList<FormSection*> sections() const;
    // Gives every section's labels one column width, the widest label's or minimumWidth, and
    // indents the indented rows to the fields. Call again after labels change their text.
    void alignLabelColumns(int minimumWidth = 0);

    // Puts the bar below the scroll area, replacing (and deleting) any previous bar; nullptr
    // removes it. The page takes ownership.
    void setActionBar(QWidget* bar);
    QWidget* actionBar() const { return m_actionBar; }

    QScrollArea* scrollArea() const { return m_scrollArea; }

    QSize minimumSizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QScrollArea* m_scrollArea;
    QWidget* m_content;
    QVBoxLayout* m_sectionsLayout;
    QVBoxLayout* m_pageLayout;
    QPointer<QFrame> m_actionBarSeparator;
    QPointer<QWidget> m_actionBar;
};

} // namespace vantrel
