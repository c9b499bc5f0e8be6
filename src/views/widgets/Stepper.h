#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;

namespace vantrel {

// A number with a minimum, a maximum and a step, changed by a decrement and an increment button,
// with its text in a label before them. A press moves the value by exactly one step and clamps
// it to the range, without snapping to the grid of steps (90 with a step of 60 goes to 150, not
// 120). Each button is disabled while the value is at (or beyond) its bound.
//
// Only a press emits: setValue() never does, so loading a stored setting writes nothing back.
class Stepper final : public QWidget {
    Q_OBJECT

public:
    using LabelFunction = std::function<QString(double value)>;

    Stepper(double minimum, double maximum, double step, QWidget* parent = nullptr);

    double value() const { return m_value; }
    // Shows any value as it is, also one outside the range (only a press clamps).
    void setValue(double value);
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    double step() const { return m_step; }

    // The text of the label for a value; without one the label stays hidden.
    void setLabelFunction(LabelFunction labelFunction);
    QLabel* label() const { return m_label; }
    QToolButton* decrementButton() const { return m_decrement; }
    QToolButton* incrementButton() const { return m_increment; }

    // The presses of the two buttons.
    void stepDown();
    void stepUp();

signals:
    // The user changed the value.
    void valueEdited(double value);

private:
    void stepBy(double delta);
    void refresh();

    double m_minimum;
    double m_maximum;
    double m_step;
    double m_value;
    LabelFunction m_labelFunction;
    QLabel* m_label;
    QToolButton* m_decrement;
    QToolButton* m_increment;
};

} // namespace vantrel
