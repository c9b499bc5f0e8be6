#include "views/widgets/SegmentedControl.h"

#include "platform/gui/Symbols.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace vantrel {

SegmentedControl::SegmentedControl(const QList<Option>& options, QWidget* parent)
    : QWidget(parent)
    , m_layout(new QHBoxLayout(this))
{
    setObjectName(QStringLiteral("SegmentedControl"));
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setOptions(options);
}

void SegmentedControl::setOptions(const QList<Option>& options)
{
    const QString selected = value();
    // A slot of activated() may replace the options while the clicked button is still emitting.
    for (QToolButton* old : std::as_const(m_buttons)) {
        m_layout->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    m_buttons.clear();
    m_options = options;
    m_current = -1;
    for (int i = 0; i < m_options.size(); ++i) {
        const Option& option = m_options[i];
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("segment.") + option.value);
        button->setText(option.text);
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setFocusPolicy(Qt::StrongFocus);
        // Segments with and without a symbol share the height of the tallest.
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        button->setProperty("value", option.value);
        if (!option.symbol.isEmpty()) {
            button->setIcon(Symbols::icon(option.symbol));
            button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
            button->setProperty("symbol", option.symbol);
        }
        connect(button, &QToolButton::clicked, this, [this, i] { select(i); });
        m_layout->addWidget(button);
        m_buttons << button;
        if (!selected.isEmpty() && option.value == selected && m_current < 0)
            m_current = i;
    }
    updateChecks();
}

QString SegmentedControl::value() const
{
    return m_current < 0 ? QString() : m_options[m_current].value;
}

void SegmentedControl::setValue(const QString& value)
{
    m_current = -1;
    for (int i = 0; i < m_options.size() && !value.isEmpty(); ++i) {
        if (m_options[i].value == value) {
            m_current = i;
            break;
        }
    }
    updateChecks();
}

QToolButton* SegmentedControl::button(const QString& value) const
{
    for (int i = 0; i < m_options.size(); ++i) {
        if (m_options[i].value == value)
            return m_buttons[i];
    }
    return nullptr;
}

void SegmentedControl::select(int index)
{
    // A click toggles a checkable button; the checks always follow the selection instead.
    const bool changed = index != m_current;
    m_current = index;
    updateChecks();
    if (changed)
        emit activated(m_options[index].value);
}

void SegmentedControl::updateChecks()
{
    for (int i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setChecked(i == m_current);
}

} // namespace vantrel
