#include "support/TestMain.h"

#include "views/browser/TransferQueueModel.h"
#include "views/browser/TransferRow.h"
#include "views/browser/TransferRowDelegate.h"
#include "views/widgets/ElidedLabel.h"

#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QToolButton>

using namespace vantrel;

namespace {

const QDateTime now = QDateTime(QDate(2025, 3, 14), QTime(12, 0), Qt::UTC);

TransferTask makeTask(TransferStatus status, qint64 done = 0, qint64 total = 3'000'000,
    TransferDirection direction = TransferDirection::download)
{
    TransferTask task;
    task.id = QUuid::createUuid();
    task.sourceURL = QUrl::fromLocalFile(QStringLiteral("/mnt/media/Films/holiday.mp4"));
    task.direction = direction;
    task.status = status;
    task.bytesTransferred = done;
    task.totalBytes = total;
    task.startDate = now.addSecs(-10);
    return task;
}

struct Calls {
    QStringList made;
    TransferRow::Action record(const QString& name)
    {
        return [this, name] { made << name; };
    }
};

struct Row {
    Calls calls;
    TransferRow row;
    explicit Row(const TransferTask& task)
        : row(task, calls.record("cancel"), calls.record("pause"), calls.record("resume"), calls.record("retry"),
            [] { return now; })
    {
        row.resize(420, row.sizeHint().height());
        row.show();
    }
    template <typename T = QWidget>
    T* child(const char* name) const
    {
        return row.findChild<T*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }
    bool shows(const char* name) const { return child(name)->isVisibleTo(&row); }
    // The visible buttons, left to right, as "symbol/tint".
    QStringList buttons() const
    {
        QList<QToolButton*> visible;
        for (QToolButton* button : row.findChildren<QToolButton*>()) {
            if (button->isVisibleTo(&row))
                visible << button;
        }
        std::sort(visible.begin(), visible.end(), [](QToolButton* a, QToolButton* b) { return a->x() < b->x(); });
        QStringList result;
        for (QToolButton* button : visible)
            result << button->property("symbol").toString() + u'/' + button->property("tint").toString();
        return result;
    }
};

// The queue's list drawn by the delegate, recording the callbacks its row buttons call.
struct DelegateList {
    QList<TransferTask> tasks;
    QList<std::pair<QString, QUuid>> calls;
    TransferQueueModel model;
    QListView list;
    TransferRowDelegate delegate;

    explicit DelegateList(const QList<TransferTask>& initial)
        : tasks(initial)
        , delegate({record("cancel"), record("pause"), record("resume"), record("retry")}, [] { return now; })
    {
        list.setItemDelegate(&delegate);
        delegate.attach(&list);
        list.setModel(&model);
        list.resize(800, 300);
        delegate.setRowWidth(list.viewport()->width());
        publish(tasks);
        list.show();
        if (!QTest::qWaitForWindowExposed(&list))
            qWarning("the list was not shown");
    }
    std::function<void(const QUuid&)> record(const char* name)
    {
        return [this, name](const QUuid& id) { calls.append({QString::fromLatin1(name), id}); };
    }
    void publish(const QList<TransferTask>& next)
    {
        model.setTasks(next);
        for (int row = 0; row < model.rowCount(); ++row)
            delegate.noteTaskChanged(model.index(row));
    }
    // The mouse moves with no button down, as the window system reports it.
    void hover(const QPoint& inViewport)
    {
        QTest::mouseMove(list.windowHandle(), list.viewport()->mapTo(&list, inViewport));
    }
    // The middle of a row's button where the list draws it.
    QPoint at(int row, const char* button)
    {
        const QRect rect = list.visualRect(model.index(row));
        TransferRow* drawn = delegate.rowFor(model.index(row), rect.size());
        return rect.topLeft() + drawn->findChild<QWidget*>(QString::fromLatin1(button))->geometry().center();
    }
};

} // namespace

