#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QSet>

#include <utility>

namespace vantrel {

// A model base (a QAbstractListModel or QAbstractTableModel) whose rows are a list of items, each
// with a key of its own, brought up to date by merging each new list in: removed and inserted
// items are announced a consecutive run at a time, changed rows in place, and a list that
// changed nothing announces nothing. Views thereby keep their selection and scroll position.
template <typename Base>
class RowMergingModel : public Base {
public:
    using Base::Base;

protected:
    // Brings `rows` to `next`. Only a list that repeats a key, or that moves an item that stays,
    // resets the model.
    template <typename T, typename KeyOf>
    void mergeRows(QList<T>& rows, const QList<T>& next, KeyOf keyOf)
    {
        using Key = std::decay_t<decltype(keyOf(std::declval<const T&>()))>;
        const auto keysOf = [&keyOf](const QList<T>& list) {
            QSet<Key> keys;
            keys.reserve(list.size());
            for (const T& item : list)
                keys.insert(keyOf(item));
            return keys;
        };
        const QSet<Key> nextKeys = keysOf(next);
        const QSet<Key> rowKeys = keysOf(rows);
        // A list that repeats a key cannot be followed row by row.
        if (nextKeys.size() != next.size() || rowKeys.size() != rows.size()) {
            resetRows(rows, next);
            return;
        }
        removeRowsUnless(rows, [&](const T& item) { return nextKeys.contains(keyOf(item)); });
        // What stays must keep its order, or rows cannot be moved in place by inserts alone.
        qsizetype kept = 0;
        for (const T& item : next) {
            if (!rowKeys.contains(keyOf(item)))
                continue;
            if (!(keyOf(rows.at(kept)) == keyOf(item))) {
                resetRows(rows, next);
                return;
            }
            ++kept;
        }
        insertRowsNotIn(rows, next, [&](const T& item) { return rowKeys.contains(keyOf(item)); });
        const int lastColumn = static_cast<const QAbstractItemModel*>(this)->columnCount() - 1;
        for (qsizetype row = 0; row < next.size(); ++row) {
            if (rows.at(row) == next.at(row))
                continue;
            rows[row] = next.at(row);
            emit this->dataChanged(this->index(int(row), 0), this->index(int(row), lastColumn));
        }
    }

    // Removes the rows whose item `keep` rejects; from the end, so that the rows still to be
    // looked at keep their numbers.
    template <typename T, typename Keep>
    void removeRowsUnless(QList<T>& rows, Keep keep)
    {
        qsizetype row = rows.size() - 1;
        while (row >= 0) {
            if (keep(rows.at(row))) {
                --row;
                continue;
            }
            const qsizetype last = row;
            while (row >= 0 && !keep(rows.at(row)))
                --row;
            this->beginRemoveRows({}, int(row + 1), int(last));
            rows.remove(row + 1, last - row);
            this->endRemoveRows();
        }
    }

    // Inserts every item of `next` that `known` rejects at its own position. The rows must be the
    // known items of `next`, in its order.
    template <typename T, typename Known>
    void insertRowsNotIn(QList<T>& rows, const QList<T>& next, Known known)
    {
        qsizetype i = 0;
        while (i < next.size()) {
            if (known(next.at(i))) {
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < next.size() && !known(next.at(end)))
                ++end;
            this->beginInsertRows({}, int(i), int(end - 1));
            QList<T> merged;
            merged.reserve(rows.size() + (end - i));
            merged.append(rows.mid(0, i));
            merged.append(next.mid(i, end - i));
            merged.append(rows.mid(i));
            rows = std::move(merged);
            this->endInsertRows();
            i = end;
        }
    }

private:
    template <typename T>
    void resetRows(QList<T>& rows, const QList<T>& next)
    {
        this->beginResetModel();
        rows = next;
        this->endResetModel();
    }
};

} // namespace vantrel
