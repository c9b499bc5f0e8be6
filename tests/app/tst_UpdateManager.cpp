#include "support/Fixtures.h"
#include "support/RecordingWorkspace.h"
#include "support/TestMain.h"

#include "app/UpdateManager.h"

#include <QTemporaryDir>

using namespace vantrel;

class TestUpdateManager : public QObject {
    Q_OBJECT

private slots:
    void updateCheckOpensTheProductRootOnce()
    {
        test::LoggingFixture logging;
        test::RecordingWorkspace workspace;
        const QList<QUrl>& opened = workspace.opened;
        UpdateManager updates(logging.log, workspace);

        // Before configuration only the warning.
        updates.checkForUpdates();
        QVERIFY(opened.isEmpty());
        QCOMPARE(logging.systemLog.messages(),
            QStringList{"No update framework is built in: updates come from the system's package manager"});

        updates.configure(QUrl(QStringLiteral("https://vantrel.app/updates/appcast.xml")));
        QVERIFY(updates.isInitialized());
        QCOMPARE(logging.systemLog.messages().size(), 2);
        updates.configure(QUrl(QStringLiteral("https://elsewhere.example/feed.xml")));
        QCOMPARE(logging.systemLog.messages().size(), 2);
        QCOMPARE(updates.feedURL(),
            std::optional<QUrl>(QUrl(QStringLiteral("https://vantrel.app/updates/appcast.xml"))));

        updates.checkForUpdates();
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://vantrel.app/"))});
        QCOMPARE(UpdateManager::productPage(QUrl(QStringLiteral("https://h.example/a/b/c/feed.xml"))),
            QUrl(QStringLiteral("https://h.example/a/b/")));
    }
};

VANTREL_TEST_MAIN(TestUpdateManager)
#include "tst_UpdateManager.moc"
