#include "support/CapturingSystemLog.h"
#include "support/Files.h"
#include "support/TestMain.h"

#include "platform/Defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <limits>
#include <sys/stat.h>
#include <thread>

using namespace vantrel;
using namespace vantrel::test;

class TestDefaults : public QObject {
    Q_OBJECT

private slots:
    void valuesKeepTheirTypeAcrossReload()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sub/defaults.json"));
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(1714555812345, Qt::UTC);
        {
            Defaults d(path);
            QVERIFY(d.setValue("b", true));
            QVERIFY(d.setValue("i", std::numeric_limits<qint64>::max()));
            QVERIFY(d.setValue("small", 7));
            QVERIFY(d.setValue("d", 180.5));
            QVERIFY(d.setValue("s", QStringLiteral("日本語 text")));
            QVERIFY(d.setValue("l", QStringList{"ja", ""}));
            QVERIFY(d.setValue("data", QByteArray("\x00\xff[]", 4)));
            QVERIFY(d.setValue("date", when));
            QVERIFY(d.synchronize());
        }
        Defaults d(path);
        QCOMPARE(d.value("b").typeId(), QMetaType::Bool);
        QCOMPARE(d.value("i").typeId(), QMetaType::LongLong);
        QCOMPARE(d.value("small").typeId(), QMetaType::LongLong);
        QCOMPARE(d.value("d").typeId(), QMetaType::Double);
        QCOMPARE(d.boolValue("b"), std::optional<bool>(true));
        QCOMPARE(d.integerValue("i"), std::optional<qint64>(std::numeric_limits<qint64>::max()));
        QCOMPARE(d.doubleValue("d"), std::optional<double>(180.5));
        QCOMPARE(d.stringValue("s"), std::optional<QString>(QStringLiteral("日本語 text")));
        QCOMPARE(d.stringListValue("l"), std::optional<QStringList>(QStringList{"ja", ""}));
        QCOMPARE(d.dataValue("data"), std::optional<QByteArray>(QByteArray("\x00\xff[]", 4)));
        QCOMPARE(d.dateValue("date"), std::optional<QDateTime>(when));
        QVERIFY(!d.contains("absent"));
        QVERIFY(!d.integerValue("absent").has_value());
        QVERIFY(!d.value("absent").isValid());
    }

    void conversionsAndRefusals()
    {
        QTemporaryDir dir;
        Defaults d(dir.filePath("d.json"));
        d.setValue("text", QStringLiteral("abc"));
        d.setValue("numeric", QStringLiteral("42"));
        d.setValue("dbl", 3.9);
        QVERIFY(!d.doubleValue("text").has_value());
        QCOMPARE(d.integerValue("numeric"), std::optional<qint64>(42));
        QCOMPARE(d.integerValue("dbl"), std::optional<qint64>(3));
        QVERIFY(!d.stringListValue("text").has_value());
        QVERIFY(!d.setValue("bad", QVariant::fromValue(QPoint(1, 2))));
        QVERIFY(!d.contains("bad"));
        d.remove("text");
        QVERIFY(!d.contains("text"));
    }

    void filePermissionsAreOwnerOnly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("private/defaults.json");
        Defaults d(path);
        d.setValue("k", true);
        QVERIFY(d.synchronize());
        // Group and others get nothing: the file holds share passwords.
        const auto filePerms = QFile::permissions(path);
        QCOMPARE(filePerms & 0x0077, QFileDevice::Permissions());
        QCOMPARE(filePerms & 0x7000, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const auto dirPerms = QFile::permissions(dir.filePath("private"));
        QCOMPARE(dirPerms & 0x0077, QFileDevice::Permissions());
        QCOMPARE(dirPerms & 0x7000, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void unreadableFileIsKeptAside()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("d.json");
        QVERIFY(writeFile(path, "{ not json"));
        CapturingSystemLog log;
        Defaults d(path, log);
        QVERIFY(!d.corruptCopyPath().isEmpty());
        QCOMPARE(log.records().size(), 1);
        QCOMPARE(log.records().first().type, SystemLog::Type::Error);
        QCOMPARE(log.records().first().category, QStringLiteral("Defaults"));
        QVERIFY(log.records().first().message.endsWith(QStringLiteral("it was kept at ") + d.corruptCopyPath()));
        QCOMPARE(readFile(d.corruptCopyPath()), QByteArray("{ not json"));
        QVERIFY(isOwnerOnly(d.corruptCopyPath()));
        d.setValue("k", 1);
        QVERIFY(d.synchronize());
        Defaults reread(path);
        QCOMPARE(reread.integerValue("k"), std::optional<qint64>(1));
        QVERIFY(reread.corruptCopyPath().isEmpty());
    }

    // The values that could be read survive the next start even when nothing changed meanwhile.
    void readableValuesOfAnUnreadableFileAreSavedAtOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("d.json");
        QVERIFY(writeFile(path, R"({"good": {"type": "bool", "value": true}, "bad": {"type": "date", "value": 1}})"));
        CapturingSystemLog log;
        {
            Defaults d(path, log);
            QVERIFY(!d.corruptCopyPath().isEmpty());
            QVERIFY(d.synchronize());
        }
        Defaults reread(path, log);
        QCOMPARE(reread.boolValue("good"), std::optional<bool>(true));
        QVERIFY(!reread.contains("bad"));
        QVERIFY(reread.corruptCopyPath().isEmpty());
    }

    // A link to an endless device, a FIFO and an oversized file neither hang nor flood the start:
    // each is kept aside like a corrupt file, and settings are saved again afterwards.
    void somethingOtherThanASettingsFileIsKeptAside_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to /dev/zero") << "zero";
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("oversized") << "large";
    }

    void somethingOtherThanASettingsFileIsKeptAside()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("d.json");
        if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", path));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(writeFile(path, "{}" + QByteArray(Defaults::maxFileSize, ' ')));
        CapturingSystemLog log;
        Defaults d(path, log);
        QVERIFY(!d.corruptCopyPath().isEmpty());
        QVERIFY(log.messages().value(0).startsWith(QStringLiteral("Settings file %1 is unreadable (it is ").arg(path)));
        QVERIFY(d.setValue("k", true));
        QVERIFY(d.synchronize());
        QVERIFY(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
        QCOMPARE(Defaults(path).boolValue("k"), std::optional<bool>(true));
    }

    void fileThatCannotBeMovedAsideIsNeverReplaced()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("d.json");
        // A folder where the file should be: unreadable, and not ours to move.
        QVERIFY(QDir().mkpath(path + "/keep"));
        CapturingSystemLog log;
        Defaults d(path, log);
        QVERIFY(d.corruptCopyPath().isEmpty());
        QVERIFY(
            log.messages().value(0).endsWith(QStringLiteral("it was kept at (it could not be moved: it is a folder)")));
        d.setValue("k", true);
        QVERIFY(!d.synchronize());
        QCOMPARE(d.boolValue("k"), std::optional<bool>(true));
        QVERIFY(QFileInfo(path + "/keep").isDir());
    }

    void valueThatCannotBeDecodedIsWrittenAsideBesideTheFile()
    {
        QTemporaryDir dir;
        Defaults d(dir.filePath("d.json"));
        d.setValue("list", QByteArray("[1,"));
        d.setValue("text", QStringLiteral("[é"));
        QString error;
        const std::optional<QString> bytes = d.keepValueAside("list", &error);
        QVERIFY2(bytes, qPrintable(error));
        QCOMPARE(QFileInfo(*bytes).absolutePath(), QFileInfo(d.filePath()).absolutePath());
        QVERIFY(QFileInfo(*bytes).fileName().startsWith("list.unreadable-"));
        QCOMPARE(readFile(*bytes), QByteArray("[1,"));
        QVERIFY(isOwnerOnly(*bytes));
        QCOMPARE(readFile(*d.keepValueAside("text")), QStringLiteral("[é").toUtf8());
    }

    void readersSeeConsistentValuesWhileAnotherThreadWrites()
    {
        QTemporaryDir dir;
        Defaults d(dir.filePath("d.json"));
        d.setValue("n", qint64(0));
        std::atomic<bool> stop{false};
        std::atomic<int> bad{0};
        std::thread reader([&] {
            while (!stop) {
                const QVariant v = d.value("n");
                if (v.typeId() != QMetaType::LongLong)
                    ++bad;
            }
        });
        for (qint64 i = 1; i <= 2000; ++i)
            d.setValue("n", i);
        stop = true;
        reader.join();
        QCOMPARE(bad.load(), 0);
        QVERIFY(d.synchronize());
        Defaults reread(dir.filePath("d.json"));
        QCOMPARE(reread.integerValue("n"), std::optional<qint64>(2000));
    }
};

VANTREL_TEST_MAIN(TestDefaults)
#include "tst_Defaults.moc"
