#include "support/CapturingSystemLog.h"
#include "support/TestMain.h"

#include "platform/Defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <limits>
#include <thread>

using namespace vantrel;

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
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{ not json");
        f.close();
        CapturingSystemLog log;
        Defaults d(path, log);
        QVERIFY(!d.corruptCopyPath().isEmpty());
        QCOMPARE(log.records().size(), 1);
        QCOMPARE(log.records().first().type, SystemLog::Type::Error);
        QCOMPARE(log.records().first().category, QStringLiteral("Defaults"));
        QVERIFY(log.records().first().message.endsWith(QStringLiteral("a copy was kept at ") + d.corruptCopyPath()));
        QFile copy(d.corruptCopyPath());
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("{ not json"));
        d.setValue("k", 1);
        QVERIFY(d.synchronize());
        Defaults reread(path);
        QCOMPARE(reread.integerValue("k"), std::optional<qint64>(1));
    }

    void fileThatCannotBeCopiedAsideIsNeverReplaced()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("d.json");
        // A folder where the file should be: unreadable, and no copy of it can be made.
        QVERIFY(QDir().mkpath(path + "/keep"));
        CapturingSystemLog log;
        Defaults d(path, log);
        QVERIFY(d.corruptCopyPath().isEmpty());
        QVERIFY(log.messages().value(0).endsWith(QStringLiteral("a copy was kept at (copy failed)")));
        d.setValue("k", true);
        QVERIFY(!d.synchronize());
        QCOMPARE(d.boolValue("k"), std::optional<bool>(true));
        QVERIFY(QFileInfo(path + "/keep").isDir());
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
