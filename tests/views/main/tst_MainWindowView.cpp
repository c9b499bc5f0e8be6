#include "support/TestMain.h"
#include "support/gui/ViewFixture.h"

#include "mounting/AutoMountStrategy.h"
#include "mounting/MountEngine.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "platform/PowerEvents.h"
#include "services/KeychainManager.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "views/main/NASDetailView.h"
#include "views/main/ShareListModel.h"
#include "views/main/ShareRowDelegate.h"
#include "views/main/StatusIndicator.h"
#include "views/widgets/ElidedLabel.h"
#include "views/widgets/Theme.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

using namespace vantrel;

namespace {

// The view on the fixture's managers, shown offscreen, with every window it opens recorded.
struct View {
    explicit View(test::ViewFixture& fx)
        : view(fx.appState, fx.configStore, [this](const QString& id) { openedWindows.append(id); },
            {&fx.network.monitor, &fx.workspace, &fx.mounts, &fx.engine, &fx.keychain})
    {
        view.resize(800, 500);
        view.show();
    }

    ShareListModel& model() { return *view.shareModel(); }
    QModelIndex index(const QUuid& id) { return model().index(model().row(id)); }
    QVariant data(const QUuid& id, int role) { return index(id).data(role); }
    QStringList names()
    {
        QStringList result;
        for (int row = 0; row < model().rowCount(); ++row)
            result << model().index(row).data().toString();
        return result;
    }
    void triggerDelete(const QUuid& id)
    {
        std::unique_ptr<QMenu> menu(view.makeContextMenu(id));
        QAction* remove = menu->findChild<QAction*>(QStringLiteral("delete"));
        QVERIFY(remove);
        remove->trigger();
        QCoreApplication::processEvents();
    }

    // Picks the share with a click and types into its editor's name field, as the user does.
    NASDetailView* openWithTyping(const QUuid& id, const QString& typed)
    {
        QTest::mouseClick(view.shareList()->viewport(), Qt::LeftButton, {},
            view.shareList()->visualRect(index(id)).center());
        auto* editor = qobject_cast<NASDetailView*>(view.currentDetail());
        if (!editor)
            return nullptr;
        auto* name = editor->findChild<QLineEdit*>(QStringLiteral("nameField"));
        name->setFocus();
        name->end(false);
        QTest::keyClicks(name, typed);
        return editor;
    }
    // A right press on the row, through the window as the desktop delivers it (which is what
    // turns it into a context-menu request); returns the menu it opened.
    QMenu* rightPress(const QUuid& id)
    {
        QWidget* viewport = view.shareList()->viewport();
        QWindow* window = view.window()->windowHandle();
        const QPoint position = viewport->mapTo(view.window(), view.shareList()->visualRect(index(id)).center());
        QTest::mousePress(window, Qt::RightButton, {}, position);
        QTest::mouseRelease(window, Qt::RightButton, {}, position);
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    }
    QRect linkRect(const QUuid& id)
    {
        QStyleOptionViewItem option;
        option.rect = view.shareList()->visualRect(index(id));
        return ShareRowDelegate::layout(option, index(id)).link;
    }

    QStringList openedWindows;
    MainWindowView view;
};

// The automatic mounting on the fixture's store, with an engine on the stand-in tools.
struct Mounting {
    explicit Mounting(test::ViewFixture& fx)
        : engine{test::standInTools(), fx.dir.filePath(QStringLiteral("Volumes")), fileSystem, fx.keychain}
        , preferences{fx.defaults}
        , notifications{center, preferences, fx.log}
        , strategy{fx.configStore, fx.appState, fx.network.monitor, engine, notifications, fx.defaults, power}
    {
    }

