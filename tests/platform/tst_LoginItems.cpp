#include "support/Files.h"
#include "support/TestMain.h"

#include "platform/LoginItems.h"

#include <QCoreApplication>
#include <QDir>
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

    void theInstalledProgramIsStartedByItsInstalledPath()
    {
        // A prefix whose bin folder is a link (a stow-style install): the running executable is
        // reported at the link's target, the entry keeps the installed path.
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("store/bin"))));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("prefix"))));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("build/src"))));
        const QString stored = dir.filePath(QStringLiteral("store/bin/vantrel"));
        const QString build = dir.filePath(QStringLiteral("build/src/vantrel"));
        for (const QString& path : {stored, build}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("store/bin")), dir.filePath(QStringLiteral("prefix/bin"))));
        const QString installed = dir.filePath(QStringLiteral("prefix/bin/vantrel"));

        QCOMPARE(LoginItems::programPath(stored, installed), installed);
        QCOMPARE(LoginItems::programPath(build, installed), build);
        QCOMPARE(LoginItems::programPath(build, dir.filePath(QStringLiteral("nowhere/vantrel"))), build);

        // This test runs from the build, so the default entry starts the build's executable.
        QCOMPARE(LoginItems().executablePath(), QCoreApplication::applicationFilePath());
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