class TestTransferRow : public QObject {
    Q_OBJECT

private slots:
    void eachStatusHasItsLook_data()
    {
        QTest::addColumn<TransferStatus>("status");
        QTest::addColumn<QString>("statusText");
        QTest::addColumn<QString>("tint");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("pending") << TransferStatus::pending << "Queued"
                                 << "secondary" << QStringList{};
        QTest::newRow("running") << TransferStatus::running << "50%"
                                 << "accent" << QStringList{"pause.fill/primary", "xmark.fill/red"};
        QTest::newRow("paused") << TransferStatus::paused << "Paused"
                                << "orange" << QStringList{"play.fill/primary", "xmark.fill/red"};
        QTest::newRow("completed") << TransferStatus::completed << "Done"
                                   << "green" << QStringList{};
        QTest::newRow("failed") << TransferStatus::failed << "Failed"
                                << "red" << QStringList{"arrow.clockwise/primary", "xmark.fill/secondary"};
        QTest::newRow("cancelled") << TransferStatus::cancelled << "Cancelled"
                                   << "secondary" << QStringList{};
    }

    void eachStatusHasItsLook()
    {
        QFETCH(TransferStatus, status);
        QFETCH(QString, statusText);
        QFETCH(QString, tint);
        QFETCH(QStringList, buttons);
        Row row(makeTask(status, 1'500'000));
        QCOMPARE(row.text("statusText"), statusText);
        QCOMPARE(row.child("directionIcon")->property("symbol").toString(), QStringLiteral("arrow.down.circle"));
        QCOMPARE(row.child("directionIcon")->property("tint").toString(), tint);
        QCOMPARE(row.buttons(), buttons);
        QCOMPARE(row.child<ElidedLabel>("fileName")->fullText(), QStringLiteral("holiday.mp4"));
        QCOMPARE(row.text("byteCount"), QStringLiteral("1.5 MB / 3 MB"));
        QCOMPARE(row.child<QProgressBar>("progressBar")->value(), 500);
        // Speed and time left only while running; no error line without an error.
        QCOMPARE(row.shows("speedLine"), status == TransferStatus::running);
        QVERIFY(!row.shows("errorMessage"));
    }

    void aRunningTransferShowsSpeedAndTimeLeft()
    {
        // 10 s for 1.5 MB: 150 KB/s, 10 s to go.
        Row row(makeTask(TransferStatus::running, 1'500'000, 3'000'000, TransferDirection::upload));
        QCOMPARE(row.child("directionIcon")->property("symbol").toString(), QStringLiteral("arrow.up.circle"));
        QCOMPARE(row.text("speed"), QStringLiteral("150 KB/s"));
        QCOMPARE(row.text("eta"), QStringLiteral("ETA: 10s"));

        // Nothing measurable yet.
        row.row.setTask(makeTask(TransferStatus::running, 0));
        QCOMPARE(row.text("speed"), QStringLiteral("--"));
        QCOMPARE(row.text("eta"), QStringLiteral("ETA: --"));

        // More copied than the size known at queueing: capped at 100%, both real counts, no
        // estimate.
        row.row.setTask(makeTask(TransferStatus::running, 5'000'000, 3'000'000));
        QCOMPARE(row.text("statusText"), QStringLiteral("100%"));
        QCOMPARE(row.child<QProgressBar>("progressBar")->value(), 1000);
        QCOMPARE(row.text("byteCount"), QStringLiteral("5 MB / 3 MB"));
        QCOMPARE(row.text("eta"), QStringLiteral("ETA: --"));
    }

