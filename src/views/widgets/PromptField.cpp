#include "views/widgets/PromptField.h"

#include <QStyle>
#include <QStyleOptionFrame>

namespace vantrel {

namespace {

// The space QLineEdit keeps between its contents and the text on either side.
constexpr int lineEditTextMargin = 2;

} // namespace

PromptField::PromptField(const QString& text, QWidget* parent)
    : QLineEdit(text, parent)
{
}

void PromptField::setPrompt(const QString& prompt)
{
    setPlaceholderText(prompt);
    updateGeometry();
}

QSize PromptField::minimumSizeHint() const
{
    const QSize base = QLineEdit::minimumSizeHint();
    if (placeholderText().isEmpty())
        return base;
    ensurePolished();
    const QFontMetrics metrics(font());
    const QMargins margins = textMargins();
    const int text = metrics.horizontalAdvance(placeholderText()) + 2 * lineEditTextMargin
        + std::max(0, -metrics.minLeftBearing()) + margins.left() + margins.right();
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QSize needed = style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(text, base.height()), this);
    // A form decides whether a field fits beside its label without counting the spacing between
    // them, and then takes that spacing from the field: ask for it on top.
    int spacing = style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, this);
    if (spacing < 0)
        spacing = style()->layoutSpacing(QSizePolicy::Label, QSizePolicy::LineEdit, Qt::Horizontal, nullptr, this);
    return {std::max(base.width(), needed.width() + std::max(0, spacing)), base.height()};
}

} // namespace vantrel
