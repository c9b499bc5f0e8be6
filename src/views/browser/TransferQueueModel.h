#pragma once

#include "files/TransferTask.h"
#include "views/widgets/RowMergingModel.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

#include <array>

namespace vantrel {

// The transfer queue as list rows, one per task in the manager's order, keyed by the task's id.
// The manager's publications arrive as the tasks they name: a changed task announces its row,
// new tasks are appended and cleared ones removed; nothing is ever reset, and no publication
// looks at the rows it does not name.
class TransferQueueModel final : public RowMergingModel<QAbstractListModel> {
    Q_OBJECT

public:
    enum Role {
        TaskRole = Qt::UserRole + 1,
        StatusRole,       // the TransferStatus as an int
        ErrorMessageRole, // the error text; none without one
    };

    explicit TransferQueueModel(QObject* parent = nullptr);

    // The whole list at once, merged with the rows there are.
    void setTasks(const QList<TransferTask>& tasks);
    // Tasks new to the model at its end; one it holds already is updated instead.
    void appendTasks(const QList<TransferTask>& tasks);
    // Brings the task's row up to date; false when no row holds it.
    bool updateTask(const TransferTask& task);
    void removeTasks(const QList<QUuid>& ids);

    const QList<TransferTask>& tasks() const { return m_tasks; }
    const TransferTask& task(int row) const { return m_tasks.at(row); }
    // The row of the task; -1 when it has none.
    int rowOf(const QUuid& id) const { return m_rows.value(id, -1); }
    int count(TransferStatus status) const { return m_counts[std::size_t(status)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void reindexFrom(int row);

    QList<TransferTask> m_tasks;
    QHash<QUuid, int> m_rows;
    std::array<int, 6> m_counts{}; // by TransferStatus
};

} // namespace vantrel
