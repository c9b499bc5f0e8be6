#include "views/browser/TransferRowDelegate.h"

#include "views/browser/TransferQueueModel.h"
#include "views/browser/TransferRow.h"
#include "views/widgets/ElidedLabel.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>

namespace vantrel {

TransferRowDelegate::TransferRowDelegate(Actions actions, Clock clock, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_actions(std::move(actions))
{
    const auto forward = [this](std::function<void(const QUuid&)> TransferRowDelegate::Actions::*which) {
        return [this, which] {
            if (const auto& action = m_actions.*which)
                action(m_row->task().id);
        };
    };
    m_row = std::make_unique<TransferRow>(TransferTask(), forward(&Actions::cancel), forward(&Actions::pause),
        forward(&Actions::resume), forward(&Actions::retry), std::move(clock));
    // Never shown: without a window of its own, a new size takes effect at once. One row serves
    // rows of different heights, so the last one's minimum must not hold the next one up.
    m_row->layout()->setSizeConstraint(QLayout::SetNoConstraint);
    m_row->ensurePolished();
    const std::pair<Button, const char*> names[] = {{Button::pause, "pauseButton"}, {Button::resume, "resumeButton"},
        {Button::retry, "retryButton"}, {Button::cancel, "cancelButton"}};
    for (const auto& [button, name] : names)
        m_buttons.insert(button, m_row->findChild<QAbstractButton*>(QString::fromLatin1(name)));
}

TransferRowDelegate::~TransferRowDelegate() = default;

TransferRow* TransferRowDelegate::rowFor(const QModelIndex& index, const QSize& size) const
{
    m_row->setTask(index.data(TransferQueueModel::TaskRole).value<TransferTask>());
    m_row->resize(size);
    // A widget that is not shown hears of neither its new size nor its children's visibility.
    m_row->layout()->invalidate();
    m_row->layout()->activate();
    return m_row.get();
}

void TransferRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // A row that is not running looks the same until its task changes (only a running row shows
    // the time), and the list repaints every row in view whenever a row elsewhere changes height:
    // such rows are drawn from the picture taken last time.
    const TransferTask task = index.data(TransferQueueModel::TaskRole).value<TransferTask>();
    // A row under the mouse shows its buttons' hover and pressed looks: drawn afresh, and kept
    // out of the pictures.
    const bool touched = task.id == m_hover.task || task.id == m_press.task;
    const bool still = task.status != TransferStatus::running && !touched;
    if (still) {
        const auto found = m_pictures.constFind(task.id);
        if (found != m_pictures.cend() && found->task == task && found->size == option.rect.size()
            && found->palette == option.palette.cacheKey()) {
            painter->drawPixmap(option.rect.topLeft(), found->picture);
            return;
        }
    }
    // Through a pixmap: rendering straight into the view's painter misses the offset of the
    // viewport inside its window.
    TransferRow* row = rowFor(index, option.rect.size());
    for (auto it = m_buttons.cbegin(); it != m_buttons.cend(); ++it) {
        it.value()->setAttribute(Qt::WA_UnderMouse, m_hover.task == task.id && m_hover.button == it.key());
        it.value()->setDown(m_pressInside && m_press.task == task.id && m_press.button == it.key());
    }
    const QPixmap picture = row->grab();
    for (QAbstractButton* button : std::as_const(m_buttons)) {
        button->setAttribute(Qt::WA_UnderMouse, false);
        button->setDown(false);
    }
    painter->drawPixmap(option.rect.topLeft(), picture);
    if (still) {
        // Only rows in view are drawn: a few dozen pictures serve any scrolling.
        if (m_pictures.size() >= maxPictures)
            m_pictures.clear();
        m_pictures.insert(task.id, Picture{task, option.rect.size(), option.palette.cacheKey(), picture});
    }
}

TransferRowDelegate::Shape TransferRowDelegate::shapeOf(const TransferTask& task) const
{
    return shapeOf(task.status, task.errorMessage.value_or(QString()));
}

TransferRowDelegate::Shape TransferRowDelegate::shapeOf(TransferStatus status, const QString& errorMessage) const
{
    Shape shape;
    shape.running = status == TransferStatus::running;
    if (!errorMessage.isEmpty()) {
        const auto found = m_errorLines.constFind(errorMessage);
        if (found != m_errorLines.cend()) {
            shape.errorLines = *found;
        } else {
            const auto* error = m_row->findChild<ElidedLabel*>(QStringLiteral("errorMessage"));
            const QMargins margins = m_row->layout()->contentsMargins();
            shape.errorLines = int(ElidedLabel::lines(errorMessage, error->font(), error->maximumLines(),
                Qt::ElideRight, m_width - margins.left() - margins.right())
                                       .size());
            m_errorLines.insert(errorMessage, shape.errorLines);
        }
    }
    return shape;
}

QSize TransferRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    ++m_sizeHintCount;
    // The list asks every row at each layout: what decides the height is read without the task.
    const auto status = TransferStatus(index.data(TransferQueueModel::StatusRole).toInt());
    // Only a task that stopped can carry an error.
    const bool mayHaveError = status != TransferStatus::pending && status != TransferStatus::running
        && status != TransferStatus::completed;
    const Shape shape = shapeOf(status,
        mayHaveError ? index.data(TransferQueueModel::ErrorMessageRole).toString() : QString());
    const quint64 key = (quint64(shape.running) << 40) | (quint64(shape.errorLines) << 32) | quint32(m_width);
    if (const auto found = m_heights.constFind(key); found != m_heights.cend())
        return {m_width, *found};
    m_row->setTask(index.data(TransferQueueModel::TaskRole).value<TransferTask>());
    m_row->resize(m_width, m_row->height());
    m_row->layout()->invalidate();
    m_row->layout()->activate();
    const int height = m_row->hasHeightForWidth() ? m_row->heightForWidth(m_width) : m_row->sizeHint().height();
    m_heights.insert(key, height);
    return {m_width, height};
}

