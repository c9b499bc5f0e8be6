#include "support/TestMain.h"

#include "AppTestEnvironment.h"

#include "platform/Localization.h"
#include "views/browser/FileBrowserView.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "views/main/SettingsView.h"

#include <QLabel>
#include <QTemporaryDir>

using namespace vantrel;
using vantrel::test::AppTestEnvironment;

class TestWindowRegistry : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    QString nextDir() { return m_dir.filePath(QString::number(++m_counter)); }

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
            (QStringList{QStringLiteral("main"), QStringLiteral("file-browser"), QStringLiteral("about"),
                QStringLiteral("settings")}));
        QVERIFY(!windows.open(QStringLiteral("nonexistent")));

        SceneWindow* main = windows.open(QStringLiteral("main"));
        QVERIFY(qobject_cast<MainWindowView*>(main->content()));
        QCOMPARE(main->windowTitle(), QStringLiteral("Vantrel"));
        QCOMPARE(main->size(), QSize(600, 500));
        main->resize(100, 100); // cannot go below the content's minimum
        QCOMPARE(main->minimumSizeHint().expandedTo(main->minimumSize()), QSize(500, 400));
        QVERIFY(main->size().width() >= 500 && main->size().height() >= 400);

        SceneWindow* browser = windows.open(QStringLiteral("file-browser"));
        QCOMPARE(browser->windowTitle(), QStringLiteral("File Browser"));
        QCOMPARE(browser->size(), QSize(900, 600));

        SceneWindow* about = windows.open(QStringLiteral("about"));
        QVERIFY(qobject_cast<AboutView*>(about->content()));
        QCOMPARE(about->windowTitle(), QStringLiteral("About Vantrel"));
        QCOMPARE(about->sizeHint(), QSize(360, 280));
        QCOMPARE(about->minimumSize(), QSize(360, 280));
        QCOMPARE(about->maximumSize(), QSize(360, 280));

        SceneWindow* settings = windows.open(QStringLiteral("settings"));
        QVERIFY(qobject_cast<SettingsView*>(settings->content()));
        QCOMPARE(settings->windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(settings->size(), QSize(580, 460));
    }

    void aWindowIsReusedWhileItExistsAndMadeAnewAfterClosing()
    {
        AppTestEnvironment env(nextDir());
        WindowRegistry& windows = env.app.windows();
        QSignalSpy created(&windows, &WindowRegistry::windowCreated);
        QPointer<SceneWindow> first = windows.open(QStringLiteral("main"));
        QCOMPARE(windows.open(QStringLiteral("main")), first.data());
        QCOMPARE(windows.find(QStringLiteral("main")), first.data());
        QCOMPARE(created.count(), 1);
        QVERIFY(first->isVisible());

        first->close();
        QTRY_VERIFY(!first); // a closed window is gone
        QVERIFY(!windows.find(QStringLiteral("main")));
        QVERIFY(windows.open(QStringLiteral("main")));
        QCOMPARE(created.count(), 2);
    }

    void browserShowsThePlaceholderUntilConfigAndMountPointAreSet()
    {
        AppTestEnvironment env(nextDir());
        WindowRegistry& windows = env.app.windows();
        SceneWindow* browser = windows.open(QStringLiteral("file-browser"));
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
        const QStringList ids{QStringLiteral("main"), QStringLiteral("file-browser"), QStringLiteral("about"),
            QStringLiteral("settings")};
        for (const QString& id : ids)
            QCOMPARE(windows.open(id)->content()->locale().language(), QLocale::Chinese);

        env.languageManager.setSelectedLanguage(AppLanguage::german);
        for (const QString& id : ids)
            QCOMPARE(windows.find(id)->content()->locale().language(), QLocale::German);

        // Content built later (the browser after a choice) gets the current locale too.
        NASConfig config;
        env.browserState.configure(config, QUrl::fromLocalFile(QStringLiteral("/mnt/x")));
        QTRY_VERIFY(qobject_cast<FileBrowserView*>(windows.find(QStringLiteral("file-browser"))->content()));
        QCOMPARE(windows.find(QStringLiteral("file-browser"))->content()->locale().language(), QLocale::German);
        windows.find(QStringLiteral("main"))->close();
        QTRY_VERIFY(!windows.find(QStringLiteral("main")));
        QCOMPARE(windows.open(QStringLiteral("main"))->content()->locale().language(), QLocale::German);
    }
};

VANTREL_TEST_MAIN(TestWindowRegistry)
#include "tst_WindowRegistry.moc"
