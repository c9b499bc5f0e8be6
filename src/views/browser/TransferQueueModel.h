#pragma once

#include "files/TransferTask.h"
#include "views/widgets/RowMergingModel.h"

#include <QAbstractListModel>
#include <QList>

namespace vantrel {

// The transfer queue as list rows, one per task in the manager's order, keyed by the task's id.
// Each publication of the manager is merged in: a task whose fields changed announces its row,
// new tasks are inserted and cleared ones removed; nothing is ever reset.
class TransferQueueModel final : public RowMergingModel<QAbstractListModel> {
    Q_OBJECT

public:
    enum Role { TaskRole = Qt::UserRole + 1 };

    explicit TransferQueueModel(QObject* parent = nullptr);

    void setTasks(const QList<TransferTask>& tasks);
    const QList<TransferTask>& tasks() const { return m_tasks; }
    const TransferTask& task(int row) const { return m_tasks.at(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    QList<TransferTask> m_tasks;
};

} // namespace vantrel
