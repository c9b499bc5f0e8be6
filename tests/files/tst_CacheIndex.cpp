#include "support/TestMain.h"

#include "files/CacheIndex.h"

#include <QRandomGenerator>

#include <algorithm>
#include <limits>

using namespace vantrel;

namespace {

const QUuid config = QUuid::fromString(QStringLiteral("{abcdef12-3456-7890-abcd-ef1234567890}"));
const QDateTime start = QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC);

CacheEntry entry(const QString& path, int accessedMinute, qint64 size = 10)
{
    CacheEntry e;
    e.id = QUuid::createUuid();
    e.configID = config;
    e.relativePath = path;
    e.localURL = QUrl::fromLocalFile(QStringLiteral("/cache/ABCDEF12/") + path);
    e.fileSize = size;
    e.fileName = path.section(u'/', -1);
    e.cachedAt = start;
    e.lastAccessedAt = start.addSecs(60 * accessedMinute);
    return e;
}

QStringList paths(const CacheIndex& index)
{
    QStringList result;
    for (const CacheEntry& e : index.entries())
        result.append(e.relativePath);
    return result;
}

} // namespace

class TestCacheIndex : public QObject {
    Q_OBJECT

private slots:
    void onePathOneEntryNewestFirst()
    {
        const QString composed = QStringLiteral("na") + QChar(0x00EF) + QStringLiteral("ve.txt");
        const QString decomposed = QStringLiteral("nai") + QChar(0x0308) + QStringLiteral("ve.txt");
        const CacheEntry older = entry(composed, 1);
        const CacheEntry newer = entry(decomposed, 5);
        CacheIndex index({entry(QStringLiteral("a"), 2), older, newer, entry(QStringLiteral("b"), 3)});
        QCOMPARE(paths(index), (QStringList{decomposed, QStringLiteral("b"), QStringLiteral("a")}));
        QCOMPARE(index.find(config, composed), std::optional<qsizetype>(0));
        QCOMPARE(index.at(0).id, newer.id);
        QVERIFY(!index.find(QUuid::createUuid(), QStringLiteral("a")));

        // A refreshed access time leaves the order; an addition restores it and replaces its path.
        index.touch(*index.find(config, QStringLiteral("a")), start.addSecs(3600));
        QCOMPARE(paths(index).last(), QStringLiteral("a"));
        index.add(entry(QStringLiteral("b"), 10));
        QCOMPARE(paths(index), (QStringList{QStringLiteral("a"), QStringLiteral("b"), decomposed}));

        // Positions stay right after removals.
        index.remove({index.at(1).id});
        QCOMPARE(index.find(config, composed), std::optional<qsizetype>(1));
        index.removeAt(0);
        QCOMPARE(index.find(config, composed), std::optional<qsizetype>(0));
        QCOMPARE(index.findById(newer.id), std::optional<qsizetype>(0));
    }

    // Random additions (alone and several at once), touches and removals with many equal access
    // times: the index keeps the order, positions and evictions that sorting the whole list after
    // each addition gives.
    void keepsTheOrderOfAFullSortWhateverTheSequence()
    {
        const auto sorted = [](QList<CacheEntry> list) {
            std::stable_sort(list.begin(), list.end(),
                [](const CacheEntry& a, const CacheEntry& b) { return a.lastAccessedAt > b.lastAccessedAt; });
            return list;
        };
        QRandomGenerator random(17);
        CacheIndex index;
        QList<CacheEntry> model; // newest first, as the index shows it
        for (int step = 0; step < 3000; ++step) {
            const int action = random.bounded(10);
            if (action < 6 || model.isEmpty()) {
                // One entry, or several at once as a slice of copies adds them: mostly of one moment.
                const int count = random.bounded(3) == 0 ? 1 + random.bounded(6) : 1;
                const int minute = random.bounded(8);
                QList<CacheEntry> batch;
                for (int i = 0; i < count; ++i)
                    batch.append(entry(QStringLiteral("f%1").arg(random.bounded(60)),
                        random.bounded(5) == 0 ? random.bounded(8) : minute, random.bounded(100)));
                for (const CacheEntry& added : std::as_const(batch)) {
                    model.removeIf([&](const CacheEntry& e) { return e.relativePath == added.relativePath; });
                    model.append(added);
                    model = sorted(model);
                }
                if (count == 1)
                    index.add(batch.first());
                else
                    index.add(batch);
            } else if (action < 8) {
                const qsizetype position = random.bounded(int(model.size()));
                model[position].lastAccessedAt = start.addSecs(60 * random.bounded(8));
                index.touch(position, model.at(position).lastAccessedAt);
            } else if (action < 9) {
                const qsizetype position = random.bounded(int(model.size()));
                model.removeAt(position);
                index.removeAt(position);
            } else {
                QSet<QUuid> ids;
                for (const CacheEntry& e : std::as_const(model)) {
                    if (random.bounded(4) == 0)
                        ids.insert(e.id);
                }
                model.removeIf([&](const CacheEntry& e) { return ids.contains(e.id); });
                index.remove(ids);
            }
            QCOMPARE(index.entries(), model);
            qint64 total = 0;
            for (qsizetype i = 0; i < model.size(); ++i) {
                QCOMPARE(index.find(config, model.at(i).relativePath), std::optional<qsizetype>(i));
                total += model.at(i).fileSize;
            }
            QCOMPARE(index.totalSize(), total);
            QList<CacheEntry> oldestFirst = model;
            std::stable_sort(oldestFirst.begin(), oldestFirst.end(),
                [](const CacheEntry& a, const CacheEntry& b) { return a.lastAccessedAt < b.lastAccessedAt; });
            const qsizetype victims = model.isEmpty() ? 0 : random.bounded(int(model.size()));
            qint64 freed = 0;
            for (qsizetype i = 0; i < victims; ++i)
                freed += oldestFirst.at(i).fileSize;
            // Room for exactly what the first victims free: they go, and nothing more.
            if (victims > 0 && oldestFirst.at(victims - 1).fileSize > 0)
                QCOMPARE(index.leastRecentlyUsed(freed, total), oldestFirst.mid(0, victims));
        }
    }

    void evictsOldestAccessFirstAndSizesSaturate()
    {
        const CacheIndex index({entry(QStringLiteral("new"), 3, 300), entry(QStringLiteral("old"), 1, 300),
            entry(QStringLiteral("mid"), 2, 300)});
        QCOMPARE(index.totalSize(), 900);
        QVERIFY(index.leastRecentlyUsed(100, 1000).isEmpty()); // fits exactly
        const QList<CacheEntry> two = index.leastRecentlyUsed(500, 1000);
        QCOMPARE(two.size(), 2);
        QCOMPARE(two.at(0).relativePath, QStringLiteral("old"));
        QCOMPARE(two.at(1).relativePath, QStringLiteral("mid"));
        QCOMPARE(index.leastRecentlyUsed(std::numeric_limits<qint64>::max(), 1000).size(), 3);

        const qint64 huge = std::numeric_limits<qint64>::max() - 5;
        const CacheIndex large({entry(QStringLiteral("x"), 1, huge), entry(QStringLiteral("y"), 2, huge)});
        QCOMPARE(large.totalSize(), std::numeric_limits<qint64>::max());
    }
};

VANTREL_TEST_MAIN(TestCacheIndex)
#include "tst_CacheIndex.moc"
