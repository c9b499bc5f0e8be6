#include "support/TestMain.h"

#include "model/NASConfig.h"

#include <QJsonDocument>

#include <limits>

using namespace vantrel;

namespace {

NASConfig fullConfig()
{
    NASConfig c;
    c.id = QUuid::fromString(QStringLiteral("6f1c2a3b-4d5e-4f60-8a1b-2c3d4e5f6a7b"));
    c.name = QStringLiteral("Photos 照片");
    c.isEnabled = false;
    c.protocol = NASProtocol::nfs;
    c.address = QStringLiteral("192.168.1.10");
    c.sharePath = QStringLiteral("/export/photos");
    c.authMethod = AuthMethod::guest;
    c.username = QStringLiteral("anna");
    c.password = QStringLiteral("p\"w\\d");
    c.keychainIdentifier = QStringLiteral("nfs-192.168.1.10-/export/photos");
    c.mountOptions.smbVersion = SMBVersion::v3;
    c.mountOptions.readOnly = true;
    c.mountOptions.customMountPoint = QStringLiteral("/media/photos");
    c.mountOptions.connectionTimeout = std::numeric_limits<qint64>::max();
    c.mountOptions.retryCount = -1;
    c.mountOptions.retryInterval = 0.1;
    c.mountOptions.enableCaching = true;
    c.networkBinding.strategy = NetworkBindingStrategy::combined;
    c.networkBinding.ipRange = QStringLiteral("192.168.1.0/24");
    c.networkBinding.ssidList = {QStringLiteral("Home"), QString(), QStringLiteral("Café")};
    return c;
}

QJsonObject fullObject()
{
    return fullConfig().toJson();
}

QJsonObject withNested(QJsonObject object, const QString& nested, const QString& key, const QJsonValue& value)
{
    QJsonObject inner = object.value(nested).toObject();
    if (value.isUndefined())
        inner.remove(key);
    else
        inner.insert(key, value);
    object.insert(nested, inner);
    return object;
}

QJsonObject with(QJsonObject object, const QString& key, const QJsonValue& value)
{
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

} // namespace

class TestNASConfig : public QObject {
    Q_OBJECT

private slots:
    void enumerations()
    {
        QCOMPARE(allCases<NASProtocol>(), (QList<NASProtocol>{NASProtocol::smb, NASProtocol::nfs}));
        QCOMPARE(allCases<SMBVersion>(), (QList<SMBVersion>{SMBVersion::automatic, SMBVersion::v2, SMBVersion::v3}));
        QCOMPARE(allCases<NetworkBindingStrategy>().size(), 3);
        QCOMPARE(allCases<AuthMethod>().size(), 2);

        QCOMPARE(displayName(NASProtocol::smb), QStringLiteral("SMB/CIFS"));
        QCOMPARE(displayName(NASProtocol::nfs), QStringLiteral("NFS"));
        QCOMPARE(displayName(AuthMethod::password), QStringLiteral("Password"));
        QCOMPARE(displayName(AuthMethod::guest), QStringLiteral("Guest"));
        QCOMPARE(displayName(SMBVersion::automatic), QStringLiteral("Auto"));
        QCOMPARE(displayName(SMBVersion::v2), QStringLiteral("SMB 2.x"));
        QCOMPARE(displayName(SMBVersion::v3), QStringLiteral("SMB 3.x"));
        QCOMPARE(displayName(NetworkBindingStrategy::ipRange), QStringLiteral("IP Range"));
        QCOMPARE(displayName(NetworkBindingStrategy::ssid), QStringLiteral("SSID"));
        QCOMPARE(displayName(NetworkBindingStrategy::combined), QStringLiteral("Combined (IP + SSID)"));

        QCOMPARE(rawValue(SMBVersion::automatic), QStringLiteral("auto"));
        QCOMPARE(fromRawValue<SMBVersion>("2"), std::optional<SMBVersion>(SMBVersion::v2));
        QVERIFY(!fromRawValue<SMBVersion>("v2"));
        QVERIFY(!fromRawValue<NASProtocol>("SMB"));
        QVERIFY(!fromRawValue<NetworkBindingStrategy>("iprange"));
        QCOMPARE(fromRawValue<NetworkBindingStrategy>("ipRange"), std::optional(NetworkBindingStrategy::ipRange));
    }

