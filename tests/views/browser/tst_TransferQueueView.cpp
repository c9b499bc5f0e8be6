#include "support/TestMain.h"
#include "support/gui/BrowserFixture.h"

#include "files/TransferManager.h"
#include "platform/FileWork.h"
#include "support/FileWorkGate.h"
#include "views/browser/TransferQueueModel.h"
#include "views/browser/TransferQueueView.h"
#include "views/browser/TransferRow.h"
#include "views/browser/TransferRowDelegate.h"

#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>

#include <memory>

using namespace vantrel;

namespace {

TransferTask makeTask(TransferStatus status)
{
    TransferTask task;
    task.id = QUuid::createUuid();
    task.sourceURL = QUrl::fromLocalFile(QStringLiteral("/mnt/media/file.bin"));
    task.status = status;
    task.totalBytes = 100;
    return task;
}

struct Env : test::BrowserFixture {
    TransferManager manager{recentFiles, notifications};
    TransferQueueView panel{manager};

    Env()
    {
        panel.resize(600, 280);
        panel.show();
    }
    template <typename T = QWidget>
    T* child(const char* name) const
    {
        return panel.findChild<T*>(QString::fromLatin1(name));
    }
    bool shows(const char* name) const { return child(name)->isVisibleTo(&panel); }
    QString count() const { return shows("activeCount") ? child<QLabel>("activeCount")->text() : QString(); }
    TransferStatus status(int i) const { return manager.tasks().at(i).status; }
    // Clicks a button of a row where it is drawn in the list.
    void clickRowButton(int row, const char* button)
    {
        QListView* list = panel.list();
        const QRect rect = list->visualRect(panel.model()->index(row));
        TransferRow* drawn = panel.delegate()->rowFor(panel.model()->index(row), rect.size());
        const QPoint at = rect.topLeft() + drawn->findChild<QWidget*>(QString::fromLatin1(button))->geometry().center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
};

} // namespace

class TestTransferQueueView : public QObject {
    Q_OBJECT

private slots:
    void aNewPanelIsExpandedAndSaysThereIsNothing()
    {
        Env env;
        QVERIFY(env.panel.isExpanded());
        QCOMPARE(env.panel.minimumHeight(), 180);
        QCOMPARE(env.panel.maximumHeight(), 280);
        QCOMPARE(env.count(), QString());
        QVERIFY(!env.child("clearButton")->isEnabled());
        QVERIFY(env.shows("noTransfers"));
        QCOMPARE(env.child<QLabel>("noTransfers")->text(), QStringLiteral("No transfers"));
        QVERIFY(!env.shows("transferList"));
        QCOMPARE(env.child("expandButton")->property("symbol").toString(), QStringLiteral("chevron.down"));
    }

    void collapsesToAStripThatStillCounts()
    {
        Env env;
        QTest::mouseClick(env.child<QToolButton>("expandButton"), Qt::LeftButton);
        QVERIFY(!env.panel.isExpanded());
        QCOMPARE(env.panel.minimumHeight(), 36);
        QCOMPARE(env.panel.maximumHeight(), 36);
        QTRY_COMPARE(env.panel.height(), 36);
        QVERIFY(!env.shows("noTransfers"));
        QVERIFY(env.shows("header"));
        QCOMPARE(env.child("expandButton")->property("symbol").toString(), QStringLiteral("chevron.up"));

        // The queue moves on; the panel stays collapsed and the count follows.
        env.panel.showTasks({makeTask(TransferStatus::running)});
        QVERIFY(!env.panel.isExpanded());
        QCOMPARE(env.count(), QStringLiteral("1 active"));

        QTest::mouseClick(env.child<QToolButton>("expandButton"), Qt::LeftButton);
        QVERIFY(env.panel.isExpanded());
        QVERIFY(env.shows("transferList"));
        QCOMPARE(env.child("expandButton")->property("symbol").toString(), QStringLiteral("chevron.down"));
    }

    void countsRunningAndPendingOnly()
    {
        Env env;
        env.panel.showTasks(
            {makeTask(TransferStatus::running), makeTask(TransferStatus::pending), makeTask(TransferStatus::pending)});
        QCOMPARE(env.count(), QStringLiteral("3 active"));
        QVERIFY(!env.child("clearButton")->isEnabled());
        env.panel.showTasks({makeTask(TransferStatus::paused)});
        QCOMPARE(env.count(), QString());
        QVERIFY(!env.child("clearButton")->isEnabled());
        env.panel.showTasks(
            {makeTask(TransferStatus::paused), makeTask(TransferStatus::pending), makeTask(TransferStatus::pending)});
        QCOMPARE(env.count(), QStringLiteral("2 active"));
        for (const TransferStatus finished :
            {TransferStatus::completed, TransferStatus::failed, TransferStatus::cancelled}) {
            env.panel.showTasks({makeTask(TransferStatus::paused), makeTask(finished)});
            QVERIFY(env.child("clearButton")->isEnabled());
        }
    }

