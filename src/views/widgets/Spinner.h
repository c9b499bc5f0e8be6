#pragma once

#include <QTimer>
#include <QWidget>

class QPainter;

namespace vantrel {

// A small indeterminate progress indicator: spokes of fading shade turning round. It animates only
// while it is visible, so a hidden spinner costs no timer ticks.
class Spinner final : public QWidget {
    Q_OBJECT

public:
    static constexpr int spokeCount = 12;

    explicit Spinner(QWidget* parent = nullptr, int diameter = 16);

    int diameter() const { return m_diameter; }
    void setDiameter(int diameter);
    bool isAnimating() const { return m_timer.isActive(); }
    // The spoke drawn darkest, advanced by each tick.
    int phase() const { return m_phase; }

    // Draws the spokes centred in rect, the spoke at phase darkest; buttons reuse it for their
    // indicator.
    static void paint(QPainter& painter, const QRectF& rect, int phase, const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_diameter;
    int m_phase = 0;
};

} // namespace vantrel
