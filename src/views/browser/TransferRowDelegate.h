#pragma once

#include "files/TransferTask.h"

#include <QHash>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QUuid>

#include <functional>
#include <memory>

class QAbstractButton;
class QAbstractItemView;

namespace vantrel {

class TransferRow;

// Draws the transfer queue's rows with one off-screen TransferRow, given each row's task in turn,
// and forwards a click on one of its buttons to the callback for that row's task.
class TransferRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    // The row's button presses, with the id of the task whose row was pressed.
    struct Actions {
        std::function<void(const QUuid&)> cancel;
        std::function<void(const QUuid&)> pause;
        std::function<void(const QUuid&)> resume;
        std::function<void(const QUuid&)> retry;
    };

    TransferRowDelegate(Actions actions, Clock clock, QObject* parent = nullptr);
    ~TransferRowDelegate() override;

    // The row widget laid out for the index's task at the given size (what a paint would draw).
    TransferRow* rowFor(const QModelIndex& index, const QSize& size) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Follows the mouse over the view's rows, as their buttons would if they were real: a button
    // acts only when pressed and released on it, and only as what it was at the press (a Pause
    // that turns into Retry meanwhile does nothing); it shows hover and pressed looks.
    void attach(QAbstractItemView* view);

    // Tells the view when a row's height changes (a running transfer gains its speed line, a failed
    // one its error); call for every row whose task changed.
    void noteTaskChanged(const QModelIndex& index);
    // The width the rows span.
    void setRowWidth(int width);
    // How many row sizes the view has asked for.
    qint64 sizeHintCount() const { return m_sizeHintCount; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Button { none, pause, resume, retry, cancel };
    // A button of one task's row.
    struct Spot {
        QUuid task;
        Button button = Button::none;
        QPersistentModelIndex index;
        bool sameButton(const Spot& other) const { return task == other.task && button == other.button; }
    };
    Spot spotAt(const QPoint& position) const;
    void repaint(const QPersistentModelIndex& index) const;
    void act(const Spot& spot) const;

    struct Shape {
        bool running = false;
        int errorLines = 0;
        bool operator==(const Shape&) const = default;
    };
    Shape shapeOf(const TransferTask& task) const;
    Shape shapeOf(TransferStatus status, const QString& errorMessage) const;

    struct Picture {
        TransferTask task;
        QSize size;
        qint64 palette = 0;
        QPixmap picture;
    };
    static constexpr qsizetype maxPictures = 64;

    std::unique_ptr<TransferRow> m_row;
    QHash<Button, QAbstractButton*> m_buttons; // the row's, by what they do
    Actions m_actions;
    QPointer<QAbstractItemView> m_view;
    Spot m_hover;
    Spot m_press;
    bool m_pressInside = false;
    int m_width = 400;
    mutable QHash<quint64, int> m_heights; // by shape and width
    QHash<QUuid, Shape> m_shapes;
    mutable QHash<QString, int> m_errorLines; // at the current width
    mutable QHash<QUuid, Picture> m_pictures; // of rows that are not running, by task
    mutable qint64 m_sizeHintCount = 0;
};

} // namespace vantrel
