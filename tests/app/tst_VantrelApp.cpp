#include "support/Environment.h"
#include "support/TestMain.h"

#include "AppTestEnvironment.h"

#include "files/FileSystemManager.h"
#include "files/TransferManager.h"
#include "platform/Defaults.h"
#include "platform/Localization.h"
#include "platform/SystemLog.h"
#include "views/browser/FileBrowserView.h"
#include "views/browser/FileListView.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "views/main/SettingsView.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using vantrel::test::AppTestEnvironment;

namespace {

// The log file of the application run in `home`.
QString logText(const QString& home)
{
    QFile file(home + QStringLiteral("/.local/share/Vantrel/Logs/Vantrel.log"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// One launch of the real application in a private home whose settings turn the log file on; what
// the launch logged is what the file gained since it started.
class AppRun {
public:
    // Without a runtime folder when runtime is empty.
    AppRun(const QString& home, const QString& runtime, const QString& temporary = QString())
        : m_home(home)
    {
        m_logLengthAtStart = logText(home).size();
        QProcessEnvironment env = test::privateHomeEnvironment(home);
        if (runtime.isEmpty())
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        else
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        if (!temporary.isEmpty())
            env.insert(QStringLiteral("TMPDIR"), temporary);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
            [this] { m_stderr += QString::fromUtf8(m_process.readAllStandardError()); });
        m_process.start(QStringLiteral(VANTREL_APP_BINARY), QStringList());
    }
    ~AppRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess& process() { return m_process; }
    QString errorOutput()
    {
        m_stderr += QString::fromUtf8(m_process.readAllStandardError());
        return m_stderr;
    }
    QString loggedSinceStart() const { return logText(m_home).mid(m_logLengthAtStart); }
    bool isUp() const { return loggedSinceStart().contains(QStringLiteral("Event loop running")); }
    int activations() const
    {
        return loggedSinceStart().count(QStringLiteral("Activation requested by another launch"));
    }

private:
    QString m_home;
    qsizetype m_logLengthAtStart = 0;
    QProcess m_process;
    QString m_stderr;
};

} // namespace

class TestVantrelApp : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    QString nextDir() { return m_dir.filePath(QString::number(++m_counter)); }

    // A home whose settings turn the log file on, so that the lifecycle lines can be read back.
    QString prepareHome(const QString& name)
    {
        QDir(test::shortTemporaryFolder()).mkdir(name);
        QFile::setPermissions(runtimeFolder(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString home = m_dir.filePath(name);
        QDir().mkpath(home + QStringLiteral("/tmp"));
        Defaults defaults(home + QStringLiteral("/.config/Vantrel/com.vantrel.app.defaults.json"));
        defaults.setValue(QStringLiteral("log.fileEnabled"), true);
        defaults.setValue(QStringLiteral("autoMountOnLaunch"), false);
        defaults.synchronize();
        return home;
    }

    static QString runtimeFolder(const QString& name) { return test::shortTemporaryFolder() + u'/' + name; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Localization::useCatalog(QStringLiteral("en"));
    }

    void fourWindowsWithTitlesAndSizes()
    {
        AppTestEnvironment env(nextDir());
        WindowRegistry& windows = env.app.windows();
        QCOMPARE(windows.identifiers(),
            (QStringList{VantrelApp::mainWindowID, VantrelApp::fileBrowserWindowID, VantrelApp::aboutWindowID,
                VantrelApp::settingsWindowID}));
        QVERIFY(!windows.open(QStringLiteral("nonexistent")));

        SceneWindow* main = windows.open(VantrelApp::mainWindowID);
        QVERIFY(qobject_cast<MainWindowView*>(main->content()));
        QCOMPARE(main->windowTitle(), QStringLiteral("Vantrel"));
        QCOMPARE(main->size(), QSize(600, 500));
        main->resize(100, 100); // cannot go below the content's minimum
        QCOMPARE(main->minimumSizeHint().expandedTo(main->minimumSize()), QSize(500, 400));
        QVERIFY(main->size().width() >= 500 && main->size().height() >= 400);

        SceneWindow* browser = windows.open(VantrelApp::fileBrowserWindowID);
        QCOMPARE(browser->windowTitle(), QStringLiteral("File Browser"));
        // Its default size, where the screen has room for it.
        QCOMPARE(browser->size(), QSize(900, 600).boundedTo(browser->screen()->availableGeometry().size()));

        SceneWindow* about = windows.open(VantrelApp::aboutWindowID);
        QVERIFY(qobject_cast<AboutView*>(about->content()));
        QCOMPARE(about->windowTitle(), QStringLiteral("About Vantrel"));
        QCOMPARE(about->sizeHint(), QSize(360, 280));
        QCOMPARE(about->minimumSize(), QSize(360, 280));
        QCOMPARE(about->maximumSize(), QSize(360, 280));

        SceneWindow* settings = windows.open(VantrelApp::settingsWindowID);
        QVERIFY(qobject_cast<SettingsView*>(settings->content()));
        QCOMPARE(settings->windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(settings->size(), QSize(580, 460));
    }

    void browserShowsThePlaceholderUntilConfigAndMountPointAreSet()
    {
        AppTestEnvironment env(nextDir());
        WindowRegistry& windows = env.app.windows();
        SceneWindow* browser = windows.open(VantrelApp::fileBrowserWindowID);
        QWidget* placeholder = browser->content();
        QCOMPARE(placeholder->objectName(), QStringLiteral("FileBrowserPlaceholder"));
        QCOMPARE(placeholder->minimumSize(), QSize(500, 300));
        QCOMPARE(placeholder->findChild<QLabel*>(QStringLiteral("title"))->text(), QStringLiteral("No NAS mounted"));
        QCOMPARE(placeholder->findChild<QLabel*>(QStringLiteral("hint"))->text(),
            QStringLiteral("Mount a NAS from the main window to browse files."));
        QVERIFY(!placeholder->findChild<QLabel*>(QStringLiteral("symbol"))->pixmap().isNull());

        NASConfig config;
        config.name = QStringLiteral("Media");
        QSignalSpy replaced(browser, &SceneWindow::contentReplaced);
        env.browserState.configure(config, QUrl::fromLocalFile(QStringLiteral("/mnt/media")));
        // Nothing is built between the two announcements.
        QCOMPARE(replaced.count(), 0);
        QTRY_COMPARE(replaced.count(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(replaced.count(), 1);
        auto* view = qobject_cast<FileBrowserView*>(browser->content());
        QVERIFY(view);
        QCOMPARE(view->config(), config);
        QCOMPARE(view->mountPoint(), QUrl::fromLocalFile(QStringLiteral("/mnt/media")));
        QCOMPARE(browser->minimumSizeHint().expandedTo(browser->minimumSize()), QSize(700, 500));

        // Another share: one rebuild with both of its values.
        NASConfig second;
        second.name = QStringLiteral("Backup");
        QList<std::pair<QString, QString>> seen;
        connect(browser, &SceneWindow::contentReplaced, this, [&seen](QWidget* content) {
            auto* v = qobject_cast<FileBrowserView*>(content);
            seen.append({v ? v->config().name : QString(), v ? v->mountPoint().toLocalFile() : QString()});
        });
        env.browserState.configure(second, QUrl::fromLocalFile(QStringLiteral("/mnt/backup")));
        QTRY_COMPARE(seen.size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(seen, (QList<std::pair<QString, QString>>{{QStringLiteral("Backup"), QStringLiteral("/mnt/backup")}}));
    }

    void anotherShareStartsOverButKeepsTheWindowsTransfers()
    {
        AppTestEnvironment env(nextDir());
        QTemporaryDir shares;
        for (const char* folder : {"A/sub", "B", "local"})
            QVERIFY(QDir(shares.path()).mkpath(QString::fromLatin1(folder)));
        QFile big(shares.filePath(QStringLiteral("A/big.bin")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.write(QByteArray(8 * 1048576, 'x')) == 8 * 1048576);
        big.close();

        NASConfig first;
        first.name = QStringLiteral("A");
        env.browserState.configure(first, QUrl::fromLocalFile(shares.filePath(QStringLiteral("A"))));
        SceneWindow* browser = env.app.windows().open(VantrelApp::fileBrowserWindowID);
        auto* view = qobject_cast<FileBrowserView*>(browser->content());
        QVERIFY(view);
        TransferManager* queue = &view->transferManager();
        queue->addDownload(QUrl::fromLocalFile(shares.filePath(QStringLiteral("A/big.bin"))),
            QUrl::fromLocalFile(shares.filePath(QStringLiteral("local"))));
        QTRY_COMPARE(queue->tasks().size(), 1);

        NASConfig second;
        second.name = QStringLiteral("B");
        env.browserState.configure(second, QUrl::fromLocalFile(shares.filePath(QStringLiteral("B"))));
        QTRY_VERIFY(qobject_cast<FileBrowserView*>(browser->content()) != view);
        view = qobject_cast<FileBrowserView*>(browser->content());
        QCOMPARE(view->config(), second);
        QCOMPARE(view->fileSystemManager().mountPoint(), QUrl::fromLocalFile(shares.filePath(QStringLiteral("B"))));
        QCOMPARE(view->currentFolder(), QUrl::fromLocalFile(shares.filePath(QStringLiteral("B"))));
        QCOMPARE(&view->transferManager(), queue);
        QTRY_COMPARE(queue->tasks().first().status, TransferStatus::completed);
        QCOMPARE(QFileInfo(shares.filePath(QStringLiteral("local/big.bin"))).size(), 8 * 1048576);
        browser->close();
    }

    void theBrowserFollowsItsShareMountedAgain()
    {
        AppTestEnvironment env(nextDir());
        QTemporaryDir shares;
        QVERIFY(QDir(shares.path()).mkpath(QStringLiteral("A/Docs")));
        QVERIFY(QDir(shares.path()).mkpath(QStringLiteral("B/Photos")));
        QFile inner(shares.filePath(QStringLiteral("A/Docs/inner.txt")));
        QVERIFY(inner.open(QIODevice::WriteOnly) && inner.write("x") == 1);
        inner.close();
        const QUrl a = QUrl::fromLocalFile(shares.filePath(QStringLiteral("A")));
        const QUrl b = QUrl::fromLocalFile(shares.filePath(QStringLiteral("B")));
        const NASConfig config = env.addConfig(QStringLiteral("Media"));
        env.appState.updateStatus(config.id, MountState::mounted(), a);
        env.browserState.configure(config, a);
        SceneWindow* browser = env.app.windows().open(VantrelApp::fileBrowserWindowID);
        QVERIFY(QTest::qWaitForWindowExposed(browser));
        auto* view = qobject_cast<FileBrowserView*>(browser->content());
        QVERIFY(view);
        const auto names = [&view] {
            QStringList result;
            for (const FileItem& item : view->fileList()->items())
                result << item.name;
            return result;
        };
        QTRY_COMPARE(names(), QStringList{QStringLiteral("Docs")});
        QTableView* table = view->fileList()->table();
        const QPoint at = table->visualRect(table->model()->index(0, 0)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTRY_COMPARE(names(), QStringList{QStringLiteral("inner.txt")});

        // The share drops away while the folder is reloaded: the browser lists the cache.
        env.appState.updateStatus(config.id, MountState::failed(VantrelError::mountFailed(QStringLiteral("gone"))));
        QVERIFY(QDir(shares.path()).rename(QStringLiteral("A"), QStringLiteral("A.away")));
        QTest::mouseClick(view->findChild<QPushButton*>(QStringLiteral("refreshButton")), Qt::LeftButton);
        QTRY_VERIFY(view->fileSystemManager().isOfflineMode());

        // Mounted again at the same place: the same folder, from the share.
        QVERIFY(QDir(shares.path()).rename(QStringLiteral("A.away"), QStringLiteral("A")));
        env.appState.updateStatus(config.id, MountState::mounted(), a);
        QTRY_VERIFY(!view->fileSystemManager().isOfflineMode());
        QTRY_COMPARE(names(), QStringList{QStringLiteral("inner.txt")});
        QCOMPARE(browser->content(), view);
        QCOMPARE(view->currentFolder(), QUrl::fromLocalFile(shares.filePath(QStringLiteral("A/Docs"))));
        QVERIFY(!view->fileSystemManager().isOfflineMode());

        // Mounted again elsewhere: the new root, and the path bar and Home with it.
        env.appState.updateStatus(config.id, MountState::unmounting());
        env.appState.updateStatus(config.id, MountState::mounted(), b);
        QTRY_VERIFY(qobject_cast<FileBrowserView*>(browser->content()) != view);
        view = qobject_cast<FileBrowserView*>(browser->content());
        QVERIFY(view);
        QCOMPARE(view->mountPoint(), b);
        QTRY_COMPARE(names(), QStringList{QStringLiteral("Photos")});
        QCOMPARE(env.browserState.mountPoint(), std::optional<QUrl>(b));
        browser->close();
    }

    void windowsOpenWhollyOnScreenAndComeBackWhereTheyWereLeft()
    {
        AppTestEnvironment env(nextDir());
        WindowRegistry& windows = env.app.windows();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const auto onScreen = [&screen](const QWidget* window) { return screen.contains(window->frameGeometry()); };

        // The browser's default size is wider than this screen: it opens narrower, whole.
        SceneWindow* browser = windows.open(VantrelApp::fileBrowserWindowID);
        QVERIFY(QTest::qWaitForWindowExposed(browser));
        QVERIFY2(onScreen(browser), qPrintable(QDebug::toString(browser->frameGeometry())));

        // Settings, opened from the main window's toolbar, in the middle of the screen.
        SceneWindow* main = windows.open(VantrelApp::mainWindowID);
        QVERIFY(QTest::qWaitForWindowExposed(main));
        auto* settingsButton = main->findChild<QAbstractButton*>(QStringLiteral("toolbar.settings"));
        QVERIFY(settingsButton);
        QTest::mouseClick(settingsButton, Qt::LeftButton);
        QTRY_VERIFY(windows.find(VantrelApp::settingsWindowID));
        SceneWindow* settings = windows.find(VantrelApp::settingsWindowID);
        QVERIFY(QTest::qWaitForWindowExposed(settings));
        QVERIFY(onScreen(settings));
        QTRY_VERIFY2((settings->frameGeometry().center() - screen.center()).manhattanLength() <= 2,
            qPrintable(QDebug::toString(settings->frameGeometry()) + QDebug::toString(screen)));
        SceneWindow* about = windows.open(VantrelApp::aboutWindowID);
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QTRY_VERIFY((about->frameGeometry().center() - screen.center()).manhattanLength() <= 2);

        // The user moves and sizes the main window and closes it: it comes back there.
        main->resize(620, 480);
        main->move(screen.topLeft() + QPoint(30, 40));
        const QRect left = main->frameGeometry();
        main->close();
        QTRY_VERIFY(!windows.find(VantrelApp::mainWindowID));
        main = windows.open(VantrelApp::mainWindowID);
        QTRY_COMPARE(main->frameGeometry(), left);
        QCOMPARE(env.defaults.stringValue(QStringLiteral("window.main.frame")),
            std::optional<QString>(QStringLiteral("%1 %2 620 480").arg(left.x()).arg(left.y())));
        main->close();

        // Left on a larger screen than there is now: back, whole, on this one.
        env.defaults.setValue(QStringLiteral("window.main.frame"), QStringLiteral("2500 1700 3000 2000"));
        main = windows.open(VantrelApp::mainWindowID);
        QTRY_VERIFY2(onScreen(main), qPrintable(QDebug::toString(main->frameGeometry())));
        main->close();
        for (QWidget* window :
            {static_cast<QWidget*>(browser), static_cast<QWidget*>(settings), static_cast<QWidget*>(about)})
            window->close();
    }

    void configWithoutMountPointShowsThePlaceholder()
    {
        AppTestEnvironment env(nextDir());
        // Between configure()'s two announcements the state holds a configuration but no mount
        // point: content built at that moment is the placeholder.
        QStringList seen;
        connect(&env.browserState, &FileBrowserState::configChanged, this, [&] {
            QVERIFY(env.browserState.config() && !env.browserState.mountPoint());
            std::unique_ptr<QWidget> content(env.app.makeFileBrowserContent());
            seen.append(content->objectName());
        });
        connect(&env.browserState, &FileBrowserState::mountPointChanged, this, [&] {
            std::unique_ptr<QWidget> content(env.app.makeFileBrowserContent());
            seen.append(content->objectName());
        });
        env.browserState.configure(NASConfig(), QUrl::fromLocalFile(QStringLiteral("/mnt/x")));
        QCOMPARE(seen, (QStringList{QStringLiteral("FileBrowserPlaceholder"), QStringLiteral("FileBrowserView")}));
    }

    void localeChangesReachEveryWindowsContent()
    {
        AppTestEnvironment env(nextDir());
        WindowRegistry& windows = env.app.windows();
        const QStringList ids{VantrelApp::mainWindowID, VantrelApp::fileBrowserWindowID, VantrelApp::aboutWindowID,
            VantrelApp::settingsWindowID};
        for (const QString& id : ids)
            QCOMPARE(windows.open(id)->content()->locale().language(), QLocale::Chinese);

        env.languageManager.setSelectedLanguage(AppLanguage::german);
        for (const QString& id : ids)
            QCOMPARE(windows.find(id)->content()->locale().language(), QLocale::German);

        // Content built later (the browser after a choice) gets the current locale too.
        NASConfig config;
        env.browserState.configure(config, QUrl::fromLocalFile(QStringLiteral("/mnt/x")));
        QTRY_VERIFY(qobject_cast<FileBrowserView*>(windows.find(VantrelApp::fileBrowserWindowID)->content()));
        QCOMPARE(windows.find(VantrelApp::fileBrowserWindowID)->content()->locale().language(), QLocale::German);
        windows.find(VantrelApp::mainWindowID)->close();
        QTRY_VERIFY(!windows.find(VantrelApp::mainWindowID));
        QCOMPARE(windows.open(VantrelApp::mainWindowID)->content()->locale().language(), QLocale::German);
    }

    void secondLaunchActivatesTheFirstAndExits()
    {
        const QString home = prepareHome(QStringLiteral("twice"));
        AppRun first(home, runtimeFolder(QStringLiteral("twice")));
        QTRY_VERIFY_WITH_TIMEOUT(first.isUp(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(logText(home).contains(QStringLiteral("Vantrel application started successfully")),
            10000);

        AppRun second(home, runtimeFolder(QStringLiteral("twice")));
        QVERIFY(second.process().waitForFinished(15000));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(first.activations(), 1, 10000);

        QString log = logText(home);
        QCOMPARE(log.count(QStringLiteral("Another Vantrel instance is running. Activating it and exiting.")), 1);
        QCOMPARE(log.count(QStringLiteral("Vantrel application starting...")), 1);
        // Updates: said once, at info, in this platform's terms.
        QCOMPARE(log.count(
                     QStringLiteral("No update framework is built in: updates come from the system's package manager")),
            1);
        QVERIFY(
            log.contains(QRegularExpression(QStringLiteral("\\[INFO\\] [^\\n]* - No update framework is built in"))));
        QVERIFY(!log.contains(QStringLiteral("Sparkle")));
        // Without journald the system log's lines reach a terminal.
        if (!QFile::exists(JournalSystemLog::journalSocketPath))
            // The pipe may deliver the line after the log file has it.
            QTRY_VERIFY2_WITH_TIMEOUT(first.errorOutput().contains(QStringLiteral(
                                          "com.vantrel [Lifecycle] Info: Vantrel application starting...\n")),
                qPrintable(first.errorOutput()), 5000);

        // SIGTERM quits through the event loop, so the shut-down runs.
        first.process().terminate();
        QVERIFY(first.process().waitForFinished(15000));
        QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process().exitCode(), 0);
        log = logText(home);
        QCOMPARE(log.count(QStringLiteral("Vantrel application terminating...")), 2);
        QVERIFY(log.trimmed().endsWith(QStringLiteral("Vantrel application terminated")));
    }

    void localClientsCannotWearDownTheInstanceSocket()
    {
        const QString home = prepareHome(QStringLiteral("hostile"));
        AppRun first(home, runtimeFolder(QStringLiteral("hostile")));
        QTRY_VERIFY_WITH_TIMEOUT(first.isUp(), 15000);
        const QString socketPath = runtimeFolder(QStringLiteral("hostile")) + QStringLiteral("/com.vantrel.app-")
            + QString::number(::getuid());

        // Hundreds of clients that connect and say nothing: the application keeps only a few.
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < 200; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(socketPath);
            QVERIFY(idle.back()->waitForConnected(2000));
        }
        const auto closedCount = [&idle] {
            return std::count_if(idle.cbegin(), idle.cend(),
                [](const auto& socket) { return socket->state() == QLocalSocket::UnconnectedState; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(closedCount() >= 180, 5000);

        // A message that never ends is cut off instead of filling the memory.
        QLocalSocket flood;
        flood.connectToServer(socketPath);
        QVERIFY(flood.waitForConnected(2000));
        const QByteArray block(1 << 20, 'x');
        for (int i = 0; i < 8 && flood.state() == QLocalSocket::ConnectedState; ++i)
            flood.write(block);
        QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QLocalSocket::UnconnectedState, 5000);

        // Later launches still bring the running copy forward.
        AppRun second(home, runtimeFolder(QStringLiteral("hostile")));
        QVERIFY(second.process().waitForFinished(15000));
        QCOMPARE(second.process().exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(first.activations(), 1, 10000);
        QVERIFY(QFile::exists(socketPath));
        first.process().terminate();
        QVERIFY(first.process().waitForFinished(15000));
    }

    void anotherUsersLockInTheSharedTemporaryFolderDoesNotStopTheApp()
    {
        if (::geteuid() != 0)
            QSKIP("planting another user's files needs root");
        const QString home = prepareHome(QStringLiteral("planted"));
        const QString shared = runtimeFolder(QStringLiteral("planted"));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        const QString uid = QString::number(::getuid());

        // Another user plants live locks where the application would look for its own: in the
        // shared folder itself, and in a folder under the name of the application's own.
        const QString planted = shared + QStringLiteral("/vantrel-") + uid;
        QVERIFY(QDir().mkdir(planted));
        QVERIFY(::chmod(QFile::encodeName(planted).constData(), 0777) == 0);
        QLockFile outer(shared + QStringLiteral("/com.vantrel.app-") + uid + QStringLiteral(".lock"));
        QLockFile inner(planted + QStringLiteral("/com.vantrel.app-") + uid + QStringLiteral(".lock"));
        QVERIFY(outer.tryLock(0) && inner.tryLock(0));
        for (const QString& path : {planted, outer.fileName(), inner.fileName()})
            QVERIFY(::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);

        AppRun app(home, QString(), shared);
        QTRY_VERIFY_WITH_TIMEOUT(app.isUp() || app.process().state() == QProcess::NotRunning, 15000);
        QVERIFY2(app.isUp(), qPrintable(app.errorOutput()));
        QVERIFY(!app.loggedSinceStart().contains(QStringLiteral("Another Vantrel instance is running")));
        QTRY_VERIFY_WITH_TIMEOUT(
            app.loggedSinceStart().contains(QStringLiteral("Vantrel application started successfully")), 10000);
        app.process().terminate();
        QVERIFY(app.process().waitForFinished(15000));
        QCOMPARE(app.process().exitCode(), 0);
    }

    void aCrashedFirstCopyDoesNotBlockTheNextLaunch()
    {
        const QString home = prepareHome(QStringLiteral("crash"));
        {
            AppRun crashed(home, runtimeFolder(QStringLiteral("crash")));
            QTRY_VERIFY_WITH_TIMEOUT(crashed.isUp(), 15000);
            crashed.process().kill(); // leaves its lock and socket behind
            QVERIFY(crashed.process().waitForFinished(5000));
        }
        AppRun next(home, runtimeFolder(QStringLiteral("crash")));
        QTRY_VERIFY_WITH_TIMEOUT(next.isUp(), 15000);
        AppRun third(home, runtimeFolder(QStringLiteral("crash")));
        QVERIFY(third.process().waitForFinished(15000));
        QCOMPARE(third.process().exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(next.activations(), 1, 10000);
        QVERIFY2(!third.errorOutput().contains(QStringLiteral("does not answer")), qPrintable(third.errorOutput()));
        next.process().terminate();
        QVERIFY(next.process().waitForFinished(15000));
        QCOMPARE(next.process().exitCode(), 0);
    }
};

VANTREL_TEST_MAIN(TestVantrelApp)
#include "tst_VantrelApp.moc"
