#include "views/browser/TransferQueueModel.h"

#include "files/RecentFilesTracker.h"

namespace vantrel {

TransferQueueModel::TransferQueueModel(QObject* parent)
    : RowMergingModel(parent)
{
}

void TransferQueueModel::setTasks(const QList<TransferTask>& next)
{
    // The manager keeps its order and appends; a list in another order is a new queue altogether.
    mergeRows(m_tasks, next, [](const TransferTask& task) { return task.id; });
}

int TransferQueueModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_tasks.size());
}

QVariant TransferQueueModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_tasks.size())
        return {};
    const TransferTask& task = m_tasks.at(index.row());
    switch (role) {
    case Qt::DisplayRole: return RecentFilesTracker::lastPathComponent(task.sourceURL);
    case TaskRole: return QVariant::fromValue(task);
    default: return {};
    }
}

} // namespace vantrel