void TransferRowDelegate::attach(QAbstractItemView* view)
{
    if (m_view)
        m_view->viewport()->removeEventFilter(this);
    m_view = view;
    if (view) {
        view->viewport()->setMouseTracking(true);
        view->viewport()->installEventFilter(this);
    }
}

TransferRowDelegate::Spot TransferRowDelegate::spotAt(const QPoint& position) const
{
    const QModelIndex index = m_view ? m_view->indexAt(position) : QModelIndex();
    if (!index.isValid())
        return {};
    const QRect rect = m_view->visualRect(index);
    TransferRow* row = rowFor(index, rect.size());
    Spot spot{row->task().id, Button::none, index};
    if (QAbstractButton* button = row->buttonAt(position - rect.topLeft()))
        spot.button = m_buttons.key(button, Button::none);
    return spot;
}

void TransferRowDelegate::repaint(const QPersistentModelIndex& index) const
{
    if (m_view && index.isValid())
        m_view->viewport()->update(m_view->visualRect(index));
}

void TransferRowDelegate::act(const Spot& spot) const
{
    std::function<void(const QUuid&)> Actions::*which = nullptr;
    switch (spot.button) {
    case Button::pause: which = &Actions::pause; break;
    case Button::resume: which = &Actions::resume; break;
    case Button::retry: which = &Actions::retry; break;
    case Button::cancel: which = &Actions::cancel; break;
    case Button::none: return;
    }
    if (const auto& action = m_actions.*which)
        action(spot.task);
}

bool TransferRowDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_view || watched != m_view->viewport())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        const Spot spot = spotAt(mouse->position().toPoint());
        if (spot.button == Button::none)
            return false;
        m_press = spot;
        m_pressInside = true;
        repaint(spot.index);
        return true;
    }
    case QEvent::MouseMove: {
        const Spot spot = spotAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (!spot.sameButton(m_hover)) {
            const Spot before = std::exchange(m_hover, spot);
            repaint(before.index);
            repaint(m_hover.index);
        }
        if (m_press.button != Button::none && m_pressInside != spot.sameButton(m_press)) {
            m_pressInside = !m_pressInside;
            repaint(m_press.index);
        }
        return m_press.button != Button::none;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || m_press.button == Button::none)
            return false;
        const Spot pressed = std::exchange(m_press, Spot());
        m_pressInside = false;
        repaint(pressed.index);
        // What is under the mouse now, for the task's state now: the same button of the same task,
        // or nothing happens.
        if (spotAt(mouse->position().toPoint()).sameButton(pressed))
            act(pressed);
        return true;
    }
    case QEvent::Leave:
        if (m_hover.button != Button::none || m_hover.index.isValid()) {
            const Spot before = std::exchange(m_hover, Spot());
            repaint(before.index);
        }
        return false;
    default: return false;
    }
}

void TransferRowDelegate::noteTaskChanged(const QModelIndex& index)
{
    const TransferTask task = index.data(TransferQueueModel::TaskRole).value<TransferTask>();
    const Shape shape = shapeOf(task);
    const auto found = m_shapes.find(task.id);
    if (found == m_shapes.end()) {
        m_shapes.insert(task.id, shape);
        return;
    }
    if (*found == shape)
        return;
    *found = shape;
    emit sizeHintChanged(index);
}

void TransferRowDelegate::setRowWidth(int width)
{
    if (width == m_width || width <= 0)
        return;
    m_width = width;
    // The view measures every row again for a new width; the shapes seen stay what later
    // changes are compared with, or a row's first change after it would go unnoticed.
    m_pictures.clear();
    m_errorLines.clear();
}

} // namespace vantrel
