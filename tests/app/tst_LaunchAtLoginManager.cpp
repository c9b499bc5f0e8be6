#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "app/LaunchAtLoginManager.h"
#include "platform/Defaults.h"
#include "platform/LoginItems.h"
#include "platform/SystemLog.h"
#include "services/LogManager.h"

#include <QFile>
#include <QTemporaryDir>

using namespace vantrel;

class TestLaunchAtLoginManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    using Logging = vantrel::test::Logging;

private slots:
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

    void enablingReplacesAnEntryForAnotherProgram()
    {
        // Enabled from a build, then installed: the next enable points the entry at the install.
        Logging logging(m_dir.filePath(QStringLiteral("moved")));
        const QString autostart = m_dir.filePath(QStringLiteral("moved/autostart"));
        LoginItems build(autostart, QStringLiteral("/home/dev/vantrel/build/default/src/vantrel"));
        LaunchAtLoginManager fromBuild(build, logging.log, QStringLiteral("com.vantrel.app"));
        fromBuild.setEnabled(true);

        LoginItems installed(autostart, QStringLiteral("/usr/bin/vantrel"));
        LaunchAtLoginManager fromInstall(installed, logging.log, QStringLiteral("com.vantrel.app"));
        QVERIFY(fromInstall.isEnabled()); // the session still starts something
        QVERIFY(!installed.startsThisProgram(QStringLiteral("com.vantrel.app")));
        fromInstall.setEnabled(true);
        QVERIFY(installed.startsThisProgram(QStringLiteral("com.vantrel.app")));
        QFile file(installed.entryPath(QStringLiteral("com.vantrel.app")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.contains("\nExec=\"/usr/bin/vantrel\"\n"));
        QVERIFY(!content.contains("build/default"));
        QCOMPARE(logging.systemLog.messages(),
            (QStringList{"Launch at login set to true", "Launch at login set to true"}));

        // Back in the build: disabling removes the entry whichever program it starts.
        fromBuild.setEnabled(false);
        QVERIFY(!file.exists());
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
        QVERIFY2(messages.first().startsWith(QStringLiteral("Failed to set launch at login: ")),
            qPrintable(messages.first()));
        QCOMPARE(logging.systemLog.records().first().type, SystemLog::Type::Error);
        QVERIFY(!manager.isEnabled());
    }
};

VANTREL_TEST_MAIN(TestLaunchAtLoginManager)
#include "tst_LaunchAtLoginManager.moc"