    test::FakeFileSystem fileSystem;
    MountEngine engine;
    NotificationPreferences preferences;
    NotificationCenter center{QDBusConnection::sessionBus()};
    NotificationService notifications;
    PowerEvents power{QDBusConnection(QStringLiteral("vantrel-no-bus"))};
    AutoMountStrategy strategy;
};

NASConfig bound(const QString& name, NetworkBindingStrategy strategy, const QString& ipRange, const QStringList& ssids,
    bool enabled = true)
{
    NASConfig config;
    config.name = name;
    config.address = QStringLiteral("nas.local");
    config.sharePath = QStringLiteral("share");
    config.authMethod = AuthMethod::guest;
    config.isEnabled = enabled;
    config.networkBinding = {strategy, ipRange, ssids};
    return config;
}

QModelIndex rowIndex(MainWindowView& view, const QUuid& id)
{
    return view.shareModel()->index(view.shareModel()->row(id));
}

QUrl folder(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

} // namespace

class TestMainWindowView : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        // About windows are kept when closed; each test starts without one.
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->windowTitle() == AboutView::windowTitle())
                delete window;
        }
    }

    void theHintShowsWhileThereIsNoShare()
    {
        test::ViewFixture fx;
        View v(fx);
        QWidget* hint = v.view.emptyHint();
        QVERIFY(hint->isVisible());
        QCOMPARE(hint->findChild<QLabel*>(QStringLiteral("symbol"))->property("symbol").toString(),
            QStringLiteral("externaldrive.badge.plus"));
        QCOMPARE(hint->findChild<QLabel*>(QStringLiteral("hintText"))->text(), QStringLiteral("暂无 NAS 配置"));
        QCOMPARE(v.view.findChild<QLabel*>(QStringLiteral("listHeader"))->text(), QStringLiteral("NAS 列表"));

        const NASConfig first = fx.addShare(QStringLiteral("First"));
        QVERIFY(!hint->isVisible());
        fx.configStore.deleteConfig(first.id);
        QVERIFY(hint->isVisible());
    }

    void rowsFollowTheStoreInPlace()
    {
        test::ViewFixture fx;
        const NASConfig a = fx.addShare(QStringLiteral("A"));
        View v(fx);
        QSignalSpy resets(&v.model(), &QAbstractItemModel::modelReset);
        QSignalSpy inserted(&v.model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&v.model(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&v.model(), &QAbstractItemModel::dataChanged);

        const NASConfig b = fx.addShare(QStringLiteral("B"));
        const NASConfig c = fx.addShare(QStringLiteral("C"));
        QCOMPARE(v.names(), (QStringList{"A", "B", "C"}));
        QCOMPARE(inserted.size(), 2);
        QCOMPARE(inserted.at(1).at(1).toInt(), 2);

        // A republish that changes nothing touches no row.
        changed.clear();
        fx.appState.updateStatus(b.id, MountState::idle());
        fx.configStore.updateConfig(b);
        QCOMPARE(changed.size(), 0);

        NASConfig renamed = b;
        renamed.name = QStringLiteral("B2");
        fx.configStore.updateConfig(renamed);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), 1);
        fx.setState(c, MountState::mounting());
        QCOMPARE(changed.size(), 2);
        QCOMPARE(changed.last().at(0).toModelIndex().row(), 2);

        fx.configStore.deleteConfig(a.id);
        QCOMPARE(v.names(), (QStringList{"B2", "C"}));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed.first().at(1).toInt(), 0);
        QCOMPARE(resets.size(), 0);
    }

    void theSecondLineIsTheLinkOnlyWhileMounted()
    {
        test::ViewFixture fx;
        const NASConfig share = fx.addShare(QStringLiteral("Media"), QStringLiteral("10.0.0.7"));
        View v(fx);
        const auto second = [&] {
            const QUrl link = v.data(share.id, ShareListModel::LinkRole).toUrl();
            return link.isValid()
                ? QStringLiteral("link:") + v.data(share.id, ShareListModel::LinkTextRole).toString()
                : QStringLiteral("address:") + v.data(share.id, ShareListModel::AddressRole).toString();
        };
        const QUrl mountPoint = folder(QStringLiteral("/home/alice/VantrelVolumes/media"));

        fx.appState.removeStatus(share.id); // no status at all: idle and the address
        QCOMPARE(second(), QStringLiteral("address:10.0.0.7"));
        QCOMPARE(v.data(share.id, ShareListModel::MountStateRole).value<MountState>(), MountState::idle());
        fx.setState(share, MountState::mounted(), mountPoint);
        QCOMPARE(second(), QStringLiteral("link:media")); // the folder's own name, not the path
        fx.setState(share, MountState::mounted(), std::nullopt);
        QCOMPARE(second(), QStringLiteral("address:10.0.0.7"));
        fx.setState(share, MountState::unmounting(), mountPoint);
        QCOMPARE(second(), QStringLiteral("address:10.0.0.7"));

        // Clicking the link opens the mount point.
        fx.setState(share, MountState::mounted(), mountPoint);
        const QModelIndex index = v.index(share.id);
        QStyleOptionViewItem option;
        option.rect = v.view.shareList()->visualRect(index);
        const ShareRowDelegate::Layout parts = ShareRowDelegate::layout(option, index);
        QVERIFY(!parts.link.isEmpty());
        QTest::mouseClick(v.view.shareList()->viewport(), Qt::LeftButton, {}, parts.link.center());
        QCOMPARE(fx.workspace.opened, QList<QUrl>{mountPoint});
        // The address is no link.
        fx.setState(share, MountState::idle());
        QTest::mouseClick(v.view.shareList()->viewport(), Qt::LeftButton, {}, parts.link.center());
        QCOMPARE(fx.workspace.opened.size(), 1);
    }

    void aSelectedRowKeepsItsBadgeColourAndAReadableLink()
    {
        test::ViewFixture fx;
        const NASConfig media = fx.addShare(
            bound(QStringLiteral("Media"), NetworkBindingStrategy::ipRange, QStringLiteral("192.168.1.0/24"), {}));
        const NASConfig other = fx.addShare(
            bound(QStringLiteral("Other"), NetworkBindingStrategy::ipRange, QStringLiteral("10.0.0.0/8"), {}));
        fx.setState(media, MountState::mounted(), folder(QStringLiteral("/home/alice/VantrelVolumes/media")));
        View v(fx);
        fx.network.publish(QStringLiteral("192.168.1.20"), std::nullopt);
        QListView* list = v.view.shareList();
        // Some pixels of the area are (nearly) the colour: the symbol and the text are drawn in it.
        const auto shows = [&](const QRect& area, const QColor& colour) {
            const QImage image = list->viewport()->grab().toImage();
            int matching = 0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    matching += std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green())
                            + std::abs(pixel.blue() - colour.blue())
                        < 60;
                }
            }
            return matching >= 3;
        };
        const auto parts = [&](const QUuid& id) {
            QStyleOptionViewItem option;
            option.rect = list->visualRect(v.index(id));
            return ShareRowDelegate::layout(option, v.index(id));
        };
        const QPalette palette = list->palette();
        const QColor green = Theme::color(Theme::Color::green, palette);
        const QColor orange = Theme::color(Theme::Color::orange, palette);

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
            list->visualRect(v.index(media.id)).topRight() + QPoint(-10, 10));
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(media.id));
        QVERIFY(shows(parts(media.id).badge, green));
        // The link is drawn in the selection's text colour, which reads on the highlight.
        QVERIFY(shows(parts(media.id).link, palette.color(QPalette::Active, QPalette::HighlightedText)));
        QVERIFY(shows(parts(other.id).badge, orange));
    }

    void theBadgeFollowsTheBindingAndTheNetwork_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QString>("ipRange");
        QTest::addColumn<QStringList>("ssids");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("ssid");
        QTest::addColumn<QString>("badge");

        const int ip = int(NetworkBindingStrategy::ipRange);
        const int wifi = int(NetworkBindingStrategy::ssid);
        const int both = int(NetworkBindingStrategy::combined);
        const QString home = QStringLiteral("192.168.1.0/24");
        const QStringList office{QStringLiteral("Office")};
        QTest::newRow("ip in range") << ip << home << QStringList() << "192.168.1.20"
                                     << ""
                                     << "Network matched";
        QTest::newRow("ip outside") << ip << home << office << "10.0.0.2"
                                    << "Office"
                                    << "IP mismatch";
        QTest::newRow("ip empty binding") << ip << "" << QStringList() << "192.168.1.20"
                                          << "Office"
                                          << "IP mismatch";
        QTest::newRow("ssid in list") << wifi << "" << office << ""
                                      << "Office"
                                      << "Network matched";
        QTest::newRow("ssid outside, ip in range") << wifi << home << office << "192.168.1.20"
                                                   << "Cafe"
                                                   << "SSID mismatch";
        QTest::newRow("ssid empty binding") << wifi << "" << QStringList() << "192.168.1.20"
                                            << "Office"
                                            << "SSID mismatch";
        QTest::newRow("combined both") << both << home << office << "192.168.1.20"
                                       << "Office"
                                       << "Network matched";
        QTest::newRow("combined no wifi known") << both << home << office << "192.168.1.20"
                                                << ""
                                                << "SSID mismatch";
        QTest::newRow("combined ip outside") << both << home << office << "10.0.0.2"
                                             << "Office"
                                             << "IP mismatch";
        QTest::newRow("combined neither") << both << home << office << "10.0.0.2"
                                          << "Cafe"
                                          << "Network mismatch";
        QTest::newRow("combined empty binding") << both << "" << QStringList() << "192.168.1.20"
                                                << "Office"
                                                << "Network mismatch";
    }

    void theBadgeFollowsTheBindingAndTheNetwork()
    {
        QFETCH(int, strategy);
        QFETCH(QString, ipRange);
        QFETCH(QStringList, ssids);
        QFETCH(QString, address);
        QFETCH(QString, ssid);
        QFETCH(QString, badge);

        test::ViewFixture fx;
        const NASConfig share = fx.addShare(
            bound(QStringLiteral("S"), NetworkBindingStrategy(strategy), ipRange, ssids));
        View v(fx);
        fx.network.publish(address.isEmpty() ? std::nullopt : std::optional<QString>(address),
            ssid.isEmpty() ? std::nullopt : std::optional<QString>(ssid));
        QCOMPARE(v.data(share.id, ShareListModel::BadgeTextRole).toString(), badge);
        const bool matched = badge == QStringLiteral("Network matched");
        QCOMPARE(v.data(share.id, ShareListModel::BadgeMatchedRole).toBool(), matched);
        QCOMPARE(v.data(share.id, ShareListModel::BadgeSymbolRole).toString(),
            matched ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("exclamationmark.triangle.fill"));
    }

    void aDisabledShareShowsNoBadge()
    {
        test::ViewFixture fx;
        const NASConfig share = fx.addShare(
            bound(QStringLiteral("Off"), NetworkBindingStrategy::ipRange, QString(), {}, false));
        View v(fx);
        QVERIFY(!v.data(share.id, ShareListModel::BadgeVisibleRole).toBool());
        QVERIFY(!v.data(share.id, ShareListModel::BadgeTextRole).isValid());
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 200, 60);
        QVERIFY(ShareRowDelegate::layout(option, v.index(share.id)).badge.isEmpty());
    }

    void everyPublishedNetworkValueReevaluatesTheBadges()
    {
        test::ViewFixture fx;
        const NASConfig share = fx.addShare(
            bound(QStringLiteral("S"), NetworkBindingStrategy::ssid, QString(), {"Home"}));
        View v(fx);
        fx.network.publish(QStringLiteral("192.168.1.20"), QStringLiteral("Home"));
        QCOMPARE(v.data(share.id, ShareListModel::BadgeTextRole).toString(), QStringLiteral("Network matched"));

        QSignalSpy changed(&v.model(), &QAbstractItemModel::dataChanged);
        const QUuid before = v.view.networkRefreshID();
        // The same address and Wi-Fi name again: still a new evaluation, once per published value.
        fx.network.publish(QStringLiteral("192.168.1.20"), QStringLiteral("Home"));
        QVERIFY(v.view.networkRefreshID() != before);
        QCOMPARE(changed.size(), 2);
        QVERIFY(changed.first().at(2).value<QList<int>>().contains(ShareListModel::BadgeTextRole));

        fx.network.publish(QStringLiteral("192.168.1.20"), QStringLiteral("Cafe"));
        QCOMPARE(v.data(share.id, ShareListModel::BadgeTextRole).toString(), QStringLiteral("SSID mismatch"));

        // A change of mount state alone is no network change.
        const QUuid afterNetwork = v.view.networkRefreshID();
        fx.setState(share, MountState::mounting());
        QCOMPARE(v.view.networkRefreshID(), afterNetwork);
    }

    void deletingClearsTheSelectionOnlyWhenItWasThatShare()
    {
        test::ViewFixture fx;
        const NASConfig a = fx.addShare(QStringLiteral("A"));
        const NASConfig b = fx.addShare(QStringLiteral("B"));
        const NASConfig c = fx.addShare(QStringLiteral("C"));
        View v(fx);
        // Selected by a click, as the user does.
        QTest::mouseClick(v.view.shareList()->viewport(), Qt::LeftButton, {},
            v.view.shareList()->visualRect(v.index(b.id)).center());
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(b.id));

        std::unique_ptr<QMenu> menu(v.view.makeContextMenu(a.id));
        QAction* remove = menu->findChild<QAction*>(QStringLiteral("delete"));
        QCOMPARE(remove->text(), QStringLiteral("删除"));
        QCOMPARE(remove->property("symbol").toString(), QStringLiteral("trash"));

        v.triggerDelete(a.id);
        QCOMPARE(v.names(), (QStringList{"B", "C"}));
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(b.id));
        QCOMPARE(qobject_cast<NASDetailView*>(v.view.currentDetail())->existingConfig()->id, b.id);

        v.triggerDelete(b.id);
        QCOMPARE(v.names(), QStringList{"C"});
        QCOMPARE(v.view.selectedConfigID(), std::nullopt);
        QCOMPARE(v.view.currentDetail(), v.view.detailPlaceholder());
        QVERIFY(v.view.shareList()->selectionModel()->selectedIndexes().isEmpty());

        // A share that is already gone: nothing changes but the selection rule.
        v.view.setSelectedConfigID(c.id);
        v.view.deleteConfig(b.id);
        QCOMPARE(v.names(), QStringList{"C"});
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(c.id));
    }

    void aRightPressOpensTheMenuAndChangesNothingElse()
    {
        test::ViewFixture fx;
        const NASConfig a = fx.addShare(QStringLiteral("A"));
        const NASConfig b = fx.addShare(QStringLiteral("B"));
        const NASConfig c = fx.addShare(QStringLiteral("C"));
        View v(fx);
        QPointer<NASDetailView> editor = v.openWithTyping(b.id, QStringLiteral(" edited"));

        for (const NASConfig& other : {a, b}) {
            QMenu* menu = v.rightPress(other.id);
            QVERIFY(menu);
            QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(b.id));
            QCOMPARE(v.view.shareList()->currentIndex(), v.index(b.id));
            QCOMPARE(v.view.currentDetail(), editor.data());
            menu->close();
            QTRY_VERIFY(!QApplication::activePopupWidget());
        }
        // A middle press picks nothing either.
        QTest::mouseClick(v.view.shareList()->viewport(), Qt::MiddleButton, {},
            v.view.shareList()->visualRect(v.index(c.id)).center());
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(b.id));

        // Deleting the row under the menu leaves the selection and the typing as they were.
        QMenu* menu = v.rightPress(a.id);
        QAction* remove = menu->findChild<QAction*>(QStringLiteral("delete"));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(remove).center());
        QTRY_COMPARE(v.names(), (QStringList{"B", "C"}));
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(b.id));
        QCOMPARE(v.view.currentDetail(), editor.data());
        QCOMPARE(editor->findChild<QLineEdit*>(QStringLiteral("nameField"))->text(), QStringLiteral("B edited"));
        QCOMPARE(v.view.shareList()->selectionModel()->selectedIndexes(), QModelIndexList{v.index(b.id)});
    }

    void theLinkIsAButtonThatLeavesTheSelectionAlone()
    {
        test::ViewFixture fx;
        const NASConfig media = fx.addShare(QStringLiteral("Media"));
        const NASConfig other = fx.addShare(QStringLiteral("Other"));
        const QUrl mountPoint = folder(QStringLiteral("/home/alice/VantrelVolumes/media"));
        fx.setState(media, MountState::mounted(), mountPoint);
        View v(fx);
        QPointer<NASDetailView> editor = v.openWithTyping(other.id, QStringLiteral(" edited"));
        QWidget* viewport = v.view.shareList()->viewport();
        const QRect link = v.linkRect(media.id);
        QVERIFY(!link.isEmpty());

        QTest::mouseClick(viewport, Qt::LeftButton, {}, link.center());
        QCOMPARE(fx.workspace.opened, QList<QUrl>{mountPoint});
        // Pressed on the link and released beside it: the press was no click of it, nor a pick.
        QTest::mousePress(viewport, Qt::LeftButton, {}, link.center());
        QTest::mouseMove(viewport, link.topRight() + QPoint(30, 0));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, link.topRight() + QPoint(30, 0));
        // A double click on it is two clicks of it, and picks nothing either.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, link.center());
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, link.center());
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, link.center());
        QCOMPARE(fx.workspace.opened.size(), 3);
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(other.id));
        QCOMPARE(v.view.currentDetail(), editor.data());
        QCOMPARE(editor->findChild<QLineEdit*>(QStringLiteral("nameField"))->text(), QStringLiteral("Other edited"));

        // The rest of the row still picks it.
        QTest::mouseClick(viewport, Qt::LeftButton, {},
            v.view.shareList()->visualRect(v.index(media.id)).topRight() + QPoint(-10, 10));
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(media.id));
    }

    void deletingAShareLeavesNothingOfItInTheMounting()
    {
        test::ViewFixture fx;
        Mounting mounting(fx);
        AutoMountStrategy& strategy = mounting.strategy;
        strategy.retryIntervals = {0.2, 0.2, 0.2, 0.2};
        strategy.scheduledMountDelay = 0.2;

        const NASConfig share = fx.addShare(QStringLiteral("Flaky"));
        const NASConfig other = fx.addShare(QStringLiteral("Other"));
        View v(fx);
        fx.setState(share, MountState::failed(VantrelError::mountFailed(QStringLiteral("refused"))));
        strategy.scheduleRetry(share);
        strategy.scheduleMount(share);
        strategy.scheduleRetry(other);
        QVERIFY(strategy.retryCount(share.id));
        QCOMPARE(strategy.pendingMountCount(share.id), 1);

        v.triggerDelete(share.id);
        QVERIFY(!strategy.retryCount(share.id));
        QVERIFY(!strategy.retryTimerInterval(share.id));
        QCOMPARE(strategy.pendingMountCount(share.id), 0);
        QVERIFY(!fx.appState.status(share.id));
        // Past the moments the retry and the scheduled mount would have fired: still nothing.
        QTest::qWait(400);
        QVERIFY(!fx.appState.status(share.id));
        QCOMPARE(v.model().row(share.id), -1);
        // The other share keeps its retry.
        QVERIFY(strategy.retryCount(other.id));
    }

    void rowsNeverShowAStaleBindingOrLink()
    {
        test::ViewFixture fx;
        NASConfig share = fx.addShare(
            bound(QStringLiteral("S"), NetworkBindingStrategy::ipRange, "192.168.1.0/24", {}));
        View v(fx);
        fx.network.publish(QStringLiteral("192.168.1.20"), std::nullopt);
        QCOMPARE(v.data(share.id, ShareListModel::BadgeTextRole).toString(), QStringLiteral("Network matched"));

        // An edit of the binding shows at once, without waiting for a network change.
        share.networkBinding.strategy = NetworkBindingStrategy::ssid;
        share.networkBinding.ssidList = {QStringLiteral("Home")};
        QSignalSpy changed(&v.model(), &QAbstractItemModel::dataChanged);
        fx.configStore.updateConfig(share);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(v.data(share.id, ShareListModel::BadgeTextRole).toString(), QStringLiteral("SSID mismatch"));
        share.isEnabled = false;
        fx.configStore.updateConfig(share);
        QVERIFY(!v.data(share.id, ShareListModel::BadgeVisibleRole).toBool());

        // A mounted share that fails loses its link; a deleted one leaves no row behind.
        fx.setState(share, MountState::mounted(), folder(QStringLiteral("/mnt/s")));
        QVERIFY(v.data(share.id, ShareListModel::LinkRole).toUrl().isValid());
        fx.setState(share, MountState::failed(VantrelError::unmountFailed(QStringLiteral("busy"))),
            folder(QStringLiteral("/mnt/s")));
        QVERIFY(!v.data(share.id, ShareListModel::LinkRole).toUrl().isValid());
        fx.setState(share, MountState::mounted(), folder(QStringLiteral("/mnt/s")));
        fx.configStore.deleteConfig(share.id);
        const NASConfig next = fx.addShare(QStringLiteral("S"));
        QCOMPARE(v.model().rowCount(), 1);
        QVERIFY(!v.data(next.id, ShareListModel::LinkRole).toUrl().isValid());
        QCOMPARE(v.data(next.id, ShareListModel::MountStateRole).value<MountState>(), MountState::idle());
    }

    void theDetailColumnShowsTheEditorTheMountedFoldersOrThePlaceholder()
    {
        test::ViewFixture fx;
        View v(fx);
        QCOMPARE(v.view.currentDetail(), v.view.detailPlaceholder());
        QCOMPARE(v.view.detailPlaceholder()->findChild<QLabel*>(QStringLiteral("placeholderTitle"))->text(),
            QStringLiteral("选择或添加一台 NAS"));

        const NASConfig media = fx.addShare(QStringLiteral("Media"), QStringLiteral("10.0.0.7"));
        const NASConfig backup = fx.addShare(QStringLiteral("Backup"));
        // Only mounted shares with a mount point get a card.
        fx.setState(backup, MountState::mounted());
        fx.setState(media, MountState::mounting(), folder(QStringLiteral("/mnt/media")));
        QCOMPARE(v.view.currentDetail(), v.view.detailPlaceholder());
        fx.setState(media, MountState::mounted(), folder(QStringLiteral("/mnt/media")));
        QCOMPARE(v.view.currentDetail(), v.view.mountedFoldersPage());
        QList<QWidget*> cards = v.view.mountedFoldersPage()->findChildren<QWidget*>(
            QStringLiteral("mountedFolderCard"));
        QCOMPARE(cards.size(), 1);
        QWidget* card = cards.first();
        QCOMPARE(card->findChild<ElidedLabel*>(QStringLiteral("name"))->fullText(), QStringLiteral("Media"));
        QCOMPARE(card->findChild<ElidedLabel*>(QStringLiteral("address"))->fullText(), QStringLiteral("10.0.0.7"));
        QCOMPARE(card->findChild<ElidedLabel*>(QStringLiteral("path"))->fullText(), QStringLiteral("/mnt/media"));
        auto* open = card->findChild<QPushButton*>(QStringLiteral("openInFinder"));
        QCOMPARE(open->text(), QStringLiteral("在 Finder 中打开"));
        open->click();
        QCOMPARE(fx.workspace.opened, QList<QUrl>{folder(QStringLiteral("/mnt/media"))});

        // A selection shows its editor; a selection the store does not hold falls through.
        v.view.setSelectedConfigID(backup.id);
        auto* editor = qobject_cast<NASDetailView*>(v.view.currentDetail());
        QVERIFY(editor);
        QCOMPARE(editor->existingConfig(), std::optional<NASConfig>(backup));
        v.view.setSelectedConfigID(QUuid::createUuid());
        QCOMPARE(v.view.currentDetail(), v.view.mountedFoldersPage());

        // When the last card goes, the placeholder shows.
        fx.setState(media, MountState::offline());
        QCOMPARE(v.view.currentDetail(), v.view.detailPlaceholder());
    }

    void theEditorIsBuiltAfreshForEachSelectionAndClosesItself()
    {
        test::ViewFixture fx;
        const NASConfig a = fx.addShare(QStringLiteral("A"));
        const NASConfig b = fx.addShare(QStringLiteral("B"));
        View v(fx);
        QList<QUuid> built;
        QPointer<QPushButton> close;
        v.view.setEditorFactory([&](MainWindowView& view, const NASConfig& config) -> QWidget* {
            built.append(config.id);
            close = new QPushButton;
            QObject::connect(close, &QPushButton::clicked, &view, &MainWindowView::clearSelection);
            return close;
        });
        v.view.setSelectedConfigID(a.id);
        fx.setState(a, MountState::mounting()); // a publish alone rebuilds nothing
        v.view.setSelectedConfigID(b.id);
        QCOMPARE(built, (QList<QUuid>{a.id, b.id}));
        QCOMPARE(v.view.currentDetail(), close.data());

        // The editor's own close action removes it safely.
        close->click();
        QCOMPARE(v.view.selectedConfigID(), std::nullopt);
        QCOMPARE(v.view.currentDetail(), v.view.detailPlaceholder());
        QTRY_VERIFY(!close);
    }

    void theToolbarShowsAboutOpensSettingsAndAddsAShare()
    {
        test::ViewFixture fx;
        View v(fx);
        QStringList order;
        for (QToolButton* button : v.view.toolbar()->findChildren<QToolButton*>()) {
            if (button->objectName().startsWith(QStringLiteral("toolbar.")))
                order << button->objectName() + QLatin1Char('=') + button->property("symbol").toString();
        }
        QCOMPARE(order, (QStringList{"toolbar.about=info.circle", "toolbar.settings=gear", "toolbar.add=plus"}));
        auto* about = v.view.findChild<QToolButton*>(QStringLiteral("toolbar.about"));
        auto* settings = v.view.findChild<QToolButton*>(QStringLiteral("toolbar.settings"));
        auto* add = v.view.findChild<QToolButton*>(QStringLiteral("toolbar.add"));
        QCOMPARE(about->toolTip(), QStringLiteral("关于 Vantrel"));
        QCOMPARE(settings->toolTip(), QStringLiteral("打开设置"));
        QCOMPARE(add->text(), QStringLiteral("添加 NAS"));
        QCOMPARE(add->toolTip(), QStringLiteral("添加新的 NAS 配置"));

        settings->click();
        QCOMPARE(v.openedWindows, QStringList{"settings"});

        add->click();
        add->click();
        QCOMPARE(fx.configStore.configs().size(), 2);
        const NASConfig second = fx.configStore.configs().at(1);
        QVERIFY(fx.configStore.configs().at(0).id != second.id);
        QCOMPARE(v.view.selectedConfigID(), std::optional<QUuid>(second.id));
        QCOMPARE(v.view.shareList()->selectionModel()->selectedIndexes().first().row(), 1);
        QCOMPARE(fx.appState.status(second.id)->mountState, MountState::idle());
        NASConfig expected = MainWindowView::newConfig();
        expected.id = second.id;
        QCOMPARE(second, expected);
        QCOMPARE(second.name, QString());
        QCOMPARE(second.mountOptions.retryInterval, 10.0);
        QVERIFY(second.mountOptions.enableCaching);
        QCOMPARE(second.networkBinding.ipRange, QStringLiteral("0.0.0.0/0"));
    }

    void rowsAndToolbarTellAssistiveTechnologyWhatTheyShow()
    {
        test::ViewFixture fx;
        const NASConfig media = fx.addShare(
            bound(QStringLiteral("Media"), NetworkBindingStrategy::ipRange, QStringLiteral("192.168.1.0/24"), {}));
        NASConfig offConfig = bound(QStringLiteral("Off"), NetworkBindingStrategy::ssid, QString(), {}, false);
        offConfig.address = QStringLiteral("10.0.0.9");
        const NASConfig off = fx.addShare(offConfig);
        fx.setState(media, MountState::mounted(), folder(QStringLiteral("/home/alice/VantrelVolumes/media")));
        View v(fx);
        fx.network.publish(QStringLiteral("192.168.1.20"), std::nullopt);

        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(v.view.shareList());
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->childCount(), 2);
        const auto row = [&](const QUuid& id) { return list->child(v.model().row(id)); };
        QCOMPARE(row(media.id)->role(), QAccessible::ListItem);
        QCOMPARE(row(media.id)->text(QAccessible::Name), QStringLiteral("Media"));
        QCOMPARE(row(media.id)->text(QAccessible::Description),
            QStringLiteral("已挂载, Mount point media, Network matched"));
        QCOMPARE(row(off.id)->text(QAccessible::Name), QStringLiteral("Off"));
        QCOMPARE(row(off.id)->text(QAccessible::Description), QStringLiteral("空闲, 10.0.0.9"));
        // The badge follows the network there too.
        fx.network.publish(QStringLiteral("10.1.1.1"), std::nullopt);
        QCOMPARE(row(media.id)->text(QAccessible::Description),
            QStringLiteral("已挂载, Mount point media, IP mismatch"));

        // The add button is named by its title; the symbol-only ones by their tooltips. Every one
        // is reached with the keyboard.
        const auto button = [&](const char* name) {
            return QAccessible::queryAccessibleInterface(v.view.findChild<QToolButton*>(QString::fromLatin1(name)));
        };
        QCOMPARE(button("toolbar.add")->text(QAccessible::Name), QStringLiteral("添加 NAS"));
        QCOMPARE(button("toolbar.add")->text(QAccessible::Description), QStringLiteral("添加新的 NAS 配置"));
        QCOMPARE(button("toolbar.about")->text(QAccessible::Name), QStringLiteral("关于 Vantrel"));
        QCOMPARE(button("toolbar.settings")->text(QAccessible::Name), QStringLiteral("打开设置"));
        for (const char* name : {"toolbar.about", "toolbar.settings", "toolbar.add"}) {
            QCOMPARE(button(name)->role(), QAccessible::Button);
            QVERIFY2(button(name)->state().focusable, name);
            QVERIFY2(!button(name)->text(QAccessible::Description).isEmpty(), name);
        }
    }

    void theAboutWindowIsReusedByItsTitle()
    {
        test::ViewFixture fx;
        View v(fx);
        const auto aboutWindows = [] {
            QList<QWidget*> found;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->windowTitle() == QStringLiteral("关于 Vantrel"))
                    found << window;
            }
            return found;
        };
        v.view.showAbout();
        v.view.showAbout();
        QCOMPARE(aboutWindows().size(), 1);
        QWidget* window = aboutWindows().first();
        QVERIFY(window->isVisible());
        QVERIFY(window->findChild<AboutView*>() || qobject_cast<AboutView*>(window));
        // Closed, it is kept and shown again.
        window->close();
        v.view.showAbout();
        QCOMPARE(aboutWindows(), QList<QWidget*>{window});
        QVERIFY(window->isVisible());

        // Any window with that title counts, whoever made it.
        delete window;
        auto* other = new QWidget;
        other->setWindowTitle(QStringLiteral("关于 Vantrel"));
        v.view.showAbout();
        QCOMPARE(aboutWindows(), QList<QWidget*>{other});
        QVERIFY(other->isVisible());
    }

    void aNewShareGoesFromTheAddButtonToMounted()
    {
        // The real store and secret service, the strategy and the engine on the stand-in tools.
        test::ViewFixture fx;
        QDir(fx.dir.path()).mkpath(QStringLiteral("control"));
        const QString control = fx.dir.filePath(QStringLiteral("control"));
        qputenv("VANTREL_FAKE_DIR", QFile::encodeName(control));
        const auto controlFile = [&control](const QString& name) { return control + QLatin1Char('/') + name; };
        const QString password = QStringLiteral("s3cret pass");
        {
            QFile expected(controlFile(QStringLiteral("mount_smbfs.password")));
            QVERIFY(expected.open(QIODevice::WriteOnly));
            expected.write(password.toUtf8());
        }
        Mounting mounting(fx);
        AutoMountStrategy& strategy = mounting.strategy;
        MountEngine& engine = mounting.engine;
        fx.network.publish(QStringLiteral("192.168.1.20"), std::nullopt);

        MainWindowView view(fx.appState, fx.configStore, {},
            {&fx.network.monitor, &fx.workspace, &strategy, &engine, &fx.keychain});
        view.resize(900, 700);
        view.show();

        view.findChild<QToolButton*>(QStringLiteral("toolbar.add"))->click();
        QCOMPARE(fx.configStore.configs().size(), 1);
        const QUuid id = fx.configStore.configs().first().id;
        QPointer<NASDetailView> editor = qobject_cast<NASDetailView*>(view.currentDetail());
        QVERIFY(editor);
        QCOMPARE(editor->existingConfig()->id, id);

        const auto typeInto = [&editor](const char* name, const QString& text) {
            auto* field = editor->findChild<QLineEdit*>(QString::fromLatin1(name));
            QVERIFY2(field, name);
            QTest::keyClicks(field, text);
        };
        typeInto("nameField", QStringLiteral("Studio"));
        typeInto("addressField", QStringLiteral("192.168.1.5"));
        typeInto("sharePathField", QStringLiteral("media"));
        typeInto("usernameField", QStringLiteral("alice"));
        typeInto("passwordField", password);
        auto* save = editor->findChild<QPushButton*>(QStringLiteral("saveButton"));
        QVERIFY(save->isEnabled());
        save->click();

        const QModelIndex row = rowIndex(view, id);
        QTRY_COMPARE_WITH_TIMEOUT(row.data(ShareListModel::MountStateRole).value<MountState>(), MountState::mounted(),
            15000);
        const QString mountPath = fx.dir.filePath(QStringLiteral("Volumes/Studio"));
        QCOMPARE(row.data(ShareListModel::LinkRole).toUrl(), MountEngine::directoryUrl(mountPath));
        QCOMPARE(row.data().toString(), QStringLiteral("Studio"));
        // The mount read the password from the secret store, where saving put it under the share's
        // own identifier; the stored list holds it too.
        const QString key = KeychainManager::credentialKey(QStringLiteral("192.168.1.5"), QStringLiteral("media"),
            QStringLiteral("alice"));
        QCOMPARE(fx.keychain.getPassword(key), password);
        {
            QFile received(controlFile(QStringLiteral("mount_smbfs.received")));
            QVERIFY(received.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(received.readAll()), password);
        }
        Defaults reread(fx.dir.filePath(QStringLiteral("defaults.json")));
        AppStateManager otherState;
        NASConfigStore stored(reread, fx.systemLog, otherState, fx.keychain);
        QCOMPARE(stored.configs().size(), 1);
        QCOMPARE(stored.configs().first().keychainIdentifier, key);
        QCOMPARE(stored.configs().first().password, password);

        // The editor stayed the same all along and now offers unmounting; closed, the detail
        // column shows the share's card.
        QCOMPARE(view.currentDetail(), editor.data());
        QVERIFY(editor->findChild<QPushButton*>(QStringLiteral("unmountButton"))->isVisibleTo(editor));
        editor->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
        QCOMPARE(view.currentDetail(), view.mountedFoldersPage());
        QTRY_VERIFY(!editor);
        const QList<QWidget*> cards = view.mountedFoldersPage()->findChildren<QWidget*>(
            QStringLiteral("mountedFolderCard"));
        QCOMPARE(cards.size(), 1);
        QCOMPARE(cards.first()->findChild<ElidedLabel*>(QStringLiteral("name"))->fullText(), QStringLiteral("Studio"));
    }

    void theListPulsesWhileAShareMounts()
    {
        test::ViewFixture fx;
        const NASConfig share = fx.addShare(QStringLiteral("S"));
        View v(fx);
        QVERIFY(!v.view.pulse().isRunning());
        fx.setState(share, MountState::mounting());
        QVERIFY(v.view.pulse().isRunning());
        fx.setState(share, MountState::mounted(), folder(QStringLiteral("/mnt/s")));
        QVERIFY(!v.view.pulse().isRunning());
    }

    void theSplitViewKeepsTheSidebarWidth()
    {
        test::ViewFixture fx;
        View v(fx);
        QCOMPARE(v.view.minimumSizeHint().expandedTo(v.view.minimumSize()), QSize(500, 400));
        QWidget* sidebar = v.view.splitter()->widget(0);
        QCOMPARE(sidebar->minimumWidth(), 180);
        QCOMPARE(v.view.splitter()->sizes().first(), 220);
        v.view.resize(1200, 600);
        QCoreApplication::processEvents();
        QCOMPARE(v.view.splitter()->sizes().first(), 220);
    }
};

VANTREL_TEST_MAIN(TestMainWindowView)
#include "tst_MainWindowView.moc"
