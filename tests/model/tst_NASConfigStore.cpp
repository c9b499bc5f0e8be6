#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "model/NASConfigStore.h"
#include "mounting/AppStateManager.h"
#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/SecretStore.h"
#include "services/KeychainManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <memory>

using namespace vantrel;

namespace {

using Type = SystemLog::Type;
using Record = CapturingSystemLog::Record;

Record rec(Type type, const QString& message)
{
    return {type, QStringLiteral("ConfigStore"), message};
}

NASConfig makeConfig(const QString& name, const QString& keychainIdentifier = {})
{
    NASConfig config;
    config.name = name;
    config.address = QStringLiteral("nas.local");
    config.sharePath = QStringLiteral("/") + name;
    config.keychainIdentifier = keychainIdentifier;
    return config;
}

// The settings in a folder that does not exist yet. Its systemLog holds what reaches the system
// log through the logger; storeLog what the store writes itself.
struct Fixture : test::TemporaryFolder, test::Logging {
    Fixture()
        : Logging(dir.filePath(QStringLiteral("config")))
    {
    }

    CapturingSystemLog storeLog;
    SecretStore secrets;
    KeychainManager keychain{secrets, log};
    AppStateManager appState;

    std::unique_ptr<NASConfigStore> makeStore()
    {
        return std::make_unique<NASConfigStore>(defaults, storeLog, appState, keychain);
    }
    QList<NASConfig> stored() const
    {
        const auto data = defaults.dataValue(NASConfigStore::userDefaultsKey);
        if (!data)
            return {};
        return decodeConfigList(*data).value_or(QList<NASConfig>{});
    }
};

QString uuid(const NASConfig& config)
{
    return encoding::uuidText(config.id);
}

} // namespace

class TestNASConfigStore : public QObject {
    Q_OBJECT

private slots:
    void nothingStoredStartsEmptyAndWritesNothing()
    {
        Fixture f;
        auto store = f.makeStore();
        QVERIFY(store->configs().isEmpty());
        QCOMPARE(f.storeLog.records(), QList<Record>{rec(Type::Info, "No persisted configs found; starting fresh")});
        QVERIFY(f.defaults.synchronize());
        QVERIFY(!f.defaults.contains(NASConfigStore::userDefaultsKey));
        QVERIFY(!QFile::exists(f.defaults.filePath()));
        QVERIFY(f.systemLog.records().isEmpty());
    }

    void loadsStoredListAndEnsuresStatuses()
    {
        Fixture f;
        NASConfig a = makeConfig("a");
        a.password = QStringLiteral("typed secret");
        NASConfig b = makeConfig("b");
        b.isEnabled = false;
        f.defaults.setValue(NASConfigStore::userDefaultsKey, encodeConfigList({a, b}));
        f.appState.updateStatus(b.id, MountState::mounted());

        auto store = f.makeStore();
        QCOMPARE(store->configs(), (QList<NASConfig>{a, b}));
        QCOMPARE(store->configs().first().password, std::optional<QString>(QStringLiteral("typed secret")));
        QCOMPARE(store->enabledConfigs(), QList<NASConfig>{a});
        QCOMPARE(store->config(b.id), std::optional<NASConfig>(b));
        QCOMPARE(store->config(QUuid::createUuid()), std::nullopt);
        QCOMPARE(f.storeLog.records(), QList<Record>{rec(Type::Info, "Loaded 2 config(s) from UserDefaults")});
        QCOMPARE(f.appState.status(a.id)->mountState, MountState::idle());
        QCOMPARE(f.appState.status(b.id)->mountState, MountState::mounted());
    }

    void undecodableListIsKeptAndCopiedAside_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QByteArray>("copied");

