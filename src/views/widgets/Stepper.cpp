#include "views/widgets/Stepper.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace vantrel {

Stepper::Stepper(double minimum, double maximum, double step, QWidget* parent)
    : QWidget(parent)
    , m_minimum(minimum)
    , m_maximum(std::max(minimum, maximum))
    , m_step(std::abs(step))
    , m_value(minimum)
    , m_label(new QLabel(this))
    , m_decrement(new QToolButton(this))
    , m_increment(new QToolButton(this))
{
    setObjectName(QStringLiteral("Stepper"));
    m_label->setObjectName(QStringLiteral("stepperLabel"));
    m_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_label->hide();
    m_decrement->setObjectName(QStringLiteral("decrement"));
    m_increment->setObjectName(QStringLiteral("increment"));
    // Signs, not words: nothing here needs translating.
    m_decrement->setText(QStringLiteral("\u2212"));
    m_increment->setText(QStringLiteral("+"));
    for (QToolButton* button : {m_decrement, m_increment}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::StrongFocus);
    }
    connect(m_decrement, &QToolButton::clicked, this, &Stepper::stepDown);
    connect(m_increment, &QToolButton::clicked, this, &Stepper::stepUp);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    buttons->addWidget(m_decrement);
    buttons->addWidget(m_increment);
    layout->addLayout(buttons);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    refresh();
}

void Stepper::setValue(double value)
{
    m_value = value;
    refresh();
}

void Stepper::setLabelFunction(LabelFunction labelFunction)
{
    m_labelFunction = std::move(labelFunction);
    m_label->setVisible(bool(m_labelFunction));
    refresh();
}

void Stepper::stepDown()
{
    stepBy(-m_step);
}

void Stepper::stepUp()
{
    stepBy(m_step);
}

void Stepper::stepBy(double delta)
{
    // A stored value that is not a number has no neighbour; it starts again from the minimum.
    const double next = std::isnan(m_value) ? m_minimum : std::clamp(m_value + delta, m_minimum, m_maximum);
    if (next == m_value)
        return;
    m_value = next;
    refresh();
    emit valueEdited(m_value);
}

void Stepper::refresh()
{
    // Comparisons with a value that is not a number are false, which leaves both buttons enabled.
    m_decrement->setEnabled(!(m_value <= m_minimum));
    m_increment->setEnabled(!(m_value >= m_maximum));
    if (m_labelFunction)
        m_label->setText(m_labelFunction(m_value));
}

} // namespace vantrel
