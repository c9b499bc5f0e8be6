#pragma once

#include "files/TransferTask.h"
#include "views/browser/TransferListView.h"

#include <QWidget>

class QLabel;
class QListView;
class QStackedWidget;
class QToolButton;

namespace vantrel {

class TransferManager;
class TransferQueueModel;
struct TransferChanges;
class TransferRowDelegate;

// The collapsible panel at the bottom of the browser: a header with the number of active
// transfers, a button that clears finished ones and a chevron, and while expanded the queue, one
// row per transfer. Rows are drawn only while in view, so a queue of thousands of files costs
// what the visible rows cost.
class TransferQueueView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int collapsedHeight = 36;
    static constexpr int expandedMinimumHeight = 180;
    static constexpr int expandedMaximumHeight = 280;

    explicit TransferQueueView(TransferManager& manager, Clock clock = {}, QWidget* parent = nullptr);
    ~TransferQueueView() override;

    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded);

    // Running and pending tasks.
    int activeCount() const;
    // Any task that the clear button would remove.
    bool hasCompletedTasks() const;

    // Draws these tasks in place of those shown, comparing the whole list; the manager's
    // publications go through applyChanges, which touches only the tasks they name.
    void showTasks(const QList<TransferTask>& tasks);

    TransferQueueModel* model() const { return m_model; }
    QListView* list() const { return m_list; }
    // Renders each row; its row widget is the one drawn last (tests read and click it).
    TransferRowDelegate* delegate() const { return m_delegate; }

    QSize sizeHint() const override;

private:
    void applyChanges(const TransferChanges& changes);
    void updateBody(int rowsBefore);
    // Brings the row of a task that just started running into view when no running row is in view.
    void revealStarted(const QUuid& id);
    bool showsRunningRow() const;
    void updateHeader();

    TransferManager& m_manager;
    TransferQueueModel* m_model;
    TransferRowDelegate* m_delegate;
    QWidget* m_header;
    QLabel* m_count;
    QToolButton* m_clear;
    QToolButton* m_expand;
    QStackedWidget* m_body;
    QLabel* m_noTransfers;
    TransferListView* m_list;
    bool m_expanded = true;
};

} // namespace vantrel
