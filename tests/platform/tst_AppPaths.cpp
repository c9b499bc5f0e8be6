#include "support/TestMain.h"

#include "platform/AppPaths.h"

using namespace vantrel;

class TestAppPaths : public QObject {
    Q_OBJECT

private slots:
    // The folders are shared with other programs' generic locations, not named after the
    // organisation and application as Qt's own application locations would be.
    void foldersFollowTheUsersXdgFolders()
    {
        QCOMPARE(AppPaths::dataDirectory(), qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Vantrel"));
        QCOMPARE(AppPaths::cacheDirectory(), qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/Vantrel"));
        QCOMPARE(AppPaths::configDirectory(), qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Vantrel"));
    }
};

VANTREL_TEST_MAIN(TestAppPaths)
#include "tst_AppPaths.moc"
