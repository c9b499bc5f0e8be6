#pragma once

#include <QComboBox>

namespace vantrel {

// A pop-up list of choices that assistive technology names after its label (the form label
// whose buddy it is, or its accessible name) and reads the shown choice as its value. A plain
// combo box on this desktop is named after the choice it shows, so a screen reader announces
// "Password" where the user needs "Method: Password".
class Picker final : public QComboBox {
    Q_OBJECT

public:
    explicit Picker(QWidget* parent = nullptr);
};

} // namespace vantrel
