#pragma once

#include <QLineEdit>

namespace vantrel {

// A text field never narrower than its whole prompt: where a form has not the room beside the
// label, the form puts the field under it instead of cutting the prompt.
class PromptField final : public QLineEdit {
    Q_OBJECT

public:
    explicit PromptField(const QString& text = {}, QWidget* parent = nullptr);

    // Sets the prompt and lets the layout measure the field anew.
    void setPrompt(const QString& prompt);

    QSize minimumSizeHint() const override;
};

} // namespace vantrel
