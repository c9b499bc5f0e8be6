#include "support/Environment.h"
#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "model/AppState.h"
#include "platform/Defaults.h"
#include "platform/SecretStore.h"
#include "platform/SystemLog.h"
#include "services/KeychainManager.h"
#include "services/LogManager.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

using namespace vantrel;

namespace {

// Accounts unique to one run, so tests sharing the session's keyring never meet.
QString uniqueName(const char* prefix)
{
    return QString::fromLatin1(prefix) + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

struct Fixture : test::LoggingFixture {
    SecretStore store;
    KeychainManager keychain{store, log};
};

} // namespace

class TestKeychainManager : public QObject {
    Q_OBJECT

private slots:
    void saveReadOverwriteDelete()
    {
        Fixture f;
        const QString account = uniqueName("acct-");
        const QString first = QStringLiteral("pä$s wörd 密码 \"[x]\"");
        QVERIFY(f.keychain.savePassword(first, account));
        QCOMPARE(f.keychain.getPassword(account), std::optional<QString>(first));

        // Saving again replaces: the new value reads back, and one delete leaves nothing.
        QVERIFY(f.keychain.savePassword(QStringLiteral("second"), account));
        QCOMPARE(f.keychain.getPassword(account), std::optional<QString>(QStringLiteral("second")));
        const SecretStore::ReadResult raw = f.store.findGenericPassword(KeychainManager::service, account);
        QCOMPARE(raw.status, SecretStore::success);
        QCOMPARE(raw.secret, QByteArray("second"));

        // The empty password is a value like any other.
        QVERIFY(f.keychain.savePassword(QString(), account));
        QCOMPARE(f.keychain.getPassword(account), std::optional<QString>(QString()));

        f.keychain.deletePassword(account);
        QCOMPARE(f.keychain.getPassword(account), std::nullopt);
        QVERIFY(f.systemLog.records().isEmpty());
    }

    void missingItemIsSilent()
    {
        Fixture f;
        const QString account = uniqueName("missing-");
        const SecretStore::ReadResult raw = f.store.findGenericPassword(KeychainManager::service, account);
        QCOMPARE(raw.status, SecretStore::itemNotFound);
        QCOMPARE(f.store.deleteGenericPassword(KeychainManager::service, account).status, SecretStore::itemNotFound);

        QCOMPARE(f.keychain.getPassword(account), std::nullopt);
        f.keychain.deletePassword(account);
        f.keychain.cleanupSystemSMBKeychain(uniqueName("server-"), account);
        QVERIFY(f.systemLog.records().isEmpty());

        // Items of another service are not ours to read.
        QVERIFY(f.store.addGenericPassword(QStringLiteral("com.example.other"), account, "foreign").ok());
        QCOMPARE(f.keychain.getPassword(account), std::nullopt);
        QVERIFY(f.store.deleteGenericPassword(QStringLiteral("com.example.other"), account).ok());
    }

    void invalidUtf8ReadsAsNoneWithoutLog()
    {
        Fixture f;
        const QString account = uniqueName("bytes-");
        QVERIFY(f.store.addGenericPassword(KeychainManager::service, account, QByteArray("\xff\xfe\x80", 3)).ok());
        QCOMPARE(f.keychain.getPassword(account), std::nullopt);
        QVERIFY(f.systemLog.records().isEmpty());
        f.keychain.deletePassword(account);
    }

    void credentialKeyValues()
    {
        QCOMPARE(KeychainManager::credentialKey("nas.local", "/share", QStringLiteral("alice")),
            QStringLiteral("770539d572a145e3e8241d2c495c5de6630993d6bd65d5d2da755a71afda7b72"));
        const QString none = KeychainManager::credentialKey("nas.local", QStringLiteral("Photos 日本"), std::nullopt);
        QCOMPARE(none, QStringLiteral("2cd2a9c6fc0de692b1a909367c20d35a27ea67372ce0337bbaadd431dadfa027"));
        QCOMPARE(KeychainManager::credentialKey("nas.local", QStringLiteral("Photos 日本"), QString()), none);
        // No case folding, no trimming.
        QCOMPARE(KeychainManager::credentialKey("NAS.local", QStringLiteral("Photos 日本"), std::nullopt),
            QStringLiteral("5ed1c8eb1c8091f4182d611b71f6357849b3786a3569f9dc5d34eacdf4fade7a"));
        QVERIFY(KeychainManager::credentialKey(" nas.local", "/share", QStringLiteral("alice"))
            != KeychainManager::credentialKey("nas.local", "/share", QStringLiteral("alice")));
        QCOMPARE(KeychainManager::credentialKey("", "", std::nullopt).size(), 64);
    }