    void followsTheManagerWithRowsUpdatedInPlace()
    {
        Env env;
        QVERIFY(env.write(env.share(QStringLiteral("a.bin")), QByteArray(3 * 1048576 + 5, 'a')));
        QVERIFY(env.write(env.share(QStringLiteral("b.bin")), "b"));
        QSignalSpy reset(env.panel.model(), &QAbstractItemModel::modelReset);
        QSignalSpy inserted(env.panel.model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(env.panel.model(), &QAbstractItemModel::dataChanged);
        QSignalSpy published(&env.manager, &TransferManager::tasksChanged);

        env.manager.addDownload(env.shareUrl(QStringLiteral("a.bin")), env.localUrl());
        env.manager.addDownload(env.shareUrl(QStringLiteral("b.bin")), env.localUrl());
        QTRY_COMPARE(env.manager.tasks().size(), 2);
        QTRY_VERIFY(env.status(0) == TransferStatus::completed && env.status(1) == TransferStatus::completed);
        QTRY_COMPARE(env.panel.model()->tasks(), env.manager.tasks());
        QVERIFY(published.size() >= 2);
        QCOMPARE(reset.size(), 0);
        int insertedRows = 0;
        for (const QList<QVariant>& range : inserted)
            insertedRows += range.at(2).toInt() - range.at(1).toInt() + 1;
        QCOMPARE(insertedRows, 2);
        QVERIFY(changed.size() >= 1);
        QVERIFY(env.shows("transferList"));
        QCOMPARE(env.count(), QString());

        QVERIFY(env.child("clearButton")->isEnabled());
        QTest::mouseClick(env.child<QToolButton>("clearButton"), Qt::LeftButton);
        QVERIFY(env.manager.tasks().isEmpty());
        QTRY_VERIFY(env.shows("noTransfers"));
        QVERIFY(!env.child("clearButton")->isEnabled());
        QCOMPARE(reset.size(), 0);
    }

    // Thousands of queued files arrive in a few inserts; afterwards one task's change touches its
    // own row and nothing else, and the header still counts them all.
    void aLongQueueIsUpdatedRowByRow()
    {
        Env env;
        test::FileWorkGate gate;
        gate.hold(env.local(QStringLiteral("f0.bin"))); // the first copy waits; the others stay pending
        QSignalSpy reset(env.panel.model(), &QAbstractItemModel::modelReset);
        QSignalSpy inserted(env.panel.model(), &QAbstractItemModel::rowsInserted);
        constexpr int count = 5000;
        for (int i = 0; i < count; ++i)
            env.manager.addDownload(env.shareUrl(QStringLiteral("f%1.bin").arg(i)), env.localUrl(), 10);
        QTRY_COMPARE(env.panel.model()->rowCount(), count);
        QVERIFY2(inserted.size() <= 40, qPrintable(QString::number(inserted.size())));
        QCOMPARE(reset.size(), 0);
        QTRY_COMPARE(env.panel.model()->task(0).status, TransferStatus::running);
        QCOMPARE(env.panel.model()->tasks(), env.manager.tasks());
        QCOMPARE(env.count(), QStringLiteral("5000 active"));
        QVERIFY(!env.child("clearButton")->isEnabled());

        QSignalSpy changed(env.panel.model(), &QAbstractItemModel::dataChanged);
        QSignalSpy removed(env.panel.model(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy laidOut(env.panel.model(), &QAbstractItemModel::layoutChanged);
        inserted.clear();
        env.manager.cancel(env.manager.tasks().at(2500).id);
        QTRY_COMPARE(env.panel.model()->task(2500).status, TransferStatus::cancelled);
        QTest::qWait(20);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), 2500);
        QCOMPARE(changed.first().at(1).toModelIndex().row(), 2500);
        QCOMPARE(inserted.size() + removed.size() + reset.size() + laidOut.size(), 0);
        QCOMPARE(env.count(), QStringLiteral("4999 active"));
        QVERIFY(env.child("clearButton")->isEnabled());

        // Clearing removes that one row.
        QTest::mouseClick(env.child<QToolButton>("clearButton"), Qt::LeftButton);
        QTRY_COMPARE(env.panel.model()->rowCount(), count - 1);
        QCOMPARE(removed.size(), 1);
        QCOMPARE(env.panel.model()->tasks(), env.manager.tasks());
        QCOMPARE(reset.size(), 0);
        QVERIFY(!env.child("clearButton")->isEnabled());

        // The rows after it moved up one: a change to one of them lands on its new row.
        changed.clear();
        env.manager.cancel(env.manager.tasks().at(3000).id);
        QTRY_COMPARE(env.panel.model()->task(3000).status, TransferStatus::cancelled);
        QCOMPARE(env.panel.model()->tasks(), env.manager.tasks());
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), 3000);
        QCOMPARE(env.count(), QStringLiteral("4998 active"));
        gate.release(env.local(QStringLiteral("f0.bin")));
    }

