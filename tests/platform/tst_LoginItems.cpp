#include "support/Files.h"
#include "support/TestMain.h"

#include "platform/LoginItems.h"

#include <QTemporaryDir>

#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::test;

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

    void registeredEntryIsOwnerOnlyAndAPipeIsNoEntry()
    {
        QTemporaryDir dir;
        LoginItems items(dir.filePath(QStringLiteral("autostart")), QStringLiteral("/usr/bin/vantrel"));
        QCOMPARE(items.registerItem(QStringLiteral("com.vantrel.app"), QStringLiteral("Vantrel")), std::nullopt);
        QCOMPARE(items.status(QStringLiteral("com.vantrel.app")), LoginItems::Status::enabled);
        QVERIFY(isOwnerOnly(items.entryPath(QStringLiteral("com.vantrel.app"))));
        QVERIFY(isOwnerOnly(items.autostartDirectory()));

        // Asking must not hang on something that is no file.
        const QByteArray pipe = QFile::encodeName(items.entryPath(QStringLiteral("other")));
        QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        QCOMPARE(items.status(QStringLiteral("other")), LoginItems::Status::notRegistered);

        // A file where the folder belongs is reported, not ignored.
        LoginItems blocked(items.entryPath(QStringLiteral("com.vantrel.app")) + QStringLiteral("/autostart"),
            QStringLiteral("/usr/bin/vantrel"));
        QVERIFY(blocked.registerItem(QStringLiteral("x"), QStringLiteral("X")));
    }
};

VANTREL_TEST_MAIN(TestLoginItems)
#include "tst_LoginItems.moc"
