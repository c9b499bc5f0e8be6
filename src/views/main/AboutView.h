#pragma once

#include <QWidget>

namespace vantrel {

// The content of the about window; it has one fixed size.
class AboutView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int contentWidth = 360;
    static constexpr int contentHeight = 280;

    explicit AboutView(QWidget* parent = nullptr);
};

} // namespace vantrel
