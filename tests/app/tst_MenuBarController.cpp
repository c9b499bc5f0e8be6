#include "support/FileWorkGate.h"
#include "support/StrategyStandIn.h"
#include "support/TestMain.h"
#include "support/gui/BrowserFixture.h"
#include "support/gui/ViewFixture.h"

#include "AppTestEnvironment.h"

#include "app/MenuBarController.h"
#include "files/TransferManager.h"
#include "platform/FileWork.h"
#include "platform/Localization.h"
#include "platform/gui/Symbols.h"
#include "views/browser/FileBrowserView.h"
#include "views/browser/FileListView.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>

using namespace vantrel;
using vantrel::test::AppTestEnvironment;

namespace {

struct Recorder {
    int mountAllCalls = 0;
    int unmountAllCalls = 0;
    int updateChecks = 0;
    int quits = 0;
    QList<QUrl> opened;
};

QCoro::Task<> countCall(int* counter)
{
    ++*counter;
    co_return;
}

MenuBarController::Actions recordingActions(Recorder& recorder)
{
    MenuBarController::Actions actions;
    actions.mountAll = [&recorder] { return countCall(&recorder.mountAllCalls); };
    actions.unmountAll = [&recorder] { return countCall(&recorder.unmountAllCalls); };
    actions.checkForUpdates = [&recorder] { ++recorder.updateChecks; };
    actions.openUrl = [&recorder](const QUrl& url) { recorder.opened.append(url); };
    actions.quit = [&recorder] { ++recorder.quits; };
    return actions;
}

// One line per item: separators as "--", disabled items in brackets.
QStringList describe(const QMenu* menu)
{
    QStringList lines;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            lines.append(QStringLiteral("--"));
        else if (!action->isEnabled())
            lines.append(QLatin1Char('[') + action->text() + QLatin1Char(']'));
        else
            lines.append(action->text());
    }
    return lines;
}

const QStringList fixedTail{
    QStringLiteral("--"),
    QStringLiteral("立即挂载全部"),
    QStringLiteral("立即断开全部"),
    QStringLiteral("--"),
    QStringLiteral("打开主窗口"),
    QStringLiteral("打开设置..."),
    QStringLiteral("检查更新..."),
    QStringLiteral("--"),
    QStringLiteral("关于 Vantrel"),
    QStringLiteral("--"),
    QStringLiteral("退出 Vantrel"),
};

bool sameIcon(const QIcon& a, const QIcon& b)
{
    const QImage image = a.pixmap(32).toImage();
    return !image.isNull() && image == b.pixmap(32).toImage();
}

// The command as the tray runs it, counting the runs that have ended.
QCoro::Task<> countEnd(QCoro::Task<> command, int* ended)
{
    co_await std::move(command);
    ++*ended;
}

QAction* findAction(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Two mounted shares, A and B, with the tray menu's browse entries, and a local folder to drop from.
struct BrowsingEnv {
    AppTestEnvironment env;
    Recorder recorder;
    MenuBarController controller;
    QTemporaryDir dir;
    NASConfig a;
    NASConfig b;

    explicit BrowsingEnv(const QString& home)
        : env(home)
        , controller(env.appState, env.configStore, env.recentFiles, env.browserState, env.languageManager,
              env.app.windows(), env.log, recordingActions(recorder))
    {
        for (const char* folder : {"A", "B", "local"})
            QDir(dir.path()).mkpath(QString::fromLatin1(folder));
        a = env.addConfig(QStringLiteral("A"));
        b = env.addConfig(QStringLiteral("B"));
        env.appState.updateStatus(a.id, MountState::mounted(), url(QStringLiteral("A")));
        env.appState.updateStatus(b.id, MountState::mounted(), url(QStringLiteral("B")));
    }
    ~BrowsingEnv()
    {
        if (SceneWindow* window = env.app.windows().find(VantrelApp::fileBrowserWindowID))
            window->close();
        for (int i = 0; i < 5; ++i) {
            waitForFileWork();
            QCoreApplication::processEvents();
        }
    }
    QString path(const QString& relative) const { return dir.filePath(relative); }
    QUrl url(const QString& relative) const { return QUrl::fromLocalFile(path(relative)); }
    // Chooses a share's browse entry in a freshly built tray menu.
    void browse(const NASConfig& config)
    {
        std::unique_ptr<QMenu> menu(controller.buildMenu());
        QList<QAction*> entries;
        for (QAction* action : menu->actions())
            if (action->text() == QStringLiteral("  浏览文件..."))
                entries.append(action);
        QCOMPARE(entries.size(), 2);
        entries.at(config.id == a.id ? 0 : 1)->trigger();
    }
    FileBrowserView* view()
    {
        SceneWindow* window = env.app.windows().find(VantrelApp::fileBrowserWindowID);
        return window ? qobject_cast<FileBrowserView*>(window->content()) : nullptr;
    }
    QStringList uploads()
    {
        QStringList result;
        for (const TransferTask& task : view()->transferManager().tasks())
            result << QDir(dir.path()).relativeFilePath(task.destinationURL.toLocalFile());
        return result;
    }
    bool allDone()
    {
        for (const TransferTask& task : view()->transferManager().tasks())
            if (task.status != TransferStatus::completed)
                return false;
        return true;
    }
};

} // namespace