    void percentageIsTruncatedWholePercent_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("text");
        QTest::newRow("two of three") << qint64(2) << qint64(3) << "66%";
        // 0.29 * 100 is 28.999... in doubles.
        QTest::newRow("29 of 100") << qint64(29) << qint64(100) << "29%";
        QTest::newRow("57 of 100") << qint64(57) << qint64(100) << "57%";
        QTest::newRow("unknown size") << qint64(10) << qint64(0) << "0%";
        QTest::newRow("all of it") << qint64(100) << qint64(100) << "100%";
        QTest::newRow("huge") << qint64(4'611'686'018'427'387'903) << qint64(9'223'372'036'854'775'806) << "50%";
    }

    void percentageIsTruncatedWholePercent()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(QString, text);
        QCOMPARE(TransferRow::percentageText(makeTask(TransferStatus::running, done, total)), text);
    }

    void aFailureShowsItsMessageUntilRetried()
    {
        TransferTask failed = makeTask(TransferStatus::failed, 0);
        failed.errorMessage =
            QStringLiteral("The file “holiday.mp4” couldn’t be written: No space left on device. ").repeated(4);
        Row row(failed);
        QVERIFY(row.shows("errorMessage"));
        auto* error = row.child<ElidedLabel>("errorMessage");
        QCOMPARE(error->fullText(), *failed.errorMessage);
        QCOMPARE(error->property("tint").toString(), QStringLiteral("red"));
        const QStringList lines = error->shownLines(error->contentsRect().width());
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.last().endsWith(QStringLiteral("…")));

        TransferTask retried = failed;
        retried.status = TransferStatus::pending;
        retried.errorMessage.reset();
        row.row.setTask(retried);
        QVERIFY(!row.shows("errorMessage"));
        QCOMPARE(row.text("statusText"), QStringLiteral("Queued"));
        QCOMPARE(row.child<QProgressBar>("progressBar")->value(), 0);
    }

    void aLongNameKeepsOneLineAndTheStatusInPlace()
    {
        TransferTask task = makeTask(TransferStatus::paused, 10);
        task.sourceURL = QUrl::fromLocalFile(
            QStringLiteral("/mnt/") + QStringLiteral("very long file name ").repeated(20) + QStringLiteral(".mov"));
        Row row(task);
        QVERIFY(QTest::qWaitForWindowExposed(&row.row));
        auto* name = row.child<ElidedLabel>("fileName");
        QCOMPARE(name->shownLines(name->contentsRect().width()).size(), 1);
        QVERIFY(name->shownLines(name->contentsRect().width()).first().contains(QStringLiteral("…")));
        // Status and buttons keep the trailing edge.
        auto* cancel = row.child<QToolButton>("cancelButton");
        QVERIFY(cancel->geometry().right() <= row.row.width() - 12);
        QVERIFY(cancel->geometry().right() >= row.row.width() - 14);
        QVERIFY(name->geometry().right() < row.child("statusText")->geometry().left());
        QCOMPARE(row.child<QLabel>("statusText")->text(), QStringLiteral("Paused"));
    }

    void theListDelegateDrawsRowsAndForwardsClicksForTheirTask()
    {
        QList<std::pair<QString, QUuid>> calls;
        const auto record = [&calls](const char* name) {
            return [&calls, name](const QUuid& id) { calls.append({QString::fromLatin1(name), id}); };
        };
        TransferQueueModel model;
        const QList<TransferTask> tasks{makeTask(TransferStatus::pending), makeTask(TransferStatus::running, 1000),
            makeTask(TransferStatus::failed)};
        model.setTasks(tasks);
        QListView list;
        TransferRowDelegate delegate({record("cancel"), record("pause"), record("resume"), record("retry")},
            [] { return now; });
        list.setItemDelegate(&delegate);
        delegate.attach(&list);
        list.setModel(&model);
        list.resize(500, 300);
        delegate.setRowWidth(list.viewport()->width());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));

        // The running row is taller: it has the speed line. One row widget draws both, each at its
        // own height (the taller one drawn last must not hold the next one up).
        const QRect pendingRect = list.visualRect(model.index(0));
        const QRect runningRect = list.visualRect(model.index(1));
        QVERIFY(runningRect.height() > pendingRect.height());
        QCOMPARE(delegate.rowFor(model.index(1), runningRect.size())->size(), runningRect.size());
        QCOMPARE(delegate.rowFor(model.index(0), pendingRect.size())->size(), pendingRect.size());

        const auto click = [&](int row, const char* button) {
            const QRect rect = list.visualRect(model.index(row));
            TransferRow* drawn = delegate.rowFor(model.index(row), rect.size());
            const QPoint at = rect.topLeft()
                + drawn->findChild<QWidget*>(QString::fromLatin1(button))->geometry().center();
            QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        };
        click(1, "pauseButton");
        click(2, "retryButton");
        click(2, "cancelButton");
        QCOMPARE(calls,
            (QList<std::pair<QString, QUuid>>{{"pause", tasks.at(1).id}, {"retry", tasks.at(2).id},
                {"cancel", tasks.at(2).id}}));
        // A click beside the buttons does nothing.
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.visualRect(model.index(1)).center());
        QCOMPARE(calls.size(), 3);

        // The row drawn is the row's task: a status change that adds a line makes the row taller.
        const int pendingHeight = list.visualRect(model.index(0)).height();
        QList<TransferTask> next = tasks;
        next[0].status = TransferStatus::running;
        model.setTasks(next);
        delegate.noteTaskChanged(model.index(0));
        QTRY_VERIFY(list.visualRect(model.index(0)).height() > pendingHeight);
    }

    void rowButtonsActOnlyWhenPressedAndReleasedOnThem()
    {
        DelegateList env({makeTask(TransferStatus::running, 1000), makeTask(TransferStatus::failed)});
        QWidget* viewport = env.list.viewport();
        const QPoint blank = env.list.visualRect(env.model.index(0)).center();

        // Pressed on a button, released beside it: nothing.
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, env.at(0, "pauseButton"));
        QTest::mouseMove(viewport, blank);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, blank);
        // Pressed beside the buttons, released on one: nothing.
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, blank);
        QTest::mouseMove(viewport, env.at(1, "cancelButton"));
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, env.at(1, "cancelButton"));
        // Pressed on one row's button, released on the same button of another row: nothing.
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, env.at(0, "cancelButton"));
        QTest::mouseMove(viewport, env.at(1, "cancelButton"));
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, env.at(1, "cancelButton"));
        QCOMPARE(env.calls, (QList<std::pair<QString, QUuid>>{}));

        // Pause pressed as the transfer fails: Retry takes its place under the mouse, and the
        // release retries nothing.
        const QPoint pause = env.at(0, "pauseButton");
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, pause);
        QList<TransferTask> next = env.tasks;
        next[0].status = TransferStatus::failed;
        next[0].errorMessage = QStringLiteral("The share went away.");
        env.publish(next);
        QCOMPARE(env.at(0, "retryButton"), pause);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, pause);
        QCOMPARE(env.calls, (QList<std::pair<QString, QUuid>>{}));

        // A click, and a double click (two clicks), on the button itself.
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, pause);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, env.at(1, "retryButton"));
        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, env.at(1, "retryButton"));
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, env.at(1, "retryButton"));
        QCOMPARE(env.calls,
            (QList<std::pair<QString, QUuid>>{{"retry", env.tasks.at(0).id}, {"retry", env.tasks.at(1).id},
                {"retry", env.tasks.at(1).id}}));
    }

    void rowButtonsShowHoverAndPressedLooks()
    {
        DelegateList env({makeTask(TransferStatus::running, 1000)});
        QWidget* viewport = env.list.viewport();
        const QPoint pause = env.at(0, "pauseButton");
        const QRect area(pause - QPoint(8, 8), QSize(16, 16));
        const QPoint blank = env.list.visualRect(env.model.index(0)).center();
        const auto look = [&] { return viewport->grab(area).toImage(); };

        env.hover(blank);
        const QImage plain = look();
        env.hover(pause);
        const QImage hovered = look();
        QVERIFY(hovered != plain);
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, pause);
        const QImage pressed = look();
        QVERIFY(pressed != hovered && pressed != plain);
        // Dragged off while pressed: neither pressed nor hovered; back on it: pressed again.
        QTest::mouseMove(viewport, blank);
        QCOMPARE(look(), plain);
        QTest::mouseMove(viewport, pause);
        QCOMPARE(look(), pressed);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, pause);
        QCOMPARE(look(), hovered);
        QCOMPARE(env.calls.size(), 1);
        // On to where no row is: no hover left behind.
        env.hover(QPoint(10, viewport->height() - 5));
        QCOMPARE(look(), plain);
    }
};

VANTREL_TEST_MAIN(TestTransferRow)
#include "tst_TransferRow.moc"