    void temporarySMBItemCleanupSparesTheUsersItem()
    {
        Fixture f;
        const QString server = uniqueName("server-");
        const QString account = QStringLiteral("alice");

        // Without a user item: the temporary one reads back, a rewrite replaces it, clean-up removes it.
        f.keychain.writeSystemSMBKeychainEntry(server, account, QStringLiteral("t1"));
        f.keychain.writeSystemSMBKeychainEntry(server, account, QStringLiteral("t2 ü"));
        QCOMPARE(f.store.findInternetPassword(server, account).secret, QStringLiteral("t2 ü").toUtf8());
        f.keychain.cleanupSystemSMBKeychain(server, account);
        QCOMPARE(f.store.findInternetPassword(server, account).status, SecretStore::itemNotFound);

        // The user's own password for the same server and account survives the whole round.
        QVERIFY(f.store.addInternetPassword(server, account, "users-own", /*temporary=*/false).ok());
        f.keychain.writeSystemSMBKeychainEntry(server, account, QStringLiteral("temp"));
        f.keychain.cleanupSystemSMBKeychain(server, account);
        const SecretStore::ReadResult left = f.store.findInternetPassword(server, account);
        QCOMPARE(left.status, SecretStore::success);
        QCOMPARE(left.secret, QByteArray("users-own"));
        // Another account on the same server is untouched as well.
        f.keychain.writeSystemSMBKeychainEntry(server, QStringLiteral("bob"), QStringLiteral("b"));
        f.keychain.cleanupSystemSMBKeychain(server, account);
        QCOMPARE(f.store.findInternetPassword(server, QStringLiteral("bob")).secret, QByteArray("b"));

        QVERIFY(f.systemLog.records().isEmpty());
        QVERIFY(f.store.deleteInternetPassword(server, account, false).ok());
        QVERIFY(f.store.deleteInternetPassword(server, QStringLiteral("bob"), false).ok());
    }

    // Failures are provoked for real: a child copy of this test runs with an unreachable bus.
    void unreachableServiceIsLoggedAndThrown()
    {
        QTemporaryDir childHome;
        QProcess child;
        QProcessEnvironment env = test::privateHomeEnvironment(childHome.filePath("home"));
        env.insert(QStringLiteral("VANTREL_KEYCHAIN_BROKEN_BUS"), QStringLiteral("1"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
            QStringLiteral("unix:path=") + childHome.filePath("no-bus"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("brokenBusChild")});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : TestKeychainManager::brokenBusChild"), output.constData());
    }

    void brokenBusChild()
    {
        if (qEnvironmentVariableIsEmpty("VANTREL_KEYCHAIN_BROKEN_BUS"))
            QSKIP("runs only as the child of unreachableServiceIsLoggedAndThrown");
        Fixture f;
        const QString pattern = QStringLiteral("^\\[KeychainManager\\] %1 failed: .+ \\(OSStatus -25291\\)$");

        QVERIFY(!f.keychain.savePassword(QStringLiteral("x"), QStringLiteral("acct")));
        QCOMPARE(f.keychain.getPassword(QStringLiteral("acct")), std::nullopt);
        f.keychain.cleanupSystemSMBKeychain(QStringLiteral("srv"), QStringLiteral("acct"));
        const QList<CapturingSystemLog::Record> records = f.systemLog.records();
        // save logs its own delete's failure first, then the add's.
        const QStringList operations{"deletePassword", "savePassword", "getPassword", "cleanupSystemSMBKeychain"};
        QCOMPARE(records.size(), operations.size());
        for (int i = 0; i < operations.size(); ++i) {
            QCOMPARE(records[i].type, SystemLog::Type::Error);
            QCOMPARE(records[i].category, QStringLiteral("Keychain"));
            QVERIFY2(QRegularExpression(pattern.arg(operations[i])).match(records[i].message).hasMatch(),
                qPrintable(records[i].message));
        }

        f.systemLog.clear();
        try {
            f.keychain.writeSystemSMBKeychainEntry(QStringLiteral("srv"), QStringLiteral("acct"), QStringLiteral("pw"));
            QFAIL("no error thrown");
        } catch (const VantrelError& error) {
            QCOMPARE(error.kind(), VantrelError::Kind::keychainError);
            QVERIFY2(QRegularExpression(
                         QStringLiteral("^Failed to write system SMB keychain entry: .+ \\(OSStatus -25291\\)$"))
                         .match(error.payload())
                         .hasMatch(),
                qPrintable(error.payload()));
        }
        // Only the clean-up before the write logs; the write's failure is the caller's to report.
        QCOMPARE(f.systemLog.records().size(), 1);
    }
};

VANTREL_TEST_MAIN(TestKeychainManager)
#include "tst_KeychainManager.moc"
