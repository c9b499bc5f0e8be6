#include "views/widgets/BusyButton.h"

#include "views/widgets/Spinner.h"

#include <QPainter>
#include <QPixmap>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <cmath>

namespace vantrel {

BusyButton::BusyButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    setAutoDefault(false);
    setDefault(false);
    m_timer.setInterval(1000 / Spinner::spokeCount);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_phase = (m_phase + 1) % Spinner::spokeCount;
        update();
    });
}

int BusyButton::indicatorSize() const
{
    return style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
}

void BusyButton::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    // A blank icon reserves the indicator's room, so the size hint and the text's place are the
    // style's own; the indicator is drawn over it.
    if (busy) {
        QPixmap blank(indicatorSize(), indicatorSize());
        blank.fill(Qt::transparent);
        setIcon(QIcon(blank));
        setIconSize(blank.size());
    } else {
        setIcon(QIcon());
    }
    updateTimer();
    update();
}

void BusyButton::updateTimer()
{
    if (m_busy && isVisible())
        m_timer.start();
    else
        m_timer.stop();
}

void BusyButton::showEvent(QShowEvent* event)
{
    QPushButton::showEvent(event);
    updateTimer();
}

void BusyButton::hideEvent(QHideEvent* event)
{
    QPushButton::hideEvent(event);
    updateTimer();
}

void BusyButton::paintEvent(QPaintEvent* event)
{
    if (!m_busy) {
        QPushButton::paintEvent(event);
        return;
    }
    QStyleOptionButton option;
    initStyleOption(&option);
    const int size = indicatorSize();
    const qreal ratio = devicePixelRatioF();
    QPixmap frame(int(std::ceil(size * ratio)), int(std::ceil(size * ratio)));
    frame.setDevicePixelRatio(ratio);
    frame.fill(Qt::transparent);
    {
        QPainter painter(&frame);
        const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
        Spinner::paint(painter, QRectF(0, 0, size, size), m_phase, palette().color(group, QPalette::ButtonText));
    }
    QIcon icon;
    // The frame is drawn in the state's own colour; the style must not dim it a second time.
    icon.addPixmap(frame, QIcon::Normal);
    icon.addPixmap(frame, QIcon::Disabled);
    option.icon = icon;
    QStylePainter painter(this);
    painter.drawControl(QStyle::CE_PushButton, option);
}

} // namespace vantrel