    void fullRoundTrip()
    {
        const QList<NASConfig> list{fullConfig(), NASConfig()};
        const QByteArray bytes = encodeConfigList(list);
        QString error;
        const auto decoded = decodeConfigList(bytes, &error);
        QVERIFY2(decoded, qPrintable(error));
        QCOMPARE(decoded->size(), 2);
        QVERIFY(decoded->at(0) == list.at(0));
        QVERIFY(decoded->at(1) == list.at(1));

        const QJsonObject object = QJsonDocument::fromJson(bytes).array().at(0).toObject();
        QCOMPARE(object.value("id").toString(), QStringLiteral("6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7B"));
        QCOMPARE(object.value("mountOptions").toObject().value("smbVersion").toString(), QStringLiteral("3"));
        QCOMPARE(object.value("password").toString(), QStringLiteral("p\"w\\d"));
        QVERIFY(bytes.contains("\"connectionTimeout\":9223372036854775807"));

        QCOMPARE(decodeConfigList("[]")->size(), 0);
        QCOMPARE(encodeConfigList({}), QByteArray("[]"));
    }

    void optionalsAreOmittedAndNullReadsAsAbsent()
    {
        NASConfig bare = fullConfig();
        bare.username.reset();
        bare.password.reset();
        bare.mountOptions.customMountPoint.reset();
        const QJsonObject object = bare.toJson();
        QVERIFY(!object.contains("username"));
        QVERIFY(!object.contains("password"));
        QVERIFY(!object.value("mountOptions").toObject().contains("customMountPoint"));
        QVERIFY(*NASConfig::fromJson(object) == bare);

        QJsonObject nulls = with(with(object, "username", QJsonValue::Null), "password", QJsonValue::Null);
        nulls = withNested(nulls, "mountOptions", "customMountPoint", QJsonValue::Null);
        QVERIFY(*NASConfig::fromJson(nulls) == bare);

        // An empty text is a value, not an absence.
        const auto empty = NASConfig::fromJson(with(object, "username", QString()));
        QCOMPARE(empty->username, std::optional<QString>(QString()));
    }

    void unknownKeysIgnored()
    {
        QJsonObject object = with(fullObject(), "futureKey", QJsonArray{1, 2});
        object = withNested(object, "networkBinding", "extra", true);
        QVERIFY(*NASConfig::fromJson(object) == fullConfig());
    }

    void numbers()
    {
        // An exact integer written as a decimal is an integer; a fraction is not.
        auto decoded = NASConfig::fromJson(withNested(fullObject(), "mountOptions", "connectionTimeout", 3.0));
        QCOMPARE(decoded->mountOptions.connectionTimeout, 3);
        const QByteArray withExponent =
            QJsonDocument(QJsonArray{fullObject()}).toJson().replace("\"retryCount\": -1", "\"retryCount\": 1e3");
        QCOMPARE(decodeConfigList(withExponent)->constFirst().mountOptions.retryCount, 1000);
        // retryInterval takes any number, integral ones included.
        decoded = NASConfig::fromJson(withNested(fullObject(), "mountOptions", "retryInterval", 5));
        QCOMPARE(decoded->mountOptions.retryInterval, 5.0);
    }

