#include "support/Fixtures.h"
#include "support/RecordingWorkspace.h"
#include "support/TestMain.h"

#include "app/LaunchAtLoginManager.h"
#include "app/UpdateChecker.h"
#include "platform/Defaults.h"
#include "platform/LoginItems.h"
#include "platform/SystemLog.h"
#include "services/LogManager.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace vantrel;

class TestLaunchAtLoginManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    using Logging = vantrel::test::Logging;

private slots:
    void entryFollowsXdgConfigHome()
    {
        // CTest points XDG_CONFIG_HOME at the test's private home.
        const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
        QVERIFY(!config.isEmpty());
        LoginItems items;
        QCOMPARE(items.entryPath(QStringLiteral("com.vantrel.app")), config + QStringLiteral("/autostart/com.vantrel.app.desktop"));
    }

    void enableAndDisableAreIdempotent()
    {
        Logging logging(m_dir.filePath(QStringLiteral("idem")));
        const QString autostart = m_dir.filePath(QStringLiteral("idem/config/autostart"));
        LoginItems items(autostart, QStringLiteral("/opt/Vantrel Test/vantrel"));
        LaunchAtLoginManager manager(items, logging.log, QStringLiteral("com.vantrel.app"));
        const QString entry = autostart + QStringLiteral("/com.vantrel.app.desktop");

        QVERIFY(!manager.isEnabled());
        manager.setEnabled(true);
        QVERIFY(QFile::exists(entry));
        QVERIFY(manager.isEnabled());
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        file.close();
        QVERIFY(content.startsWith("[Desktop Entry]\n"));
        QVERIFY(content.contains("\nExec=\"/opt/Vantrel Test/vantrel\"\n"));

        // Already registered: nothing rewritten (a rewrite would drop the marker), the outcome still logged.
        QVERIFY(file.open(QIODevice::Append));
        file.write("# marker\n");
        file.close();
        manager.setEnabled(true);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith("# marker\n"));
        file.close();

        manager.setEnabled(false);
        QVERIFY(!QFile::exists(entry));
        QVERIFY(!manager.isEnabled());
        manager.setEnabled(false);

        QCOMPARE(logging.systemLog.messages(),
            (QStringList{"Launch at login set to true", "Launch at login set to true", "Launch at login set to false",
                "Launch at login set to false"}));
        const auto records = logging.systemLog.records();
        QCOMPARE(records.first().category, QStringLiteral("Lifecycle"));
    }

    void hiddenEntryIsNotEnabledAndGetsReplaced()
    {
        Logging logging(m_dir.filePath(QStringLiteral("hidden")));
        const QString autostart = m_dir.filePath(QStringLiteral("hidden/autostart"));
        QVERIFY(QDir().mkpath(autostart));
        QFile file(autostart + QStringLiteral("/com.vantrel.app.desktop"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\nExec=vantrel\nHidden=true\n");
        file.close();
        LoginItems items(autostart, QStringLiteral("/usr/bin/vantrel"));
        LaunchAtLoginManager manager(items, logging.log, QStringLiteral("com.vantrel.app"));
        QVERIFY(!manager.isEnabled());
        manager.setEnabled(true);
        QVERIFY(manager.isEnabled());
    }

    void failedRegistrationLogsOnlyTheFailure()
    {
        Logging logging(m_dir.filePath(QStringLiteral("fail")));
        // A regular file where the autostart folder must go.
        const QString blocker = m_dir.filePath(QStringLiteral("fail/autostart"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        LoginItems items(blocker, QStringLiteral("/usr/bin/vantrel"));
        LaunchAtLoginManager manager(items, logging.log, QString());
        QCOMPARE(manager.serviceIdentifier(), QStringLiteral("com.vantrel.app"));
        manager.setEnabled(true);
        const QStringList messages = logging.systemLog.messages();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().startsWith(QStringLiteral("Failed to set launch at login: ")), qPrintable(messages.first()));
        QCOMPARE(logging.systemLog.records().first().type, SystemLog::Type::Error);
        QVERIFY(!manager.isEnabled());
    }

    void execValueQuotesReservedCharacters()
    {
        // Exec quoting (backslash before " ` $ \\), "%%" for %, then the string level doubles each backslash.
        const QString input = QStringLiteral("/a b/$x\"`%\\");
        const QString expected = QStringLiteral("\"/a b/\\\\$x\\\\\"\\\\`%%\\\\\\\\\"");
        QCOMPARE(LoginItems::execValue(input), expected);
    }

    void updateCheckOpensTheProductRootOnce()
    {
        Logging logging(m_dir.filePath(QStringLiteral("update")));
        test::RecordingWorkspace workspace;
        const QList<QUrl>& opened = workspace.opened;
        UpdateManager updates(logging.log, workspace);

        // Before configuration only the warning.
        updates.checkForUpdates();
        QVERIFY(opened.isEmpty());
        QCOMPARE(logging.systemLog.messages(), QStringList{"Sparkle not integrated. Please add Sparkle package to enable updates."});

        updates.configure(QUrl(QStringLiteral("https://vantrel.app/updates/appcast.xml")));
        QVERIFY(updates.isInitialized());
        QCOMPARE(logging.systemLog.messages().size(), 2);
        updates.configure(QUrl(QStringLiteral("https://elsewhere.example/feed.xml")));
        QCOMPARE(logging.systemLog.messages().size(), 2);
        QCOMPARE(updates.feedURL(), std::optional<QUrl>(QUrl(QStringLiteral("https://vantrel.app/updates/appcast.xml"))));

        updates.checkForUpdates();
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://vantrel.app/"))});
        QCOMPARE(UpdateManager::productPage(QUrl(QStringLiteral("https://h.example/a/b/c/feed.xml"))),
            QUrl(QStringLiteral("https://h.example/a/b/")));
    }
};

VANTREL_TEST_MAIN(TestLaunchAtLoginManager)
#include "tst_LaunchAtLoginManager.moc"
