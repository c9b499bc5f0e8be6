#include "support/TestMain.h"

#include "platform/LoginItems.h"

using namespace vantrel;

class TestLoginItems : public QObject {
    Q_OBJECT

private slots:
    void entryFollowsXdgConfigHome()
    {
        // CTest points XDG_CONFIG_HOME at the test's private home.
        const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
        QVERIFY(!config.isEmpty());
        LoginItems items;
        QCOMPARE(items.entryPath(QStringLiteral("com.vantrel.app")),
            config + QStringLiteral("/autostart/com.vantrel.app.desktop"));
    }

    void execValueQuotesReservedCharacters()
    {
        // Exec quoting (backslash before " ` $ \\), "%%" for %, then the string level doubles each backslash.
        const QString input = QStringLiteral("/a b/$x\"`%\\");
        const QString expected = QStringLiteral("\"/a b/\\\\$x\\\\\"\\\\`%%\\\\\\\\\"");
        QCOMPARE(LoginItems::execValue(input), expected);
    }
};

VANTREL_TEST_MAIN(TestLoginItems)
#include "tst_LoginItems.moc"