    void rejections_data()
    {
        QTest::addColumn<QJsonValue>("json");
        QTest::addColumn<QString>("expectedError");
        const QJsonObject o = fullObject();
        QTest::newRow("not an object") << QJsonValue(QJsonArray()) << "expected an object";
        QTest::newRow("missing keychainIdentifier") << QJsonValue(with(o, "keychainIdentifier", QJsonValue::Undefined))
                                                    << "key \"keychainIdentifier\": missing";
        QTest::newRow("null required text")
            << QJsonValue(with(o, "name", QJsonValue::Null)) << "key \"name\": expected a string";
        QTest::newRow("upper-case protocol")
            << QJsonValue(with(o, "protocol", "SMB")) << "key \"protocol\": unknown value \"SMB\"";
        QTest::newRow("case name as smbVersion") << QJsonValue(withNested(o, "mountOptions", "smbVersion", "v2"))
                                                 << "key \"mountOptions.smbVersion\": unknown value \"v2\"";
        QTest::newRow("1 as boolean") << QJsonValue(with(o, "isEnabled", 1))
                                      << "key \"isEnabled\": expected true or false";
        QTest::newRow("text as boolean") << QJsonValue(withNested(o, "mountOptions", "readOnly", "true"))
                                         << "key \"mountOptions.readOnly\": expected true or false";
        QTest::newRow("fractional integer") << QJsonValue(withNested(o, "mountOptions", "connectionTimeout", 1.5))
                                            << "key \"mountOptions.connectionTimeout\": expected an integer, found 1.5";
        QTest::newRow("integer beyond 64 bits") << QJsonValue(withNested(o, "mountOptions", "retryCount", 1e19))
                                                << "key \"mountOptions.retryCount\": expected an integer, found 1e+19";
        QTest::newRow("text as integer") << QJsonValue(withNested(o, "mountOptions", "retryCount", "3"))
                                         << "key \"mountOptions.retryCount\": expected an integer";
        QTest::newRow("text as number") << QJsonValue(withNested(o, "mountOptions", "retryInterval", "5"))
                                        << "key \"mountOptions.retryInterval\": expected a number";
        QTest::newRow("missing enableCaching")
            << QJsonValue(withNested(o, "mountOptions", "enableCaching", QJsonValue::Undefined))
            << "key \"mountOptions.enableCaching\": missing";
        QTest::newRow("number as optional text")
            << QJsonValue(with(o, "username", 7)) << "key \"username\": expected a string or null";
        QTest::newRow("bad customMountPoint") << QJsonValue(withNested(o, "mountOptions", "customMountPoint", false))
                                              << "key \"mountOptions.customMountPoint\": expected a string or null";
        QTest::newRow("options not an object")
            << QJsonValue(with(o, "mountOptions", QJsonArray())) << "key \"mountOptions\": expected an object";
        QTest::newRow("missing networkBinding")
            << QJsonValue(with(o, "networkBinding", QJsonValue::Undefined)) << "key \"networkBinding\": missing";
        QTest::newRow("ssid not text") << QJsonValue(withNested(o, "networkBinding", "ssidList", QJsonArray{"a", 2}))
                                       << "key \"networkBinding.ssidList[1]\": expected a string";
        QTest::newRow("ssidList text") << QJsonValue(withNested(o, "networkBinding", "ssidList", "a"))
                                       << "key \"networkBinding.ssidList\": expected an array of strings";
        QTest::newRow("id with braces") << QJsonValue(with(o, "id", "{6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7B}"))
                                        << "key \"id\": not a UUID: \"{6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7B}\"";
        QTest::newRow("id too short") << QJsonValue(with(o, "id", "6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7"))
                                      << "key \"id\": not a UUID: \"6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7\"";
        QTest::newRow("id as number") << QJsonValue(with(o, "id", 1)) << "key \"id\": expected a string";
    }

    void rejections()
    {
        QFETCH(QJsonValue, json);
        QFETCH(QString, expectedError);
        QString error;
        QVERIFY(!NASConfig::fromJson(json, &error));
        QCOMPARE(error, expectedError);
    }

    void lowerCaseIdAccepted()
    {
        const auto decoded = NASConfig::fromJson(with(fullObject(), "id", "6f1c2a3b-4d5e-4f60-8a1b-2c3d4e5f6a7b"));
        QVERIFY(decoded);
        QCOMPARE(decoded->id, fullConfig().id);
    }

    void oneBadEntryFailsTheList()
    {
        QJsonArray array{fullObject(), fullObject(), with(fullObject(), "authMethod", "Guest")};
        QString error;
        QVERIFY(!decodeConfigList(QJsonDocument(array).toJson(), &error));
        QCOMPARE(error, QStringLiteral("entry 2: key \"authMethod\": unknown value \"Guest\""));

        QVERIFY(!decodeConfigList("{}", &error));
        QCOMPARE(error, QStringLiteral("expected a JSON array of configurations"));
        QVERIFY(!decodeConfigList("[{", &error));
        QVERIFY(error.startsWith("not valid JSON at offset"));
        QVERIFY(!decodeConfigList(QByteArray(), &error));
    }

    void nonFiniteIntervalIsNotWritten()
    {
        NASConfig c = fullConfig();
        c.mountOptions.retryInterval = std::numeric_limits<double>::infinity();
        QString error;
        QVERIFY(encodeConfigList({fullConfig(), c}, &error).isEmpty());
        QCOMPARE(error, QStringLiteral("entry 1: key \"mountOptions.retryInterval\": inf cannot be written as JSON"));
    }

    void equality()
    {
        NASConfig a = fullConfig();
        NASConfig b = a;
        QVERIFY(a == b);
        b.password = QStringLiteral("other");
        QVERIFY(a != b);
        b = a;
        b.networkBinding.ssidList = {QStringLiteral("Café"), QString(), QStringLiteral("Home")};
        QVERIFY(a != b);
        b = a;
        b.mountOptions.customMountPoint.reset();
        QVERIFY(a != b);
        b = a;
        b.mountOptions.retryInterval = 0.1000001;
        QVERIFY(a != b);
        QVERIFY(NASConfig().id != NASConfig().id);
    }
};

VANTREL_TEST_MAIN(TestNASConfig)
#include "tst_NASConfig.moc"
