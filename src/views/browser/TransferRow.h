#pragma once

#include "files/TransferTask.h"
#include "views/widgets/Theme.h"

#include <QWidget>

#include <functional>

class QAbstractButton;
class QLabel;
class QProgressBar;
class QToolButton;

namespace vantrel {

class ElidedLabel;

// One transfer of the queue: direction icon tinted by status, file name, status word or
// percentage, the buttons the status allows, progress with byte counts, speed and time left while
// running, and the error of a failed transfer. It keeps no state beyond the task it was last
// given and calls no service: its buttons call the callbacks it was built with.
class TransferRow final : public QWidget {
    Q_OBJECT

public:
    using Action = std::function<void()>;

    TransferRow(const TransferTask& task, Action onCancel, Action onPause, Action onResume, Action onRetry,
        Clock clock = {}, QWidget* parent = nullptr);

    const TransferTask& task() const { return m_task; }
    // Redraws the row for the task's current state; the callbacks stay.
    void setTask(const TransferTask& task);

    // "Queued", "Paused", ... or the percentage while running.
    static QString statusText(const TransferTask& task);
    // Whole percent, truncated ("66%" for 2 of 3 bytes); 0% when the size is unknown.
    static QString percentageText(const TransferTask& task);
    // The argument of "ETA: %@": the abbreviated time left, or "--" when there is no estimate.
    static QString remainingTimeText(const TransferTask& task, const Clock& clock);
    static QString byteCountText(const TransferTask& task);
    static Theme::Color statusColor(TransferStatus status);

    // The visible button at a point of the row, or null.
    QAbstractButton* buttonAt(const QPoint& position) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QToolButton* makeButton(const QString& objectName, const QString& symbol, Theme::Color tint, const Action& action);

    TransferTask m_task;
    Clock m_clock;
    QLabel* m_icon;
    ElidedLabel* m_name;
    QLabel* m_status;
    QToolButton* m_pause;
    QToolButton* m_resume;
    QToolButton* m_retry;
    QToolButton* m_cancel;
    QProgressBar* m_progress;
    QLabel* m_bytes;
    QWidget* m_speedLine;
    QLabel* m_speed;
    QLabel* m_eta;
    ElidedLabel* m_error;
};

} // namespace vantrel
