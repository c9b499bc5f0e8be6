#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QToolButton;

namespace vantrel {

// A row of exclusive segments, each standing for a value. At most one segment is selected, and
// none may be: a value that no segment stands for selects nothing.
//
// Only a click emits: setting a value from code never does, so loading a stored setting writes
// nothing back (the same rule as QComboBox::activated).
class SegmentedControl final : public QWidget {
    Q_OBJECT

public:
    struct Option {
        QString value; // not empty: the empty value means "none selected"
        QString text;
        QString symbol; // optional symbol name shown before the text
    };

    explicit SegmentedControl(const QList<Option>& options = {}, QWidget* parent = nullptr);

    // Replaces the segments; the selection is kept when its value is still offered.
    void setOptions(const QList<Option>& options);
    QList<Option> options() const { return m_options; }

    // The selected segment's value, or empty when none is selected.
    QString value() const;
    int currentIndex() const { return m_current; }
    void setValue(const QString& value);

    // The segment's button (object name "segment.<value>"), or nullptr.
    QToolButton* button(const QString& value) const;

signals:
    // The user selected another segment.
    void activated(const QString& value);

private:
    void select(int index);
    void updateChecks();

    QList<Option> m_options;
    QList<QToolButton*> m_buttons;
    QHBoxLayout* m_layout;
    int m_current = -1;
};

} // namespace vantrel