    void aTransferThatStartsOutOfSightIsBroughtIntoView()
    {
        Env env;
        constexpr int finished = 105;
        for (int i = 0; i < finished; ++i) {
            QVERIFY(env.write(env.share(QStringLiteral("done%1.txt").arg(i)), "x"));
            env.manager.addDownload(env.shareUrl(QStringLiteral("done%1.txt").arg(i)), env.localUrl());
        }
        QTRY_VERIFY(
            env.manager.tasks().size() == finished && env.manager.tasks().last().status == TransferStatus::completed);
        QListView* list = env.panel.list();
        const auto inView = [list](int row) {
            return list->visualRect(list->model()->index(row, 0)).intersects(list->viewport()->rect());
        };
        // The user looks at the first ones.
        list->verticalScrollBar()->setValue(0);
        QTRY_VERIFY(inView(0));
        QVERIFY(!inView(finished - 1));

        // A new download, held as on a slow share so it stays running.
        test::FileWorkGate gate;
        QVERIFY(env.write(env.share(QStringLiteral("new.bin")), QByteArray(3 * 1048576, 'n')));
        gate.hold(env.local(QStringLiteral("new.bin")), 1);
        env.manager.addDownload(env.shareUrl(QStringLiteral("new.bin")), env.localUrl());
        QTRY_VERIFY(env.panel.model()->rowCount() > finished
            && env.panel.model()->task(finished).status == TransferStatus::running);
        QTRY_VERIFY(inView(finished));
        // The queue keeps its order: the new row is the last.
        QCOMPARE(env.panel.model()->rowCount(), finished + 1);
        QCOMPARE(env.panel.model()->task(finished).sourceURL, env.shareUrl(QStringLiteral("new.bin")));

        // With a running row in view, the list stays where the user put it.
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->value() - 40);
        const int kept = list->verticalScrollBar()->value();
        QVERIFY(inView(finished));
        gate.release(env.local(QStringLiteral("new.bin")));
        QTRY_COMPARE(env.panel.model()->task(finished).status, TransferStatus::completed);
        QCOMPARE(list->verticalScrollBar()->value(), kept);
    }

    // Rows change height as their transfers start and finish: the list measures those rows again,
    // not all of them, and shows each at its new height with the rows below moved along.
    void rowsChangingHeightAreMeasuredAloneAndMoveTheRest()
    {
        Env env;
        constexpr int count = 2000;
        QList<TransferTask> tasks;
        for (int i = 0; i < count; ++i)
            tasks << makeTask(TransferStatus::pending);
        env.panel.showTasks(tasks);
        QVERIFY(QTest::qWaitForWindowExposed(&env.panel));
        QTest::qWait(20);
        const int pendingHeight = env.panel.list()->visualRect(env.panel.model()->index(0)).height();
        const qint64 before = env.panel.delegate()->sizeHintCount();
        for (int i = 0; i < 100; ++i)
            tasks[i].status = i % 2 == 0 ? TransferStatus::running : TransferStatus::completed;
        env.panel.showTasks(tasks);
        QTRY_VERIFY(env.panel.list()->visualRect(env.panel.model()->index(0)).height() > pendingHeight);
        QTest::qWait(20);
        const qint64 asked = env.panel.delegate()->sizeHintCount() - before;
        QVERIFY2(asked <= 2 * 100, qPrintable(QString::number(asked)));
        QListView* list = env.panel.list();
        const auto rect = [&](int row) { return list->visualRect(env.panel.model()->index(row)); };
        const int runningHeight = rect(0).height();
        QCOMPARE(rect(1).height(), pendingHeight);
        QCOMPARE(rect(2).top(), rect(1).bottom() + 1);
        QCOMPARE(rect(150).top() - rect(0).top(), 50 * runningHeight + 100 * pendingHeight);
        for (const int row : {0, 1, 99, 100, 150, count - 1})
            QCOMPARE(list->indexAt(rect(row).center()).row(), row);
        // Scrolled to the end, the last row ends at the bottom of the list.
        list->scrollToBottom();
        QCOMPARE(rect(count - 1).bottom(), list->viewport()->height() - 1);
        QCOMPARE(list->indexAt(QPoint(1, list->viewport()->height() - 1)).row(), count - 1);
    }

    void aRowsRetryButtonRunsItAgain()
    {
        Env env;
        env.manager.addDownload(env.shareUrl(QStringLiteral("later.bin")), env.localUrl());
        QTRY_VERIFY(!env.manager.tasks().isEmpty() && env.status(0) == TransferStatus::failed);
        QTRY_COMPARE(env.panel.model()->task(0).status, TransferStatus::failed); // the row offers retry
        QVERIFY(QTest::qWaitForWindowExposed(&env.panel));
        QVERIFY(env.write(env.share(QStringLiteral("later.bin")), "now it is there"));
        env.clickRowButton(0, "retryButton");
        QTRY_COMPARE(env.status(0), TransferStatus::completed);
        QCOMPARE(env.read(env.local(QStringLiteral("later.bin"))), QByteArray("now it is there"));
    }
};

VANTREL_TEST_MAIN(TestTransferQueueView)
#include "tst_TransferQueueView.moc"
