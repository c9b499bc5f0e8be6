#include "views/browser/TransferQueueModel.h"

#include "files/RecentFilesTracker.h"

#include <QSet>

#include <algorithm>

namespace vantrel {

TransferQueueModel::TransferQueueModel(QObject* parent)
    : RowMergingModel(parent)
{
}

void TransferQueueModel::setTasks(const QList<TransferTask>& next)
{
    // The manager keeps its order and appends; a list in another order is a new queue altogether.
    mergeRows(m_tasks, next, [](const TransferTask& task) { return task.id; });
    m_rows.clear();
    reindexFrom(0);
    m_counts.fill(0);
    for (const TransferTask& task : m_tasks)
        ++m_counts[std::size_t(task.status)];
}

void TransferQueueModel::appendTasks(const QList<TransferTask>& tasks)
{
    QList<TransferTask> fresh;
    fresh.reserve(tasks.size());
    QSet<QUuid> seen;
    for (const TransferTask& task : tasks) {
        if (m_rows.contains(task.id))
            updateTask(task);
        else if (!seen.contains(task.id)) {
            seen.insert(task.id);
            fresh.append(task);
        }
    }
    if (fresh.isEmpty())
        return;
    const int first = int(m_tasks.size());
    beginInsertRows({}, first, first + int(fresh.size()) - 1);
    m_tasks.append(fresh);
    reindexFrom(first);
    for (const TransferTask& task : fresh)
        ++m_counts[std::size_t(task.status)];
    endInsertRows();
}

bool TransferQueueModel::updateTask(const TransferTask& task)
{
    const int row = rowOf(task.id);
    if (row < 0)
        return false;
    TransferTask& shown = m_tasks[row];
    if (shown == task)
        return true;
    --m_counts[std::size_t(shown.status)];
    ++m_counts[std::size_t(task.status)];
    shown = task;
    const QModelIndex at = index(row);
    emit dataChanged(at, at);
    return true;
}

void TransferQueueModel::removeTasks(const QList<QUuid>& ids)
{
    QList<int> rows;
    rows.reserve(ids.size());
    for (const QUuid& id : ids) {
        const int row = rowOf(id);
        if (row >= 0)
            rows.append(row);
    }
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // From the end, a consecutive run at a time, so that the rows still to go keep their numbers.
    qsizetype i = rows.size() - 1;
    while (i >= 0) {
        const int last = rows.at(i);
        int first = last;
        while (i > 0 && rows.at(i - 1) == first - 1)
            first = rows.at(--i);
        --i;
        beginRemoveRows({}, first, last);
        for (int row = first; row <= last; ++row) {
            --m_counts[std::size_t(m_tasks.at(row).status)];
            m_rows.remove(m_tasks.at(row).id);
        }
        m_tasks.remove(first, last - first + 1);
        endRemoveRows();
    }
    reindexFrom(rows.first());
}

void TransferQueueModel::reindexFrom(int row)
{
    for (int i = row; i < m_tasks.size(); ++i)
        m_rows.insert(m_tasks.at(i).id, i);
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
    case StatusRole: return int(task.status);
    case ErrorMessageRole: return task.errorMessage ? QVariant(*task.errorMessage) : QVariant();
    default: return {};
    }
}

} // namespace vantrel
