#pragma once

#include "views/widgets/Theme.h"

#include <QList>
#include <QString>

#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QWidget;

namespace vantrel {

class Defaults;
class FormPage;
class FormSection;

// The pieces the settings tabs build their forms from, so that every tab looks the same.
namespace settings {

// Gives the tab its object name and fills it with a form page, whose sections the tab then adds.
FormPage* addFormPage(QWidget* tab, const QString& objectName);
// A switch bound to a setting: a check box with its text, spanning the section's width.
QCheckBox* addToggle(FormSection* section, const QString& objectName, const QString& text);
// A wrapped explanatory text in the secondary colour.
QLabel* addNote(FormSection* section, const QString& text, Theme::TextStyle style = Theme::TextStyle::caption);
// A row of a label and, at the trailing edge, a control or value. Returns the field widget,
// which also names the row for QFormLayout::setRowVisible.
QWidget* addTrailingRow(FormSection* section, const QString& labelText, QWidget* trailing);
// Shows or hides the whole row of a field that addTrailingRow or addWideRow placed.
void setRowVisible(QWidget* field, bool visible);
// A value text in the secondary colour, for addTrailingRow.
QLabel* makeValueLabel(const QString& objectName);
// Buttons side by side at the leading edge, spanning the section.
void addButtonRow(FormSection* section, const QList<QPushButton*>& buttons);
// A button labelled by a symbol and a text, both in the tint.
QPushButton* makeSymbolButton(const QString& objectName, const QString& symbol, const QString& text, Theme::Color tint);

// A number truncated toward zero; none for a number that is not finite or lies beyond the range of
// a 64-bit whole number, which no cast may be given.
std::optional<qint64> wholeNumber(double value);
// The number stored under the key when a whole-number label can show it, else the fallback.
double labelledNumber(const Defaults& defaults, const QString& key, double fallback);

} // namespace settings

} // namespace vantrel