        NASConfig good = makeConfig("good");
        QJsonObject bad = makeConfig("bad").toJson();
        bad.insert(QStringLiteral("protocol"), QStringLiteral("afp"));
        const QByteArray oneBad = QJsonDocument(QJsonArray{good.toJson(), bad}).toJson(QJsonDocument::Compact);
        QTest::newRow("unknown protocol") << QVariant(oneBad) << "afp" << oneBad;
        QTest::newRow("not JSON") << QVariant(QByteArray("[{\"id\":")) << "" << QByteArray("[{\"id\":");
        QTest::newRow("text, not data") << QVariant(QStringLiteral("[]")) << "not a data value" << QByteArray("[]");
    }

    void undecodableListIsKeptAndCopiedAside()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, problem);
        QFETCH(QByteArray, copied);

        Fixture f;
        QVERIFY(f.defaults.setValue(NASConfigStore::userDefaultsKey, value));
        QVERIFY(f.defaults.synchronize());
        auto store = f.makeStore();
        QVERIFY(store->configs().isEmpty());
        QVERIFY(f.appState.nasStatuses().isEmpty());
        QCOMPARE(f.defaults.value(NASConfigStore::userDefaultsKey), value);

        const QString copy = store->corruptCopyPath();
        QVERIFY(!copy.isEmpty());
        QCOMPARE(QFileInfo(copy).absolutePath(), QFileInfo(f.defaults.filePath()).absolutePath());
        QVERIFY(QFileInfo(copy).fileName().startsWith(QStringLiteral("com.vantrel.configs.undecodable-")));
        QFile file(copy);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), copied);
        QCOMPARE(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());

        const QList<Record> records = f.storeLog.records();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].type, Type::Error);
        QVERIFY(records[0].message.startsWith(QStringLiteral("Failed to decode persisted configs: ")));
        QVERIFY2(records[0].message.size() > 36 && records[0].message.contains(problem),
            qPrintable(records[0].message));
        QCOMPARE(records[1], rec(Type::Error, QStringLiteral("Undecodable persisted configs copied to ") + copy));

        // The next save replaces the stored value; the copy stays, and a second start copies again.
        NASConfig fresh = makeConfig("fresh");
        QVERIFY(store->addConfig(fresh));
        QCOMPARE(f.stored(), QList<NASConfig>{fresh});
        QVERIFY(QFile::exists(copy));
    }

    void copyAsideFailureIsReported()
    {
        Fixture f;
        // A regular file where the settings folder's sibling would go: nothing can be created there.
        Defaults blocked(f.dir.filePath(QStringLiteral("plainfile/defaults.json")));
        QFile plain(f.dir.filePath(QStringLiteral("plainfile")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(blocked.setValue(NASConfigStore::userDefaultsKey, QByteArray("garbage")));
        NASConfigStore store(blocked, f.storeLog, f.appState, f.keychain);
        QVERIFY(store.corruptCopyPath().isEmpty());
        const QList<Record> records = f.storeLog.records();
        QCOMPARE(records.size(), 2);
        QVERIFY(records[1].message.startsWith(QStringLiteral("Failed to copy undecodable persisted configs aside: ")));
    }

    void addUpdateDelete()
    {
        Fixture f;
        auto store = f.makeStore();
        QSignalSpy changed(store.get(), &NASConfigStore::configsChanged);
        QSignalSpy removed(store.get(), &NASConfigStore::configRemoved);
        f.storeLog.clear();

        NASConfig a = makeConfig(QStringLiteral("Büro"));
        a.password = QStringLiteral("pw");
        QVERIFY(store->addConfig(a));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(f.stored(), QList<NASConfig>{a});
        QCOMPARE(f.appState.status(a.id)->mountState, MountState::idle());
        QVERIFY(f.appState.appState() != AppState::unconfigured());
        QVERIFY(uuid(a) == uuid(a).toUpper());
        QCOMPARE(f.storeLog.records(),
            (QList<Record>{rec(Type::Debug, "Saved 1 config(s) to UserDefaults"),
                rec(Type::Info, QStringLiteral("Added NAS config: Büro (%1)").arg(uuid(a)))}));

        NASConfig b = makeConfig("b");
        store->addConfig(b);
        f.appState.updateStatus(a.id, MountState::mounted());
        f.storeLog.clear();

        NASConfig renamed = a;
        renamed.name = QStringLiteral("Office");
        store->updateConfig(renamed);
        QCOMPARE(store->configs(), (QList<NASConfig>{renamed, b}));
        QCOMPARE(f.stored(), (QList<NASConfig>{renamed, b}));
        QCOMPARE(f.appState.status(a.id)->mountState, MountState::mounted());
        QCOMPARE(f.storeLog.records(),
            (QList<Record>{rec(Type::Debug, "Saved 2 config(s) to UserDefaults"),
                rec(Type::Info, QStringLiteral("Updated NAS config: Office (%1)").arg(uuid(a)))}));

        // Unknown ids: logged, nothing else.
        f.storeLog.clear();
        const int changesBefore = changed.count();
        NASConfig stranger = makeConfig("stranger");
        store->updateConfig(stranger);
        store->deleteConfig(stranger.id);
        QCOMPARE(changed.count(), changesBefore);
        QCOMPARE(store->configs().size(), 2);
        QCOMPARE(f.storeLog.records(),
            (QList<Record>{
                rec(Type::Error, QStringLiteral("Attempted to update non-existent config: %1").arg(uuid(stranger))),
                rec(Type::Error, QStringLiteral("Attempted to delete non-existent config: %1").arg(uuid(stranger)))}));

        f.storeLog.clear();
        store->deleteConfig(a.id);
        store->deleteConfig(b.id);
        QVERIFY(store->configs().isEmpty());
        QCOMPARE(f.defaults.dataValue(NASConfigStore::userDefaultsKey),
            std::optional<QByteArray>(encodeConfigList({})));
        QVERIFY(f.appState.nasStatuses().isEmpty());
        QCOMPARE(f.appState.appState(), AppState::unconfigured());
        QCOMPARE(removed.count(), 2);
        QCOMPARE(removed[0][0].value<QUuid>(), a.id);
        QCOMPARE(f.storeLog.records(),
            (QList<Record>{rec(Type::Debug, "Saved 1 config(s) to UserDefaults"),
                rec(Type::Info, QStringLiteral("Deleted NAS config: Office (%1)").arg(uuid(a))),
                rec(Type::Debug, "Saved 0 config(s) to UserDefaults"),
                rec(Type::Info, QStringLiteral("Deleted NAS config: b (%1)").arg(uuid(b)))}));

        // A saved password comes back on the next start.
        store->addConfig(a);
        QVERIFY(f.defaults.synchronize());
        Defaults again(f.defaults.filePath());
        NASConfigStore second(again, f.storeLog, f.appState, f.keychain);
        QCOMPARE(second.configs().first().password, std::optional<QString>(QStringLiteral("pw")));
    }

    void duplicateIdsActOnTheFirst()
    {
        Fixture f;
        auto store = f.makeStore();
        QSignalSpy removed(store.get(), &NASConfigStore::configRemoved);
        NASConfig first = makeConfig("first");
        NASConfig second = first;
        second.name = QStringLiteral("second");
        store->addConfig(first);
        store->addConfig(second);
        QCOMPARE(store->configs().size(), 2);
        QCOMPARE(store->config(first.id)->name, QStringLiteral("first"));

        NASConfig edited = first;
        edited.name = QStringLiteral("edited");
        store->updateConfig(edited);
        QCOMPARE(store->configs(), (QList<NASConfig>{edited, second}));

        // The id is still listed after the first goes: its status and pending work stay.
        store->deleteConfig(first.id);
        QCOMPARE(store->configs(), QList<NASConfig>{second});
        QVERIFY(f.appState.status(first.id).has_value());
        QCOMPARE(removed.count(), 0);
        store->deleteConfig(first.id);
        QVERIFY(!f.appState.status(first.id).has_value());
        QCOMPARE(removed.count(), 1);
    }

    void keychainItemDeletedOnlyWhenUnused()
    {
        Fixture f;
        auto store = f.makeStore();
        const QString shared =
            QStringLiteral("nfs-nas.local-/%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
        QVERIFY(f.keychain.savePassword(QStringLiteral("secret"), shared));
        // An item under the empty account proves that a configuration without identifier calls nothing.
        QVERIFY(f.keychain.savePassword(QStringLiteral("unrelated"), QString()));

        NASConfig one = makeConfig("one", shared);
        NASConfig two = makeConfig("two", shared);
        NASConfig none = makeConfig("none");
        store->addConfig(one);
        store->addConfig(two);
        store->addConfig(none);

        store->deleteConfig(none.id);
        QCOMPARE(f.keychain.getPassword(QString()), std::optional<QString>(QStringLiteral("unrelated")));
        store->deleteConfig(one.id);
        QCOMPARE(f.keychain.getPassword(shared), std::optional<QString>(QStringLiteral("secret")));
        store->deleteConfig(two.id);
        QCOMPARE(f.keychain.getPassword(shared), std::nullopt);
        QVERIFY(f.systemLog.records().isEmpty());

        // Deleting a configuration whose item is already gone is silent.
        store->addConfig(one);
        store->deleteConfig(one.id);
        QVERIFY(f.systemLog.records().isEmpty());
        f.keychain.deletePassword(QString());
    }
};

VANTREL_TEST_MAIN(TestNASConfigStore)
#include "tst_NASConfigStore.moc"
