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
    paint(painter, rect(), m_phase, palette().color(QPalette::WindowText));
}

void Spinner::paint(QPainter& painter, const QRectF& rect, int phase, const QColor& color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(rect.width(), rect.height());
    const qreal outer = side / 2.0;
    const qreal inner = outer * 0.45;
    QPen pen(color, std::max(1.5, side / 10.0), Qt::SolidLine, Qt::RoundCap);
    painter.translate(rect.center());
    for (int i = 0; i < spokeCount; ++i) {
        // The spoke at the phase is darkest; those behind it fade out.
        const int age = (phase - i + spokeCount) % spokeCount;
        QColor shade = color;
        shade.setAlphaF(color.alphaF() * (1.0 - 0.75 * age / (spokeCount - 1)));
        QPen spoke = pen;
        spoke.setColor(shade);
        painter.setPen(spoke);
        painter.save();
        painter.rotate(360.0 * i / spokeCount);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -(outer - pen.widthF() / 2)));
        painter.restore();
    }
    painter.restore();
}

} // namespace vantrel
