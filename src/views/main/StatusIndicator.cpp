#include "views/main/StatusIndicator.h"

#include "platform/Localization.h"
#include "views/widgets/Theme.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPalette>
#include <QSequentialAnimationGroup>
#include <QVariantAnimation>

#include <cmath>

namespace vantrel {

namespace {

// The ease-in-ease-out timing curve of the interface's animations.
QEasingCurve easeInOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

} // namespace

StatusPulse::StatusPulse(QObject* parent)
    : QObject(parent)
{
    m_loop = new QSequentialAnimationGroup(this);
    for (const auto& [from, to] : {std::pair{0.0, 1.0}, std::pair{1.0, 0.0}}) {
        auto* half = new QVariantAnimation(m_loop);
        half->setStartValue(from);
        half->setEndValue(to);
        half->setEasingCurve(easeInOut());
        connect(half, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setProgress(value.toReal()); });
        m_loop->addAnimation(half);
    }
    m_loop->setLoopCount(-1);

    m_settle = new QVariantAnimation(this);
    m_settle->setEndValue(0.0);
    m_settle->setEasingCurve(easeInOut());
    connect(m_settle, &QVariantAnimation::valueChanged, this,
        [this](const QVariant& value) { setProgress(value.toReal()); });
}

StatusPulse::~StatusPulse() = default;

void StatusPulse::start()
{
    m_settle->stop();
    m_loop->stop();
    for (int i = 0; i < m_loop->animationCount(); ++i)
        static_cast<QVariantAnimation*>(m_loop->animationAt(i))->setDuration(pulseDuration);
    m_running = true;
    setProgress(0.0);
    m_loop->start();
}

void StatusPulse::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_loop->stop();
    if (m_progress <= 0.0)
        return;
    m_settle->setStartValue(m_progress);
    m_settle->setDuration(settleDuration);
    m_settle->start();
}

void StatusPulse::setProgress(qreal progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    emit progressChanged(progress);
}

StatusIndicator::StatusIndicator(const MountState& state, qreal size, QWidget* parent)
    : QWidget(parent)
    , m_state(state)
    , m_size(size)
{
    setObjectName(QStringLiteral("StatusIndicator"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(accessibilityText(state));
    connect(&m_pulse, &StatusPulse::progressChanged, this, qOverload<>(&QWidget::update));
}

void StatusIndicator::setState(const MountState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    setAccessibleName(accessibilityText(state));
    // Before its first appearance the dot waits for it: the pulse starts when it is seen.
    if (m_appeared)
        setPulsing(state.is(MountState::Kind::mounting));
    update();
}

void StatusIndicator::setPulsing(bool pulsing)
{
    m_isPulsing = pulsing;
    if (pulsing)
        m_pulse.start();
    else
        m_pulse.stop();
}

void StatusIndicator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    setPulsing(m_state.is(MountState::Kind::mounting));
}

QString StatusIndicator::accessibilityText(const MountState& state)
{
    switch (state.kind()) {
    case MountState::Kind::idle: return Localization::text(QStringLiteral("status.idle"), QStringLiteral("空闲"));
    case MountState::Kind::mounting:
        return Localization::text(QStringLiteral("status.mounting"), QStringLiteral("挂载中"));
    case MountState::Kind::mounted:
        return Localization::text(QStringLiteral("status.mounted"), QStringLiteral("已挂载"));
    case MountState::Kind::unmounting:
        return Localization::text(QStringLiteral("status.unmounting.a11y"), QStringLiteral("卸载中"));
    case MountState::Kind::offline: return Localization::text(QStringLiteral("status.offline"), QStringLiteral("离线"));
    case MountState::Kind::failed:
        return Localization::text(QStringLiteral("status.failed.a11y"), QStringLiteral("挂载失败"));
    }
    return {};
}

QColor StatusIndicator::color(const MountState& state, const QPalette& palette)
{
    switch (state.kind()) {
    case MountState::Kind::mounting:
    case MountState::Kind::mounted: return Theme::color(Theme::Color::green, palette);
    case MountState::Kind::unmounting: return Theme::color(Theme::Color::yellow, palette);
    case MountState::Kind::failed: return Theme::color(Theme::Color::red, palette);
    case MountState::Kind::idle:
    case MountState::Kind::offline: break;
    }
    return Theme::color(Theme::Color::gray, palette);
}

void StatusIndicator::paint(QPainter& painter, const QRectF& frame, const MountState& state, qreal size,
    const QPalette& palette, qreal scale, qreal opacity)
{
    const qreal diameter = size * scale;
    QRectF dot(0, 0, diameter, diameter);
    dot.moveCenter(frame.center());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * opacity);
    const QColor colour = color(state, palette);
    if (state.is(MountState::Kind::offline)) {
        // The ring's stroke lies inside the dot's square.
        const qreal inset = ringWidth * scale / 2.0;
        painter.setPen(QPen(colour, ringWidth * scale, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(dot.adjusted(inset, inset, -inset, -inset));
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(dot);
    }
    painter.restore();
}

int StatusIndicator::extent(qreal size)
{
    return int(std::ceil(size * StatusPulse::pulseScale));
}

QSize StatusIndicator::sizeHint() const
{
    return {extent(m_size), extent(m_size)};
}

QSize StatusIndicator::minimumSizeHint() const
{
    return sizeHint();
}

void StatusIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, QRectF(rect()), m_state, m_size, palette(), m_pulse.scale(), m_pulse.opacity());
}

} // namespace vantrel
