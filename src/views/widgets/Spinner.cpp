#include "views/widgets/Spinner.h"

#include <QPainter>

#include <algorithm>

namespace vantrel {

Spinner::Spinner(QWidget* parent, int diameter)
    : QWidget(parent)
    , m_diameter(std::max(4, diameter))
{
    setObjectName(QStringLiteral("Spinner"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // One turn a second.
    m_timer.setInterval(1000 / spokeCount);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_phase = (m_phase + 1) % spokeCount;
        update();
    });
}

void Spinner::setDiameter(int diameter)
{
    m_diameter = std::max(4, diameter);
    updateGeometry();
    update();
}

QSize Spinner::sizeHint() const
{
    return {m_diameter, m_diameter};
}

QSize Spinner::minimumSizeHint() const
{
    return sizeHint();
}

void Spinner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void Spinner::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    const qreal outer = side / 2.0;
    const qreal inner = outer * 0.45;
    QPen pen(palette().color(QPalette::WindowText), std::max(1.5, side / 10.0), Qt::SolidLine, Qt::RoundCap);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < spokeCount; ++i) {
        // The spoke at the phase is darkest; those behind it fade out.
        const int age = (m_phase - i + spokeCount) % spokeCount;
        QColor color = pen.color();
        color.setAlphaF(1.0 - 0.75 * age / (spokeCount - 1));
        QPen spoke = pen;
        spoke.setColor(color);
        painter.setPen(spoke);
        painter.save();
        painter.rotate(360.0 * i / spokeCount);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -(outer - pen.widthF() / 2)));
        painter.restore();
    }
}

} // namespace vantrel