class TestMenuBarController : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    QString nextDir() { return m_dir.filePath(QString::number(++m_counter)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Localization::useCatalog(QStringLiteral("zh-Hans"));
    }

    void menuListsEverySharesStatusInStoredOrder()
    {
        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));

        std::unique_ptr<QMenu> empty(controller.buildMenu());
        QCOMPARE(describe(empty.get()), QStringList{QStringLiteral("[暂无 NAS 配置]")} + fixedTail);

        const NASConfig idle = env.addConfig(QStringLiteral("Idle & Co"));
        env.appState.removeStatus(idle.id); // no status entry at all reads as idle
        const NASConfig mounting = env.addConfig(QStringLiteral("Mounting"));
        env.appState.updateStatus(mounting.id, MountState::mounting());
        const NASConfig mounted = env.addConfig(QStringLiteral("R&D"));
        env.appState.updateStatus(mounted.id, MountState::mounted(), QUrl::fromLocalFile(QStringLiteral("/mnt/rd")));
        const NASConfig failed = env.addConfig(QStringLiteral("Failed"));
        env.appState.updateStatus(failed.id, MountState::failed(VantrelError::mountFailed(QStringLiteral("exit 64"))));
        const NASConfig offline = env.addConfig(QStringLiteral("Offline"));
        env.appState.updateStatus(offline.id, MountState::offline());
        const NASConfig unmounting = env.addConfig(QStringLiteral("Leaving"));
        env.appState.updateStatus(unmounting.id, MountState::unmounting());

        std::unique_ptr<QMenu> menu(controller.buildMenu());
        const QStringList expected =
            QStringList{
                QStringLiteral("[⚪ Idle && Co  —  空闲]"),
                QStringLiteral("[🟡 Mounting  —  挂载中...]"),
                QStringLiteral("[🟢 R&&D  —  已挂载]"),
                QStringLiteral("  浏览文件..."),
                QStringLiteral("[🔴 Failed  —  失败: Mount operation failed: exit 64]"),
                QStringLiteral("[⚫ Offline  —  离线]"),
                QStringLiteral("[🟠 Leaving  —  卸载中...]"),
            }
            + fixedTail;
        QCOMPARE(describe(menu.get()), expected);

        // Only the mounted share can be browsed, and its entry names that share.
        QAction* browse = findAction(menu.get(), QStringLiteral("  浏览文件..."));
        QVERIFY(browse);
        QCOMPARE(browse->data().toUuid(), mounted.id);
        QCOMPARE(findAction(menu.get(), QStringLiteral("打开设置..."))->shortcut(),
            QKeySequence(Qt::CTRL | Qt::Key_Comma));
        QCOMPARE(findAction(menu.get(), QStringLiteral("退出 Vantrel"))->shortcut(),
            QKeySequence(Qt::CTRL | Qt::Key_Q));
    }

    void escapingKeepsTheTextAsTyped()
    {
        QCOMPARE(MenuBarController::escapedMenuText(QStringLiteral("A & B && C&")), QStringLiteral("A && B &&&& C&&"));
        // What the menu shows: the escaped text without its mnemonic markers.
        QCOMPARE(QAction(MenuBarController::escapedMenuText(QStringLiteral("R&D"))).iconText(), QStringLiteral("R&D"));
    }

    void recentFilesAreTheNewestFiveDirectlyInTheMenu()
    {
        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));

        std::unique_ptr<QMenu> none(controller.buildMenu());
        QVERIFY(!describe(none.get()).contains(QStringLiteral("[最近文件]")));

        for (int i = 1; i <= 7; ++i)
            env.recentFiles.recordAccess(
                QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/file %1 & more.txt").arg(i)));
        std::unique_ptr<QMenu> menu(controller.buildMenu());
        const QStringList lines = describe(menu.get());
        const QStringList expectedHead{
            QStringLiteral("[暂无 NAS 配置]"),
            QStringLiteral("--"),
            QStringLiteral("[最近文件]"),
            QStringLiteral("  file 7 && more.txt"),
            QStringLiteral("  file 6 && more.txt"),
            QStringLiteral("  file 5 && more.txt"),
            QStringLiteral("  file 4 && more.txt"),
            QStringLiteral("  file 3 && more.txt"),
        };
        QCOMPARE(lines, expectedHead + fixedTail);
        QVERIFY(menu->findChildren<QMenu*>().isEmpty()); // no submenu
        QAction* newest = menu->actions().at(3);
        QCOMPARE(newest->toolTip(), QStringLiteral("/home/u/Downloads/file 7 & more.txt"));

        newest->trigger();
        QCOMPARE(recorder.opened,
            QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/file 7 & more.txt"))});
        // Anything but a URL behind the item opens nothing.
        QAction bogus;
        bogus.setData(QStringLiteral("/etc/passwd"));
        controller.openRecentFile(&bogus);
        controller.openRecentFile(nullptr);
        QCOMPARE(recorder.opened.size(), 1);
    }

    void openingTheMenuShowsTheStatusOfThatMoment()
    {
        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));
        controller.setupStatusItem();
        QMenu* menu = controller.menu();
        QVERIFY(menu);
        QCOMPARE(controller.statusItem()->contextMenu(), menu);

        const NASConfig config = env.addConfig(QStringLiteral("Photos"));
        QCOMPARE(describe(menu).first(), QStringLiteral("[暂无 NAS 配置]")); // not updated between openings
        env.appState.updateStatus(config.id, MountState::mounted(), QUrl::fromLocalFile(QStringLiteral("/mnt/p")));
        emit menu->aboutToShow();
        QCOMPARE(describe(menu).mid(0, 2),
            (QStringList{QStringLiteral("[🟢 Photos  —  已挂载]"), QStringLiteral("  浏览文件...")}));

        // The rebuilt commands still work.
        findAction(menu, QStringLiteral("立即挂载全部"))->trigger();
        findAction(menu, QStringLiteral("立即断开全部"))->trigger();
        findAction(menu, QStringLiteral("检查更新..."))->trigger();
        findAction(menu, QStringLiteral("退出 Vantrel"))->trigger();
        QCOMPARE(recorder.mountAllCalls, 1);
        QCOMPARE(recorder.unmountAllCalls, 1);
        QCOMPARE(recorder.updateChecks, 1);
        QCOMPARE(recorder.quits, 1);
    }

    // Unmount-all through the real strategy: the menu shows the share as being unmounted while the
    // tool runs, and choosing the command again joins that unmount instead of running another.
    void unmountAllShowsTheUnmountUnderWayAndJoinsIt()
    {
        AppTestEnvironment env(nextDir());
        test::NetworkStandIn network;
        test::StrategyStandIn mounting(env, network.monitor, nextDir(), nextDir());
        network.publish(QStringLiteral("192.168.1.20"), std::nullopt);
        int unmountsEnded = 0;
        MenuBarController::Actions actions;
        actions.mountAll = [&mounting] { return mounting.strategy.mountAll(); };
        actions.unmountAll = [&mounting, &unmountsEnded] {
            return countEnd(mounting.strategy.unmountAll(), &unmountsEnded);
        };
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, std::move(actions));
        controller.setupStatusItem();
        QMenu* menu = controller.menu();

        NASConfig config;
        config.name = QStringLiteral("Exports");
        config.protocol = NASProtocol::nfs;
        config.address = QStringLiteral("filer");
        config.sharePath = QStringLiteral("/export/team");
        config.authMethod = AuthMethod::guest;
        config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        env.configStore.addConfig(config);
        QList<MountState::Kind> states;
        connect(&env.appState, &AppStateManager::nasStatusesChanged, &controller, [&] {
            if (const auto status = env.appState.status(config.id))
                states << status->mountState.kind();
        });

        emit menu->aboutToShow();
        findAction(menu, QStringLiteral("立即挂载全部"))->trigger();
        QTRY_COMPARE(env.appState.status(config.id)->mountState.kind(), MountState::Kind::mounted);

        states.clear();
        mounting.control.set(QStringLiteral("umount.hold"));
        emit menu->aboutToShow();
        findAction(menu, QStringLiteral("立即断开全部"))->trigger();
        QTRY_COMPARE(mounting.control.runs(QStringLiteral("umount")), 1);
        emit menu->aboutToShow();
        QCOMPARE(describe(menu).first(), QStringLiteral("[🟠 Exports  —  卸载中...]"));
        findAction(menu, QStringLiteral("立即断开全部"))->trigger();
        QTest::qWait(50);
        QCOMPARE(unmountsEnded, 0); // the second waits for the first, as quitting does

        mounting.control.set(QStringLiteral("umount.release"));
        QTRY_COMPARE(unmountsEnded, 2);
        QVERIFY(!mounting.strategy.hasOperationsUnderWay());
        QCOMPARE(mounting.control.runs(QStringLiteral("umount")), 1);
        QCOMPARE(states, (QList<MountState::Kind>{MountState::Kind::unmounting, MountState::Kind::idle}));
        emit menu->aboutToShow();
        QCOMPARE(describe(menu).first(), QStringLiteral("[⚪ Exports  —  空闲]"));
    }

    void trayIconIsTintedByTheOverallState()
    {
        QCOMPARE(MenuBarController::color(MenuBarIconState::idle), QColor(0x8E, 0x8E, 0x93));
        QCOMPARE(MenuBarController::color(MenuBarIconState::offline), QColor(0x8E, 0x8E, 0x93));
        QCOMPARE(MenuBarController::color(MenuBarIconState::mounting), QColor(0x8E, 0x8E, 0x93));
        QCOMPARE(MenuBarController::color(MenuBarIconState::allMounted), QColor(0x34, 0xC7, 0x59));
        QCOMPARE(MenuBarController::color(MenuBarIconState::partiallyMounted), QColor(0xFF, 0xCC, 0x00));
        QCOMPARE(MenuBarController::color(MenuBarIconState::allFailed), QColor(0xFF, 0x3B, 0x30));

        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));
        controller.setupStatusItem();
        controller.subscribeToState();

        // Every opaque pixel of the drawn icon carries the tint.
        auto iconIsTinted = [&controller](const QColor& tint) {
            const QImage image = controller.statusItem()->icon().pixmap(MenuBarController::iconSize).toImage();
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel.alpha() != 255)
                        continue;
                    ++opaque;
                    if (pixel.rgb() != tint.rgb())
                        return false;
                }
            }
            return opaque > 100;
        };
        QVERIFY(iconIsTinted(MenuBarController::color(MenuBarIconState::idle)));

        const NASConfig a = env.addConfig(QStringLiteral("A"));
        const NASConfig b = env.addConfig(QStringLiteral("B"));
        env.appState.updateStatus(a.id, MountState::mounted(), QUrl::fromLocalFile(QStringLiteral("/mnt/a")));
        env.appState.updateStatus(b.id, MountState::mounted(), QUrl::fromLocalFile(QStringLiteral("/mnt/b")));
        QCOMPARE(env.appState.menuBarIconState(), MenuBarIconState::allMounted);
        QCOMPARE(controller.currentTint(), QColor(0x34, 0xC7, 0x59));
        QVERIFY(iconIsTinted(QColor(0x34, 0xC7, 0x59)));

        env.appState.updateStatus(b.id, MountState::failed(VantrelError::timeout(QStringLiteral("x"))));
        QCOMPARE(env.appState.menuBarIconState(), MenuBarIconState::partiallyMounted);
        QVERIFY(iconIsTinted(QColor(0xFF, 0xCC, 0x00)));

        env.appState.updateStatus(a.id, MountState::failed(VantrelError::timeout(QStringLiteral("x"))));
        QCOMPARE(env.appState.menuBarIconState(), MenuBarIconState::allFailed);
        QVERIFY(iconIsTinted(QColor(0xFF, 0x3B, 0x30)));

        // A symbol without a drawing leaves the tray with the application's own icon, untinted.
        QVERIFY(sameIcon(MenuBarController::statusIcon(QStringLiteral("no.such.symbol"), Qt::red),
            Symbols::applicationIcon()));
        QVERIFY(!sameIcon(controller.statusItem()->icon(), Symbols::applicationIcon()));
    }

    void browseAndMainWindowOpenTheirWindowEvenWhenNeverOpened()
    {
        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));
        WindowRegistry& windows = env.app.windows();

        QVERIFY(!windows.find(VantrelApp::mainWindowID));
        controller.openMainWindow();
        QVERIFY(windows.find(VantrelApp::mainWindowID));
        QVERIFY(qobject_cast<MainWindowView*>(windows.find(VantrelApp::mainWindowID)->content()));

        const NASConfig config = env.addConfig(QStringLiteral("Media"));
        const QUrl mountPoint = QUrl::fromLocalFile(QStringLiteral("/home/u/VantrelVolumes/Media"));
        env.appState.updateStatus(config.id, MountState::mounted(), mountPoint);
        std::unique_ptr<QMenu> menu(controller.buildMenu());
        QVERIFY(!windows.find(VantrelApp::fileBrowserWindowID));
        findAction(menu.get(), QStringLiteral("  浏览文件..."))->trigger();

        SceneWindow* browser = windows.find(VantrelApp::fileBrowserWindowID);
        QVERIFY(browser);
        QCOMPARE(env.browserState.config(), std::optional<NASConfig>(config));
        auto* view = qobject_cast<FileBrowserView*>(browser->content());
        QVERIFY(view);
        QCOMPARE(view->config(), config);
        QCOMPARE(view->mountPoint(), mountPoint);
        // The pending rebuild finds the window already up to date.
        QSignalSpy replaced(browser, &SceneWindow::contentReplaced);
        QCoreApplication::processEvents();
        QCOMPARE(replaced.count(), 0);

        // A share that lost its mount point, or left the store, by the time it is chosen: nothing.
        const NASConfig other = env.addConfig(QStringLiteral("Other"));
        env.appState.updateStatus(other.id, MountState::mounted(), QUrl::fromLocalFile(QStringLiteral("/mnt/o")));
        std::unique_ptr<QMenu> second(controller.buildMenu());
        QList<QAction*> entries;
        for (QAction* action : second->actions())
            if (action->text() == QStringLiteral("  浏览文件..."))
                entries.append(action);
        QCOMPARE(entries.size(), 2);
        env.appState.updateStatus(other.id, MountState::idle());
        entries.at(1)->trigger();
        env.configStore.deleteConfig(config.id);
        entries.at(0)->trigger();
        QCOMPARE(env.browserState.config(), std::optional<NASConfig>(config));
        controller.openFileBrowser(nullptr);
    }

    void browsingTheShownShareAgainKeepsItsQuestionsAndDrops()
    {
        BrowsingEnv t(nextDir());
        QVERIFY(writeFile(t.path(QStringLiteral("A/a.txt")), "old a"));
        QVERIFY(writeFile(t.path(QStringLiteral("A/b.txt")), "old b"));
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            QVERIFY(writeFile(t.path(QStringLiteral("local/") + QLatin1String(name)), QByteArray("new ") + name));
        t.browse(t.a);
        QPointer<FileBrowserView> view = t.view();
        QVERIFY(view);
        QTRY_COMPARE(view->fileList()->items().size(), 2);

        test::dropOnto(view, {t.url(QStringLiteral("local/a.txt")), t.url(QStringLiteral("local/b.txt"))});
        QTRY_VERIFY(view->conflictSheet());
        QPointer<ConflictResolutionSheet> sheet = view->conflictSheet();
        test::FileWorkGate gate;
        gate.hold(t.path(QStringLiteral("A")));
        test::dropOnto(view, {t.url(QStringLiteral("local/c.txt"))});
        QTRY_VERIFY(gate.waiting(t.path(QStringLiteral("A"))) > 0);

        t.browse(t.a);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(t.view(), view.data());
        QCOMPARE(view->conflictSheet(), sheet.data());
        QCOMPARE(view->queuedConflictCount(), 1);
        QVERIFY(view->window()->isVisible());

        gate.release(t.path(QStringLiteral("A")));
        QTRY_COMPARE(t.uploads(), QStringList{QStringLiteral("A/c.txt")});
        QTest::mouseClick(sheet->button(ConflictResolution::overwrite), Qt::LeftButton);
        QTRY_VERIFY(view->conflictSheet() && view->conflictSheet() != sheet);
        QTest::mouseClick(view->conflictSheet()->button(ConflictResolution::overwrite), Qt::LeftButton);
        QTRY_COMPARE(t.uploads().size(), 3);
        QTRY_VERIFY(t.allDone());
        QCOMPARE(readFile(t.path(QStringLiteral("A/a.txt"))), QByteArray("new a.txt"));
        QCOMPARE(readFile(t.path(QStringLiteral("A/b.txt"))), QByteArray("new b.txt"));
    }

    void browsingAnotherShareKeepsTheQuestionsAndDropsForTheirFolder()
    {
        BrowsingEnv t(nextDir());
        QVERIFY(writeFile(t.path(QStringLiteral("A/a.txt")), "old a"));
        QVERIFY(writeFile(t.path(QStringLiteral("local/a.txt")), "new a"));
        QVERIFY(writeFile(t.path(QStringLiteral("local/c.txt")), "new c"));
        t.browse(t.a);
        QPointer<FileBrowserView> first = t.view();
        QTRY_COMPARE(first->fileList()->items().size(), 1);
        test::dropOnto(first, {t.url(QStringLiteral("local/a.txt"))});
        QTRY_VERIFY(first->conflictSheet());
        test::FileWorkGate gate;
        gate.hold(t.path(QStringLiteral("A")));
        test::dropOnto(first, {t.url(QStringLiteral("local/c.txt"))});
        QTRY_VERIFY(gate.waiting(t.path(QStringLiteral("A"))) > 0);

        t.browse(t.b);
        QTRY_VERIFY(!first);
        FileBrowserView* second = t.view();
        QVERIFY(second);
        QCOMPARE(second->config(), t.b);
        // The question comes back in the new content, for the folder the file was dropped on.
        QTRY_VERIFY(second->conflictSheet());
        QCOMPARE(second->pendingConflict()->destination, t.url(QStringLiteral("A/a.txt")));
        // The drop under way still lands where it was dropped.
        gate.release(t.path(QStringLiteral("A")));
        QTRY_COMPARE(t.uploads(), QStringList{QStringLiteral("A/c.txt")});

        QTest::mouseClick(second->conflictSheet()->button(ConflictResolution::overwrite), Qt::LeftButton);
        QTRY_COMPARE(t.uploads(), (QStringList{QStringLiteral("A/c.txt"), QStringLiteral("A/a.txt")}));
        QTRY_VERIFY(t.allDone());
        QCOMPARE(readFile(t.path(QStringLiteral("A/a.txt"))), QByteArray("new a"));
        QCOMPARE(readFile(t.path(QStringLiteral("A/c.txt"))), QByteArray("new c"));
        QVERIFY(QDir(t.path(QStringLiteral("B"))).isEmpty());
    }

    void theMainWindowAndTheMenuShareOneSettingsWindow()
    {
        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));

        // The main window opens the scene; the menu then brings that same window forward.
        SceneWindow* scene = env.app.windows().open(VantrelApp::settingsWindowID);
        scene->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        controller.openSettings();
        QCOMPARE(controller.settingsWindow(), scene);
        QVERIFY(scene->isVisible());
        QCOMPARE(env.app.windows().open(VantrelApp::settingsWindowID), scene);
        int settingsWindows = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            settingsWindows += widget->objectName() == VantrelApp::settingsWindowID ? 1 : 0;
        QCOMPARE(settingsWindows, 1);
    }

    void settingsAndAboutWindowsAreMadeOnceAndReused()
    {
        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));

        controller.openSettings();
        QWidget* settings = controller.settingsWindow();
        QVERIFY(settings);
        QCOMPARE(settings->windowTitle(), QStringLiteral("设置"));
        QCOMPARE(settings->minimumSize(), QSize(560, 400));
        QCOMPARE(settings->size(), QSize(580, 460));
        settings->close();
        controller.openSettings();
        QCOMPARE(controller.settingsWindow(), settings); // kept when closed, brought back
        QVERIFY(settings->isVisible());

        env.languageManager.setSelectedLanguage(AppLanguage::english);
        QCOMPARE(settings->locale().language(), QLocale::English);

        controller.openAbout();
        QWidget* about = controller.aboutWindow();
        QVERIFY(qobject_cast<AboutView*>(about));
        QCOMPARE(about->windowTitle(), QStringLiteral("关于 Vantrel"));
        QCOMPARE(about->minimumSize(), QSize(360, 280));
        QCOMPARE(about->maximumSize(), QSize(360, 280));
        QVERIFY(!(about->windowFlags() & Qt::WindowMinimizeButtonHint));
        controller.openAbout();
        QCOMPARE(controller.aboutWindow(), about);
        // The window carries the application's icon; its content keeps the symbol.
        QVERIFY(sameIcon(about->windowIcon(), Symbols::applicationIcon()));
        QVERIFY(sameIcon(settings->windowIcon(), Symbols::applicationIcon()));
    }

    void theMainWindowAndTheMenuShareOneAboutWindow()
    {
        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));
        const auto aboutWindows = [] {
            QList<QWidget*> found;
            for (QWidget* window : QApplication::topLevelWidgets())
                if (window->windowTitle() == QStringLiteral("关于 Vantrel"))
                    found << window;
            return found;
        };

        auto* main = qobject_cast<MainWindowView*>(env.app.windows().open(VantrelApp::mainWindowID)->content());
        QVERIFY(main);
        main->showAbout();
        QCOMPARE(aboutWindows().size(), 1);
        QWidget* about = aboutWindows().first();
        about->close();
        controller.openAbout();
        QCOMPARE(controller.aboutWindow(), about);
        QCOMPARE(aboutWindows(), QList<QWidget*>{about});
        QVERIFY(about->isVisible());
        main->showAbout();
        QCOMPARE(aboutWindows(), QList<QWidget*>{about});
    }

    void wakeRebuildsOnlyAMissingIcon()
    {
        AppTestEnvironment env(nextDir());
        Recorder recorder;
        MenuBarController controller(env.appState, env.configStore, env.recentFiles, env.browserState,
            env.languageManager, env.app.windows(), env.log, recordingActions(recorder));
        controller.wakeCheckDelay = 0.01;

        controller.handleSystemWake();
        QTRY_VERIFY(controller.statusItem());
        QSystemTrayIcon* item = controller.statusItem();
        controller.handleSystemWake();
        QTest::qWait(50);
        QCOMPARE(controller.statusItem(), item);
    }
};

VANTREL_TEST_MAIN(TestMenuBarController)
#include "tst_MenuBarController.moc"
