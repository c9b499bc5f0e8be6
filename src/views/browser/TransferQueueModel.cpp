#include "views/browser/TransferQueueModel.h"

#include "files/RecentFilesTracker.h"

#include <QSet>

namespace vantrel {

TransferQueueModel::TransferQueueModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

void TransferQueueModel::setTasks(const QList<TransferTask>& next)
{
    QSet<QUuid> nextIds;
    nextIds.reserve(next.size());
    for (const TransferTask& task : next)
        nextIds.insert(task.id);

    // Cleared tasks, from the end so that the rows still to be looked at keep their numbers.
    qsizetype row = m_tasks.size() - 1;
    while (row >= 0) {
        if (nextIds.contains(m_tasks.at(row).id)) {
            --row;
            continue;
        }
        const qsizetype last = row;
        while (row >= 0 && !nextIds.contains(m_tasks.at(row).id))
            --row;
        beginRemoveRows({}, int(row + 1), int(last));
        m_tasks.remove(row + 1, last - row);
        endRemoveRows();
    }

    // The manager keeps its order and appends; what is left must be the head of the new list's
    // known tasks. Anything else would be a new queue altogether.
    QSet<QUuid> known;
    known.reserve(m_tasks.size());
    for (const TransferTask& task : std::as_const(m_tasks))
        known.insert(task.id);
    QList<QUuid> order;
    for (const TransferTask& task : next) {
        if (known.contains(task.id))
            order.append(task.id);
    }
    bool sameOrder = order.size() == m_tasks.size();
    for (qsizetype i = 0; sameOrder && i < order.size(); ++i)
        sameOrder = order.at(i) == m_tasks.at(i).id;
    if (!sameOrder) {
        beginResetModel();
        m_tasks = next;
        endResetModel();
        return;
    }

    qsizetype i = 0;
    while (i < next.size()) {
        if (known.contains(next.at(i).id)) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < next.size() && !known.contains(next.at(end).id))
            ++end;
        beginInsertRows({}, int(i), int(end - 1));
        for (qsizetype k = i; k < end; ++k)
            m_tasks.insert(k, next.at(k));
        endInsertRows();
        i = end;
    }

    for (qsizetype r = 0; r < next.size(); ++r) {
        if (m_tasks.at(r) == next.at(r))
            continue;
        m_tasks[r] = next.at(r);
        emit dataChanged(index(int(r)), index(int(r)));
    }
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
    case IdRole: return task.id;
    default: return {};
    }
}

} // namespace vantrel
