#pragma once

#include "model/AppState.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QWidget>

class QAbstractAnimation;
class QPainter;
class QPalette;
class QRectF;
class QSequentialAnimationGroup;
class QVariantAnimation;

namespace vantrel {

// The pulse of a mounting share: a progress from 0 (rest: full size and opacity) to 1 (scale 1.3,
// opacity 0.7) and back, eased in and out, for ever while running. Stopping lets the progress
// return to rest. One pulse can drive any number of dots (the share list paints all of its
// mounting rows from one).
class StatusPulse final : public QObject {
    Q_OBJECT

public:
    static constexpr qreal pulseScale = 1.3;
    static constexpr qreal pulseOpacity = 0.7;

    explicit StatusPulse(QObject* parent = nullptr);
    ~StatusPulse() override;

    // One way (rest to full pulse) and the return to rest after a stop, in milliseconds.
    int pulseDuration = 800;
    int settleDuration = 350;

    bool isRunning() const { return m_running; }
    // Starts from rest (also when it was running: a rebuilt row starts its pulse afresh).
    void start();
    void stop();

    qreal progress() const { return m_progress; }
    qreal scale() const { return 1.0 + (pulseScale - 1.0) * m_progress; }
    qreal opacity() const { return 1.0 - (1.0 - pulseOpacity) * m_progress; }

signals:
    void progressChanged(qreal progress);

private:
    void setProgress(qreal progress);

    bool m_running = false;
    qreal m_progress = 0.0;
    QSequentialAnimationGroup* m_loop = nullptr;
    QVariantAnimation* m_settle = nullptr;
};

// The status dot of one share: a filled circle coloured by the mount state, a ring when the share
// is offline, pulsing while it mounts. The dot is `size` wide; the widget leaves room around it
// for the pulse, which grows the dot by a third.
class StatusIndicator final : public QWidget {
    Q_OBJECT

public:
    StatusIndicator(const MountState& state, qreal size, QWidget* parent = nullptr);

    static constexpr qreal ringWidth = 1.5;

    MountState state() const { return m_state; }
    void setState(const MountState& state);
    // True while the pulse runs: from the first show while mounting, and from every change of
    // state to mounting until the state changes again.
    bool isPulsing() const { return m_isPulsing; }
    StatusPulse& pulse() { return m_pulse; }

    // The spoken name of a state; a failure's error is not part of it.
    static QString accessibilityText(const MountState& state);
    static QColor color(const MountState& state, const QPalette& palette);
    // Paints the dot of `size` centred in `frame` at the pulse's scale and opacity.
    static void paint(QPainter& painter, const QRectF& frame, const MountState& state, qreal size,
        const QPalette& palette, qreal scale = 1.0, qreal opacity = 1.0);
    // The side of the square that holds a dot of this size at its largest.
    static int extent(qreal size);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setPulsing(bool pulsing);

    MountState m_state;
    qreal m_size;
    bool m_isPulsing = false;
    bool m_appeared = false;
    StatusPulse m_pulse;
};

} // namespace vantrel
