#include "support/RecordingWorkspace.h"
#include "support/TestMain.h"

#include "views/browser/FileListView.h"

#include <QAction>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTableView>

#include <memory>

using namespace vantrel;

namespace {

const QDateTime now = QDateTime(QDate(2025, 3, 14), QTime(12, 0), Qt::UTC);

FileItem entry(const QString& name, qint64 size = 100, bool isDirectory = false, qint64 secondsAgo = 120)
{
    FileItem item;
    item.url = QUrl::fromLocalFile(QStringLiteral("/mnt/media/") + name);
    item.name = name;
    item.size = isDirectory ? -1 : size;
    item.isDirectory = isDirectory;
    item.modificationDate = now.addSecs(-secondsAgo);
    return item;
}

// The same entries as a new listing makes them: equal in everything but their ids.
QList<FileItem> relisted(const QList<FileItem>& items)
{
    QList<FileItem> copy;
    for (FileItem item : items) {
        item.id = QUuid::createUuid();
        copy.append(item);
    }
    return copy;
}

QList<FileItem> sample()
{
    return {entry("Films", 0, true), entry("a.txt", 2048), entry("b.pdf", 5'300'000), entry("c.mp3", 7),
        entry("d.bin", -1)};
}

QString cell(const FileListView& view, int row, int column)
{
    return view.model()->index(row, column).data().toString();
}

QSet<QUuid> ids(const QList<FileItem>& items, std::initializer_list<int> rows)
{
    QSet<QUuid> result;
    for (int row : rows)
        result.insert(items.at(row).id);
    return result;
}

std::unique_ptr<QMimeData> mime(const QList<QUrl>& urls, const QString& text = {})
{
    auto data = std::make_unique<QMimeData>();
    if (!urls.isEmpty())
        data->setUrls(urls);
    if (!text.isEmpty())
        data->setText(text);
    return data;
}

// Drags the data onto the widget and drops it there, as the desktop would; whether the drop was
// taken.
bool dragAndDrop(QWidget* target, const QMimeData* data)
{
    const QPoint at(target->width() / 2, target->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

struct Env {
    test::RecordingWorkspace workspace;
    FileListView view{workspace};
    QSignalSpy opened{&view, &FileListView::openRequested};
    QSignalSpy selected{&view, &FileListView::selectionChanged};
    QSignalSpy dropped{&view, &FileListView::filesDropped};

    Env()
    {
        view.model()->setClock([] { return now; });
        view.resize(600, 400);
    }
    // Lists the entries and shows the table; whether it came up on the screen.
    bool showItems(const QList<FileItem>& items)
    {
        view.setItems(items);
        view.show();
        return QTest::qWaitForWindowExposed(&view);
    }
    FileItem openedItem(int i) const { return opened.at(i).at(0).value<FileItem>(); }
    QSet<QUuid> lastSelection() const { return selected.last().at(0).value<QSet<QUuid>>(); }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTableView* table = view.table();
        const QRect rect = table->visualRect(view.model()->index(row, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, rect.center());
    }
};

} // namespace

class TestFileListView : public QObject {
    Q_OBJECT

private slots:
    void showsLoadingEmptyOrTheTable()
    {
        Env env;
        env.view.setLoading(true);
        QCOMPARE(env.view.state(), FileListView::State::loading);
        QVERIFY(env.view.findChild<QWidget*>(QStringLiteral("loadingPage"))->isVisibleTo(&env.view));
        env.view.setLoading(false);
        QCOMPARE(env.view.state(), FileListView::State::empty);
        QVERIFY(env.view.findChild<QWidget*>(QStringLiteral("emptyPage"))->isVisibleTo(&env.view));
        QCOMPARE(env.view.findChild<QLabel*>(QStringLiteral("emptyTitle"))->text(), QStringLiteral("Empty Folder"));
        QCOMPARE(env.view.findChild<QLabel*>(QStringLiteral("emptyHint"))->text(),
            QStringLiteral("Drag files here to upload"));
        QCOMPARE(env.view.findChild<QLabel*>(QStringLiteral("emptySymbol"))->property("symbol").toString(),
            QStringLiteral("folder"));

        env.view.setItems(sample());
        QCOMPARE(env.view.state(), FileListView::State::table);
        // A listing in progress over a folder that shows entries keeps them on screen.
        env.view.setLoading(true);
        QCOMPARE(env.view.state(), FileListView::State::table);
        QVERIFY(env.view.table()->isVisibleTo(&env.view));
        env.view.setItems({});
        QCOMPARE(env.view.state(), FileListView::State::loading);
    }

    void columnsShowNameSizeAndAgeAsTheyAre()
    {
        Env env;
        env.view.setItems(sample());
        FileListModel* model = env.view.model();

        QCOMPARE(cell(env.view, 0, 0), QStringLiteral("Films"));
        QCOMPARE(cell(env.view, 0, 1), QStringLiteral("--")); // a folder has no size
        QCOMPARE(cell(env.view, 1, 1), QStringLiteral("2 KB"));
        QCOMPARE(cell(env.view, 2, 1), QStringLiteral("5.3 MB"));
        QCOMPARE(cell(env.view, 3, 1), QStringLiteral("7 bytes"));
        QCOMPARE(cell(env.view, 4, 1), QStringLiteral("--")); // unreadable size
        QCOMPARE(cell(env.view, 1, 2), QStringLiteral("2 min. ago"));

        QCOMPARE(model->index(0, 0).data(FileListModel::SymbolRole).toString(), QStringLiteral("folder"));
        QCOMPARE(model->index(0, 0).data(FileListModel::TintRole).toString(), QStringLiteral("accent"));
        QCOMPARE(model->index(2, 0).data(FileListModel::SymbolRole).toString(), QStringLiteral("doc.text"));
        QCOMPARE(model->index(3, 0).data(FileListModel::SymbolRole).toString(), QStringLiteral("music.note"));
        QCOMPARE(model->index(3, 0).data(FileListModel::TintRole).toString(), QStringLiteral("secondary"));
        QVERIFY(!model->index(1, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(model->index(1, 1).data(FileListModel::TintRole).toString(), QStringLiteral("secondary"));

        // The dates are relative to the moment they are drawn.
        QDateTime later = now.addDays(3);
        model->setClock([&later] { return later; });
        QCOMPARE(cell(env.view, 1, 2), QStringLiteral("3 days ago"));
    }

    void aListingIsMergedIntoTheRowsNotReset()
    {
        Env env;
        FileListModel* model = env.view.model();
        env.view.setItems(sample());
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        QSignalSpy layout(model, &QAbstractItemModel::layoutChanged);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);

        // Nothing changed but the ids: nothing is announced, and the rows carry the new ids.
        QList<FileItem> again = relisted(sample());
        env.view.setItems(again);
        QCOMPARE(reset.size() + layout.size() + inserted.size() + removed.size() + changed.size(), 0);
        QCOMPARE(model->index(2, 0).data(FileListModel::IdRole).toUuid(), again.at(2).id);

        // One file grew: that row alone.
        again = relisted(again);
        again[2].size = 9'000'000;
        env.view.setItems(again);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 2);
        QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 2);

        // One entry gone, two new ones, in the listing's order.
        QList<FileItem> next = relisted(again);
        next.removeAt(1);
        next.insert(1, entry("aa.txt"));
        next.append(entry("z.txt"));
        env.view.setItems(next);
        QCOMPARE(removed.size(), 1);
        QCOMPARE(inserted.size(), 2);
        QCOMPARE(reset.size(), 0);
        QStringList names;
        for (int row = 0; row < model->rowCount(); ++row)
            names << cell(env.view, row, 0);
        QCOMPARE(names, (QStringList{"Films", "aa.txt", "b.pdf", "c.mp3", "d.bin", "z.txt"}));

        // An entry that moved (a folder that turned into a file) takes its new place without a
        // reset, and persistent indexes follow it.
        const QPersistentModelIndex films(model->index(0, 0));
        next = relisted(next);
        FileItem moved = next.takeFirst();
        moved.isDirectory = false;
        next.insert(3, moved);
        env.view.setItems(next);
        QCOMPARE(reset.size(), 0);
        QCOMPARE(layout.size(), 1);
        QCOMPARE(films.row(), 3);
        QCOMPARE(cell(env.view, 3, 0), QStringLiteral("Films"));
    }

    void selectionIsReportedWholeAndSurvivesAListing()
    {
        Env env;
        QList<FileItem> items = sample();
        QVERIFY(env.showItems(items));

        env.clickRow(1);
        env.clickRow(2, Qt::ControlModifier);
        env.clickRow(4, Qt::ControlModifier);
        QCOMPARE(env.lastSelection(), ids(items, {1, 2, 4}));
        QCOMPARE(env.view.selection(), ids(items, {1, 2, 4}));

        // The next listing gives the same entries new ids: the rows stay selected and the host
        // hears the new ids once.
        const qsizetype reports = env.selected.size();
        items = relisted(items);
        env.view.setItems(items);
        QCOMPARE(env.selected.size(), reports + 1);
        QCOMPARE(env.lastSelection(), ids(items, {1, 2, 4}));
        QCOMPARE(env.view.table()->selectionModel()->selectedRows().size(), 3);

        // A selected entry that is gone leaves the selection; the rest stays.
        items.removeAt(2);
        env.view.setItems(items);
        QCOMPARE(env.selected.size(), reports + 2);
        QCOMPARE(env.lastSelection(), ids(items, {1, 3}));
    }

    void doubleClickOpensTheOneEntryClicked()
    {
        Env env;
        const QList<FileItem> items = sample();
        QVERIFY(env.showItems(items));
        env.clickRow(1);
        env.clickRow(2, Qt::ControlModifier);
        env.clickRow(3, Qt::ControlModifier);
        QCOMPARE(env.view.selection().size(), 3);

        // A double-click as the desktop delivers it: press, release, double-click, release.
        QTableView* table = env.view.table();
        const QPoint at = table->visualRect(env.view.model()->index(2, 0)).center();
        QTest::mousePress(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(env.opened.size(), 1);
        QCOMPARE(env.openedItem(0).url, items.at(2).url);

        // Below the last row there is nothing to open.
        const QPoint below(10, table->viewport()->height() - 5);
        QTest::mousePress(table->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QCOMPARE(env.opened.size(), 1);
    }

    void contextMenuActsOnTheRowClickedNotOnTheSelection()
    {
        Env env;
        const QList<FileItem> items = sample();
        QVERIFY(env.showItems(items));
        env.clickRow(1);

        QTableView* table = env.view.table();
        emit table->customContextMenuRequested(table->visualRect(env.view.model()->index(3, 1)).center());
        QMenu* menu = env.view.findChild<QMenu*>(QStringLiteral("fileContextMenu"));
        QVERIFY(menu);
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
        QCOMPARE(texts, (QStringList{"Open", "--", "Show in Finder"}));
        menu->findChild<QAction*>(QStringLiteral("open"))->trigger();
        QCOMPARE(env.opened.size(), 1);
        QCOMPARE(env.openedItem(0).url, items.at(3).url);
        menu->findChild<QAction*>(QStringLiteral("showInFinder"))->trigger();
        QCOMPARE(env.workspace.selected, QList<QUrl>{items.at(3).url});
        // The selection is the user's, untouched.
        QCOMPARE(env.view.selection(), ids(items, {1}));
        menu->close();

        // Outside the rows there is no menu.
        delete menu;
        emit table->customContextMenuRequested(QPoint(10, table->viewport()->height() - 5));
        QVERIFY(!env.view.findChild<QMenu*>(QStringLiteral("fileContextMenu")));
    }

    void dropsTakeFileUrlsOnly()
    {
        Env env;
        env.view.setItems(sample());
        const QUrl a = QUrl::fromLocalFile(QStringLiteral("/home/u/a.txt"));
        const QUrl b = QUrl::fromLocalFile(QStringLiteral("/home/u/b.txt"));

        // Two files, a web address and a piece of text: one call with the two files.
        auto mixed = mime({a, QUrl(QStringLiteral("https://example.com/x")), b}, QStringLiteral("some text"));
        QVERIFY(dragAndDrop(env.view.table()->viewport(), mixed.get()));
        QCOMPARE(env.dropped.size(), 1);
        QCOMPARE(env.dropped.at(0).at(0).value<QList<QUrl>>(), (QList<QUrl>{a, b}));

        // Only text: refused.
        auto text = mime({}, QStringLiteral("just text"));
        QVERIFY(!dragAndDrop(env.view.table()->viewport(), text.get()));
        env.view.setItems({});
        QCOMPARE(env.view.state(), FileListView::State::empty);
        QWidget* emptyPage = env.view.findChild<QWidget*>(QStringLiteral("emptyPage"));
        QVERIFY(!dragAndDrop(emptyPage, text.get()));
        QCOMPARE(env.dropped.size(), 1);

        // The empty folder takes files.
        auto one = mime({a});
        QVERIFY(dragAndDrop(emptyPage, one.get()));
        QCOMPARE(env.dropped.size(), 2);

        // Not while the folder is being listed for the first time.
        env.view.setLoading(true);
        QCOMPARE(env.view.state(), FileListView::State::loading);
        QVERIFY(!env.view.canAccept(one.get()));
        QVERIFY(!env.view.findChild<QWidget*>(QStringLiteral("loadingPage"))->acceptDrops());
        QVERIFY(!env.view.acceptDrop(one.get()));
        QCOMPARE(env.dropped.size(), 2);
    }
};

VANTREL_TEST_MAIN(TestFileListView)
#include "tst_FileListView.moc"
