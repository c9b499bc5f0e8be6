#include "views/browser/TransferRow.h"

#include "files/RecentFilesTracker.h"
#include "platform/Formatters.h"
#include "platform/Localization.h"
#include "views/widgets/ElidedLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace vantrel {

namespace {

constexpr int progressScale = 1000;

QLabel* smallLabel(const QString& objectName, qreal designPoints)
{
    auto* label = new QLabel;
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setFont(Theme::systemFont(designPoints));
    Theme::setTint(label, Theme::Color::secondary);
    return label;
}

} // namespace

TransferRow::TransferRow(const TransferTask& task, Action onCancel, Action onPause, Action onResume, Action onRetry,
    Clock clock, QWidget* parent)
    : QWidget(parent)
    , m_clock(clock ? std::move(clock) : Clock(&systemNow))
    , m_icon(new QLabel)
    , m_name(new ElidedLabel({}, nullptr, Qt::ElideMiddle))
    , m_status(smallLabel(QStringLiteral("statusText"), Theme::designPointSize(Theme::TextStyle::caption)))
    , m_progress(new QProgressBar)
    , m_bytes(smallLabel(QStringLiteral("byteCount"), 10))
    , m_speedLine(new QWidget)
    , m_speed(smallLabel(QStringLiteral("speed"), 10))
    , m_eta(smallLabel(QStringLiteral("eta"), 10))
    , m_error(new ElidedLabel)
{
    setObjectName(QStringLiteral("TransferRow"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto* lines = new QVBoxLayout(this);
    lines->setContentsMargins(12, 8, 12, 8);
    lines->setSpacing(4);

    auto* first = new QHBoxLayout;
    m_icon->setObjectName(QStringLiteral("directionIcon"));
    first->addWidget(m_icon);
    m_name->setObjectName(QStringLiteral("fileName"));
    m_name->setFont(Theme::systemFont(12));
    first->addWidget(m_name);
    first->addStretch(1);
    Theme::setTextStyle(m_status, Theme::TextStyle::caption);
    first->addWidget(m_status);
    m_pause = makeButton(QStringLiteral("pauseButton"), QStringLiteral("pause.fill"), Theme::Color::primary, onPause);
    m_resume = makeButton(QStringLiteral("resumeButton"), QStringLiteral("play.fill"), Theme::Color::primary, onResume);
    m_retry = makeButton(QStringLiteral("retryButton"), QStringLiteral("arrow.clockwise"), Theme::Color::primary,
        onRetry);
    m_cancel = makeButton(QStringLiteral("cancelButton"), QStringLiteral("xmark.fill"), Theme::Color::red, onCancel);
    for (QToolButton* button : {m_pause, m_resume, m_retry, m_cancel})
        first->addWidget(button);
    lines->addLayout(first);

    auto* second = new QHBoxLayout;
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setRange(0, progressScale);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(4);
    second->addWidget(m_progress, 1);
    m_bytes->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // At least the fixed width; more rather than cutting a count off.
    m_bytes->setMinimumWidth(100);
    second->addWidget(m_bytes);
    lines->addLayout(second);

    m_speedLine->setObjectName(QStringLiteral("speedLine"));
    auto* third = new QHBoxLayout(m_speedLine);
    third->setContentsMargins(0, 0, 0, 0);
    third->addWidget(m_speed);
    third->addStretch(1);
    third->addWidget(m_eta);
    lines->addWidget(m_speedLine);

    m_error->setObjectName(QStringLiteral("errorMessage"));
    m_error->setMaximumLines(2);
    m_error->setFont(Theme::systemFont(10));
    Theme::setTint(m_error, Theme::Color::red);
    lines->addWidget(m_error);

    setTask(task);
}

QToolButton* TransferRow::makeButton(const QString& objectName, const QString& symbol, Theme::Color tint,
    const Action& action)
{
    auto* button = new QToolButton;
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    Theme::setSymbol(button, symbol, tint, QFontMetrics(Theme::systemFont(10)).height());
    connect(button, &QToolButton::clicked, this, [action] {
        if (action)
            action();
    });
    return button;
}

Theme::Color TransferRow::statusColor(TransferStatus status)
{
    switch (status) {
    case TransferStatus::running: return Theme::Color::accent;
    case TransferStatus::paused: return Theme::Color::orange;
    case TransferStatus::completed: return Theme::Color::green;
    case TransferStatus::failed: return Theme::Color::red;
    case TransferStatus::pending:
    case TransferStatus::cancelled: break;
    }
    return Theme::Color::secondary;
}

QString TransferRow::percentageText(const TransferTask& task)
{
    qint64 percent = 0;
    if (task.totalBytes >= 1) {
        // In integers: 29 of 100 bytes is 29%, where 0.29 * 100 in doubles truncates to 28.
        const qint64 done = std::clamp<qint64>(task.bytesTransferred, 0, task.totalBytes);
        constexpr qint64 exactLimit = std::numeric_limits<qint64>::max() / 100;
        percent = done <= exactLimit ? done * 100 / task.totalBytes
                                     : qint64(static_cast<long double>(done) * 100 / task.totalBytes);
    }
    return QString::number(percent) + u'%';
}

QString TransferRow::statusText(const TransferTask& task)
{
    switch (task.status) {
    case TransferStatus::pending:
        return Localization::text(QStringLiteral("transfer.queued"), QStringLiteral("Queued"));
    case TransferStatus::running: return percentageText(task);
    case TransferStatus::paused: return Localization::text(QStringLiteral("transfer.paused"), QStringLiteral("Paused"));
    case TransferStatus::completed: return Localization::text(QStringLiteral("transfer.done"), QStringLiteral("Done"));
    case TransferStatus::failed: return Localization::text(QStringLiteral("transfer.failed"), QStringLiteral("Failed"));
    case TransferStatus::cancelled:
        return Localization::text(QStringLiteral("transfer.cancelled"), QStringLiteral("Cancelled"));
    }
    return {};
}

QString TransferRow::remainingTimeText(const TransferTask& task, const Clock& clock)
{
    const double seconds = task.estimatedTimeRemaining(clock);
    if (!(seconds > 0))
        return QStringLiteral("--");
    const QString text = Formatters::abbreviatedDuration(seconds, 2);
    return text.isEmpty() ? QStringLiteral("--") : text;
}

QString TransferRow::byteCountText(const TransferTask& task)
{
    return Localization::textFormat(QStringLiteral("%@ / %@"), QStringLiteral("%@ / %@"),
        {Formatters::fileByteCount(task.bytesTransferred), Formatters::fileByteCount(task.totalBytes)});
}

void TransferRow::setTask(const TransferTask& task)
{
    m_task = task;
    const TransferStatus status = task.status;

    const QString symbol = task.direction == TransferDirection::upload ? QStringLiteral("arrow.up.circle")
                                                                       : QStringLiteral("arrow.down.circle");
    const Theme::Color tint = statusColor(status);
    if (m_icon->property("symbol").toString() != symbol || m_icon->property("tint").toString() != Theme::name(tint))
        Theme::setSymbol(m_icon, symbol, tint, Theme::symbolSize(Theme::TextStyle::body));

    m_name->setFullText(RecentFilesTracker::lastPathComponent(task.sourceURL));
    m_status->setText(statusText(task));

    m_pause->setVisible(status == TransferStatus::running);
    m_resume->setVisible(status == TransferStatus::paused);
    m_retry->setVisible(status == TransferStatus::failed);
    m_cancel->setVisible(
        status == TransferStatus::running || status == TransferStatus::paused || status == TransferStatus::failed);
    const Theme::Color cancelTint = status == TransferStatus::failed ? Theme::Color::secondary : Theme::Color::red;
    if (m_cancel->property("tint").toString() != Theme::name(cancelTint))
        Theme::setSymbol(m_cancel, QStringLiteral("xmark.fill"), cancelTint,
            QFontMetrics(Theme::systemFont(10)).height());

    m_progress->setValue(int(task.progress() * progressScale));
    m_bytes->setText(byteCountText(task));

    const bool running = status == TransferStatus::running;
    m_speedLine->setVisible(running);
    if (running) {
        m_speed->setText(task.formattedSpeed(m_clock));
        m_eta->setText(Localization::textFormat(QStringLiteral("transfer.eta"), QStringLiteral("ETA: %@"),
            {remainingTimeText(task, m_clock)}));
    }

    m_error->setFullText(task.errorMessage.value_or(QString()));
    m_error->setVisible(task.errorMessage.has_value());
}

QAbstractButton* TransferRow::buttonAt(const QPoint& position) const
{
    for (QToolButton* button : {m_pause, m_resume, m_retry, m_cancel}) {
        if (button->isVisibleTo(this) && button->geometry().contains(position))
            return button;
    }
    return nullptr;
}

void TransferRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::color(Theme::Color::controlBackground, palette()));
    // A hairline, one device pixel, closes every row.
    const qreal line = 1.0 / devicePixelRatioF();
    painter.fillRect(QRectF(0, height() - line, width(), line), Theme::color(Theme::Color::separator, palette()));
}

} // namespace vantrel
