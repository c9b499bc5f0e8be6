#include "support/TestMain.h"

#include "views/widgets/RowMergingModel.h"

#include <QAbstractItemModelTester>
#include <QAbstractListModel>
#include <QRandomGenerator>
#include <QSignalSpy>

using namespace vantrel;

namespace {

struct Item {
    int key = 0;
    int value = 0;
    bool operator==(const Item&) const = default;
};

class Rows final : public RowMergingModel<QAbstractListModel> {
public:
    void merge(const QList<Item>& next)
    {
        mergeRows(m_items, next, [](const Item& item) { return item.key; });
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_items.size()); }
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        return role == Qt::DisplayRole ? QVariant(m_items.at(index.row()).value) : QVariant();
    }
    const QList<Item>& items() const { return m_items; }

private:
    QList<Item> m_items;
};

// How many consecutive runs of `list` the predicate holds for.
template <typename Predicate>
int runs(const QList<Item>& list, Predicate holds)
{
    int count = 0;
    for (qsizetype i = 0; i < list.size(); ++i)
        count += holds(list.at(i)) && (i == 0 || !holds(list.at(i - 1))) ? 1 : 0;
    return count;
}

bool holdsKey(const QList<Item>& list, int key)
{
    return std::any_of(list.cbegin(), list.cend(), [key](const Item& item) { return item.key == key; });
}

} // namespace

class TestRowMergingModel : public QObject {
    Q_OBJECT

private slots:
    void mergesRunsInPlaceUntilTheRowsAreTheNewList()
    {
        Rows model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QRandomGenerator random(20240501);
        int nextKey = 0;
        for (int round = 0; round < 300; ++round) {
            // Drop some rows, change some values and insert new keys anywhere; kept rows keep
            // their order.
            QList<Item> next;
            for (const Item& item : model.items()) {
                if (random.bounded(4) == 0)
                    continue;
                next.append({item.key, random.bounded(3) == 0 ? item.value + 1 : item.value});
            }
            for (int added = int(random.bounded(5)); added > 0; --added)
                next.insert(random.bounded(next.size() + 1), {nextKey++, 0});

            const QList<Item> before = model.items();
            QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
            QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
            QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
            QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
            model.merge(next);

            QCOMPARE(model.items(), next);
            QCOMPARE(resets.size(), 0);
            QCOMPARE(inserted.size(), runs(next, [&](const Item& item) { return !holdsKey(before, item.key); }));
            QCOMPARE(removed.size(), runs(before, [&](const Item& item) { return !holdsKey(next, item.key); }));
            const auto valueChanged = [&](const Item& item) {
                return holdsKey(before, item.key) && !before.contains(item);
            };
            QCOMPARE(changed.size(), int(std::count_if(next.cbegin(), next.cend(), valueChanged)));
        }
    }

    void aRepeatedKeyOrAMovedRowResets()
    {
        Rows model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.merge({{1, 0}, {2, 0}, {3, 0}});
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

        const QList<Item> moved{{3, 0}, {1, 0}, {4, 0}};
        model.merge(moved);
        QCOMPARE(resets.size(), 1);
        QCOMPARE(model.items(), moved);

        const QList<Item> repeated{{3, 0}, {3, 1}, {4, 0}};
        model.merge(repeated);
        QCOMPARE(resets.size(), 2);
        QCOMPARE(model.items(), repeated);
        // Leaving a repeat behind resets once more; after that, merges are in place again.
        model.merge(moved);
        model.merge({{3, 0}, {1, 5}});
        QCOMPARE(resets.size(), 3);
        QCOMPARE(model.items(), (QList<Item>{{3, 0}, {1, 5}}));
    }
};

VANTREL_TEST_MAIN(TestRowMergingModel)
#include "tst_RowMergingModel.moc"
