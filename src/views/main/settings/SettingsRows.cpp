#include "views/main/settings/SettingsRows.h"

#include "platform/Defaults.h"
#include "views/widgets/FormPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace vantrel::settings {

FormPage* addFormPage(QWidget* tab, const QString& objectName)
{
    tab->setObjectName(objectName);
    auto* page = new FormPage(tab);
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);
    return page;
}

QCheckBox* addToggle(FormSection* section, const QString& objectName, const QString& text)
{
    auto* toggle = new QCheckBox(text);
    toggle->setObjectName(objectName);
    section->addWideRow(toggle);
    return toggle;
}

QLabel* addNote(FormSection* section, const QString& text, Theme::TextStyle style)
{
    auto* note = new QLabel(text);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    Theme::setTextStyle(note, style);
    Theme::setTint(note, Theme::Color::secondary);
    section->addWideRow(note);
    return note;
}

QWidget* addTrailingRow(FormSection* section, const QString& labelText, QWidget* trailing)
{
    auto* field = new QWidget;
    auto* layout = new QHBoxLayout(field);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(trailing);
    auto* label = new QLabel(labelText);
    label->setTextFormat(Qt::PlainText);
    label->setBuddy(trailing);
    section->form()->addRow(label, field);
    return field;
}

void setRowVisible(QWidget* field, bool visible)
{
    if (auto* form = qobject_cast<QFormLayout*>(field->parentWidget()->layout()))
        form->setRowVisible(field, visible);
}

QLabel* makeValueLabel(const QString& objectName)
{
    auto* value = new QLabel;
    value->setObjectName(objectName);
    value->setTextFormat(Qt::PlainText);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Theme::setTint(value, Theme::Color::secondary);
    return value;
}

void addButtonRow(FormSection* section, const QList<QPushButton*>& buttons)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* button : buttons)
        layout->addWidget(button);
    layout->addStretch(1);
    section->addWideRow(row);
}

QPushButton* makeSymbolButton(const QString& objectName, const QString& symbol, const QString& text, Theme::Color tint)
{
    auto* button = new QPushButton(text);
    button->setObjectName(objectName);
    Theme::setTint(button, tint);
    Theme::setSymbol(button, symbol, tint, Theme::symbolSize(Theme::TextStyle::body));
    button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return button;
}

std::optional<qint64> wholeNumber(double value)
{
    // 2^63 is exact as a double; anything at or beyond it (or not finite) has no 64-bit whole number.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= limit || value < -limit)
        return std::nullopt;
    return static_cast<qint64>(value);
}

double labelledNumber(const Defaults& defaults, const QString& key, double fallback)
{
    const std::optional<double> stored = defaults.doubleValue(key);
    return stored && wholeNumber(*stored) ? *stored : fallback;
}

} // namespace vantrel::settings
